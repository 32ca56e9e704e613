#pragma once
// The preview of one page as a reader would show it: "preview.html" with its own "styles.css" and
// the page's pictures, written into the job's scratch folder, which is emptied first so that
// nothing of an earlier preview is left.
#include <string>

namespace qm {

class DocumentConverter;

enum class PreviewWrite {
    Written = 0,        // the files were written (see `body` for the page itself)
    NoDocument = -1,    // no converter: nothing was done
    PathTooLong = -2,   // the folder's path is too long: nothing was done
    CannotCreate = -3,  // "preview.html" could not be created
};

struct PreviewFiles {
    PreviewWrite result = PreviewWrite::NoDocument;
    // The page's body: 1 written, 0 left empty ("No Output", or the whole page went out as a
    // picture), -1 failed. Only a page that did not fail is worth showing.
    int body = -1;
    std::string page;  // full path of "preview.html" once it was written
    bool Showable() const { return result == PreviewWrite::Written && body >= 0; }
};

// Longest scratch-folder path plus the page's name that a preview accepts, in bytes.
constexpr size_t kPreviewPathLimit = 511;

// Writes the preview of the converter's captured page into its job's scratch folder.
PreviewFiles WritePagePreview(DocumentConverter *converter);

} // namespace qm
