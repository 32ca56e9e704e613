// Writing time of page bodies (text extraction, spans, paragraphs, escaping) for a generated
// 100-page text document, as a share of capture + analysis + writing.
#include <chrono>
#include <cstdio>
#include <string>

#include "extract/layout.h"
#include "options/conversion_job.h"
#include "extract/page_capture.h"
#include "pdf/pdf_document.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "xhtml/block_writer.h"
#include "xhtml/style_registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

// Analysis only: the blocks are handed to a sink that writes nothing.
class NullSink : public qm::BlockSink {
public:
    int SaveWholePagePicture(std::string &) override { return -1; }
    void WriteRaw(const std::string &) override {}
    void WriteBlock(const qm::LayoutPage &, std::vector<qm::TextBlock> &, int, int, const qm::TextBlock *,
                    const qm::TextBlock *) override {}
};

const char *kWords[] = {"the", "pages", "of", "portable", "documents", "become", "electronic", "books", "with",
                        "faithful", "text", "valid", "markup", "and", "pictures", "in", "order", "reading"};

} // namespace

int main() {
    qmtest::TempDir dir;
    const int pages = 100;
    qmtest::PdfBuilder b;
    unsigned seed = 7;
    for (int p = 0; p < pages; ++p) {
        int page = b.AddPage();
        b.Text(page, 72, 740, "Chapter " + std::to_string(p + 1), 16, "Helvetica-Bold");
        for (int line = 0; line < 44; ++line) {
            std::string text;
            while (text.size() < 80) {
                seed = seed * 1103515245u + 12345u;
                text += kWords[(seed >> 16) % (sizeof kWords / sizeof kWords[0])];
                text += ' ';
            }
            // Paragraphs of six lines, each starting indented.
            double x = line % 6 == 0 ? 90 : 72;
            b.Text(page, x, 710 - 14.0 * line, text, 10, line % 11 == 5 ? "Helvetica-Oblique" : "Helvetica");
        }
    }
    if (!b.Save(dir.File("book.pdf"))) {
        std::printf("cannot write the test document\n");
        return 1;
    }

    qm::PdfDocument doc;
    qm::PageModel model;
    qm::PageCapture pageCapture(doc, model);
    if (doc.Open(dir.File("book.pdf"), "", "") != qm::OpenResult::Opened) {
        std::printf("cannot open the test document\n");
        return 1;
    }
    qm::ConversionJob job;
    job.workFolder = dir.Path();
    job.scratchFolder = dir.Path();
    job.ignoreLinks = 0;
    model.job = &job;
    model.pictures.folder = job.scratchFolder;
    qm::StyleRegistry styles;
    styles.BeginStyleSheet(dir.File("styles.css"));
    qm::SpanClassesFn classes = [&](const qm::DrawCommand &c, std::string &out) {
        return styles.GetSpanClasses(c, out, &job);
    };

    double capture = 0, analysis = 0, whole = 0;
    size_t bytes = 0;
    for (int p = 1; p <= pages; ++p) {
        auto t0 = Clock::now();
        if (pageCapture.Capture(p, 800, 600) != qm::CaptureResult::Captured) {
            std::printf("cannot draw page %d\n", p);
            return 1;
        }
        auto t1 = Clock::now();
        NullSink sink;
        qm::WritePageBody(model, sink);
        auto t2 = Clock::now();
        std::string body;
        qm::WritePageXhtml(pageCapture, body, job, classes);
        auto t3 = Clock::now();
        capture += Ms(t0, t1);
        analysis += Ms(t1, t2);
        whole += Ms(t2, t3);
        bytes += body.size();
    }
    double writing = whole - analysis;
    if (writing < 0) writing = 0;
    double total = capture + analysis + writing;
    std::printf("pages: %d, XHTML: %zu bytes\n", pages, bytes);
    std::printf("per page: capture %.3f ms, analysis %.3f ms, writing %.3f ms\n", capture / pages, analysis / pages,
                writing / pages);
    std::printf("writing share of capture + analysis + writing: %.1f %%\n", total > 0 ? 100.0 * writing / total : 0.0);
    return 0;
}
