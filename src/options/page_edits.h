#pragma once
// Edits of a strict conversion written down so that it can be made without the window and
// repeated: per page, the parse switches, the crop margins and region actions (group, mark "to
// Table" or "to Graphic", disable, enable) on the items inside a rectangle. Rectangles and
// margins are in PDF points from the page's top-left corner. The file is JSON:
//
//   {"pages": [{"pages": "1-3,7", "options": {...}, "margins": {...}, "regions": [...]}, ...]}
//
// Entries apply in file order, so a later entry overrides an earlier one for the same page, field
// by field.
#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qm {

enum class RegionAction { Group, Table, Graphic, Disable, Enable };

struct PageEdits {
    struct Region {
        double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // points, from the page's top-left corner
        RegionAction action = RegionAction::Group;
    };
    struct Entry {
        // Inclusive page ranges (from 1); "all" is 1 .. INT_MAX.
        std::vector<std::pair<int, int>> pages;
        // Parse switches the entry sets; the others stay as they are.
        std::optional<int32_t> columnMode, noOutput, imageWholePage, ignoreImages, ignoreVectorGraphics,
            paragraphCheck, alignCheck;
        // Left, top, right, bottom in points; unset sides stay as they are.
        std::array<std::optional<double>, 4> margins;
        std::vector<Region> regions;

        bool Covers(int page) const;
    };
    std::vector<Entry> entries;

    // The highest page an entry names by number (0 when every entry says "all").
    int HighestPage() const;
    bool Empty() const { return entries.empty(); }
};

// Reads an edits file's text. false, with a one-line reason in `error`, when the text is not
// JSON, lacks "pages", or holds a field of the wrong type, a page list that cannot be read, an
// unknown option or an unknown action.
bool ParsePageEdits(const std::string &text, PageEdits &out, std::string &error);
// The same for a file; a file that cannot be read is an error too.
bool LoadPageEdits(const std::string &path, PageEdits &out, std::string &error);

// The edits as the file's JSON text, which ParsePageEdits reads back to the same edits (options
// as set, margins and rectangles with every digit they need).
std::string PageEditsToJson(const PageEdits &edits);
// Writes the JSON text to `path` through a new file in the same folder moved over it, so that a
// failed write leaves the old file as it was and no half-written one. false, with a one-line
// reason in `error`, when the file cannot be written.
bool SavePageEdits(const std::string &path, const PageEdits &edits, std::string &error);

} // namespace qm
