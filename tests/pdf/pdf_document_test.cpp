// Opening, authenticating, stepping and closing PDFs, including damaged files and use of one
// document from two threads.
#include <gtest/gtest.h>
#include <mupdf/fitz.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "support/recording_prompt.h"

namespace {

using qmtest::RecordingPrompt;

class PdfDocumentTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    RecordingPrompt prompt;

    qm::OpenResult OpenDoc(qm::PdfDocument &doc, const std::string &path, const std::string &password = "") {
        doc.SetPrompt(&prompt);
        return doc.Open(path, password, "");
    }
};

TEST_F(PdfDocumentTest, OpensAndReadsTitleOutlineAndPageCount) {
    qmtest::PdfBuilder b;
    for (int i = 0; i < 4; ++i) b.Text(b.AddPage(), 72, 700, "Page text " + std::to_string(i + 1));
    b.SetInfo("Été en forêt", "Author");
    int chapter = b.AddOutline("Chapter 1", 0);
    b.AddOutline("Section 1.1", 1, chapter);
    b.AddOutline("Chapter 2", 3);
    ASSERT_TRUE(b.Save(dir.File("a.pdf")));

    qm::PdfDocument doc;
    ASSERT_EQ(OpenDoc(doc, dir.File("a.pdf")), qm::OpenResult::Opened);
    EXPECT_EQ(doc.PageCount(), 4);
    ASSERT_TRUE(doc.Title().has_value());
    EXPECT_EQ(*doc.Title(), "Été en forêt");
    EXPECT_EQ(doc.InfoEntry("Author"), std::optional<std::string>("Author"));
    EXPECT_FALSE(doc.InfoEntry("Subject").has_value());
    const std::vector<qm::OutlineEntry> &outline = doc.Outline();
    ASSERT_EQ(outline.size(), 2u);
    EXPECT_EQ(outline[0].title, "Chapter 1");
    EXPECT_EQ(outline[0].page, 0);
    EXPECT_FALSE(outline[0].external);
    ASSERT_EQ(outline[0].children.size(), 1u);
    EXPECT_EQ(outline[0].children[0].title, "Section 1.1");
    EXPECT_EQ(outline[1].page, 3);
    EXPECT_EQ(outline[1].uri.rfind("#page=4", 0), 0u) << outline[1].uri;
    EXPECT_TRUE(prompt.messages.empty());
    doc.Close();
    doc.Close();  // twice is harmless
    EXPECT_EQ(doc.Document(), nullptr);
    EXPECT_TRUE(doc.Outline().empty());
    EXPECT_FALSE(doc.Title().has_value());
}

TEST_F(PdfDocumentTest, MissingInfoOrTitleLeavesTitleNull) {
    qmtest::PdfBuilder noInfo;
    noInfo.Text(noInfo.AddPage(), 72, 700, "x");
    ASSERT_TRUE(noInfo.Save(dir.File("noinfo.pdf")));
    qmtest::PdfBuilder noTitle;
    noTitle.Text(noTitle.AddPage(), 72, 700, "x");
    noTitle.SetInfo("", "Only Author");
    ASSERT_TRUE(noTitle.Save(dir.File("notitle.pdf")));

    for (const char *name : {"noinfo.pdf", "notitle.pdf"}) {
        qm::PdfDocument doc;
        ASSERT_EQ(OpenDoc(doc, dir.File(name)), qm::OpenResult::Opened) << name;
        EXPECT_FALSE(doc.Title().has_value()) << name;
        EXPECT_TRUE(doc.Outline().empty());
    }
}

TEST_F(PdfDocumentTest, PasswordHandling) {
    qmtest::PdfBuilder b;
    b.Text(b.AddPage(), 72, 700, "secret");
    b.SetInfo("Secret Title");
    ASSERT_TRUE(b.SaveEncrypted(dir.File("empty-user.pdf"), ""));
    ASSERT_TRUE(b.SaveEncrypted(dir.File("locked.pdf"), "letmein"));

    {
        qm::PdfDocument doc;
        EXPECT_EQ(OpenDoc(doc, dir.File("empty-user.pdf")), qm::OpenResult::Opened);
        EXPECT_TRUE(prompt.messages.empty());
        ASSERT_TRUE(doc.Title().has_value());
        EXPECT_EQ(*doc.Title(), "Secret Title");
    }
    {
        qm::PdfDocument doc;
        EXPECT_EQ(OpenDoc(doc, dir.File("locked.pdf"), "wrong"), qm::OpenResult::WrongPassword);
        EXPECT_FALSE(doc.IsOpen());
        ASSERT_EQ(prompt.messages.size(), 1u);
        EXPECT_EQ(prompt.messages[0], "Invalid password.");
        EXPECT_FALSE(doc.Title().has_value());
    }
    {
        prompt.messages.clear();
        qm::PdfDocument doc;
        EXPECT_EQ(OpenDoc(doc, dir.File("locked.pdf"), ""), qm::OpenResult::WrongPassword);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{"Invalid password."});
    }
    {
        prompt.messages.clear();
        qm::PdfDocument doc;
        ASSERT_EQ(OpenDoc(doc, dir.File("locked.pdf"), "letmein"), qm::OpenResult::Opened);
        EXPECT_EQ(*doc.Title(), "Secret Title");
        EXPECT_EQ(doc.PageCount(), 1);
    }
}

