// The page body of a drawn PDF page as XHTML: links, analysis and the block writer together.
#include <cstdio>

#include "extract/layout.h"
#include "extract/links.h"
#include "options/conversion_job.h"
#include "extract/page_capture.h"
#include "xhtml/block_writer.h"

namespace qm {

PageBodyResult WritePageXhtml(PageCapture &capture, std::string &file, ConversionJob &job,
                              const SpanClassesFn &spanClasses, const SavePictureFn &savePicture,
                              const RunningHeadPatterns *runningHeads) {
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
    BlockWriter writer(file, setup);
    LayoutPage page = MakeLayoutPage(model);
    if (runningHeads && !runningHeads->Empty())
        page.runningHeads = RunningHeadViewBoxes(RunningHeadAreas(*runningHeads, model), page.viewTransform);
    writer.SetPage(page);
    PageLayout *cur = model.Current();
    if (!cur) return PageBodyResult::NoBlock;
    return WritePageBody(page, cur->items, cur->groups, writer, &doc.Prompt());
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
