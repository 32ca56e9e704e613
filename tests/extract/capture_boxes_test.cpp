// Recording pages and the painted boxes of commands and glyphs: the box rules, the geometric pass
// against a real render, and the rasters against the engine's own render.
#include <gtest/gtest.h>
#include <mupdf/fitz.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "extract/capture.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "support/captured_document.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/varied_pages.h"
#include "support/temp_dir.h"

namespace {

using qm::CommandKind;
using qm::IntBox;

// An open document on a generated file, its page n captured.
struct Captured {
    qmtest::CapturedDocument cd;
    qm::PdfDocument &doc = cd.doc;
    qm::PageModel &model = cd.model;
    qm::PageCapture &capture = cd.capture;
    bool Open(const std::string &path, int page = 1, int dpi = 72, int vw = 800, int vh = 600) {
        if (!cd.Open(path)) return false;
        capture.outputDpi = dpi;
        return cd.Draw(page, vw, vh) == qm::CaptureResult::Captured;
    }
    std::vector<qm::DrawCommand> &Commands() { return model.commands->commands; }
    int Find(CommandKind kind, int from = 0) {
        auto &c = Commands();
        for (size_t i = from; i < c.size(); ++i)
            if (c[i].kind == kind) return static_cast<int>(i);
        return -1;
    }
};

fz_pixmap *EngineRender(fz_context *ctx, fz_page *page, fz_matrix t, fz_irect box) {
    fz_pixmap *pix = nullptr;
    fz_device *dev = nullptr;
    fz_var(pix);
    fz_var(dev);
    fz_try(ctx) {
        pix = fz_new_pixmap_with_bbox(ctx, fz_device_rgb(ctx), box, nullptr, 1);
        fz_clear_pixmap_with_value(ctx, pix, 255);
        dev = fz_new_draw_device(ctx, t, pix);
        fz_run_page(ctx, page, dev, fz_identity, nullptr);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) fz_drop_device(ctx, dev);
    fz_catch(ctx) {
        fz_drop_pixmap(ctx, pix);
        pix = nullptr;
    }
    return pix;
}

bool SamePixels(fz_context *ctx, fz_pixmap *a, fz_pixmap *b) {
    if (!a || !b) return false;
    if (fz_pixmap_width(ctx, a) != fz_pixmap_width(ctx, b) || fz_pixmap_height(ctx, a) != fz_pixmap_height(ctx, b) ||
        fz_pixmap_components(ctx, a) != fz_pixmap_components(ctx, b))
        return false;
    size_t rowBytes = static_cast<size_t>(fz_pixmap_width(ctx, a)) * fz_pixmap_components(ctx, a);
    for (int y = 0; y < fz_pixmap_height(ctx, a); ++y)
        if (memcmp(fz_pixmap_samples(ctx, a) + y * fz_pixmap_stride(ctx, a),
                   fz_pixmap_samples(ctx, b) + y * fz_pixmap_stride(ctx, b), rowBytes) != 0)
            return false;
    return true;
}

// Renders the page once without each painting command in turn: every pixel that changes must lie
// inside that command's output box.
void ExpectBoxesCoverPaint(const qm::CommandList &list, fz_matrix t, fz_irect box, fz_pixmap *full) {
    fz_context *ctx = qm::EngineContext();
    int w = fz_pixmap_width(ctx, full), h = fz_pixmap_height(ctx, full), n = fz_pixmap_components(ctx, full);
    for (size_t i = 0; i < list.commands.size(); ++i) {
        CommandKind k = list.commands[i].kind;
        if (k != CommandKind::FillPath && k != CommandKind::StrokePath && k != CommandKind::FillText &&
            k != CommandKind::StrokeText && k != CommandKind::FillImage)
            continue;
        fz_pixmap *without = qm::RenderCommands(ctx, list, t, box, false, static_cast<int>(i));
        ASSERT_NE(without, nullptr);
        IntBox cb = list.commands[i].outputBox;
        int outside = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                size_t off = static_cast<size_t>(y) * fz_pixmap_stride(ctx, full) + static_cast<size_t>(x) * n;
                if (memcmp(fz_pixmap_samples(ctx, full) + off, fz_pixmap_samples(ctx, without) + off, n) == 0)
                    continue;
                int dx = x + box.x0, dy = y + box.y0;
                if (dx < cb.x0 || dx >= cb.x1 || dy < cb.y0 || dy >= cb.y1) ++outside;
            }
        EXPECT_EQ(outside, 0) << "command " << i << " (" << qm::CommandKindName(k) << ") box " << cb.x0 << ","
                              << cb.y0 << "," << cb.x1 << "," << cb.y1;
        fz_drop_pixmap(ctx, without);
    }
}

class CaptureTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
};

TEST_F(CaptureTest, ShadeCarriesDeviceBoxFirstAndPathBoxAfterAFill) {
    qmtest::PdfBuilder b;
    int p = b.AddPage();
    b.ShadeRect(p, 100, 100, 200, 50);
    int q = b.AddPage();
    b.FillRect(q, 50, 600, 100, 80);
    b.ShadeRect(q, 100, 100, 200, 50);
    ASSERT_TRUE(b.Save(dir.File("shade.pdf")));

    Captured first;
    ASSERT_TRUE(first.Open(dir.File("shade.pdf"), 1, 150));
    int shade = first.Find(CommandKind::FillShade);
    ASSERT_GE(shade, 0);
    EXPECT_EQ(first.Commands()[shade].viewBox, first.model.viewDeviceBox);
    EXPECT_EQ(first.Commands()[shade].outputBox, first.model.outputDeviceBox);
    EXPECT_EQ(first.model.outputDeviceBox, (IntBox{0, 0, 1275, 1650}));

    Captured second;
    ASSERT_TRUE(second.Open(dir.File("shade.pdf"), 2, 150));
    int fill = second.Find(CommandKind::FillPath);
    shade = second.Find(CommandKind::FillShade);
    ASSERT_GE(fill, 0);
    ASSERT_GT(shade, fill);
    const qm::DrawCommand &f = second.Commands()[fill];
    // The fill is 100 x 80 points at (50, 792 - 680): at 150 dpi that is (104, 233) .. (313, 400).
    EXPECT_EQ(f.outputBox, (IntBox{104, 233, 313, 400}));
    EXPECT_EQ(second.Commands()[shade].outputBox, f.outputBox);
    EXPECT_EQ(second.Commands()[shade].viewBox, f.viewBox);
}

TEST_F(CaptureTest, FillsThatPaintNothingKeepThePreviousBox) {
    qmtest::PdfBuilder b;
    int p = b.AddPage();
    b.FillRect(p, 72, 600, 50, 50);
    b.Raw(p, "q 300 380 40 40 re W n 1 0 0 rg 400 300 30 30 re f Q");  // wholly outside its clip
    b.Raw(p, "q 0 0 1 rg 360 300 0 50 re f Q");                        // zero width
    ASSERT_TRUE(b.Save(dir.File("outside.pdf")));
    Captured c;
    ASSERT_TRUE(c.Open(dir.File("outside.pdf")));
    auto &cmds = c.Commands();
    int first = c.Find(CommandKind::FillPath);
    int outside = c.Find(CommandKind::FillPath, first + 1);
    int zero = c.Find(CommandKind::FillPath, outside + 1);
    ASSERT_GE(zero, 0);
    EXPECT_EQ(cmds[first].outputBox, (IntBox{72, 142, 122, 192}));
    EXPECT_EQ(cmds[outside].viewBox, cmds[first].viewBox);
    EXPECT_EQ(cmds[outside].outputBox, cmds[first].outputBox);
    EXPECT_EQ(cmds[zero].viewBox, cmds[first].viewBox);
}

TEST_F(CaptureTest, TextIsOneCommandPerSpanWithGlyphBoxesInsideTheCommandBox) {
    qmtest::PdfBuilder b;
    qmtest::AddVariedPages(b);
    ASSERT_TRUE(b.Save(dir.File("varied.pdf")));
    Captured c;
    ASSERT_TRUE(c.Open(dir.File("varied.pdf"), 2, 144));
    // "Spans: Helvetica " / "then Times Italic " / "and big." are three commands of one font each.
    // Painting builds the engine text of each span.
    ASSERT_NE(c.capture.OutputRaster(), nullptr);
    std::vector<std::string> texts;
    for (auto &cmd : c.Commands()) {
        if (cmd.kind != CommandKind::FillText) continue;
        std::string s;
        for (auto &g : cmd.text->glyphs) s += static_cast<char>(g.unicode);
        texts.push_back(s);
        // One span per command: every glyph of the engine text uses the command's font.
        ASSERT_EQ(cmd.text->text->head, cmd.text->text->tail);
        EXPECT_EQ(cmd.text->text->head->font, cmd.text->font);
        IntBox u;
        bool any = false;
        for (auto &g : cmd.text->glyphs) {
            if (g.outputBox.Width() <= 0) continue;
            u = any ? IntBox{std::min(u.x0, g.outputBox.x0), std::min(u.y0, g.outputBox.y0),
                             std::max(u.x1, g.outputBox.x1), std::max(u.y1, g.outputBox.y1)}
                    : g.outputBox;
            any = true;
        }
        EXPECT_EQ(cmd.outputBox, u) << s;
    }
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Spans: Helvetica ");
    EXPECT_EQ(texts[1], "then Times Italic ");
    EXPECT_EQ(texts[2], "and big.");

    // Recording the same page again gives the same command sequence.
    std::vector<int> kinds;
    for (auto &cmd : c.Commands()) kinds.push_back(static_cast<int>(cmd.kind));
    ASSERT_EQ(c.cd.Draw(1), qm::CaptureResult::Captured);
    ASSERT_EQ(c.cd.Draw(2), qm::CaptureResult::Captured);
    std::vector<int> again;
    for (auto &cmd : c.Commands()) again.push_back(static_cast<int>(cmd.kind));
    EXPECT_EQ(kinds, again);
}

