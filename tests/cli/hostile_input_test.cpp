// quillmark-cli convert on hostile PDFs: a page far too large to paint, and a page too slow to
// paint (--page-timeout).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "epub/zip_reader.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using qmtest::ListFolder;

class CliHostileTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;  // the program's temporary folder
    std::string err;
    long maxRssKb = 0;

    // Runs the program with `args`; returns its exit status. Its peak memory (of this run alone)
    // goes to maxRssKb, its stderr to err.
    int Cli(const std::vector<std::string> &args) {
        const std::string errPath = dir.File("stderr.txt");
        pid_t pid = fork();
        if (pid < 0) return -1;
        if (pid == 0) {
            setenv("TMPDIR", temp.Path().c_str(), 1);
            int devnull = open("/dev/null", O_RDWR);
            int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(devnull, 0);
            dup2(devnull, 1);
            dup2(errFd, 2);
            std::vector<char *> argv{const_cast<char *>(QM_CLI_PATH)};
            for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(QM_CLI_PATH, argv.data());
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) != pid) return -1;
        maxRssKb = usage.ru_maxrss;
        err.clear();
        qm::ReadFile(errPath, err);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Entry(const std::string &epub, const std::string &name) {
        std::string bytes;
        if (!qm::ReadFile(epub, bytes)) return std::string();
        for (auto &e : qmtest::ReadZipArchive(bytes).entries)
            if (e.name == name) return e.data;
        return std::string();
    }
};

TEST_F(CliHostileTest, APageFarTooLargeToPaintConvertsInBoundedMemory) {
    // 40000 x 100000 pt: at 72 dpi its raster alone would need 15.5 GB.
    qmtest::PdfBuilder b;
    int p = b.AddPage(40000, 100000);
    b.Text(p, 1000, 90000, "A very large page", 600);
    b.FillRect(p, 5000, 5000, 20000, 30000, {0.2, 0.6, 0.2});
    ASSERT_TRUE(b.Save(dir.File("huge.pdf")));
    for (const std::string mode : {"automatic", "imaging"}) {
        const std::string out = dir.File(mode);
        qm::CreateFolder(out);
        ASSERT_EQ(Cli({"convert", "--verbose", "--cover", "--dpi", "300", "--mode", mode, dir.File("huge.pdf"), "-o", out}), 0)
            << mode << ": " << err;
        EXPECT_LT(maxRssKb, 1024L * 1024) << mode;  // under 1 GB
        EXPECT_NE(err.find("page 1 of 'huge.pdf' is too large for its pictures at 300 dpi: drawn at "), std::string::npos)
            << err;
        std::string cover = Entry(out + "/huge.epub", "OPS/cover.png");
        ASSERT_GT(cover.size(), 24u) << mode;
        auto be32 = [&](size_t at) {
            return (static_cast<unsigned char>(cover[at]) << 24) | (static_cast<unsigned char>(cover[at + 1]) << 16) |
                   (static_cast<unsigned char>(cover[at + 2]) << 8) | static_cast<unsigned char>(cover[at + 3]);
        };
        EXPECT_LE(static_cast<double>(be32(16)) * be32(20), 64.0 * 1024 * 1024) << mode;
    }
    // The page view of such a page is at least 1 dpi: its text is still found.
    EXPECT_NE(Entry(dir.File("automatic/huge.epub"), "OPS/page-1.html").find("A very large page"), std::string::npos);
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST_F(CliHostileTest, PageTimeoutSkipsASlowPageAndKeepsTheOthers) {
    qmtest::PdfBuilder b;
    b.Text(b.AddPage(), 72, 700, "Page one");
    int slow = b.AddPage();
    b.SlowStrokes(slow, 5000);  // over half a minute to paint
    b.Text(slow, 72, 700, "Slow page");
    b.Text(b.AddPage(), 72, 700, "Page three");
    ASSERT_TRUE(b.Save(dir.File("slow.pdf")));
    ASSERT_EQ(Cli({"convert", "--mode", "imaging", "--page-timeout", "1", dir.File("slow.pdf")}), 0) << err;
    EXPECT_EQ(err, "slow.pdf: Page 2 of 'slow.pdf' took longer than 1 second and was skipped.\n");
    const std::string book = dir.File("slow.epub");
    EXPECT_NE(Entry(book, "OPS/page-1.html").find("<img"), std::string::npos);
    EXPECT_EQ(Entry(book, "OPS/page-2.html").find("<img"), std::string::npos);
    EXPECT_NE(Entry(book, "OPS/page-2.html").find("id=\"page-2\""), std::string::npos);
    EXPECT_NE(Entry(book, "OPS/page-3.html").find("<img"), std::string::npos);
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
    // Negative limits are refused.
    EXPECT_EQ(Cli({"convert", "--page-timeout", "-1", dir.File("slow.pdf")}), 2);
}

} // namespace
