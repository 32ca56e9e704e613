#pragma once
// An open document with a page model and the capture that fills it, as the converter holds them.
#include <string>

#include "extract/page_capture.h"
#include "extract/page_model.h"
#include "pdf/pdf_document.h"

namespace qmtest {

struct CapturedDocument {
    qm::PdfDocument doc;
    qm::PageModel model;
    qm::PageCapture capture{doc, model};

    bool Open(const std::string &path, const std::string &password = "") {
        return doc.Open(path, password, "") == qm::OpenResult::Opened;
    }
    // Captures page `page` with the converter's view size.
    qm::CaptureResult Draw(int page, int viewWidth = 800, int viewHeight = 600) {
        return capture.Capture(page, viewWidth, viewHeight);
    }
};

} // namespace qmtest
