#pragma once
// Turns a flat list of produced files (XHTML pages, style sheet, pictures) into an EPUB 2 book (or
// an EPUB 3 one, which adds a navigation document beside toc.ncx):
// lays the package out in a staging folder (mimetype, META-INF/container.xml, OPS/content.opf,
// OPS/toc.ncx and the content files under OPS/), then zips it into "<staging>/<book name>.epub"
// with mimetype first and stored. Moving the book to its destination is the caller's business.
#include <string>
#include <vector>

#include "platform/prompt.h"

namespace qm {

// One content file of the book.
struct ManifestItem {
    std::string sourcePath; // full path of the produced file
    std::string label;      // text of its navigation point
    // Where the file goes inside the book's OPS folder ("css/look.css": folders separated by "/",
    // no "." or ".." parts). Empty: the file name of sourcePath.
    std::string bookPath;
};

// Book metadata; an empty text stands for "not set".
struct BookMetadata {
    std::string title;
    std::string creator;
    std::string subject;
};

struct PackageJob {
    std::vector<ManifestItem> items;      // content files in reading order
    std::string epubPath;                 // only its file name is used: the book's name in the staging folder
    std::string stagingFolder;            // where the package is laid out and the .epub created
    const BookMetadata *metadata = nullptr; // null: nothing set
    bool deleteSources = false;           // delete each item's sourcePath once the package files exist
    int titlePageFlag = 0;                // 1: the first document file is a real title page
    bool coverMeta = false;               // write <meta name="cover"> (for Kindle converters)
    bool useNavPointsFile = false;        // take the navigation points from navPointsFile
    std::string navPointsFile;            // file of ready-made navPoint elements, or empty
    std::string language;                 // the book's language tag; empty: the default language
    // An EPUB 3.0 package: refined metadata, a modification time, a navigation document built from
    // the same points as toc.ncx (which stays for older readers), and the cover picture marked.
    // The content files must then be in the HTML5 form; that is their writer's business.
    bool epub3 = false;
};

// How EpubBuilder::Build ended. The numbers appear in the log when a book could not be built.
enum class EpubBuildResult : int {
    Ok = 0,                // the package (and the .epub when asked for) is complete
    MimetypeFailed = -1,   // the staging folder or its mimetype file could not be made
    ContainerFailed = -3,  // META-INF/container.xml could not be written
    CopyFailed = -5,       // a content file is missing, has no name inside the book, or could not be copied
    DeleteFailed = -7,     // a source file could not be deleted after it was copied
    OpfFailed = -8,        // content.opf could not be written
    NcxFailed = -9,        // toc.ncx not written, or the staging folder unusable
    ZipFailed = -10,       // after the message "Create Zip file failed"
};

class EpubBuilder {
public:

    explicit EpubBuilder(UserPrompt &prompt = DefaultPrompt()) : prompt_(prompt) {}

    // Builds the package and, when `createZip`, the .epub. A null job does nothing and returns Ok.
    EpubBuildResult Build(const PackageJob *job, bool createZip);

    // Media type of a file by the extension after its last dot (case ignored), and whether the
    // file is a document of the reading order.
    static std::string MediaType(const std::string &fileName);
    static bool IsDocument(const std::string &fileName);

    // A relative path of the book as a URI reference: characters a URI may not hold (or that would
    // end the path, or read as a scheme) are percent-encoded, "/" still separates folders, letters
    // beyond ASCII stay as they are (IRI). Needs XmlEscape (platform/xml_text.h) for the "&" it may hold.
    static std::string UriPath(const std::string &path);

    // True when `id` is an XML name without a colon (what an id attribute may hold).
    static bool IsXmlId(const std::string &id);

    // A fresh "urn:uuid:" + random (version 4) UUID.
    static std::string NewIdentifier();

private:
    UserPrompt &prompt_;
};

} // namespace qm
