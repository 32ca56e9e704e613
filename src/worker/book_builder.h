#pragma once
// The book builder: one EPUB from an ordered list of files (the user's own documents and
// pictures, or the content files of a single converted PDF), without any window. Documents that
// are not XHTML are put into the book as converted copies: HTML through an HTML parser, plain text
// wrapped in a page. The user's files are never changed.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "epub/epub_builder.h"
#include "options/conversion_options.h"
#include "platform/prompt.h"
#include "worker/conversion_worker.h"

namespace qm {

struct BookFile {
    std::string path;   // full path
    std::string title;  // navigation title
};

struct BookBuildRequest {
    std::vector<BookFile> files;       // in the book's order
    std::string firstListedPath;       // first entry of the file list as it was chosen: names the book
    std::string firstListedName;
    std::string destination;           // when set, the book's path instead of the rule above
    BookMetadata metadata;
    // The files are the content files of a single-PDF run: they live in the run's work root, which
    // serves as staging folder and is removed afterwards, and they are deleted once packaged.
    bool fromPdfRun = false;
};

// Builds the book and copies it to its destination (output folder or the first file's folder,
// then the first listed name up to its first "." and ".epub"). Updates the run state: the book is
// counted (successCount 1, lastOutputPath, producedBooks) only when it was built and copied now.
// Sets *done at the end when given; without a done flag nothing happens (returns -1).
// 0 when the book was made, -1 otherwise.
int BookBuilderWorker(const ConversionOptions &options, const BookBuildRequest &request, RunState &run,
                      UserPrompt &prompt, std::atomic<bool> *done);

// Document kinds by extension (case ignored).
bool IsTextFileName(const std::string &name);   // .txt
bool IsHtmlFileName(const std::string &name);   // .html .htm .xhtml .xml

// Whether `content` is a well-formed XHTML document (root "html" in the XHTML namespace).
bool IsWellFormedXhtml(const std::string &content);
// Plain text as an XHTML 1.1 page: escaped, a paragraph per run of lines between blank lines.
std::string TextToXhtml(const std::string &text, const std::string &title);
// Any HTML as an XHTML 1.1 page: parsed with an HTML parser, reduced to what XHTML 1.1 allows, in
// the program's own page frame. `resolveLink` may rewrite (or, returning "", drop) the address of
// every relative link and picture; it gets the address and whether it is a picture.
std::string HtmlToXhtml(const std::string &html, const std::string &title,
                        const std::function<std::string(const std::string &, bool)> &resolveLink = nullptr);

} // namespace qm
