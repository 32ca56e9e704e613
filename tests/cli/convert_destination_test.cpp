// Where quillmark-cli convert puts its books: two programs racing for one name, clashing names in
// one call, and the reason printed for a full or read-only disk, nothing half-written left behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/scoped_tmpfs.h"
#include "support/temp_dir.h"

namespace {

using qmtest::ListFolder;

class CliDestinationTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;  // the program's temporary folder

    // Starts quillmark-cli convert with `args`; its stdout and stderr go to "<tag>.out".
    pid_t Start(const std::vector<std::string> &args, const std::string &tag, const std::string &tmpdir = "") {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("TMPDIR", (tmpdir.empty() ? temp.Path() : tmpdir).c_str(), 1);
            int out = open(dir.File(tag + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            std::vector<char *> argv = {const_cast<char *>(QM_CLI_PATH), const_cast<char *>("convert")};
            for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(QM_CLI_PATH, argv.data());
            _exit(127);
        }
        return pid;
    }
    // Waits for a started run; its exit status, and its output in `output`.
    int Finish(pid_t pid, const std::string &tag, std::string &output) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1;
        qm::ReadFile(dir.File(tag + ".out"), output);
        std::remove(dir.File(tag + ".out").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int Run(const std::vector<std::string> &args, std::string &output, const std::string &tmpdir = "") {
        return Finish(Start(args, "run", tmpdir), "run", output);
    }
};

TEST_F(CliDestinationTest, TwoProgramsRacingForOneBookMakeOneAndTheOtherIsAsked) {
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("race.pdf"), 12));
    qm::CreateFolder(dir.File("out"));
    const std::vector<std::string> args = {dir.File("race.pdf"), "-o", dir.File("out")};
    pid_t a = Start(args, "a"), b = Start(args, "b");
    std::string outA, outB;
    const int rcA = Finish(a, "a", outA), rcB = Finish(b, "b", outB);
    ASSERT_EQ(rcA + rcB, 1) << outA << outB;
    const std::string &loser = rcA == 1 ? outA : outB;
    EXPECT_NE(loser.find("race.pdf: The file: " + dir.File("out/race.epub") + " have exist. writeover it? No"),
              std::string::npos)
        << loser;
    EXPECT_EQ(ListFolder(dir.File("out")), (std::vector<std::string>{"race.epub"}));
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File("out/race.epub"), &report)) << report;
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST_F(CliDestinationTest, ClashingNamesInOneCallGetDistinctBooksAndALine) {
    qm::CreateFolder(dir.File("a"));
    qm::CreateFolder(dir.File("b"));
    qm::CreateFolder(dir.File("out"));
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("a/x.pdf"), 2));
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("b/x.pdf"), 3));
    std::string output;
    EXPECT_EQ(Run({"--overwrite", dir.File("a/x.pdf"), dir.File("b/x.pdf"), "-o", dir.File("out")}, output), 0)
        << output;
    EXPECT_NE(output.find("x.pdf: Another document of this run (" + dir.File("a/x.pdf") + ") makes " +
                          dir.File("out/x.epub") + "; this book is named " + dir.File("out/x-2.epub") + "."),
              std::string::npos)
        << output;
    EXPECT_NE(output.find(dir.File("out/x-2.epub") + "\n"), std::string::npos) << output;
    EXPECT_EQ(ListFolder(dir.File("out")), (std::vector<std::string>{"x-2.epub", "x.epub"}));
}

// The reason is printed without --verbose, and neither the destination nor the temporary folder
// keeps a partial book or a temporary file.
TEST_F(CliDestinationTest, AFullOrReadOnlyDiskGivesItsReasonAndLeavesNothing) {
    qmtest::ScopedTmpfs small("8k");
    if (!small.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("long.pdf"), 4));
    std::string output;
    // Page pictures make a book larger than the disk.
    EXPECT_EQ(Run({"--mode", "imaging", dir.File("long.pdf"), "-o", small.Path()}, output), 1);
    EXPECT_EQ(output, "long.pdf: The book could not be written to " + small.File("long.epub") +
                          ": No space left on device.\n");
    EXPECT_TRUE(ListFolder(small.Path()).empty());
    EXPECT_TRUE(ListFolder(temp.Path()).empty());

    // The temporary folder is the full one.
    EXPECT_EQ(Run({"--mode", "imaging", dir.File("long.pdf"), "-o", dir.Path()}, output, small.Path()), 1);
    EXPECT_NE(output.find("The temporary folder " + small.Path() + " cannot be written: No space left on device."),
              std::string::npos)
        << output;
    EXPECT_TRUE(ListFolder(small.Path()).empty());
    EXPECT_FALSE(qm::FileExists(dir.File("long.epub")));

    // Root writes through permission bits; a read-only mount stops it too.
    const std::string expected = small.MakeUnwritable();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Run({dir.File("long.pdf"), "-o", small.Path()}, output), 1);
    EXPECT_EQ(output, "long.pdf: The book could not be written to " + small.File("long.epub") + ": " + expected + ".\n");
    EXPECT_TRUE(ListFolder(small.Path()).empty());
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

} // namespace
