#pragma once
// The process-wide conversion settings, the seven per-page parse switches and the small rules that
// tie option fields together (the wizard's page-to-page rules are in wizard_rules.h). Strings are UTF-8; flags and numbers are 32-bit signed integers and a
// flag is on when non-zero. The settings file only loads values within each field's range (a flag
// is 0 or 1), so what is loaded is saved back unchanged.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "options/reading_options.h"

namespace qm {

enum class TaskKind : int32_t { PdfToEpub = 0, DocumentsToEpub = 1 };
enum class ParseMode : int32_t { Automatic = 0, Strict = 1, Imaging = 2 };
enum class ColumnMode : int32_t { AutoDetect = 0, Single = 1, Multi = 2 };

// The words the command line and the edits file use for a column mode: "auto", "single" and
// "multi". The name is nullptr for a value that is no column mode; the mode is empty for a word
// that names none.
const char *ColumnModeName(int32_t mode);
std::optional<int32_t> ColumnModeFromName(std::string_view name);

// Per-page switches of the layout analysis, in this order. A switch is on when non-zero.
struct PageParseOptions {
    int32_t columnMode = static_cast<int32_t>(ColumnMode::Single);
    int32_t noOutput = 0;
    int32_t imageWholePage = 0;
    int32_t ignoreImages = 0;
    int32_t ignoreVectorGraphics = 0;
    int32_t paragraphCheck = 1;
    int32_t alignCheck = 1;

    bool operator==(const PageParseOptions &) const = default;
};

struct ConversionOptions {
    // Default values; outputFolder starts as the user's home folder ending in "/".
    ConversionOptions();

    std::string outputFolder;            // destination of the books when sameAsSource is off; ends in "/"
    std::string pdfPassword;             // password for encrypted PDFs
    std::string fontScaleText = "1.0";   // parsed into the job's fontScale
    std::string imageDpiText = "72";     // parsed into the job's imageDpi
    std::string userPassword;            // copied into the job, otherwise unused
    std::string bookTitle;               // book metadata when useSourceMetadata is off
    std::string bookCreator;
    std::string bookSubject;
    std::string bookAuthor;              // kept in the settings file only
    int32_t useSourceMetadata = 1;       // metadata from the PDF's Info dictionary
    int32_t taskKind = 0;                // TaskKind
    int32_t fileListTask = 0;            // copy of taskKind the file list page compares with the task
                                         // its lists were filled for
    int32_t overwriteExisting = 0;       // replace an existing book without asking
    int32_t sameAsSource = 0;            // write each book next to its PDF
    int32_t useMyDocuments = 1;          // the output folder is the documents folder
    int32_t parseMode = 0;               // ParseMode
    int32_t createCover = 0;             // page 1 becomes cover image and title page
    int32_t compatibleKindle = 0;        // cover meta element in the package
    int32_t ignoreImagesAll = 0;         // copied into the job, otherwise unused
    int32_t outputHiddenText = 0;        // copied into the job, otherwise unused
    int32_t fixImageSize = 0;            // copied into the job, otherwise unused
    int32_t outputOutline = 0;           // a page with the PDF outline goes into the book
    int32_t outlinePosition = 0;         // 0 first page, 1 second page, 2 last page
    int32_t importBookmarksToToc = 0;    // the table of contents gets the PDF bookmarks
    int32_t mobiCompression = 1;         // copied into the job
    int32_t columnMode = 1;              // defaults of PageParseOptions
    int32_t noOutput = 0;
    int32_t ignoreImages = 0;
    int32_t ignoreVectorGraphics = 0;
    int32_t paragraphCheck = 1;
    int32_t alignCheck = 1;
    int32_t ignoreLinks = 1;             // links of the PDF are not carried into the XHTML
    int32_t automationPreview = 1;       // the preview follows every change
    int32_t previewWidth = 0;            // preview window size, restored when both are positive
    int32_t previewHeight = 0;
    int32_t previewExpanded = 1;

    // Fields that only hold their place in the settings file, named after their position in it.
    int32_t reserved1 = 0;
    int32_t reserved13 = 0;
    int32_t reserved14 = 1;
    std::string reserved20 = "ZuVER";
    int32_t reserved21 = -1;
    int32_t reserved22 = -1;
    int32_t reserved26 = 1;
    int32_t reserved27 = 0;
    int32_t reserved28 = 0;
    std::array<int32_t, 9> reserved30to38{};
    std::array<int32_t, 3> reserved40to42{};

    // Reading switches; not part of the settings file above (they have a file of their own).
    ReadingOptions reading;

    // ---- rules between fields (no widgets involved) ----

    // The cover check box: switching the cover off also switches compatibleKindle off.
    void SetCreateCover(bool on);
    // The Kindle check box: switching it on also switches the cover on.
    void SetCompatibleKindle(bool on);

    // Page defaults as every job starts them (imageWholePage has no saved default: 0).
    PageParseOptions PageDefaults() const;
    // "Set to Default Setting": the page's switches become the saved defaults (imageWholePage
    // is not kept).
    void SetPageDefaults(const PageParseOptions &page);
};

} // namespace qm
