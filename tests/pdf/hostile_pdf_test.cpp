// Hostile PDFs at the engine's edge: page trees that lie about their size, outline entries that
// point at pages that do not exist, page boxes beyond any int, the raster budget, and stopping the
// engine's work inside a page.
#include <gtest/gtest.h>
#include <mupdf/fitz.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "extract/capture.h"
#include "options/conversion_job.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "support/captured_document.h"
#include "pdf/raster_budget.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"

namespace {

class HostilePdfTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::RecordingPrompt prompt;

    void Open(qm::PdfDocument &doc, const std::string &name) {
        doc.SetPrompt(&prompt);
        ASSERT_EQ(doc.Open(dir.File(name), "", ""), qm::OpenResult::Opened);
    }
};

void ExpectSameOutline(const std::vector<qm::OutlineEntry> &ours, const fz_outline *b, const std::string &where) {
    size_t i = 0;
    for (; i < ours.size() || b; ++i, b = b->next) {
        ASSERT_TRUE(i < ours.size() && b) << "one outline has more entries at " << where;
        const qm::OutlineEntry &a = ours[i];
        EXPECT_EQ(a.title, b->title ? b->title : "") << where;
        EXPECT_EQ(a.uri, b->uri ? b->uri : "") << where << "/" << a.title;
        EXPECT_EQ(a.page, b->page.page) << where << "/" << a.title;
        ExpectSameOutline(a.children, b->down, where + "/" + a.title);
    }
}

std::vector<std::string> Titles(const std::vector<qm::OutlineEntry> &entries) {
    std::vector<std::string> out;
    for (const qm::OutlineEntry &e : entries) out.push_back(e.title);
    return out;
}

TEST_F(HostilePdfTest, OutlineWalkGivesTheEnginesOwnTreeForASoundOutline) {
    qmtest::PdfBuilder b;
    for (int i = 0; i < 5; ++i) b.Text(b.AddPage(), 72, 700, "Page " + std::to_string(i + 1));
    int part = b.AddOutline("Part & one", -1);
    int chapter = b.AddOutline("Chapter", 1, part, 400);
    b.AddOutline("Section", 2, chapter);
    b.AddOutline("Second part", 4);
    b.AddOutline("Été", 0, -1, 100);
    ASSERT_TRUE(b.Save(dir.File("sound.pdf")));

    qm::PdfDocument doc;
    Open(doc, "sound.pdf");
    fz_context *ctx = qm::EngineContext();
    fz_document *other = fz_open_document(ctx, dir.File("sound.pdf").c_str());
    fz_outline *engine = fz_load_outline(ctx, other);
    ASSERT_NE(engine, nullptr);
    ExpectSameOutline(doc.Outline(), engine, "");
    fz_drop_outline(ctx, engine);
    fz_drop_document(ctx, other);
}

TEST_F(HostilePdfTest, OutlineEntriesToMissingPagesAreLeftOutAndTheRestKept) {
    // The engine's own loader gives up the whole outline here (and leaks, which the sanitizer
    // build of this test would report).
    qmtest::PdfBuilder b;
    b.Text(b.AddPage(), 72, 700, "One");
    b.Text(b.AddPage(), 72, 700, "Two");
    int first = b.AddOutline("First", 0);
    b.AddOutlineToPageNumber("Missing child", 998, first);
    b.AddOutline("Kept child", 1, first);
    int bad = b.AddOutlineToPageNumber("Page 999", 998);
    b.AddOutline("Orphan", 1, bad);
    b.AddOutline("Last", 1);
    ASSERT_TRUE(b.Save(dir.File("bad.pdf")));

    qm::PdfDocument doc;
    Open(doc, "bad.pdf");
    ASSERT_FALSE(doc.Outline().empty());
    // The unreadable entries are gone; the children of one take its place.
    EXPECT_EQ(Titles(doc.Outline()), (std::vector<std::string>{"First", "Orphan", "Last"}));
    EXPECT_EQ(Titles(doc.Outline()[0].children), (std::vector<std::string>{"Kept child"}));
    EXPECT_EQ(doc.Outline()[1].page, 1);
    EXPECT_EQ(doc.Outline()[2].page, 1);
}

