// quillmark-cli convert and build: books, exit status, one line per failed input, Ctrl-C, and
// nothing left in the temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "epub/book_fixture.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using qmtest::ListFolder;

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

class CliConvertTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;  // the program's temporary folder
    std::string out, err;

    // Runs the program with `args` (already quoted); returns its exit status.
    int Cli(const std::string &args) {
        std::string cmd = "TMPDIR=" + qmtest::ShellQuote(temp.Path()) + " " + QM_CLI_PATH + " " + args + " >" +
                          qmtest::ShellQuote(dir.File("stdout.txt")) + " 2>" + qmtest::ShellQuote(dir.File("stderr.txt")) +
                          " </dev/null";
        int status = std::system(cmd.c_str());
        out.clear();
        err.clear();
        qm::ReadFile(dir.File("stdout.txt"), out);
        qm::ReadFile(dir.File("stderr.txt"), err);
        std::remove(dir.File("stdout.txt").c_str());
        std::remove(dir.File("stderr.txt").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Q(const std::string &name) { return qmtest::ShellQuote(dir.File(name)); }
    // Starts the program in the background with its output thrown away; the child's pid.
    pid_t Spawn(std::vector<std::string> args) {
        args.insert(args.begin(), QM_CLI_PATH);
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            setenv("TMPDIR", temp.Path().c_str(), 1);
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
            execv(QM_CLI_PATH, argv.data());
            _exit(127);
        }
        return pid;
    }
};

TEST_F(CliConvertTest, BadInputsGetOneLineEachAndTheBatchGoesOn) {
    qmtest::PdfBuilder locked;
    locked.Text(locked.AddPage(), 72, 700, "secret");
    ASSERT_TRUE(locked.SaveEncrypted(dir.File("locked.pdf"), "pw"));
    ASSERT_TRUE(qmtest::WriteZeroByteFile(dir.File("zero.pdf")));
    ASSERT_TRUE(qmtest::WriteGarbageFile(dir.File("text.pdf")));
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("good.pdf"), 4));
    ASSERT_TRUE(qmtest::WriteTruncatedCopy(dir.File("good.pdf"), dir.File("cut.pdf"), 300));
    qm::CreateFolder(dir.File("books"));

    int rc = Cli("convert " + Q("locked.pdf") + " " + Q("zero.pdf") + " " + Q("missing.pdf") + " " + Q("text.pdf") + " " +
                 Q("cut.pdf") + " " + Q("good.pdf") + " -o " + Q("books"));
    EXPECT_EQ(rc, 1) << err;
    std::vector<std::string> lines = Lines(err);
    // A truncated file may still be repaired into a (short) book; otherwise it gets its line.
    const bool cutMadeBook = qm::FileExists(dir.File("books/cut.epub"));
    ASSERT_EQ(lines.size(), cutMadeBook ? 4u : 5u) << err;
    EXPECT_EQ(lines[0], "locked.pdf: Invalid password. Can't open the pdf file.");
    EXPECT_EQ(lines[1], "zero.pdf: Can't open the pdf file.");
    EXPECT_EQ(lines[2], "missing.pdf: Can't open the pdf file.");
    EXPECT_EQ(lines[3], "text.pdf: Can't open the pdf file.");
    if (!cutMadeBook) {
        EXPECT_EQ(lines[4].rfind("cut.pdf: ", 0), 0u);
    }
    EXPECT_EQ(out, (cutMadeBook ? dir.File("books/cut.epub") + "\n" : std::string()) + dir.File("books/good.epub") + "\n");
    EXPECT_TRUE(ListFolder(temp.Path()).empty());

    // With the password the locked one converts too.
    EXPECT_EQ(Cli("convert --quiet --password pw " + Q("locked.pdf") + " -o " + Q("books")), 0) << err;
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(qm::FileExists(dir.File("books/locked.epub")));
}

// Several documents at once: the same lines, in list order, as one at a time, with every failure
// named by its own file.
TEST_F(CliConvertTest, JobsGiveTheSameReportInListOrder) {
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("long.pdf"), 40));
    ASSERT_TRUE(qmtest::WriteGarbageFile(dir.File("bad.pdf")));
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("short.pdf"), 1));
    ASSERT_TRUE(qmtest::WriteZeroByteFile(dir.File("zero.pdf")));
    std::string report[2];
    for (int jobs : {1, 3}) {
        const std::string books = "books" + std::to_string(jobs);
        qm::CreateFolder(dir.File(books));
        EXPECT_EQ(Cli("convert -j " + std::to_string(jobs) + " " + Q("long.pdf") + " " + Q("bad.pdf") + " " +
                      Q("short.pdf") + " " + Q("zero.pdf") + " -o " + Q(books)),
                  1)
            << err;
        EXPECT_EQ(Lines(err), (std::vector<std::string>{"bad.pdf: Can't open the pdf file.",
                                                        "zero.pdf: Can't open the pdf file."}));
        EXPECT_EQ(out, dir.File(books + "/long.epub") + "\n" + dir.File(books + "/short.epub") + "\n");
        EXPECT_TRUE(ListFolder(temp.Path()).empty());
    }
}

