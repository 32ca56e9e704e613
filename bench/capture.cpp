// Capture speed and memory.
//   bench_capture [FILE.pdf ...]
// For each document (the given files, then a generated 100-page text document) prints, in ms per
// page: the engine's own interpretation of the page into a bounds-only device (the floor), a
// plain render at 72 dpi, our capture (load + record + boxes for both spaces + items) and the
// capture with both rasters painted, with the capture's ratios to the floor and to the render.
// Times are thread CPU time, best of three rounds. Then captures all pages of a generated 300-page document and reports resident memory at 30
// and at 300 pages.
#include <sys/resource.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "extract/capture.h"
#include "pdf/engine.h"
#include "extract/page_capture.h"
#include "pdf/pdf_document.h"
#include "support/pdf_fixture.h"

namespace {

// Thread CPU time: the machine is shared, and wall time would count other programs' turns.
struct Clock {
    using time_point = double;
    static double now() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
    }
};

double Ms(double a, double b) { return b - a; }

// Loads and runs every page into a device made by `make` (null device: bounds only).
double EnginePass(fz_document *doc, int pages, int dpi) {
    fz_context *ctx = qm::EngineContext();
    auto t0 = Clock::now();
    for (int i = 0; i < pages; ++i) {
        fz_page *page = nullptr;
        fz_device *dev = nullptr;
        fz_pixmap *pix = nullptr;
        fz_var(page);
        fz_var(dev);
        fz_var(pix);
        fz_try(ctx) {
            page = fz_load_page(ctx, doc, i);
            if (dpi > 0) {
                fz_matrix t = fz_scale(dpi / 72.0f, dpi / 72.0f);
                pix = fz_new_pixmap_with_bbox(ctx, fz_device_rgb(ctx),
                                              fz_round_rect(fz_transform_rect(fz_bound_page(ctx, page), t)), nullptr, 1);
                fz_clear_pixmap_with_value(ctx, pix, 255);
                dev = fz_new_draw_device(ctx, t, pix);
            } else {
                fz_rect bounds;
                dev = fz_new_bbox_device(ctx, &bounds);
            }
            fz_run_page(ctx, page, dev, fz_identity, nullptr);
            fz_close_device(ctx, dev);
        }
        fz_always(ctx) {
            fz_drop_device(ctx, dev);
            fz_drop_pixmap(ctx, pix);
            fz_drop_page(ctx, page);
        }
        fz_catch(ctx) {}
    }
    return Ms(t0, Clock::now()) / pages;
}

// Time of the capture's parts: page load + recording, the output box pass, the view box pass.
void Breakdown(fz_document *doc, int pages, double out[3]) {
    fz_context *ctx = qm::EngineContext();
    out[0] = out[1] = out[2] = 0;
    for (int i = 0; i < pages; ++i) {
        fz_page *page = nullptr;
        fz_try(ctx) page = fz_load_page(ctx, doc, i);
        fz_catch(ctx) continue;
        qm::CommandList list;
        auto t0 = Clock::now();
        qm::RecordPage(ctx, page, list);
        auto t1 = Clock::now();
        fz_matrix o = fz_scale(150 / 72.0f, 150 / 72.0f), v = fz_scale(54 / 72.0f, 54 / 72.0f);
        qm::ComputeOutputAndViewBoxes(ctx, list, o, qm::DeviceBoxFor(ctx, page, o), v,
                                      qm::DeviceBoxFor(ctx, page, v));
        auto t2 = Clock::now();
        qm::PageModel model;
        model.capturedPage = 1;
        model.commands.reset(&list);
        model.BuildPageItems();
        (void)model.commands.release();
        model.Clear();
        auto t3 = Clock::now();
        out[0] += Ms(t0, t1);
        out[1] += Ms(t1, t2);
        out[2] += Ms(t2, t3);
        list.Release();
        fz_drop_page(ctx, page);
    }
    for (int k = 0; k < 3; ++k) out[k] /= pages;
}

double CapturePass(qm::PageCapture &capture, int pages, bool rasters) {
    auto lock = capture.Document().Lock();
    auto t0 = Clock::now();
    for (int i = 1; i <= pages; ++i) {
        if (capture.Capture(i, 800, 600) != qm::CaptureResult::Captured) continue;
        if (rasters) {
            capture.OutputRaster();
            capture.ViewRaster();
        }
    }
    return Ms(t0, Clock::now()) / pages;
}

