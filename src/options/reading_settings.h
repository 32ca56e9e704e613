#pragma once
// The reading switches of the desktop program, kept in a small JSON file of their own
// ("reading.json") in the folder of the older settings file, whose format stays as it is:
//   {"keepRunningHeads":false,"headings":true,"tocFromHeadings":false,"codeBlocks":true,
//    "keepContentsPages":false,"language":"","epub3":false}
// A missing file leaves the options alone; a value missing from the file takes its default. A damaged file (not JSON, not an object, a value of the
// wrong type, a language that is no language tag) gives the default for each value it cannot
// read and keeps the values it can; it never fails harder than that.
#include <string>

#include "options/reading_options.h"
#include "options/settings_file.h"

namespace qm {

class ReadingSettings {
public:
    // "reading.json" in the folder of the settings file at `settingsPath` ("" for "").
    static std::string PathBeside(const std::string &settingsPath = SettingsFile::DefaultPath());

    static SettingsLoad Load(ReadingOptions &options, const std::string &path);
    // Replaces the file as a whole (a failed write leaves the previous one), creating the folder.
    static SettingsSave Save(const ReadingOptions &options, const std::string &path);

    // The file's text for `options`, and the reverse (Decode as Load, without the file).
    static std::string Encode(const ReadingOptions &options);
    static SettingsLoad Decode(const std::string &text, ReadingOptions &options);

    // A language tag as the book may carry it: 1 to 35 ASCII letters, digits and hyphens, starting
    // with a letter ("en", "de-CH", "zh-Hant-TW"). The empty text (no language chosen) is valid too.
    static bool IsLanguageTag(const std::string &text);
};

} // namespace qm