TEST_F(CliConvertTest, BooksNextToTheirPdfsAndTheOverwriteRule) {
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("a.b.pdf"), 2));
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("d.pdf"), 2));
    EXPECT_EQ(Cli("convert " + Q("a.b.pdf") + " " + Q("d.pdf")), 0) << err;
    EXPECT_EQ(Lines(out), (std::vector<std::string>{dir.File("a.b.epub"), dir.File("d.epub")}));
    // Existing books are kept unless --overwrite is given.
    EXPECT_EQ(Cli("convert " + Q("d.pdf")), 1);
    EXPECT_NE(err.find("The file: " + dir.File("d.epub") + " have exist. writeover it?"), std::string::npos) << err;
    EXPECT_EQ(Cli("convert --overwrite " + Q("d.pdf")), 0) << err;
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST_F(CliConvertTest, UsageErrors) {
    EXPECT_EQ(Cli("convert"), 2);
    EXPECT_EQ(Cli("convert --mode bogus x.pdf"), 2);
    EXPECT_EQ(Cli("convert --edits " + Q("e.json") + " x.pdf"), 2);                 // strict mode only
    EXPECT_EQ(Cli("convert --mode strict --edits " + Q("no-such.json") + " x.pdf"), 2);
    EXPECT_EQ(Cli("convert --outline middle x.pdf"), 2);
    EXPECT_EQ(Cli("convert -j 0 x.pdf"), 2);
    EXPECT_EQ(Cli("convert x.pdf -o " + Q("no-such-folder")), 2);
    EXPECT_EQ(Cli("build " + Q("x.html")), 2);  // no -o
    EXPECT_EQ(Cli("convert --help"), 0);
    for (const char *option : {"--font-scale TEXT=1.0", "--dpi TEXT=72", "--columns", "--bookmarks-toc", "--links",
                               "--kindle", "--ignore-vector", "--no-align-check", "--subject"})
        EXPECT_NE(out.find(option), std::string::npos) << option;
}

TEST_F(CliConvertTest, TheSampleInThreeOptionSetsGivesValidBooks) {
    const std::string sample = qmtest::ShellQuote(std::string(QM_SOURCE_DIR) + "/samples/sample.pdf");
    const std::vector<std::pair<std::string, std::string>> sets = {
        {"auto", ""}, {"imaging", "--mode imaging --dpi 96.7"}, {"cover", "--cover --outline first --bookmarks-toc"}};
    for (const auto &[name, options] : sets) {
        qm::CreateFolder(dir.File(name));
        ASSERT_EQ(Cli("convert " + options + " " + sample + " -o " + Q(name)), 0) << name << ": " << err;
        std::string report;
        EXPECT_TRUE(qmtest::EpubCheck(dir.File(name + "/sample.epub"), &report)) << name << ": " << report;
    }
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST_F(CliConvertTest, InterruptCancelsAndLeavesNoTemporaryFiles) {
    qmtest::PdfBuilder b;
    for (int i = 0; i < 400; ++i) {
        int p = b.AddPage();
        b.Text(p, 72, 700, "Page " + std::to_string(i + 1));
        b.ShadeRect(p, 72, 100, 400, 500);
    }
    ASSERT_TRUE(b.Save(dir.File("long.pdf")));
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("next.pdf"), 1));
    // One document at a time, so that the second one has not started when Ctrl-C comes.
    pid_t pid = Spawn({"convert", "-j", "1", "--mode", "imaging", "--dpi", "150", dir.File("long.pdf"),
                       dir.File("next.pdf"), "--report", dir.File("run.json")});
    ASSERT_GE(pid, 0);
    // Wait until the run has started converting pages, then press Ctrl-C.
    bool converting = false;
    for (int i = 0; i < 600 && !converting; ++i) {
        for (const std::string &name : ListFolder(temp.Path()))
            if (qm::FolderExists(temp.Path() + name + "/0") && ListFolder(temp.Path() + name + "/0").size() > 3)
                converting = true;
        if (!converting) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(converting);
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_FALSE(qm::FileExists(dir.File("long.epub")));
    EXPECT_FALSE(qm::FileExists(dir.File("next.epub")));
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
    // The report is written after Ctrl-C too: the dropped document and the one never started.
    std::string text;
    ASSERT_TRUE(qm::ReadFile(dir.File("run.json"), text));
    const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << text;
    EXPECT_EQ(report["cancelled"], true) << text;
    ASSERT_EQ(report["documents"].size(), 2u) << text;
    EXPECT_TRUE(report["documents"][0]["book"].is_null());
    EXPECT_EQ(report["documents"][0]["pages"], 400);
    EXPECT_EQ(report["documents"][0]["error"], "long.pdf: cancelled, no book was made");
    EXPECT_TRUE(report["documents"][1]["seconds"].is_null());
    EXPECT_EQ(report["documents"][1]["error"], "Cancelled.");
}