// Boxes computed without painting equal the boxes taken during a real render, and every pixel a
// painting command changes lies inside its box.
TEST_F(CaptureTest, GeometricBoxesMatchARenderAndCoverEveryPaintedPixel) {
    qmtest::PdfBuilder b;
    qmtest::AddVariedPages(b);
    ASSERT_TRUE(b.Save(dir.File("varied.pdf")));
    fz_context *ctx = qm::EngineContext();
    for (int pageNo = 1; pageNo <= 2; ++pageNo) {
        for (int dpi : {72, 150}) {
            SCOPED_TRACE("page " + std::to_string(pageNo) + " at " + std::to_string(dpi) + " dpi");
            Captured c;
            ASSERT_TRUE(c.Open(dir.File("varied.pdf"), pageNo, dpi));
            qm::CommandList &list = *c.model.commands;
            fz_matrix t = c.model.outputTransform;
            const IntBox &ob = c.model.outputDeviceBox;
            fz_irect box = fz_make_irect(ob.x0, ob.y0, ob.x1, ob.y1);
            std::vector<IntBox> geometric;
            std::vector<std::vector<IntBox>> glyphs;
            for (auto &cmd : list.commands) {
                geometric.push_back(cmd.outputBox);
                glyphs.emplace_back();
                if (cmd.text && qm::IsTextKind(cmd.kind))
                    for (auto &g : cmd.text->glyphs) glyphs.back().push_back(g.outputBox);
            }

            // The same pass while painting into a draw device.
            fz_pixmap *painted = fz_new_pixmap_with_bbox(ctx, fz_device_rgb(ctx), box, nullptr, 1);
            fz_clear_pixmap_with_value(ctx, painted, 255);
            fz_device *dev = fz_new_draw_device(ctx, t, painted);
            qm::ComputeBoxes(ctx, list, t, box, true, dev);
            fz_close_device(ctx, dev);
            fz_drop_device(ctx, dev);
            for (size_t i = 0; i < list.commands.size(); ++i) {
                EXPECT_EQ(list.commands[i].outputBox, geometric[i]) << "command " << i;
                if (list.commands[i].text && qm::IsTextKind(list.commands[i].kind)) {
                    for (size_t k = 0; k < glyphs[i].size(); ++k)
                        EXPECT_EQ(list.commands[i].text->glyphs[k].outputBox, glyphs[i][k]);
                }
            }

            // The painted raster is the lazily painted one and the engine's own render.
            fz_pixmap *lazy = c.capture.OutputRaster();
            fz_pixmap *engine = EngineRender(ctx, c.capture.Page(), t, box);
            EXPECT_TRUE(SamePixels(ctx, painted, lazy));
            EXPECT_TRUE(SamePixels(ctx, lazy, engine));

            // Pixels of each painting command: render without it and compare.
            ExpectBoxesCoverPaint(list, t, box, lazy);
            fz_drop_pixmap(ctx, engine);
            fz_drop_pixmap(ctx, painted);
        }
    }
}

