#include "options/conversion_options.h"

#include "platform/paths.h"

namespace qm {

ConversionOptions::ConversionOptions() : outputFolder(HomeFolder()) {}

void ConversionOptions::LeaveOptionsPage() {
    if (outputFolder.empty())
        outputFolder = HomeFolder();
    else
        outputFolder = WithTrailingSlash(outputFolder);
}

void ConversionOptions::EnterOptionsPage() {
    if (useMyDocuments) outputFolder = WithTrailingSlash(DocumentsFolder());
}

void ConversionOptions::SetCreateCover(bool on) {
    createCover = on ? 1 : 0;
    if (!on) compatibleKindle = 0;
}

void ConversionOptions::SetCompatibleKindle(bool on) {
    compatibleKindle = on ? 1 : 0;
    if (on) createCover = 1;
}

void ConversionOptions::LeaveTaskPage(int32_t chosenTask) {
    if (chosenTask != taskKind) {
        // Fields 31-38 of the settings file belong to the task; field 30 stays.
        for (size_t i = 1; i < reserved30to38.size(); ++i) reserved30to38[i] = 0;
    }
    taskKind = chosenTask;
    fileListTask = chosenTask;
}

void ConversionOptions::EnterTaskPage(int32_t shownTask) { listedTask = shownTask; }

bool ConversionOptions::EnterFileListPage() {
    if (fileListTask == listedTask) return false;
    listedTask = fileListTask;
    return true;
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
