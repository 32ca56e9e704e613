// The page body of a drawn PDF page as XHTML: links, analysis and the block writer together.
#include <cstdio>

#include "extract/layout.h"
#include "extract/links.h"
#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "extract/page_capture.h"
#include "xhtml/block_writer.h"

namespace qm {

PageBodyResult WritePageXhtml(PageCapture &capture, std::string &file, ConversionJob &job,
                              const SpanClassesFn &spanClasses, const SavePictureFn &savePicture,
                              const TextStyleFn &textStyle, std::vector<PageHeading> *headings,
                              const std::vector<BookmarkTitle> *bookmarks, const RunningHeadPatterns *runningHeads,
                              RunningHeadNeighbours *neighbours) {
    PdfDocument &doc = capture.Document();
    auto lock = doc.Lock();
    std::vector<PageLink> links;
    if (!job.ignoreLinks)
        capture.LoadLinks(links);
    BlockWriterSetup setup;
    setup.job = &job;
    setup.prompt = &doc.Prompt();
    setup.spanClasses = spanClasses;
    PageModel &model = capture.Model();
    if (savePicture)
        setup.savePicture = savePicture;
    else
        setup.savePicture = [&model](const IntBox *box, std::string &name) {
            return model.SaveRegionPng(name, box, true);
        };
    setup.links = &links;
    setup.pageCount = doc.PageCount();
    // Running heads and page numbers are left out before anything else looks at the page.
    LayoutPage layoutPage = MakeLayoutPage(model);
    if (runningHeads && !runningHeads->Empty() && !job.reading.keepRunningHeads)
        layoutPage.runningHeads = RunningHeadViewBoxes(
            neighbours ? neighbours->Areas(*runningHeads, model, doc) : RunningHeadAreas(*runningHeads, model),
            layoutPage.viewTransform);
    // A printed contents page becomes linked entries (Automatic mode; the user may keep it as it is).
    // Without page labels, the page numbers printed in the pages' heads or feet tell where the
    // printed numbering starts.
    ContentsPage contents;
    if (job.parseMode == static_cast<int32_t>(ParseMode::Automatic) && !job.reading.keepContentsPages &&
        FindContentsPage(layoutPage, links, DocumentNumbering(doc, runningHeads), contents, &doc.Prompt()))
        setup.contents = &contents;
    // Headings are found in the automatic layout only: a strict run follows the user's regions.
    if (job.reading.headings && job.parseMode == static_cast<int32_t>(ParseMode::Automatic)) {
        setup.textStyle = textStyle;
        setup.pageNumber = capture.PageNumber();
        setup.headings = headings;
        setup.bookmarks = bookmarks;
        if (runningHeads) setup.documentBodySize = runningHeads->BodySize();
    }
    BlockWriter writer(file, setup);
    writer.SetPage(layoutPage);
    PageLayout *cur = model.Current();
    if (!cur) return PageBodyResult::NoBlock;
    return WritePageBody(layoutPage, cur->items, cur->groups, writer, &doc.Prompt());
}

PageBodyResult WritePageXhtml(PageCapture &capture, std::FILE *file, ConversionJob &job,
                              const SpanClassesFn &spanClasses) {
    std::string body;
    const PageBodyResult rc = WritePageXhtml(capture, body, job, spanClasses);
    if (file && !body.empty() && std::fwrite(body.data(), 1, body.size(), file) != body.size())
        return PageBodyResult::FileFailed;
    return rc;
}

} // namespace qm
