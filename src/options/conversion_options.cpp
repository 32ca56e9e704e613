#include "options/conversion_options.h"

#include <utility>

#include "platform/paths.h"

namespace qm {

namespace {

constexpr std::pair<const char *, ColumnMode> kColumnModeNames[] = {
    {"auto", ColumnMode::AutoDetect}, {"single", ColumnMode::Single}, {"multi", ColumnMode::Multi}};

} // namespace

const char *ColumnModeName(int32_t mode) {
    for (const auto &[name, value] : kColumnModeNames)
        if (static_cast<int32_t>(value) == mode) return name;
    return nullptr;
}

std::optional<int32_t> ColumnModeFromName(std::string_view name) {
    for (const auto &[text, value] : kColumnModeNames)
        if (name == text) return static_cast<int32_t>(value);
    return std::nullopt;
}

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
