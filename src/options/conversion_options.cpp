#include "options/conversion_options.h"

#include "platform/paths.h"

namespace qm {

ConversionOptions::ConversionOptions() : outputFolder(HomeFolder()) {}

void ConversionOptions::SetCreateCover(bool on) {
    createCover = on ? 1 : 0;
    if (!on) compatibleKindle = 0;
}

void ConversionOptions::SetCompatibleKindle(bool on) {
    compatibleKindle = on ? 1 : 0;
    if (on) createCover = 1;
}

PageParseOptions ConversionOptions::PageDefaults() const {
    PageParseOptions page;
    page.columnMode = columnMode;
    page.noOutput = noOutput;
    page.imageWholePage = 0;
    page.ignoreImages = ignoreImages;
    page.ignoreVectorGraphics = ignoreVectorGraphics;
    page.paragraphCheck = paragraphCheck;
    page.alignCheck = alignCheck;
    return page;
}

void ConversionOptions::SetPageDefaults(const PageParseOptions &page) {
    columnMode = page.columnMode;
    noOutput = page.noOutput;
    ignoreImages = page.ignoreImages;
    ignoreVectorGraphics = page.ignoreVectorGraphics;
    paragraphCheck = page.paragraphCheck;
    alignCheck = page.alignCheck;
}

} // namespace qm
