// The pages of one document converted by several threads: the content files are byte for byte
// those of one thread (page files, picture numbers, the style sheet's rule order, navigation
// points), also when the book's file limit falls in the middle of a page, and nothing of the
// threads' own work is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "options/conversion_job.h"
#include "pdf/pdf_document.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "xhtml/document_converter.h"

namespace {

// What one conversion gave: the files in book order with their bytes, and everything said.
struct Made {
    qm::ConvertResult result = qm::ConvertResult::Done;
    std::vector<std::pair<std::string, std::string>> files;  // name, content
    std::string navPoints;
    std::vector<std::string> messages;
    int percent = 0;
    std::vector<std::string> leftInFolder;  // files in the work folder the book does not list
    int openings = 0, closings = 0;         // extra openings of the document by page threads
};

class PageThreadsTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;

    // A long document whose pages bring new span classes (sizes, colours, bold, italic) at
    // different places, pictures (some pages two, and drawings), links to pages and addresses,
    // and an outline of two levels.
    std::string LongPdf(int pages) {
        qmtest::PdfBuilder b;
        const char *fonts[] = {"Times-Roman", "Times-Italic", "Helvetica", "Helvetica-Bold", "Courier"};
        for (int i = 0; i < pages; ++i) {
            const int p = b.AddPage();
            b.Text(p, 72, 740, "Chapter " + std::to_string(i + 1), 14 + i % 9, "Helvetica-Bold");
            for (int line = 0; line < 12; ++line)
                b.Text(p, 72, 700 - line * 14, "Line " + std::to_string(line) + " of page " + std::to_string(i + 1),
                       10 + (i * 3 + line) % 4, fonts[(i + line) % 5]);
            if (i % 5 == 2) b.Text(p, 72, 500, "Coloured words", 11, "Times-Roman", {0.1 * (i % 7), 0.2, 0.5});
            if (i % 3 == 0) b.Image(p, 72, 300, 120, 90, 24, 18);
            if (i % 6 == 1) {
                b.Image(p, 72, 180, 80, 60, 16, 12);
                b.Image(p, 300, 180, 80, 60, 12, 16);
            }
            if (i % 4 == 3) b.FillRect(p, 320, 300, 100, 60, {0.7, 0.2, 0.1});
            b.LinkToPage(p, 70, 696, 250, 712, (i + 7) % pages);
            if (i % 4 == 0) b.LinkToUri(p, 70, 682, 250, 698, "https://example.com/page" + std::to_string(i));
        }
        for (int i = 0; i < pages; i += 10) {
            const int top = b.AddOutline("Part " + std::to_string(i / 10 + 1), i);
            if (i + 4 < pages) b.AddOutline("Section " + std::to_string(i + 5), i + 4, top);
        }
        b.SetInfo("Long", "Tester", "Threads");
        const std::string path = dir.File("long-" + std::to_string(pages) + ".pdf");
        EXPECT_TRUE(b.Save(path));
        return path;
    }

    Made Convert(const std::string &pdf, int threads, long long maxFiles = 100000, bool cover = false,
                 bool tocFromHeadings = false) {
        Made made;
        const std::string work = dir.File("work-" + std::to_string(runs_++) + "/");
        qm::CreateFolder(work);
        qmtest::RecordingPrompt prompt;
        qm::PdfDocument doc;
        doc.SetPrompt(&prompt);
        EXPECT_EQ(doc.Open(pdf, "", ""), qm::OpenResult::Opened);
        std::atomic<unsigned char> cancel{0};
        std::atomic<int> percent{0};
        qm::ConversionJob job;
        job.workFolder = work;
        job.scratchFolder = dir.File("scratch/");
        job.cancelRequested = &cancel;
        job.progressPercent = &percent;
        job.ignoreLinks = 0;
        job.outputOutline = true;
        job.outlinePosition = 1;
        job.importBookmarksToToc = true;
        job.createCover = cover;
        job.reading.tocFromHeadings = tocFromHeadings;
        std::mutex m;
        {
            qm::DocumentConverter converter(doc, job);
            converter.pageThreads = threads;
            converter.maxProducedFiles = maxFiles;
            converter.pageDocuments = [&](qm::PdfDocument &, bool open) {
                std::lock_guard<std::mutex> g(m);
                (open ? made.openings : made.closings) += 1;
            };
            made.result = converter.Convert();
            std::vector<std::string> listed;
            for (const std::string &path : converter.ProducedFiles()) {
                std::string bytes;
                EXPECT_TRUE(qm::ReadFile(path, bytes)) << path;
                made.files.emplace_back(qm::FileNamePart(path), bytes);
                listed.push_back(qm::FileNamePart(path));
            }
            for (const std::string &name : qmtest::ListFolder(work))
                if (std::find(listed.begin(), listed.end(), name) == listed.end()) made.leftInFolder.push_back(name);
        }
        if (!job.navPointsFile.empty()) {
            qm::ReadFile(job.navPointsFile, made.navPoints);
            std::remove(job.navPointsFile.c_str());
        }
        made.messages = prompt.messages;
        made.percent = percent.load();
        return made;
    }