TEST_F(HostilePdfTest, PageTreeCountIsNotBelievedBeyondThePagesThatExist) {
    for (double claimed : {1e20, 1000.0}) {
        qmtest::PdfBuilder b;
        b.Text(b.AddPage(), 72, 700, "One");
        b.Text(b.AddPage(), 72, 700, "Two");
        b.SetPageTreeCount(claimed);
        ASSERT_TRUE(b.Save(dir.File("count.pdf")));
        qm::PdfDocument doc;
        Open(doc, "count.pdf");
        EXPECT_EQ(doc.PageCount(), 2) << claimed;
        EXPECT_GT(doc.ClaimedPageCount(), 2) << claimed;
    }
    // Whose last claimed page exists: an inner node claims a million pages and holds none. Only
    // the file's size bounds what is worth trying.
    const std::string pdf = "%PDF-1.4\n"
                            "1 0 obj <</Type/Catalog/Pages 2 0 R>> endobj\n"
                            "2 0 obj <</Type/Pages/Count 1000002/Kids[3 0 R 4 0 R 5 0 R]>> endobj\n"
                            "3 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>> endobj\n"
                            "4 0 obj <</Type/Pages/Parent 2 0 R/Count 1000000/Kids[]>> endobj\n"
                            "5 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>> endobj\n"
                            "trailer <</Root 1 0 R/Size 6>>\n%%EOF\n";
    ASSERT_TRUE(qm::WriteFile(dir.File("inner.pdf"), pdf));
    {
        qm::PdfDocument doc;
        Open(doc, "inner.pdf");
        EXPECT_GE(doc.PageCount(), 1);
        EXPECT_LE(doc.PageCount(), static_cast<int>(pdf.size() / 8));
        EXPECT_EQ(doc.ClaimedPageCount(), 1000002);
    }
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("honest.pdf"), 3));
    qm::PdfDocument doc;
    Open(doc, "honest.pdf");
    EXPECT_EQ(doc.PageCount(), 3);
    EXPECT_EQ(doc.ClaimedPageCount(), 0);
}

TEST_F(HostilePdfTest, RasterBudgetLowersTheResolutionOnlyWhenNeeded) {
    const fz_rect letter = fz_make_rect(0, 0, 612, 792);
    for (float dpi : {72.0f, 300.0f, 600.0f}) {
        fz_matrix t = fz_scale(dpi / 72, dpi / 72);
        double scale = 0;
        fz_matrix fitted = qm::FitRasterBudget(letter, t, &scale);
        EXPECT_EQ(scale, 1.0);
        EXPECT_EQ(std::memcmp(&fitted, &t, sizeof t), 0) << dpi;  // books of normal pages stay as they were
    }
    const fz_rect boxes[] = {fz_make_rect(0, 0, 40000, 100000), fz_make_rect(0, 0, 3e9f, 1),
                             fz_make_rect(0, 0, 1, 3e9f), fz_make_rect(0, 0, 3e30f, 3e30f)};
    for (const fz_rect &box : boxes) {
        fz_matrix t = fz_scale(600.0f / 72, 600.0f / 72);
        double scale = 1;
        fz_matrix fitted = qm::FitRasterBudget(box, t, &scale);
        EXPECT_GT(scale, 0.0);
        EXPECT_LT(scale, 1.0);
        EXPECT_LE(qm::RasterPixels(box, fitted), qm::kRasterPixelBudget);
        // The engine's own rounding of the device box agrees.
        fz_irect r = fz_round_rect(fz_transform_rect(box, fitted));
        EXPECT_LE(static_cast<double>(r.x1 - r.x0) * (r.y1 - r.y0), qm::kRasterPixelBudget);
    }
    // Lowered no further than needed (long thin boxes also meet the engine's largest coordinate).
    fz_matrix fitted = qm::FitRasterBudget(boxes[0], fz_identity);
    EXPECT_GT(qm::RasterPixels(boxes[0], fitted), 0.99 * qm::kRasterPixelBudget);
    double scale = 1;
    qm::FitRasterBudget(fz_infinite_rect, fz_identity, &scale);
    EXPECT_EQ(scale, 0.0);
}