TEST_F(CliConvertTest, InterruptDuringBuildStillGivesTheBookAndSaysSo) {
    std::vector<std::string> args = {"build"};
    std::string text;
    for (int l = 0; l < 400; ++l) text += "A line of the keeper's log, written every evening at dusk.\n\n";
    for (int i = 0; i < 60; ++i) {
        const std::string name = dir.File("doc" + std::to_string(i) + ".txt");
        ASSERT_TRUE(qm::WriteFile(name, text));
        args.push_back(name);
    }
    args.push_back("-o");
    args.push_back(dir.File("log.epub"));
    pid_t pid = Spawn(args);
    ASSERT_GE(pid, 0);
    // Ctrl-C once the build has started staging its files (or at once, if it is already done).
    for (int i = 0; i < 500 && ListFolder(temp.Path()).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File("log.epub"), &report)) << report;
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST_F(CliConvertTest, BuildMakesOneBookInTheGivenOrder) {
    ASSERT_TRUE(qm::WriteFile(dir.File("one.txt"), "First & only\n\nSecond"));
    ASSERT_TRUE(qm::WriteFile(dir.File("two.html"), "<p>Two<p>Three"));
    EXPECT_EQ(Cli("build --title 'My & book' " + Q("two.html") + " " + Q("one.txt") + " -o " + Q("my.book.epub")), 0)
        << err;
    EXPECT_EQ(out, dir.File("my.book.epub") + "\n");
    EXPECT_TRUE(qm::FileExists(dir.File("my.book.epub")));
    EXPECT_EQ(Cli("build " + Q("one.txt") + " " + Q("gone.html") + " -o " + Q("partial.epub")), 1);
    EXPECT_NE(err.find("gone.html"), std::string::npos) << err;
    EXPECT_TRUE(qm::FileExists(dir.File("partial.epub")));
    EXPECT_EQ(Cli("build " + Q("gone.html") + " -o " + Q("none.epub")), 1);
    EXPECT_FALSE(qm::FileExists(dir.File("none.epub")));
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST_F(CliConvertTest, BuildNamesEveryPictureItLeavesOut) {
    ASSERT_TRUE(qm::WriteFile(dir.File("zero.png"), ""));
    ASSERT_TRUE(qm::WriteFile(dir.File("text.jpg"), "not a picture"));
    ASSERT_TRUE(qm::WriteFile(dir.File("good.png"), qmtest::TinyPng()));
    EXPECT_EQ(Cli("build " + Q("zero.png") + " " + Q("good.png") + " " + Q("text.jpg") + " -o " + Q("pics.epub")), 1);
    EXPECT_EQ(Lines(err), (std::vector<std::string>{
                              dir.File("zero.png") + ": left out of the book: the picture is empty.",
                              dir.File("text.jpg") +
                                  ": left out of the book: the picture cannot be read (damaged, or not a JPEG file)."}));
    EXPECT_EQ(out, dir.File("pics.epub") + "\n");
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File("pics.epub"), &report)) << report;
    // --quiet still names what was left out; with nothing left there is no book.
    EXPECT_EQ(Cli("build -q " + Q("zero.png") + " -o " + Q("none.epub")), 1);
    EXPECT_EQ(Lines(err), (std::vector<std::string>{dir.File("zero.png") + ": left out of the book: the picture is empty.",
                                                    dir.File("none.epub") + ": the book could not be made"}));
    EXPECT_FALSE(qm::FileExists(dir.File("none.epub")));
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

} // namespace