    static void ExpectSame(const Made &one, const Made &many, const std::string &what) {
        EXPECT_EQ(many.result, one.result) << what;
        ASSERT_EQ(many.files.size(), one.files.size()) << what;
        for (size_t i = 0; i < one.files.size(); ++i) {
            EXPECT_EQ(many.files[i].first, one.files[i].first) << what;
            EXPECT_TRUE(many.files[i].second == one.files[i].second) << what << ": " << one.files[i].first << " differs";
        }
        EXPECT_EQ(many.navPoints, one.navPoints) << what;
        EXPECT_EQ(many.messages, one.messages) << what;
        EXPECT_EQ(many.percent, one.percent) << what;
        EXPECT_TRUE(many.leftInFolder.empty()) << what << ": " << many.leftInFolder[0];
    }

private:
    int runs_ = 0;
};

TEST_F(PageThreadsTest, BookIsByteForByteTheOneOfASingleThread) {
    const std::string pdf = LongPdf(64);
    const Made one = Convert(pdf, 1);
    ASSERT_EQ(one.result, qm::ConvertResult::Done);
    EXPECT_EQ(one.percent, 100);
    EXPECT_EQ(one.openings, 0);
    // The document is rich enough for the test to mean something: many pictures, several rules
    // that first appear on later pages, anchors to pages and addresses, navigation points.
    int pictures = 0;
    for (const auto &[name, bytes] : one.files) pictures += name.rfind("image-", 0) == 0;
    EXPECT_GE(pictures, 40);
    const std::string &sheet = one.files[0].second;
    EXPECT_EQ(one.files[0].first, "styles.css");
    EXPECT_NE(sheet.find("span.C"), std::string::npos);
    EXPECT_NE(one.files.back().second.find("href=\"https://example.com/page60\""), std::string::npos);
    EXPECT_NE(one.navPoints.find("Section 45"), std::string::npos);

    for (int threads : {2, 3}) {
        const Made many = Convert(pdf, threads);
        ExpectSame(one, many, std::to_string(threads) + " threads");
        // The pages really were shared out, and every extra opening was closed again.
        EXPECT_EQ(many.openings, threads);
        EXPECT_EQ(many.closings, threads);
    }
    // With a cover, page 1 is captured by the book's thread before the others start.
    ExpectSame(Convert(pdf, 1, 100000, true), Convert(pdf, 2, 100000, true), "cover");
}

TEST_F(PageThreadsTest, HeadingsAndTheirNavigationAreThoseOfASingleThread) {
    const std::string pdf = LongPdf(40);
    const Made one = Convert(pdf, 1, 100000, false, true);
    ASSERT_EQ(one.result, qm::ConvertResult::Done);
    // Chapter titles are headings the navigation points at.
    EXPECT_NE(one.navPoints.find("<text>Chapter "), std::string::npos) << one.navPoints;
    EXPECT_NE(one.navPoints.find("#heading-"), std::string::npos);
    ExpectSame(one, Convert(pdf, 3, 100000, false, true), "3 threads");
}

TEST_F(PageThreadsTest, HeadsCarryingTheChapterTitleGoAsOnASingleThread) {
    // Whether a head no sample window reached is left out depends on its neighbouring pages,
    // whichever thread prepared them.
    const std::string pdf = dir.File("chapters.pdf");
    ASSERT_TRUE(qmtest::WriteChapterHeadsPdf(pdf, 10, 7, 34));
    const Made one = Convert(pdf, 1, 100000, false, true);
    ASSERT_EQ(one.result, qm::ConvertResult::Done);
    std::string pages;
    for (const auto &[name, bytes] : one.files)
        if (name.rfind("page-", 0) == 0) pages += bytes;
    for (int c = 0; c < 10; ++c) {
        const std::string title = qmtest::ChapterHeadTitle(c);
        size_t n = 0;
        for (size_t at = pages.find(title); at != std::string::npos; at = pages.find(title, at + 1)) ++n;
        EXPECT_EQ(n, 1u) << title;
    }
    ExpectSame(one, Convert(pdf, 3, 100000, false, true), "3 threads");
}

TEST_F(PageThreadsTest, FileLimitInTheMiddleOfAPageEndsTheBookWhereOneThreadEndsIt) {
    const std::string pdf = LongPdf(40);
    // Limits that fall on a page boundary, between a page's two pictures, and right after one.
    for (long long limit : {9LL, 14LL, 23LL, 30LL}) {
        const Made one = Convert(pdf, 1, limit);
        const Made two = Convert(pdf, 2, limit);
        ExpectSame(one, two, "limit " + std::to_string(limit));
        ASSERT_FALSE(one.messages.empty());
        EXPECT_NE(one.messages.back().find("reached the limit of " + std::to_string(limit) + " files"),
                  std::string::npos);
    }
}

TEST_F(PageThreadsTest, ShortDocumentsStayOnTheBookThread) {
    const Made made = Convert(LongPdf(12), 4);
    EXPECT_EQ(made.result, qm::ConvertResult::Done);
    EXPECT_EQ(made.openings, 0);
}

} // namespace
