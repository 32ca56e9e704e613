// Bytes as a PDF through the converter's page path: open, page count, then the first two pages
// each captured, analysed and written into a page file as the page driver writes them (page
// anchors, outline page, span classes from the style sheet, link anchors), plus the cover or
// whole-page picture, a thumbnail and the navigation points. The page file and the navigation
// points must be well-formed XML, and every link in the page must lead somewhere: to a page of
// the document or to an address with a scheme and something after it.
//
// The last byte of the input chooses the options (the mutator reaches every combination):
//   bits 0-1  parse mode (0 automatic, 1 strict, 2 imaging, 3 automatic)
//   bit 2     cover (page 1 as cover picture)
//   bit 3     multi-column reading order
//   bits 4-5  outline page position (0 first, 1 second, 2/3 last)
//   bit 6     pictures ignored
//   bit 7     paragraph and alignment checks off
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "extract/page_capture.h"
#include "pdf/pdf_document.h"
#include "platform/paths.h"
#include "xhtml/block_writer.h"
#include "xhtml/book_names.h"
#include "xhtml/document_converter.h"
#include "xhtml/style_registry.h"

namespace {

constexpr int kMaxPages = 2;
constexpr int kViewWidth = 800;
constexpr int kViewHeight = 600;

// "page-F.html#page-P" with P a page of the document and F the file that holds it, "scheme:rest"
// with a non-empty rest (after any "//"), or empty (an outline entry without destination).
bool UsableHref(const std::string &href, int pageCount, bool imaging) {
    if (href.empty()) return true;
    int file = 0, page = 0, used = 0;
    if (std::sscanf(href.c_str(), "page-%d.html#page-%d%n", &file, &page, &used) == 2 &&
        static_cast<size_t>(used) == href.size())
        return page >= 1 && page <= pageCount && file == qm::FirstPageOfFile(page, imaging ? 1 : qm::kPagesPerFile);
    size_t colon = href.find(':');
    if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(href[0]))) return false;
    for (size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(href[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    }
    std::string rest = href.substr(colon + 1);
    if (rest.rfind("//", 0) == 0) rest.erase(0, 2);
    return !rest.empty();
}

qm::ConversionJob MakeJob(unsigned selector, const std::string &workFolder) {
    qm::ConversionOptions options;
    int mode = static_cast<int>(selector & 3);
    options.parseMode = mode == 3 ? 0 : mode;
    options.createCover = (selector & 4) != 0;
    options.columnMode = (selector & 8) ? static_cast<int32_t>(qm::ColumnMode::Multi)
                                        : static_cast<int32_t>(qm::ColumnMode::Single);
    int position = static_cast<int>((selector >> 4) & 3);
    options.outlinePosition = position > 2 ? 2 : position;
    options.ignoreImages = (selector & 64) ? 1 : 0;
    options.paragraphCheck = (selector & 128) ? 0 : 1;
    options.alignCheck = (selector & 128) ? 0 : 1;
    options.outputOutline = 1;
    options.importBookmarksToToc = 1;
    options.ignoreLinks = 0;
    qm::ConversionJob job = qm::MakeConversionJob(options);
    job.workFolder = workFolder;
    job.scratchFolder = workFolder;
    return job;
}

// The page body with span classes, as the page driver writes it.
void WriteBody(qm::PageCapture &capture, qm::StyleRegistry &styles, FILE *file, qm::ConversionJob &job) {
    auto guard = capture.Document().Lock();
    styles.LoadPageFontNames(capture.Document(), capture.PageNumber() - 1);
    qm::SpanClassesFn classes = [&styles, &job](const qm::DrawCommand &command, std::string &out) {
        return styles.GetSpanClasses(command, out, &job);
    };
    qm::WritePageXhtml(capture, file, job, classes);
}

void Convert(qm::PdfDocument &doc, qm::ConversionJob &job, const std::string &folder) {
    const bool imaging = job.parseMode == static_cast<int32_t>(qm::ParseMode::Imaging);
    // The converter's own parts, with the pages cut short so that each input stays quick.
    qm::DocumentConverter converter(doc, job);
    qm::PageCapture &capture = converter.Capture();
    qm::PageModel &model = converter.Model();
    qm::StyleRegistry styles;
    styles.BeginStyleSheet(folder + "styles.css");

    if (job.createCover) {
        if (capture.Capture(1, kViewWidth, kViewHeight) == qm::CaptureResult::Captured) {
            std::string cover = folder + "cover.png";
            model.SaveRegionPng(cover, nullptr, false);
        }
        doc.EndPageRun();
    }

    const std::string pagePath = folder + "page.html";
    FILE *file = std::fopen(pagePath.c_str(), "wb");
    QMFUZZ_CHECK(file != nullptr, pagePath);
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n"
               "<title></title>\n</head>\n<body>\n",
               file);
    const int pages = doc.PageCount() < kMaxPages ? doc.PageCount() : kMaxPages;
    const bool outlineInPages = !job.createCover;
    for (int p = 1; p <= pages; ++p) {
        std::fprintf(file, "<p><a id=\"page-%d\"></a></p>", p);
        if (outlineInPages && p == 1 && job.outlinePosition == 0) converter.WriteOutlinePage(file);
        if (capture.Capture(p, kViewWidth, kViewHeight) == qm::CaptureResult::Captured) {
            if (imaging) {
                std::string picture;
                if (model.SaveRegionPng(picture, nullptr, true) == qm::PngResult::Written)
                    std::fprintf(file, "<div><img alt=\"img\" src=\"%s\" /></div>\n", picture.c_str());
            } else {
                WriteBody(capture, styles, file, job);
            }
        }
        doc.EndPageRun();
        if (outlineInPages && p == 1 && job.outlinePosition == 1) converter.WriteOutlinePage(file);
    }
    if (job.outlinePosition == 2) converter.WriteOutlinePage(file);
    std::fputs("</body>\n</html>\n", file);
    std::fclose(file);

    std::string page;
    QMFUZZ_CHECK(qm::ReadFile(pagePath, page), pagePath);
    QMFUZZ_CHECK(qmfuzz::IsWellFormedXml(page, "html"), page);
    for (const std::string &href : qmfuzz::AnchorHrefs(page))
        QMFUZZ_CHECK(UsableHref(href, doc.PageCount(), imaging), "href=\"" + href + "\"");

    if (doc.PageCount() > 0) doc.RenderThumbnail(1, 120, 160);

    converter.WriteNavPointsFile();
    if (!job.navPointsFile.empty()) {
        std::string nav;
        QMFUZZ_CHECK(qm::ReadFile(job.navPointsFile, nav), job.navPointsFile);
        std::remove(job.navPointsFile.c_str());
        QMFUZZ_CHECK(qmfuzz::IsWellFormedXml("<navMap>" + nav + "</navMap>", "navMap"), nav);
    }
    // The registry holds fonts of the document: they go before the document closes.
    styles.ClearPageFontNames();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    qmfuzz::Setup();
    qmfuzz::InputFolder work;
    const std::string pdf = work.Write("input.pdf", data, size);
    qm::ConversionJob job = MakeJob(size ? data[size - 1] : 0u, work.Path());

    static qmfuzz::SilentPrompt prompt;
    qm::PdfDocument doc;
    doc.SetPrompt(&prompt);
    if (doc.Open(pdf, "", "") == qm::OpenResult::Opened) Convert(doc, job, work.Path());
    doc.Close();
    return 0;
}