TEST_F(PdfDocumentTest, DamagedAndMissingFilesFailCleanly) {
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("good.pdf"), 5));
    ASSERT_TRUE(qmtest::WriteZeroByteFile(dir.File("zero.pdf")));
    ASSERT_TRUE(qmtest::WriteGarbageFile(dir.File("garbage.pdf")));
    ASSERT_TRUE(qm::WriteFile(dir.File("text.pdf"), "this is not a PDF at all\n"));
    qm::LogCapture log;
    for (const char *name : {"missing.pdf", "zero.pdf", "garbage.pdf", "text.pdf"}) {
        qm::PdfDocument doc;
        EXPECT_EQ(OpenDoc(doc, dir.File(name)), qm::OpenResult::CannotOpen) << name;
        EXPECT_TRUE(log.Contains("cannot open document '" + dir.File(name) + "'")) << name << log.Text();
    }
    EXPECT_TRUE(prompt.messages.empty());

    // Every truncation of a valid file either opens (the engine repairs it) or fails closed; pages
    // that open can be counted and loaded without a crash.
    int64_t size = qm::FileSize(dir.File("good.pdf"));
    ASSERT_GT(size, 0);
    for (int64_t keep = 0; keep < size; keep += (keep < 64 ? 7 : 97)) {
        std::string cut = dir.File("cut.pdf");
        ASSERT_TRUE(qmtest::WriteTruncatedCopy(dir.File("good.pdf"), cut, static_cast<size_t>(keep)));
        qm::PdfDocument doc;
        const qm::OpenResult rc = OpenDoc(doc, cut);
        EXPECT_EQ(rc == qm::OpenResult::Opened, doc.IsOpen());
        if (rc == qm::OpenResult::Opened) {
            auto lock = doc.Lock();
            for (int i = 1; i <= doc.PageCount(); ++i) doc.LoadPage(i);
        }
    }
}

TEST_F(PdfDocumentTest, PagesLoadOnlyWithinTheDocumentAndThumbnailsFitTheirBox) {
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("five.pdf"), 5));
    qm::PdfDocument doc;
    ASSERT_EQ(OpenDoc(doc, dir.File("five.pdf")), qm::OpenResult::Opened);
    auto lock = doc.Lock();
    EXPECT_EQ(doc.LoadPage(0), nullptr);
    EXPECT_EQ(doc.LoadPage(6), nullptr);
    EXPECT_NE(doc.LoadPage(1), nullptr);
    EXPECT_NE(doc.LoadPage(5), nullptr);

    // A Letter page into 100 x 100: height decides (100 / 792 * 72 dpi), rows of 4 bytes.
    qm::Thumbnail thumb = doc.RenderThumbnail(2, 100, 100);
    ASSERT_FALSE(thumb.Empty());
    EXPECT_LE(thumb.height, 101);
    EXPECT_LE(thumb.width, thumb.height);
    EXPECT_EQ(thumb.bgra.size(), static_cast<size_t>(thumb.width) * thumb.height * 4);
    EXPECT_EQ(thumb.bgra[3], 255);  // opaque white background
    EXPECT_TRUE(doc.RenderThumbnail(9, 100, 100).Empty());
    EXPECT_EQ(doc.RenderThumbnail(1, 0, 0).width, 612);  // no box: 72 dpi
}

TEST_F(PdfDocumentTest, SecondThreadUsesSameDocumentUnderTheLock) {
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("many.pdf"), 12));
    qm::PdfDocument doc;
    ASSERT_EQ(OpenDoc(doc, dir.File("many.pdf")), qm::OpenResult::Opened);
    std::atomic<int> loaded{0};
    std::atomic<bool> failed{false};
    std::thread other([&] {
        fz_context *ctx = qm::EngineContext();
        for (int round = 0; round < 5; ++round) {
            auto lock = doc.Lock();
            int n = doc.PageCount();
            for (int i = 0; i < n; ++i) {
                fz_page *page = nullptr;
                fz_try(ctx) {
                    page = fz_load_page(ctx, doc.Document(), i);
                    fz_rect r = fz_bound_page(ctx, page);
                    if (r.x1 - r.x0 < 100) failed = true;
                }
                fz_catch(ctx) failed = true;
                fz_drop_page(ctx, page);
                ++loaded;
            }
        }
    });
    for (int round = 0; round < 200; ++round) {
        auto lock = doc.Lock();
        if (!doc.LoadPage(1 + round % doc.PageCount())) failed = true;
    }
    other.join();
    EXPECT_FALSE(failed);
    EXPECT_EQ(loaded, 60);
}

} // namespace

