#include "xhtml/page_preview.h"

#include <cstdio>

#include "platform/paths.h"
#include "xhtml/document_converter.h"

namespace qm {

PreviewFiles WritePagePreview(DocumentConverter *converter) {
    PreviewFiles out;
    if (!converter) return out;
    ConversionJob &job = converter->Job();
    const std::string folder = WithTrailingSlash(job.scratchFolder);
    const std::string page = folder + "preview.html";
    if (page.size() > kPreviewPathLimit) {
        out.result = PreviewWrite::PathTooLong;
        return out;
    }
    // Without a folder the page would land wherever the program happens to run.
    if (job.scratchFolder.empty()) {
        out.result = PreviewWrite::CannotCreate;
        return out;
    }
    // Each preview starts from an empty folder: the pictures of the last one go.
    DeleteFolderTree(job.scratchFolder);
    CreateFolders(job.scratchFolder);
    FILE *file = std::fopen(page.c_str(), "wb");
    if (!file) {
        out.result = PreviewWrite::CannotCreate;
        return out;
    }
    converter->BeginPreviewStyleSheet(folder + "styles.css");
    const PageBodyResult body = converter->WritePreviewPage(file);
    const bool closed = std::fclose(file) == 0;
    out.result = PreviewWrite::Written;
    out.page = page;
    if (!closed || body == PageBodyResult::FileFailed || body == PageBodyResult::OrderFailed)
        out.body = -1;
    else
        out.body = body == PageBodyResult::Written ? 1 : 0;
    return out;
}

} // namespace qm
