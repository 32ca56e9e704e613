// Layout analysis time on generated heavy pages, for the indexed searches the program uses and
// for the plain reference implementation.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>

#include "extract/layout_support.h"
#include "extract/page_capture.h"
#include "pdf/pdf_document.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

using qm::IntBox;
using qmtest::SyntheticPage;

namespace {

void ManyPaths(SyntheticPage &p, bool overlapping) {
    std::mt19937 rng(1);
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int i = 0; i < 5000; ++i) {
        if (overlapping) {
            // A chart: strokes that chain into each other.
            int x = 100 + uni(0, 500), y = 300 + uni(0, 400);
            p.Path(IntBox{x, y, x + uni(2, 30), y + uni(2, 30)});
        } else {
            // A map of separate dots on a 100 x 50 lattice.
            int x = 20 + (i % 100) * 7, y = 200 + (i / 100) * 14;
            p.Path(IntBox{x, y, x + 4, y + 4});
        }
    }
    for (int l = 0; l < 12; ++l) p.Text(IntBox{40, 20 + l * 14, 700, 31 + l * 14}, 10, std::string(90, 'a'));
}

void SingleGlyphs(SyntheticPage &p, bool scattered) {
    std::mt19937 rng(2);
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int i = 0; i < 3000; ++i) {
        if (scattered) {
            int x = uni(0, 780), y = uni(0, 980);
            p.Text(IntBox{x, y, x + 6, y + 9}, 8, std::string(1, static_cast<char>('a' + i % 26)));
        } else {
            int line = i / 50, col = i % 50;
            int x = 40 + col * 14, y = 20 + line * 16;
            p.Text(IntBox{x, y, x + 8, y + 11}, 10, std::string(1, static_cast<char>('a' + i % 26)));
        }
    }
}

void TwoColumns(SyntheticPage &p) {
    for (int c = 0; c < 2; ++c) {
        for (int l = 0; l < 200; ++l) {
            int x = 30 + c * 390, y = 10 + l * 5 * 49 / 50;
            for (int r = 0; r < 5; ++r) p.Text(IntBox{x + r * 70, y, x + r * 70 + 62, y + 5}, 5, std::string(20, 'e'));
        }
    }
}

double Analyse(SyntheticPage &p, qm::LayoutEngine engine, int *blocks) {
    auto t0 = std::chrono::steady_clock::now();
    qm::BlockList list;
    *blocks = p.Analyse(list, engine);
    auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

// The same kinds of page as real PDFs, captured through DrawPage: analysis time of the captured
// item list (capture itself not counted).
void RealPages(bool skipPlain) {
    struct Pdf {
        const char *name;
        std::function<void(qmtest::PdfBuilder &, int)> make;
    };
    const Pdf pdfs[] = {
        {"PDF: 5,000 filled squares + text",
         [](qmtest::PdfBuilder &b, int p) {
             for (int i = 0; i < 5000; ++i) b.FillRect(p, 40 + (i % 100) * 5.3, 100 + (i / 100) * 10, 3, 3);
             for (int l = 0; l < 5; ++l) b.Text(p, 40, 740 - l * 14, "Some text above the map of dots, line " + std::to_string(l), 10);
         }},
        {"PDF: 3,000 glyphs set one by one",
         [](qmtest::PdfBuilder &b, int p) {
             for (int l = 0; l < 50; ++l)
                 b.GlyphByGlyph(p, 40, 760 - l * 14, std::string(60, static_cast<char>('a' + l % 26)), 8.5, 10);
         }},
        {"PDF: two columns of 200 lines",
         [](qmtest::PdfBuilder &b, int p) {
             for (int c = 0; c < 2; ++c)
                 for (int l = 0; l < 200; ++l)
                     b.Text(p, 36 + c * 280, 780 - l * 3.8, "dense column text of a small size for the bench " + std::to_string(l), 3.5);
         }},
    };
    qmtest::TempDir dir;
    for (const Pdf &pdf : pdfs) {
        qmtest::PdfBuilder b;
        pdf.make(b, b.AddPage());
        std::string path = dir.File("bench.pdf");
        if (!b.Save(path)) continue;
        qm::PdfDocument doc;
        qm::PageModel model;
        qm::PageCapture capture(doc, model);
        if (doc.Open(path, "", "") != qm::OpenResult::Opened) continue;
        auto lock = doc.Lock();
        if (capture.Capture(1, 800, 600) != qm::CaptureResult::Captured) continue;
        qm::PageLayout *page = model.Current();
        for (int single = 0; single < 2; ++single) {
            page->options.columnMode = single;
            qm::LayoutPage lp = qm::MakeLayoutPage(model);
            double ms[2] = {-1, -1};
            int n[2] = {0, 0};
            for (int e = 0; e < (skipPlain ? 1 : 2); ++e) {
                qm::BlockList list;
                auto t0 = std::chrono::steady_clock::now();
                n[e] = qm::AnalysePageBody(lp, page->items, page->groups, list,
                                           e == 0 ? qm::LayoutEngine::Indexed : qm::LayoutEngine::Plain);
                ms[e] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            }
            std::printf("%-55s %6s %12.1f %12.1f  (%zu items, %d blocks)\n", pdf.name, single ? "single" : "column",
                        ms[0], ms[1], page->items.size(), n[0]);
            std::fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    bool skipPlain = argc > 1 && std::strcmp(argv[1], "--no-plain") == 0;
    struct Case {
        const char *name;
        std::function<void(SyntheticPage &)> make;
    };
    const Case cases[] = {
        {"5,000 separate small filled paths + 12 text lines", [](SyntheticPage &p) { ManyPaths(p, false); }},
        {"5,000 overlapping paths (one chart) + 12 text lines", [](SyntheticPage &p) { ManyPaths(p, true); }},
        {"3,000 single-glyph runs in 60 lines", [](SyntheticPage &p) { SingleGlyphs(p, false); }},
        {"3,000 single-glyph runs scattered", [](SyntheticPage &p) { SingleGlyphs(p, true); }},
        {"two columns of 200 dense lines (2,000 runs)", [](SyntheticPage &p) { TwoColumns(p); }},
    };
    std::printf("%-55s %6s %12s %12s\n", "page", "mode", "indexed ms", "plain ms");
    for (const Case &c : cases) {
        for (int single = 0; single < 2; ++single) {
            SyntheticPage page;
            c.make(page);
            page.page.options.columnMode = single ? 1 : 0;
            int nb = 0, np = 0;
            double fast = Analyse(page, qm::LayoutEngine::Indexed, &nb);
            double plain = skipPlain ? -1 : Analyse(page, qm::LayoutEngine::Plain, &np);
            std::printf("%-55s %6s %12.1f %12.1f  (%d blocks%s)\n", c.name, single ? "single" : "column", fast, plain,
                        nb, (!skipPlain && np != nb) ? ", PLAIN DIFFERS" : "");
            std::fflush(stdout);
        }
    }
    RealPages(skipPlain);
    return 0;
}