void Measure(const std::string &path, const char *label) {
    qm::PdfDocument doc;
    qm::PageModel model;
    qm::PageCapture capture(doc, model);
    if (doc.Open(path, "", "") != qm::OpenResult::Opened) {
        std::printf("%s: cannot open\n", path.c_str());
        return;
    }
    capture.outputDpi = 150;
    int pages = doc.PageCount();
    fz_document *engineDoc = doc.Document();
    size_t commands = 0, glyphs = 0;
    // Warm fonts and caches once, counting what a page holds.
    {
        auto lock = doc.Lock();
        for (int i = 1; i <= pages; ++i) {
            if (capture.Capture(i, 800, 600) != qm::CaptureResult::Captured) continue;
            commands += model.commands->commands.size();
            for (auto &c : model.commands->commands)
                if (c.text) glyphs += c.text->glyphs.size();
        }
    }
    double best[4] = {1e9, 1e9, 1e9, 1e9};
    for (int round = 0; round < 3; ++round) {
        double v[4];
        {
            auto lock = doc.Lock();
            v[0] = EnginePass(engineDoc, pages, 0);
            v[1] = EnginePass(engineDoc, pages, 72);
        }
        v[2] = CapturePass(capture, pages, false);
        v[3] = CapturePass(capture, pages, true);
        for (int k = 0; k < 4; ++k) best[k] = std::min(best[k], v[k]);
    }
    std::printf("%s: %d pages, %.0f commands and %.0f glyphs per page\n", label, pages,
                static_cast<double>(commands) / pages, static_cast<double>(glyphs) / pages);
    double parts[3];
    {
        auto lock = doc.Lock();
        Breakdown(engineDoc, pages, parts);
    }
    std::printf("  floor (interpretation, bounds device) %7.3f ms/page\n", best[0]);
    std::printf("  parts: record %.3f, boxes of both spaces %.3f, items %.3f ms/page\n", parts[0], parts[1],
                parts[2]);
    std::printf("  plain render at 72 dpi                %7.3f ms/page\n", best[1]);
    std::printf("  capture (record, boxes, items)        %7.3f ms/page  = %.2f x floor, %.2f x render\n", best[2],
                best[2] / best[0], best[2] / best[1]);
    std::printf("  capture + both rasters (150/54 dpi)   %7.3f ms/page  = %.2f x floor, %.2f x render\n", best[3],
                best[3] / best[0], best[3] / best[1]);
}

long ResidentKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

long PeakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

bool WriteTextDocument(const std::string &path, int pages, bool pictures) {
    qmtest::PdfBuilder b;
    for (int i = 0; i < pages; ++i) {
        int p = b.AddPage();
        b.Text(p, 72, 740, "Chapter " + std::to_string(i + 1), 18, "Helvetica-Bold");
        for (int line = 0; line < 44; ++line)
            b.Text(p, 72, 710 - line * 15,
                   "Line " + std::to_string(line) + " of page " + std::to_string(i + 1) +
                       ": the quick brown fox jumps over the lazy dog, again and again and again.",
                   10, line % 7 == 3 ? "Times-Italic" : "Times-Roman");
        if (pictures) {
            b.Image(p, 400, 60, 120, 80, 64, 48);
            b.ShadeRect(p, 72, 40, 200, 20);
        }
    }
    return b.Save(path);
}

} // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) Measure(argv[i], argv[i]);
    std::string text = "/tmp/bench_capture_text100.pdf";
    if (!WriteTextDocument(text, 100, false)) return 1;
    Measure(text, "generated text, 100 pages");

    std::string big = "/tmp/bench_capture_300.pdf";
    if (!WriteTextDocument(big, 300, true)) return 1;
    qm::PdfDocument doc;
    qm::PageModel model;
    qm::PageCapture capture(doc, model);
    if (doc.Open(big, "", "") != qm::OpenResult::Opened) return 1;
    capture.outputDpi = 150;
    auto lock = doc.Lock();
    long rss0 = ResidentKb();
    for (int p = 1; p <= 300; ++p) {
        if (capture.Capture(p, 800, 600) != qm::CaptureResult::Captured) return 1;
        capture.OutputRaster();
        capture.ViewRaster();
        if (p == 30 || p == 300)
            std::printf("300-page document (text, picture, shading), rasters painted: after %3d pages "
                        "resident %ld KiB, peak %ld KiB (before: %ld KiB)\n",
                        p, ResidentKb(), PeakKb(), rss0);
    }
    std::remove(text.c_str());
    std::remove(big.c_str());
    return 0;
}
