// quillmark-cli convert leaves running heads, running feet and page numbers out of the book
// (unless --keep-running-heads), keeps all the body text, gives the same book on page threads,
// and keeps everything of short documents; inspect --blocks marks the runs it leaves out.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

#include "cli/cli_run.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

class RunningHeadsCliTest : public CliRunTest {
protected:
    // The text of the book's page files, tags left out.
    std::string BookText(const std::string &book) {
        std::string html;
        qmtest::RunCommand("unzip -p " + Q(book) + " 'OPS/page-*.html'", &html);
        html = std::regex_replace(html, std::regex("<head>[\\s\\S]*?</head>"), " ");
        return std::regex_replace(html, std::regex("<[^>]*>"), " ");
    }
    std::string PageFiles(const std::string &book) {
        std::string html;
        qmtest::RunCommand("unzip -p " + Q(book) + " 'OPS/page-*.html' OPS/styles.css", &html);
        return html;
    }
    static bool HasBodyText(const std::string &text, int pages, std::string *missing) {
        for (int p = 0; p < pages; ++p)
            for (int line = 0; line < qmtest::kManualBodyLines; ++line) {
                const std::string want = qmtest::ManualBodyLine(p, line);
                if (text.find(want) == std::string::npos) {
                    *missing = want;
                    return false;
                }
            }
        return true;
    }
    // Converts `pdf` into the folder `folder` with `options`; the book's path.
    std::string Convert(const std::string &pdf, const std::string &folder, const std::string &options = "") {
        qm::CreateFolder(dir.File(folder));
        EXPECT_EQ(Cli("convert " + Q(pdf) + " -o " + Q(folder) + " " + options), 0) << out;
        return folder + "/" + pdf.substr(0, pdf.size() - 4) + ".epub";
    }
    static int Count(const std::string &text, const std::string &what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
};

TEST_F(RunningHeadsCliTest, HeadsFeetAndNumbersLeaveTheBookAndTheBodyStays) {
    // Three front pages numbered i..iii, three chapters of seven pages (24 pages).
    constexpr int kFront = 3, kChapters = 3, kChapterPages = 7, kPages = kFront + kChapters * kChapterPages;
    ASSERT_TRUE(qmtest::WriteManualPdf(dir.File("manual.pdf"), kFront, kChapters, kChapterPages));

    const std::string cutBook = Convert("manual.pdf", "cut", "-j 1");
    const std::string cut = BookText(cutBook);
    std::string missing;
    EXPECT_TRUE(HasBodyText(cut, kPages, &missing)) << missing << "\n" << cut;
    for (int c = 0; c < kChapters; ++c) EXPECT_EQ(Count(cut, qmtest::ManualChapterTitle(c)), 1) << cut;
    EXPECT_EQ(cut.find("Program Manual"), std::string::npos) << cut;
    EXPECT_EQ(cut.find("Section"), std::string::npos) << cut;
    EXPECT_EQ(cut.find("Copyright"), std::string::npos) << cut;
    // No number at all (arabic or roman) is left: the body has none.
    EXPECT_FALSE(std::regex_search(cut, std::regex("[0-9]"))) << cut;
    EXPECT_FALSE(std::regex_search(cut, std::regex("\\b[ivx]+\\b"))) << cut;
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File(cutBook), &report)) << report;

    // Page threads cut every page the same way.
    const std::string threadsBook = Convert("manual.pdf", "threads", "-j 2");
    EXPECT_EQ(PageFiles(threadsBook), PageFiles(cutBook));

    // With the switch, everything stays.
    const std::string keptBook = Convert("manual.pdf", "kept", "--keep-running-heads");
    const std::string kept = BookText(keptBook);
    EXPECT_TRUE(HasBodyText(kept, kPages, &missing)) << missing;
    EXPECT_EQ(Count(kept, "Program Manual"), kChapters * 3) << kept;
    EXPECT_EQ(Count(kept, "Section"), kChapters * 3) << kept;
    EXPECT_EQ(Count(kept, "Copyright"), kPages) << kept;
    EXPECT_TRUE(std::regex_search(kept, std::regex("\\biii\\b"))) << kept;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File(keptBook), &report)) << report;

    // inspect marks the runs a conversion leaves out, and only those.
    ASSERT_EQ(Cli("inspect " + Q("manual.pdf") + " --page 6 --blocks"), 0) << out;
    const std::regex marked("\\{running head\\}");
    EXPECT_EQ(std::distance(std::sregex_iterator(out.begin(), out.end(), marked), std::sregex_iterator()), 3) << out;
    EXPECT_NE(out.find("Program Manual 5.4 {running head}"), std::string::npos) << out;
    EXPECT_NE(out.find("Copyright 2026 Example Press {running head}"), std::string::npos) << out;
}