namespace {

// Links written by the fixture builder come back from the engine with their targets; a bare web
// address is kept as an address (the engine reports it as a file link), not turned into page 1.
TEST(PdfFixture, LinksKeepTheirTargets) {
    qmtest::TempDir dir;
    qmtest::PdfBuilder b;
    int p = b.AddPage();
    b.AddPage();
    b.LinkToPage(p, 72, 700, 200, 720, 1);
    b.LinkToUri(p, 72, 600, 200, 620, "https://example.org/a");
    b.LinkToUri(p, 72, 500, 200, 520, "www.example.org");
    ASSERT_TRUE(b.Save(dir.File("links.pdf")));

    qm::PdfDocument doc;
    ASSERT_EQ(doc.Open(dir.File("links.pdf"), "", ""), qm::OpenResult::Opened);
    auto lock = doc.Lock();
    fz_context *ctx = qm::EngineContext();
    std::vector<std::string> uris;
    fz_page *page = nullptr;
    fz_link *links = nullptr;
    fz_try(ctx) {
        page = fz_load_page(ctx, doc.Document(), 0);
        links = fz_load_links(ctx, page);
    }
    fz_catch(ctx) FAIL() << qm::EngineCaughtMessage(ctx);
    for (fz_link *l = links; l; l = l->next) uris.push_back(l->uri ? l->uri : "");
    fz_drop_link(ctx, links);
    fz_drop_page(ctx, page);
    ASSERT_EQ(uris.size(), 3u);
    std::sort(uris.begin(), uris.end());
    EXPECT_EQ(uris[0].rfind("#page=2", 0), 0u) << uris[0];
    EXPECT_NE(uris[1].find("www.example.org"), std::string::npos) << uris[1];
    EXPECT_EQ(uris[1].find("#page"), std::string::npos) << uris[1];
    EXPECT_EQ(uris[2], "https://example.org/a");
}

} // namespace

namespace {

// The full names read for a page, sorted.
std::vector<std::string> NamesOf(const std::map<fz_font *, std::string> &names) {
    std::vector<std::string> out;
    for (const auto &entry : names) out.push_back(entry.second);
    std::sort(out.begin(), out.end());
    return out;
}

void DropKeys(std::map<fz_font *, std::string> &names) {
    for (const auto &entry : names) fz_drop_font(qm::EngineContext(), entry.first);
    names.clear();
}

} // namespace

// Font names are read for the page asked for, whichever page was loaded last, and a cache trim
// keeps the fonts of the page named last (the same engine font comes back, not a reloaded copy)
// while the document still closes and reopens cleanly.
TEST_F(PdfDocumentTest, FontNamesFollowTheAskedPageAndSurviveCacheTrims) {
    qmtest::PdfBuilder pdf;
    pdf.ListFontsWhereUsed();
    const char *fonts[3] = {"Helvetica", "Times-Roman", "Courier"};
    for (const char *font : fonts) pdf.Text(pdf.AddPage(), 72, 700, "Words", 12, font);
    ASSERT_TRUE(pdf.Save(dir.File("fonts.pdf")));
    qm::PdfDocument doc;
    ASSERT_EQ(OpenDoc(doc, dir.File("fonts.pdf")), qm::OpenResult::Opened);
    auto lock = doc.Lock();

    std::map<fz_font *, std::string> first, other, again;
    ASSERT_NE(doc.LoadPage(1), nullptr);
    doc.LoadPageFontNames(0, first);
    EXPECT_EQ(NamesOf(first), std::vector<std::string>{"Helvetica"});
    // Page 3 named while page 1 is the one loaded, then page 1 again.
    doc.LoadPageFontNames(2, other);
    EXPECT_EQ(NamesOf(other), std::vector<std::string>{"Courier"});
    DropKeys(other);
    doc.LoadPageFontNames(0, other);
    ASSERT_EQ(other.size(), 1u);
    const fz_font *helvetica = other.begin()->first;
    DropKeys(other);

    // Enough trims to also clear the parsed objects. `first` still holds its font, so a reloaded
    // font could not come back at the same address.
    for (int i = 0; i < qm::PdfDocument::kTrimsPerXrefClear; ++i) doc.TrimCaches();
    ASSERT_NE(doc.LoadPage(1), nullptr);
    doc.LoadPageFontNames(0, again);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again.begin()->first, helvetica);
    EXPECT_EQ(first.begin()->first, helvetica);
    DropKeys(again);

    // A page loaded after the trims is still named right.
    ASSERT_NE(doc.LoadPage(2), nullptr);
    doc.LoadPageFontNames(1, again);
    EXPECT_EQ(NamesOf(again), std::vector<std::string>{"Times-Roman"});
    DropKeys(again);
    DropKeys(first);

    doc.Close();
    ASSERT_EQ(OpenDoc(doc, dir.File("fonts.pdf")), qm::OpenResult::Opened);
    ASSERT_NE(doc.LoadPage(3), nullptr);
    doc.LoadPageFontNames(2, again);
    EXPECT_EQ(NamesOf(again), std::vector<std::string>{"Courier"});
    DropKeys(again);
}