TEST_F(CaptureTest, RastersAreWhiteAndInTheirChannelOrder) {
    qmtest::PdfBuilder b;
    int p = b.AddPage(200, 100);
    b.FillRect(p, 0, 0, 20, 20, {1, 0, 0});
    ASSERT_TRUE(b.Save(dir.File("red.pdf")));
    Captured c;
    ASSERT_TRUE(c.Open(dir.File("red.pdf"), 1, 144));
    fz_context *ctx = qm::EngineContext();
    fz_pixmap *out = c.capture.OutputRaster();
    fz_pixmap *view = c.capture.ViewRaster();
    ASSERT_TRUE(out && view);
    EXPECT_EQ(fz_pixmap_width(ctx, out), 400);
    EXPECT_EQ(fz_pixmap_width(ctx, view), 200);  // a small page is never enlarged in the view
    const unsigned char *o = fz_pixmap_samples(ctx, out);
    EXPECT_EQ(o[0], 255);
    EXPECT_EQ(o[3], 255);
    // Bottom-left corner: red, as R,G,B,A in the output and B,G,R,A in the view.
    const unsigned char *ob = o + (fz_pixmap_height(ctx, out) - 1) * fz_pixmap_stride(ctx, out);
    EXPECT_EQ(ob[0], 255);
    EXPECT_EQ(ob[2], 0);
    const unsigned char *vb = fz_pixmap_samples(ctx, view) + (fz_pixmap_height(ctx, view) - 1) * fz_pixmap_stride(ctx, view);
    EXPECT_EQ(vb[0], 0);
    EXPECT_EQ(vb[2], 255);
    // A new capture replaces both rasters.
    c.capture.outputDpi = 72;
    ASSERT_EQ(c.cd.Draw(1), qm::CaptureResult::Captured);
    ASSERT_NE(c.capture.OutputRaster(), nullptr);
    EXPECT_EQ(fz_pixmap_width(ctx, c.capture.OutputRaster()), 200);
}

} // namespace

namespace {

// Real documents, when the machine has some: the bundled samples and a few PDFs of the system's
// documentation. Rasters must equal the engine's own render, and boxes taken while painting must
// equal the geometric ones.
TEST(CaptureRealDocuments, RastersAndBoxesMatchTheEngine) {
    std::vector<std::string> files;
    for (const char *f : {"/usr/share/doc/libtasn1-doc/libtasn1.pdf",
                          "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf"})
        if (qm::FileExists(f)) files.push_back(f);
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(std::string(QM_SOURCE_DIR) + "/samples", ec))
        if (entry.path().extension() == ".pdf") files.push_back(entry.path().string());
    if (files.empty()) GTEST_SKIP() << "no real PDF on this machine";
    fz_context *ctx = qm::EngineContext();
    for (const std::string &file : files) {
        qmtest::CapturedDocument cd;
        qm::PdfDocument &doc = cd.doc;
        ASSERT_TRUE(cd.Open(file)) << file;
        int pages = std::min(doc.PageCount(), 6);
        for (int page = 1; page <= pages; ++page) {
            SCOPED_TRACE(file + " page " + std::to_string(page));
            cd.capture.outputDpi = page % 2 ? 72 : 150;
            ASSERT_EQ(cd.Draw(page), qm::CaptureResult::Captured);
            qm::CommandList &list = *cd.model.commands;
            const IntBox &ob = cd.model.outputDeviceBox;
            fz_irect box = fz_make_irect(ob.x0, ob.y0, ob.x1, ob.y1);
            fz_matrix t = cd.model.outputTransform;
            std::vector<IntBox> geometric;
            for (auto &cmd : list.commands) geometric.push_back(cmd.outputBox);
            fz_pixmap *painted = fz_new_pixmap_with_bbox(ctx, fz_device_rgb(ctx), box, nullptr, 1);
            fz_clear_pixmap_with_value(ctx, painted, 255);
            fz_device *dev = fz_new_draw_device(ctx, t, painted);
            qm::ComputeBoxes(ctx, list, t, box, true, dev);
            fz_close_device(ctx, dev);
            fz_drop_device(ctx, dev);
            int differing = 0;
            for (size_t i = 0; i < list.commands.size(); ++i)
                if (!(list.commands[i].outputBox == geometric[i])) ++differing;
            EXPECT_EQ(differing, 0);
            fz_pixmap *engine = EngineRender(ctx, cd.capture.Page(), t, box);
            EXPECT_TRUE(SamePixels(ctx, cd.capture.OutputRaster(), engine));
            EXPECT_TRUE(SamePixels(ctx, painted, engine));
            if (page <= 3) ExpectBoxesCoverPaint(list, t, box, engine);
            fz_drop_pixmap(ctx, engine);
            fz_drop_pixmap(ctx, painted);
        }
    }
}

} // namespace