TEST_F(RunningHeadsCliTest, LongDocumentsAreCutFromWhatASampleOfPagesTeaches) {
    // 83 pages: more than are read before the page loop. Every page, read or not, loses its head,
    // its foot and its number, on one thread or two alike.
    constexpr int kFront = 3, kChapters = 4, kChapterPages = 20, kPages = kFront + kChapters * kChapterPages;
    ASSERT_TRUE(qmtest::WriteManualPdf(dir.File("long.pdf"), kFront, kChapters, kChapterPages));
    const std::string book = Convert("long.pdf", "one", "-j 1");
    const std::string text = BookText(book);
    std::string missing;
    EXPECT_TRUE(HasBodyText(text, kPages, &missing)) << missing;
    for (int c = 0; c < kChapters; ++c) EXPECT_EQ(Count(text, qmtest::ManualChapterTitle(c)), 1) << text;
    EXPECT_EQ(Count(text, "Program Manual"), 0) << text;
    EXPECT_EQ(Count(text, "Section"), 0) << text;
    EXPECT_EQ(Count(text, "Copyright"), 0) << text;
    EXPECT_FALSE(std::regex_search(text, std::regex("[0-9]"))) << text;
    EXPECT_EQ(PageFiles(Convert("long.pdf", "two", "-j 2")), PageFiles(book));
}

TEST_F(RunningHeadsCliTest, ShortDocumentsKeepEverything) {
    // One page, and two pages: a chapter opening and one page with a head.
    for (const int pages : {1, 2}) {
        const std::string name = "short" + std::to_string(pages);
        ASSERT_TRUE(qmtest::WriteManualPdf(dir.File(name + ".pdf"), 0, 1, pages));
        const std::string book = Convert(name + ".pdf", name);
        const std::string text = BookText(book);
        std::string missing;
        EXPECT_TRUE(HasBodyText(text, pages, &missing)) << missing;
        EXPECT_EQ(Count(text, "Copyright"), pages) << text;
        if (pages == 2) {
            EXPECT_EQ(Count(text, "Program Manual"), 1) << text;
        }
        if (pages == 2) {
            std::string report;
            EXPECT_TRUE(qmtest::EpubCheck(dir.File(book), &report)) << report;
        }
    }
}

} // namespace

TEST_F(RunningHeadsCliTest, HeadsCarryingTheChapterTitleLeaveEveryChapter) {
    // 12 chapters of 8 pages: the sample windows reach only some chapters, yet every head goes.
    // Page 48 (a chapter's last page, in a chapter no window reaches) has no head; its first body
    // line stands in the head's place and font, and stays. Each chapter's title page holds only
    // its title, which becomes a heading.
    constexpr int kChapters = 12, kChapterPages = 8, kPages = kChapters * kChapterPages, kPlainTop = 47;
    ASSERT_TRUE(qmtest::WriteChapterHeadsPdf(dir.File("chapters.pdf"), kChapters, kChapterPages, kPlainTop));
    auto words = [](const std::string &text) {
        std::istringstream in(text);
        int n = 0;
        for (std::string w; in >> w;) ++n;
        return n;
    };
    int wanted = 0;
    for (int c = 0; c < kChapters; ++c) wanted += words(qmtest::ChapterHeadTitle(c));
    for (int p = 0; p < kPages; ++p)
        if (p % kChapterPages != 0)
            for (int line = 0; line < qmtest::kManualBodyLines; ++line) wanted += words(qmtest::ManualBodyLine(p, line));

    const std::string book = Convert("chapters.pdf", "cut", "-j 1");
    const std::string text = BookText(book);
    EXPECT_EQ(words(text), wanted) << text;
    for (int c = 0; c < kChapters; ++c) EXPECT_EQ(Count(text, qmtest::ChapterHeadTitle(c)), 1) << text;
    for (int p = 0; p < kPages; ++p) {
        if (p % kChapterPages == 0) continue;
        for (int line = 0; line < qmtest::kManualBodyLines; ++line)
            EXPECT_EQ(Count(text, qmtest::ManualBodyLine(p, line)), 1) << qmtest::ManualBodyLine(p, line);
    }
    const std::string files = PageFiles(book);
    EXPECT_EQ(Count(files, "<h1"), kChapters) << files;
    for (int c = 0; c < kChapters; ++c)
        EXPECT_TRUE(std::regex_search(files, std::regex("<h1[^>]*>(<[^>]*>)*" + qmtest::ChapterHeadTitle(c))))
            << qmtest::ChapterHeadTitle(c);
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File(book), &report)) << report;
    EXPECT_EQ(PageFiles(Convert("chapters.pdf", "two", "-j 2")), files);
    // inspect marks a head no sample window reached, and not the body line in its place.
    ASSERT_EQ(Cli("inspect " + Q("chapters.pdf") + " --page 12 --blocks"), 0) << out;
    EXPECT_NE(out.find(qmtest::ChapterHeadTitle(1) + " {running head}"), std::string::npos) << out;
    ASSERT_EQ(Cli("inspect " + Q("chapters.pdf") + " --page " + std::to_string(kPlainTop + 1) + " --blocks"), 0);
    EXPECT_NE(out.find(qmtest::ManualBodyLine(kPlainTop, 0)), std::string::npos) << out;
    EXPECT_EQ(out.find("{running head}\n  1"), std::string::npos) << out;

    // With the switch the heads stay; without headings the titles stay paragraphs.
    const std::string kept = BookText(Convert("chapters.pdf", "kept", "--keep-running-heads"));
    for (int c = 0; c < kChapters; ++c)
        EXPECT_EQ(Count(kept, qmtest::ChapterHeadTitle(c)), c == kPlainTop / kChapterPages ? kChapterPages - 1
                                                                                           : kChapterPages);
    const std::string plainBook = Convert("chapters.pdf", "plain", "--no-headings");
    EXPECT_EQ(Count(PageFiles(plainBook), "<h1"), 0);
    EXPECT_EQ(BookText(plainBook), text);
}
