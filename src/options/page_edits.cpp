#include "options/page_edits.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "options/conversion_options.h"
#include "platform/paths.h"

namespace qm {
namespace {

using Json = nlohmann::json;

// Page numbers beyond this are no page of any document and are refused as unreadable.
constexpr long long kMaxPageNumber = 1000000000;

// "1-3, 7" or "all" into inclusive ranges; false when any part is not a page or a rising range.
bool ParsePageList(const std::string &text, std::vector<std::pair<int, int>> &ranges) {
    ranges.clear();
    std::string s;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) s += c;
    if (s == "all") {
        ranges.emplace_back(1, INT_MAX);
        return true;
    }
    size_t pos = 0;
    auto number = [&](long long &n) {
        size_t start = pos;
        n = 0;
        while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos])) && n <= kMaxPageNumber)
            n = n * 10 + (s[pos++] - '0');
        return pos > start && n >= 1 && n <= kMaxPageNumber;
    };
    while (true) {
        long long first = 0, last = 0;
        if (!number(first)) return false;
        last = first;
        if (pos < s.size() && s[pos] == '-') {
            ++pos;
            if (!number(last) || last < first) return false;
        }
        ranges.emplace_back(static_cast<int>(first), static_cast<int>(last));
        if (pos == s.size()) return true;
        if (s[pos++] != ',') return false;
    }
}

std::string Where(size_t entry) { return "pages[" + std::to_string(entry) + "]"; }

bool ParseOptions(const Json &o, PageEdits::Entry &e, const std::string &where, std::string &error) {
    if (!o.is_object()) {
        error = where + ".options is not an object";
        return false;
    }
    struct Switch {
        const char *name;
        std::optional<int32_t> PageEdits::Entry::*field;
    };
    static const Switch kSwitches[] = {
        {"noOutput", &PageEdits::Entry::noOutput},
        {"imageWholePage", &PageEdits::Entry::imageWholePage},
        {"ignoreImages", &PageEdits::Entry::ignoreImages},
        {"ignoreVector", &PageEdits::Entry::ignoreVectorGraphics},
        {"paragraphCheck", &PageEdits::Entry::paragraphCheck},
        {"alignCheck", &PageEdits::Entry::alignCheck},
    };
    for (const auto &[key, value] : o.items()) {
        if (key == "columns") {
            const std::optional<int32_t> mode =
                value.is_string() ? ColumnModeFromName(value.get<std::string>()) : std::nullopt;
            if (!mode) {
                error = where + ".options.columns must be \"single\", \"multi\" or \"auto\"";
                return false;
            }
            e.columnMode = mode;
            continue;
        }
        bool known = false;
        for (const Switch &s : kSwitches) {
            if (key != s.name) continue;
            if (!value.is_boolean()) {
                error = where + ".options." + key + " must be true or false";
                return false;
            }
            e.*(s.field) = value.get<bool>() ? 1 : 0;
            known = true;
        }
        if (!known) {
            error = where + ".options has an unknown option \"" + key + "\"";
            return false;
        }
    }
    return true;
}

bool ParseMargins(const Json &m, PageEdits::Entry &e, const std::string &where, std::string &error) {
    if (!m.is_object()) {
        error = where + ".margins is not an object";
        return false;
    }
    static const char *const kSides[4] = {"left", "top", "right", "bottom"};
    for (const auto &[key, value] : m.items()) {
        int side = -1;
        for (int i = 0; i < 4; ++i)
            if (key == kSides[i]) side = i;
        if (side < 0) {
            error = where + ".margins has an unknown side \"" + key + "\"";
            return false;
        }
        if (!value.is_number() || !std::isfinite(value.get<double>()) || value.get<double>() < 0 ||
            value.get<double>() > 1e6) {
            error = where + ".margins." + key + " must be a number of points from 0";
            return false;
        }
        e.margins[static_cast<size_t>(side)] = value.get<double>();
    }
    return true;
}

bool ParseRegion(const Json &r, PageEdits::Region &region, const std::string &where, std::string &error) {
    if (!r.is_object()) {
        error = where + " is not an object";
        return false;
    }
    for (const auto &[key, value] : r.items()) {
        (void)value;
        if (key != "rect" && key != "action") {
            error = where + " has an unknown field \"" + key + "\"";
            return false;
        }
    }
    const auto rect = r.find("rect");
    bool rectOk = rect != r.end() && rect->is_array() && rect->size() == 4;
    double v[4] = {};
    for (size_t i = 0; rectOk && i < 4; ++i) {
        rectOk = (*rect)[i].is_number() && std::isfinite((*rect)[i].get<double>());
        if (rectOk) v[i] = (*rect)[i].get<double>();
    }
    if (!rectOk || v[2] < v[0] || v[3] < v[1]) {
        error = where + ".rect must be [x0, y0, x1, y1] in points with x0 <= x1 and y0 <= y1";
        return false;
    }
    region.x0 = v[0];
    region.y0 = v[1];
    region.x1 = v[2];
    region.y1 = v[3];
    const auto action = r.find("action");
    if (action == r.end() || !action->is_string()) {
        error = where + ".action is missing";
        return false;
    }
    static const std::pair<const char *, RegionAction> kActions[] = {
        {"group", RegionAction::Group},     {"table", RegionAction::Table},   {"graphic", RegionAction::Graphic},
        {"disable", RegionAction::Disable}, {"enable", RegionAction::Enable},
    };
    const std::string name = action->get<std::string>();
    for (const auto &[text, value] : kActions)
        if (name == text) {
            region.action = value;
            return true;
        }
    error = where + ".action \"" + name + "\" is unknown (group, table, graphic, disable or enable)";
    return false;
}

