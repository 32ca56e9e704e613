// Where quillmark-cli build puts its book: an existing book is replaced only by a complete one,
// and a full or read-only disk gives its reason (with --quiet too) and leaves nothing behind.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "support/scoped_tmpfs.h"
#include "support/temp_dir.h"

namespace {

using qmtest::ListFolder;

class CliBuildDestinationTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;  // the program's temporary folder
    std::string err;

    // Runs quillmark-cli build with `args` (already quoted); its exit status, stderr in `err`.
    int Build(const std::string &args, const std::string &tmpdir = "") {
        const std::string cmd = "TMPDIR=" + qmtest::ShellQuote(tmpdir.empty() ? temp.Path() : tmpdir) + " " +
                                QM_CLI_PATH + " build " + args + " >/dev/null 2>" +
                                qmtest::ShellQuote(dir.File("stderr.txt")) + " </dev/null";
        const int status = std::system(cmd.c_str());
        err.clear();
        qm::ReadFile(dir.File("stderr.txt"), err);
        std::remove(dir.File("stderr.txt").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Q(const std::string &path) { return qmtest::ShellQuote(path); }

    // A text document whose book does not fit into a few kilobytes (random letters hardly compress).
    std::string LongText() {
        std::mt19937 random(7);
        std::string text;
        for (int i = 0; i < 60000; ++i) text += (i % 70 == 69) ? '\n' : static_cast<char>('a' + random() % 26);
        const std::string path = dir.File("long.txt");
        EXPECT_TRUE(qm::WriteFile(path, text));
        return path;
    }
};

TEST_F(CliBuildDestinationTest, AnExistingBookIsReplacedByTheCompleteNewOne) {
    ASSERT_TRUE(qm::WriteFile(dir.File("one.txt"), "One"));
    ASSERT_TRUE(qm::WriteFile(dir.File("book.epub"), "an older book"));
    EXPECT_EQ(Build(Q(dir.File("one.txt")) + " -o " + Q(dir.File("book.epub"))), 0) << err;
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File("book.epub"), &report)) << report;
    // No temporary copy is left beside the book, nor in the temporary folder.
    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"book.epub", "one.txt"}));
    EXPECT_TRUE(ListFolder(temp.Path()).empty());

    // A folder under the book's name is no book to replace: the reason is given, the folder stays.
    qm::CreateFolder(dir.File("taken.epub"));
    EXPECT_EQ(Build(Q(dir.File("one.txt")) + " -o " + Q(dir.File("taken.epub"))), 1);
    EXPECT_NE(err.find("The book could not be written to " + dir.File("taken.epub") + ": Is a directory."),
              std::string::npos)
        << err;
    EXPECT_TRUE(qm::FolderExists(dir.File("taken.epub")));
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST_F(CliBuildDestinationTest, AFullOrReadOnlyDiskGivesItsReasonAndLosesNothing) {
    qmtest::ScopedTmpfs small("8k");
    if (!small.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string text = LongText();
    const std::string book = small.File("book.epub");
    const std::string notMade = book + ": the book could not be made";

    // The book is larger than the disk; --quiet prints the reason all the same.
    for (const char *quiet : {"", "-q "}) {
        EXPECT_EQ(Build(quiet + Q(text) + " -o " + Q(book)), 1);
        EXPECT_EQ(err, "The book could not be written to " + book + ": No space left on device.\n" + notMade + "\n")
            << quiet;
        EXPECT_TRUE(ListFolder(small.Path()).empty()) << quiet;
        EXPECT_TRUE(ListFolder(temp.Path()).empty()) << quiet;
    }

    // The temporary folder is the full one.
    EXPECT_EQ(Build("-q " + Q(text) + " -o " + Q(dir.File("book.epub")), small.Path()), 1);
    EXPECT_EQ(err, text + ": left out of the book: its copy for the book cannot be written.\nThe temporary folder " +
                       small.Path() + " cannot be written: No space left on device.\n" + dir.File("book.epub") +
                       ": the book could not be made\n");
    EXPECT_TRUE(ListFolder(small.Path()).empty());
    EXPECT_FALSE(qm::FileExists(dir.File("book.epub")));

    // A book already there stays as it was when the new one cannot take its place. Root writes
    // through permission bits; a read-only mount stops it too.
    ASSERT_TRUE(qm::WriteFile(book, "the old book"));
    const std::string expected = small.MakeUnwritable();
    ASSERT_FALSE(expected.empty());
    ASSERT_TRUE(qm::WriteFile(dir.File("short.txt"), "Short"));
    EXPECT_EQ(Build(Q(dir.File("short.txt")) + " -o " + Q(book)), 1);
    EXPECT_EQ(err, "The book could not be written to " + book + ": " + expected + ".\n" + notMade + "\n");
    std::string kept;
    EXPECT_TRUE(qm::ReadFile(book, kept));
    EXPECT_EQ(kept, "the old book");
    EXPECT_EQ(ListFolder(small.Path()), (std::vector<std::string>{"book.epub"}));
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

} // namespace
