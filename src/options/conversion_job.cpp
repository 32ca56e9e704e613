#include "options/conversion_job.h"

#include <charconv>
#include <cmath>

namespace qm {

double ParseDecimalText(const std::string &text) {
    const char *p = text.data();
    const char *end = p + text.size();
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // from_chars takes no sign of its own here, so "+-1" and "--1" are no numbers.
    if (p == end || *p == '+' || *p == '-') return 0.0;
    double value = 0.0;
    auto [next, ec] = std::from_chars(p, end, value, std::chars_format::general);
    if (ec != std::errc() || next == p || !std::isfinite(value)) return 0.0;
    return negative ? -value : value;
}

ConversionJob MakeConversionJob(const ConversionOptions &options) {
    ConversionJob job;
    job.password = options.pdfPassword;
    job.userPassword = options.userPassword;
    job.ignoreImagesAll = options.ignoreImagesAll != 0;
    job.outputHiddenText = options.outputHiddenText != 0;
    job.fixImageSize = options.fixImageSize != 0;
    job.compatibleKindle = options.compatibleKindle != 0;
    job.createCover = options.createCover != 0;
    job.parseMode = options.parseMode;
    job.outputOutline = options.outputOutline != 0;
    job.importBookmarksToToc = options.importBookmarksToToc != 0;
    job.outlinePosition = options.outlinePosition;
    job.mobiCompression = options.mobiCompression;
    job.fontScale = ParseDecimalText(options.fontScaleText);
    job.pageDefaults = options.PageDefaults();
    job.imageDpi = ParseDecimalText(options.imageDpiText);
    job.ignoreLinks = options.ignoreLinks;
    job.useSourceMetadata = options.useSourceMetadata != 0;
    job.bookTitle = options.bookTitle;
    job.bookCreator = options.bookCreator;
    job.bookSubject = options.bookSubject;
    job.deleteSources = options.taskKind == static_cast<int32_t>(TaskKind::PdfToEpub);
    job.reading = options.reading;
    return job;
}

int OutputResolution(double imageDpi) {
    if (!(imageDpi >= 1.0)) return 72;  // zero, negative or not a number
    if (imageDpi > 600.0) return 600;
    int dpi = static_cast<int>(std::trunc(imageDpi));
    return dpi < 20 ? 20 : dpi;
}

} // namespace qm
