#pragma once
// The book builder: one EPUB from an ordered list of files (the user's own documents and
// pictures, or the content files of a single converted PDF), without any window. Documents that
// are not XHTML are put into the book as converted copies: HTML through an HTML parser, plain text
// wrapped in a page. Stylesheets, pictures and fonts the documents refer to come along; what
// cannot go into a book (a missing file, a web address, an empty or damaged picture) is left out
// with a line through the prompt, so the book stays valid. A list without any document gets a
// page that shows its pictures. The user's files are never changed.
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
    // The user's documents as an EPUB 3 book: their pages in the XHTML form of HTML5, converted
    // ones named ".xhtml", and a navigation document. (A PDF run's files keep the package
    // version they were written for.)
    bool epub3 = false;
};

// How a book build (BookBuilderWorker) ended.
enum class BookBuildResult {
    Made,        // the book was built and placed at its destination
    NotMade,     // no book: nothing to pack, or the build or the move failed
    NoDoneFlag,  // called without a done flag: nothing happened
};

// Builds the book and moves it to its destination (output folder or the first file's folder,
// then the first listed name up to its first "." and ".epub") in one step: the name never shows
// a half-written book, and a book already there is replaced only once the new one is complete.
// Updates the run state: the book is counted (successCount 1, lastOutputPath, producedBooks) only
// when it was built and placed now. Sets *done at the end when given; without a done flag nothing
// happens. `refusals`, when given, receives
// the lines told about listed files that were left out of the book; `failure` the line told about
// a disk that kept the book from being made ("The book could not be written to X: No space left
// on device.").
BookBuildResult BookBuilderWorker(const ConversionOptions &options, const BookBuildRequest &request, RunState &run,
                                  UserPrompt &prompt, std::atomic<bool> *done,
                                  std::vector<std::string> *refusals = nullptr, std::string *failure = nullptr);

// Document kinds by extension (case ignored).
bool IsTextFileName(const std::string &name);   // .txt
bool IsHtmlFileName(const std::string &name);   // .html .htm .xhtml .xml

// Whether `content` is a well-formed XHTML document (root "html" in the XHTML namespace).
bool IsWellFormedXhtml(const std::string &content);
// Plain text as an XHTML 1.1 page: escaped, a paragraph per run of lines between blank lines.
std::string TextToXhtml(const std::string &text, const std::string &title);
// What a reference of a document or stylesheet asks for.
enum class ReferenceKind {
    Link,        // <a href>: another document of the book, or a web address
    Picture,     // <img src>
    Stylesheet,  // <link rel="stylesheet" href>, @import
    CssResource, // url() in a stylesheet: a picture or a font
};
// Gets an address as written and what it is for; returns the address to write (the same text to
// keep it as it is), or "" to drop the reference.
using ReferenceResolver = std::function<std::string(const std::string &address, ReferenceKind kind)>;

// Any HTML as an XHTML 1.1 page: parsed with an HTML parser, reduced to what XHTML 1.1 allows, in
// the program's own page frame. The document's stylesheet links and <style> blocks go into the
// page's head, in their order. `resolve` may rewrite (or drop) the address of every link,
// picture, stylesheet and url() of a style.
std::string HtmlToXhtml(const std::string &html, const std::string &title, const ReferenceResolver &resolve = nullptr);

// Passes every @import and url() address of a stylesheet (or of a style attribute) through
// `resolve`. An @import rule or a declaration whose address is dropped goes as a whole; all else
// is kept byte for byte.
std::string RewriteCssReferences(const std::string &css, const ReferenceResolver &resolve);

// Why a picture file cannot go into a book ("the picture is empty", "the picture cannot be read
// (damaged, or not a PNG file)"); "" when it can, or when the file is no PNG, JPEG, GIF or SVG.
// Pictures are decoded by the PDF engine (up to a pixel budget; larger ones by their header).
std::string PictureProblem(const std::string &path);

} // namespace qm
