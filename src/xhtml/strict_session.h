#pragma once
// What the interactive converter window works on: one open document's converter, whose page model
// holds the user's choices (page options, margins, marked, grouped and excluded regions) and whose
// conversion of the document follows once the window has closed, reading them. The window reaches
// the converter only through this class.
#include "extract/page_capture.h"
#include "extract/page_model.h"
#include "options/conversion_job.h"
#include "pdf/pdf_document.h"

namespace qm {

class DocumentConverter;

class StrictSession {
public:
    // `converter` outlives the session.
    explicit StrictSession(DocumentConverter &converter) : converter_(converter) {}

    PdfDocument &Document() const;
    ConversionJob &Job() const;
    PageModel &Model() const;
    PageCapture &Capture() const;
    // For the preview window (WritePagePreview).
    DocumentConverter *Converter() const { return &converter_; }

    // Captures page `pageNumber` for a view of viewWidth x viewHeight pixels under the document
    // lock, and ends the page run again. The page becomes the model's current page.
    CaptureResult DrawPage(int pageNumber, int viewWidth, int viewHeight);

private:
    DocumentConverter &converter_;
};

} // namespace qm
