#include "xhtml/strict_session.h"

#include "xhtml/document_converter.h"

namespace qm {

PdfDocument &StrictSession::Document() const { return converter_.Document(); }
ConversionJob &StrictSession::Job() const { return converter_.Job(); }
PageModel &StrictSession::Model() const { return converter_.Model(); }
PageCapture &StrictSession::Capture() const { return converter_.Capture(); }

CaptureResult StrictSession::DrawPage(int pageNumber, int viewWidth, int viewHeight) {
    PdfDocument &doc = converter_.Document();
    auto guard = doc.Lock();
    const CaptureResult rc = converter_.Capture().Capture(pageNumber, viewWidth, viewHeight);
    doc.EndPageRun();
    return rc;
}

} // namespace qm