bool ParseEntry(const Json &j, PageEdits::Entry &e, size_t index, std::string &error) {
    const std::string where = Where(index);
    if (!j.is_object()) {
        error = where + " is not an object";
        return false;
    }
    bool hasPages = false;
    for (const auto &[key, value] : j.items()) {
        if (key == "pages") {
            hasPages = true;
            std::string list;
            if (value.is_number_unsigned()) list = std::to_string(value.get<unsigned long long>());
            else if (value.is_string()) list = value.get<std::string>();
            if (!ParsePageList(list, e.pages)) {
                error = where + ".pages must be \"all\" or pages such as \"1-3,7\"";
                return false;
            }
        } else if (key == "options") {
            if (!ParseOptions(value, e, where, error)) return false;
        } else if (key == "margins") {
            if (!ParseMargins(value, e, where, error)) return false;
        } else if (key == "regions") {
            if (!value.is_array()) {
                error = where + ".regions is not a list";
                return false;
            }
            for (size_t i = 0; i < value.size(); ++i) {
                PageEdits::Region region;
                if (!ParseRegion(value[i], region, where + ".regions[" + std::to_string(i) + "]", error)) return false;
                e.regions.push_back(region);
            }
        } else {
            error = where + " has an unknown field \"" + key + "\"";
            return false;
        }
    }
    if (!hasPages) {
        error = where + " names no pages";
        return false;
    }
    return true;
}

} // namespace

bool PageEdits::Entry::Covers(int page) const {
    for (const auto &[first, last] : pages)
        if (page >= first && page <= last) return true;
    return false;
}

int PageEdits::HighestPage() const {
    int highest = 0;
    for (const Entry &e : entries)
        for (const auto &[first, last] : e.pages)
            if (last != INT_MAX && last > highest) highest = last;
    return highest;
}

bool ParsePageEdits(const std::string &text, PageEdits &out, std::string &error) {
    out = PageEdits();
    const Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded()) {
        error = "not a JSON file";
        return false;
    }
    const auto pages = j.is_object() ? j.find("pages") : j.end();
    if (!j.is_object() || pages == j.end() || !pages->is_array()) {
        error = "no \"pages\" list";
        return false;
    }
    PageEdits edits;
    for (size_t i = 0; i < pages->size(); ++i) {
        PageEdits::Entry e;
        if (!ParseEntry((*pages)[i], e, i, error)) return false;
        edits.entries.push_back(std::move(e));
    }
    out = std::move(edits);
    return true;
}

bool LoadPageEdits(const std::string &path, PageEdits &out, std::string &error) {
    std::string text;
    if (!ReadFile(path, text)) {
        error = "cannot be read";
        return false;
    }
    return ParsePageEdits(text, out, error);
}

namespace {

std::string PageListText(const std::vector<std::pair<int, int>> &ranges) {
    std::string text;
    for (const auto &[first, last] : ranges) {
        if (first <= 1 && last == INT_MAX) return "all";
        if (!text.empty()) text += ',';
        text += std::to_string(first);
        if (last != first) text += '-' + (last == INT_MAX ? std::to_string(kMaxPageNumber) : std::to_string(last));
    }
    return text;
}

const char *ActionName(RegionAction action) {
    switch (action) {
    case RegionAction::Group: return "group";
    case RegionAction::Table: return "table";
    case RegionAction::Graphic: return "graphic";
    case RegionAction::Disable: return "disable";
    case RegionAction::Enable: return "enable";
    }
    return "group";
}

} // namespace

std::string PageEditsToJson(const PageEdits &edits) {
    Json pages = Json::array();
    for (const PageEdits::Entry &e : edits.entries) {
        Json entry = Json::object();
        entry["pages"] = PageListText(e.pages);
        Json options = Json::object();
        if (const char *columns = e.columnMode ? ColumnModeName(*e.columnMode) : nullptr) options["columns"] = columns;
        const std::pair<const char *, const std::optional<int32_t> *> switches[] = {
            {"noOutput", &e.noOutput},         {"imageWholePage", &e.imageWholePage},
            {"ignoreImages", &e.ignoreImages}, {"ignoreVector", &e.ignoreVectorGraphics},
            {"paragraphCheck", &e.paragraphCheck}, {"alignCheck", &e.alignCheck},
        };
        for (const auto &[name, value] : switches)
            if (*value) options[name] = **value != 0;
        if (!options.empty()) entry["options"] = std::move(options);
        static const char *const kSides[4] = {"left", "top", "right", "bottom"};
        Json margins = Json::object();
        for (size_t side = 0; side < 4; ++side)
            if (e.margins[side]) margins[kSides[side]] = *e.margins[side];
        if (!margins.empty()) entry["margins"] = std::move(margins);
        if (!e.regions.empty()) {
            Json regions = Json::array();
            for (const PageEdits::Region &r : e.regions)
                regions.push_back({{"rect", {r.x0, r.y0, r.x1, r.y1}}, {"action", ActionName(r.action)}});
            entry["regions"] = std::move(regions);
        }
        pages.push_back(std::move(entry));
    }
    Json root = Json::object();
    root["pages"] = std::move(pages);
    return root.dump(1) + "\n";
}

bool SavePageEdits(const std::string &path, const PageEdits &edits, std::string &error) {
    std::string folder = FolderPart(path);
    if (folder.empty()) folder = "./";
    const std::string temp = path.empty() ? std::string() : CreateUniqueTempFile(FileNamePart(path) + ".", folder);
    if (temp.empty()) {
        error = "cannot be written (no new file can be made in its folder)";
        return false;
    }
    if (!WriteFile(temp, PageEditsToJson(edits)) || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        error = "cannot be written";
        return false;
    }
    return true;
}

} // namespace qm
