#pragma once
// One PDF's conversion record: a snapshot of the options taken when the document starts, the
// paths of its work, the cancel and progress hooks shared with the front end, and the results the
// page driver writes back (metadata, navigation fragment).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "options/conversion_options.h"
#include "options/page_edits.h"

namespace qm {

struct ConversionJob {
    std::string sourcePath;      // full path of the PDF
    std::string sourceName;      // file name of the PDF as listed
    std::string workFolder;      // the document's temporary folder; every produced file goes here
    std::string scratchFolder;   // the run's second temporary folder
    std::string password;        // pdfPassword
    std::string userPassword;    // userPassword (unused beyond the copy)
    bool ignoreImagesAll = false;
    bool outputHiddenText = false;
    bool fixImageSize = false;
    bool compatibleKindle = false;
    bool createCover = false;
    int32_t parseMode = 0;
    bool outputOutline = false;
    bool importBookmarksToToc = false;
    int32_t outlinePosition = 0;
    int32_t mobiCompression = 1;
    unsigned char reservedFlagA = 1;
    // Set by the front end (non-zero = stop after the current page); may be null.
    std::atomic<unsigned char> *cancelRequested = nullptr;
    // Percentage 0..100 written by the page driver for the front end; may be null.
    std::atomic<int> *progressPercent = nullptr;
    unsigned char reservedFlagB = 0;
    double reservedScale = 1.0;
    double fontScale = 1.0;      // fontScaleText as a number; the page driver keeps it in 0.5..3.0
    unsigned char reservedFlagC = 1;
    std::string title;           // results from the PDF's Info dictionary, cleared before use
    std::string author;
    std::string subject;
    PageParseOptions pageDefaults; // every page starts from these
    double imageDpi = 72.0;      // imageDpiText as a number
    int32_t ignoreLinks = 1;
    std::string navPointsFile;   // result: navigation fragment written by the page driver, "" if none
    // Result: the book's language tag, from reading.language or the PDF's /Lang; "" when neither
    // names a valid one (the book then has the default language).
    std::string bookLanguage;
    // The book's own metadata: the Info entries above when useSourceMetadata, else these.
    bool useSourceMetadata = true;
    std::string bookTitle;
    std::string bookCreator;
    std::string bookSubject;
    bool deleteSources = false;  // the content files go once they are packaged (PDF to EPUB)
    // Strict mode without the window: the edits applied to each page as it is captured (null:
    // none). Shared by every document of a run.
    std::shared_ptr<const PageEdits> pageEdits;
    // How far the book is made to read like a book (see reading_options.h).
    ReadingOptions reading;

    bool CancelRequested() const {
        return cancelRequested && cancelRequested->load(std::memory_order_relaxed) != 0;
    }
    void ReportProgress(int percent) const {
        if (progressPercent) progressPercent->store(percent, std::memory_order_relaxed);
    }
};

// Fills a job from the options: flags, modes, passwords, page defaults (imageWholePage 0), and
// fontScale and imageDpi parsed from their texts. Paths, hooks and results are left empty for the
// caller.
ConversionJob MakeConversionJob(const ConversionOptions &options);

// Output resolution used for a job: the integer part of imageDpi, kept within 20..600 (0, negative
// and absurd values would give no raster or an enormous one).
int OutputResolution(double imageDpi);

// Reads a decimal number at the start of `text` the way the option lists are typed: leading
// blanks and a sign allowed, "." as the decimal point whatever the user's locale, trailing text
// ignored. Text that starts with no number, and numbers that are not finite, give 0.
double ParseDecimalText(const std::string &text);

} // namespace qm