TEST_F(HostilePdfTest, PagesBeyondIntGeometryAreCapturedWithinTheBudget) {
    qmtest::PdfBuilder b;
    const double sizes[][2] = {{3e9, 800}, {800, 3e9}, {1e30, 1e30}, {0.001, 0.001}};
    for (const auto &size : sizes) b.Text(b.AddPage(size[0], size[1]), 72, 50, "Hello", 24);
    ASSERT_TRUE(b.Save(dir.File("huge.pdf")));
    qmtest::CapturedDocument cd;
    qm::PdfDocument &doc = cd.doc;
    Open(doc, "huge.pdf");
    ASSERT_EQ(doc.PageCount(), 4);
    cd.capture.outputDpi = 600;
    for (int p = 1; p <= 4; ++p) {
        ASSERT_EQ(cd.Draw(p), qm::CaptureResult::Captured) << p;
        const int zoom = cd.capture.FitZoom(800, 600);
        EXPECT_GE(zoom, 1) << p;
        EXPECT_LE(zoom, 72) << p;
        fz_pixmap *raster = cd.capture.OutputRaster();
        ASSERT_NE(raster, nullptr) << p;
        fz_context *ctx = qm::EngineContext();
        EXPECT_LE(static_cast<double>(fz_pixmap_width(ctx, raster)) * fz_pixmap_height(ctx, raster),
                  qm::kRasterPixelBudget)
            << p;
        qm::Thumbnail thumb = doc.RenderThumbnail(p, 0, 0);
        ASSERT_FALSE(thumb.Empty()) << p;
        EXPECT_LE(static_cast<double>(thumb.width) * thumb.height, qm::kRasterPixelBudget) << p;
    }
}

TEST_F(HostilePdfTest, AStoppedPageIsNeverTakenForAFinishedOne) {
    qmtest::PdfBuilder b;
    int p = b.AddPage();
    b.Text(p, 72, 700, "Some text");
    b.FillRect(p, 72, 72, 200, 100, {1, 0, 0});
    ASSERT_TRUE(b.Save(dir.File("page.pdf")));
    qmtest::CapturedDocument cd;
    qm::PdfDocument &doc = cd.doc;
    Open(doc, "page.pdf");
    qm::ConversionJob job;
    std::atomic<unsigned char> cancel{1};
    job.cancelRequested = &cancel;
    cd.model.job = &job;

    // A run that starts after the cancel records nothing.
    EXPECT_EQ(cd.Draw(1), qm::CaptureResult::Failed);
    EXPECT_EQ(doc.PageRunStop(), qm::PageStop::Cancelled);
    EXPECT_EQ(cd.capture.OutputRaster(), nullptr);

    // A run stopped after its capture paints no raster; the next run starts afresh.
    cancel = 0;
    ASSERT_EQ(cd.Draw(1), qm::CaptureResult::Captured);
    EXPECT_EQ(doc.PageRunStop(), qm::PageStop::None);
    doc.CancelPageRun();
    EXPECT_EQ(cd.capture.OutputRaster(), nullptr);
    EXPECT_EQ(doc.PageRunStop(), qm::PageStop::Cancelled);
    ASSERT_EQ(cd.Draw(1), qm::CaptureResult::Captured);
    EXPECT_NE(cd.capture.OutputRaster(), nullptr);

    // A time limit stops only the run it was meant for, and says so.
    const uint64_t serial = doc.CurrentPageRun().serial;
    doc.EndPageRun();
    EXPECT_FALSE(doc.StopSlowPageRun(serial, 2));
    ASSERT_EQ(cd.Draw(1), qm::CaptureResult::Captured);
    EXPECT_FALSE(doc.StopSlowPageRun(serial, 2));
    EXPECT_TRUE(doc.StopSlowPageRun(doc.CurrentPageRun().serial, 2.5));
    EXPECT_EQ(doc.PageRunStop(), qm::PageStop::TimeLimit);
    EXPECT_EQ(doc.PageRunLimit(), 2.5);
    EXPECT_EQ(cd.capture.OutputRaster(), nullptr);
    cd.model.job = nullptr;

    // The capture steps themselves, each given an aborted cookie.
    fz_context *ctx = qm::EngineContext();
    fz_cookie aborted{};
    aborted.abort = 1;
    qm::CommandList list;
    EXPECT_EQ(qm::RecordPage(ctx, cd.capture.Page(), list), 0);
    ASSERT_FALSE(list.commands.empty());
    fz_irect box = fz_make_irect(0, 0, 612, 792);
    EXPECT_FALSE(qm::ComputeOutputAndViewBoxes(ctx, list, fz_identity, box, fz_identity, box, &aborted));
    EXPECT_EQ(qm::RenderCommands(ctx, list, fz_identity, box, false, -1, &aborted), nullptr);
    EXPECT_EQ(qm::RecordPage(ctx, cd.capture.Page(), list, &aborted), -1);
    EXPECT_TRUE(list.commands.empty());
}

} // namespace
