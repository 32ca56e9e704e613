#include "options/reading_settings.h"

#include <cctype>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "platform/log.h"
#include "platform/paths.h"

namespace qm {
namespace {

using Json = nlohmann::json;

// The fields of the file, their names and members.
struct Flag {
    const char *name;
    bool ReadingOptions::*member;
};
const Flag kFlags[] = {
    {"keepRunningHeads", &ReadingOptions::keepRunningHeads},
    {"headings", &ReadingOptions::headings},
    {"tocFromHeadings", &ReadingOptions::tocFromHeadings},
    {"codeBlocks", &ReadingOptions::codeBlocks},
    {"keepContentsPages", &ReadingOptions::keepContentsPages},
    {"epub3", &ReadingOptions::epub3},
};

} // namespace

std::string ReadingSettings::PathBeside(const std::string &settingsPath) {
    // No settings file, no reading file (rather than one in the working folder).
    if (settingsPath.empty()) return std::string();
    return FolderPart(settingsPath) + "reading.json";
}

bool ReadingSettings::IsLanguageTag(const std::string &text) {
    if (text.empty()) return true;
    if (text.size() > 35 || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-') || static_cast<unsigned char>(c) >= 0x80)
            return false;
    return text.back() != '-';
}

std::string ReadingSettings::Encode(const ReadingOptions &options) {
    Json j = Json::object();
    for (const Flag &f : kFlags) j[f.name] = options.*(f.member);
    j["language"] = options.language;
    return j.dump(1) + "\n";
}

SettingsLoad ReadingSettings::Decode(const std::string &text, ReadingOptions &options) {
    const ReadingOptions defaults;
    const Json j = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!j.is_object()) {
        options = defaults;
        return SettingsLoad::Damaged;
    }
    bool damaged = false;
    for (const Flag &f : kFlags) {
        auto it = j.find(f.name);
        // A value the file does not have (a file of an older program) takes its default quietly.
        if (it == j.end()) {
            options.*(f.member) = defaults.*(f.member);
        } else if (it->is_boolean()) {
            options.*(f.member) = it->get<bool>();
        } else {
            options.*(f.member) = defaults.*(f.member);
            damaged = true;
        }
    }
    auto lang = j.find("language");
    if (lang == j.end()) {
        options.language = defaults.language;
    } else if (lang->is_string() && IsLanguageTag(lang->get<std::string>())) {
        options.language = lang->get<std::string>();
    } else {
        options.language = defaults.language;
        damaged = true;
    }
    return damaged ? SettingsLoad::Damaged : SettingsLoad::Complete;
}

SettingsLoad ReadingSettings::Load(ReadingOptions &options, const std::string &path) {
    std::string text;
    if (path.empty() || !FileExists(path) || !ReadFile(path, text)) return SettingsLoad::Unreadable;
    const SettingsLoad result = Decode(text, options);
    if (result == SettingsLoad::Damaged)
        LogWarning("the reading settings file '" + path + "' is damaged: the values it lacks take their defaults");
    return result;
}

SettingsSave ReadingSettings::Save(const ReadingOptions &options, const std::string &path) {
    if (path.empty()) return SettingsSave::Unwritten;
    std::string folder = FolderPart(path);
    if (folder.empty()) folder = "./";
    CreateFolders(folder);
    // A sibling file put in place in one step: a failed or interrupted write keeps the old file.
    const std::string temp = CreateUniqueTempFile(FileNamePart(path) + ".", folder);
    if (temp.empty()) return SettingsSave::Unwritten;
    if (WriteFile(temp, Encode(options)) && PlaceFile(temp, path, true) == PlaceResult::kPlaced)
        return SettingsSave::Saved;
    std::remove(temp.c_str());
    return SettingsSave::Unwritten;
}

} // namespace qm
