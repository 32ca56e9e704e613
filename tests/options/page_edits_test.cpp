// The edits file of strict conversions: what it may hold, and one clear reason for what it may not.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "options/conversion_options.h"
#include "options/page_edits.h"
#include "support/temp_dir.h"
#include "platform/paths.h"

namespace {

using Ranges = std::vector<std::pair<int, int>>;

TEST(PageEdits, ReadsPageListsAndLeavesUnsetFieldsUnset) {
    qm::PageEdits edits;
    std::string error;
    ASSERT_TRUE(qm::ParsePageEdits(R"({"pages": [
      {"pages": " 1-3, 7 ", "options": {"columns": "multi", "imageWholePage": true, "alignCheck": false},
       "margins": {"top": 48.5}, "regions": [{"rect": [72, 100, 520, 400], "action": "table"}]},
      {"pages": "all", "margins": {"top": 40}}, {"pages": 5}]})",
                                   edits, error))
        << error;
    ASSERT_EQ(edits.entries.size(), 3u);
    const qm::PageEdits::Entry &e = edits.entries[0];
    EXPECT_EQ(e.pages, (Ranges{{1, 3}, {7, 7}}));
    EXPECT_TRUE(e.Covers(3) && e.Covers(7) && !e.Covers(4));
    EXPECT_EQ(e.columnMode, 2);
    EXPECT_EQ(e.imageWholePage, 1);
    EXPECT_EQ(e.alignCheck, 0);
    EXPECT_FALSE(e.noOutput.has_value());
    EXPECT_FALSE(e.margins[0].has_value());
    EXPECT_EQ(e.regions.at(0).action, qm::RegionAction::Table);
    EXPECT_TRUE(edits.entries[1].Covers(INT_MAX));
    // "all" names no page of its own: the highest page named is 7.
    EXPECT_EQ(edits.HighestPage(), 7);
}

TEST(PageEdits, RefusesWhatItCannotReadWithOneLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "not a JSON file"},
        {R"({"pages": [)", "not a JSON file"},
        {R"([1, 2])", "no \"pages\" list"},
        {R"({"page": []})", "no \"pages\" list"},
        {R"({"pages": [{"options": {}}]})", "pages[0] names no pages"},
        {R"({"pages": [{"pages": "3-1"}]})", "pages[0].pages"},
        {R"({"pages": [{"pages": "0"}]})", "pages[0].pages"},
        {R"({"pages": [{"pages": "1,,2"}]})", "pages[0].pages"},
        {R"({"pages": [{"pages": "99999999999"}]})", "pages[0].pages"},
        {R"({"pages": [{"pages": -2}]})", "pages[0].pages"},
        {R"({"pages": [{"pages": "1"}, {"pages": "2", "regions": [{"rect": [0, 0, 9, 9], "action": "shred"}]}]})",
         "pages[1].regions[0].action \"shred\" is unknown"},
        {R"({"pages": [{"pages": "1", "regions": [{"rect": [0, 0, 9, 9]}]}]})", "action is missing"},
        {R"({"pages": [{"pages": "1", "regions": [{"rect": [9, 0, 0, 9], "action": "group"}]}]})", ".rect must be"},
        {R"({"pages": [{"pages": "1", "regions": [{"rect": [0, 0, 9], "action": "group"}]}]})", ".rect must be"},
        {R"({"pages": [{"pages": "1", "options": {"colums": "multi"}}]})", "unknown option \"colums\""},
        {R"({"pages": [{"pages": "1", "options": {"columns": "three"}}]})", "columns must be"},
        {R"({"pages": [{"pages": "1", "options": {"noOutput": 1}}]})", "noOutput must be true or false"},
        {R"({"pages": [{"pages": "1", "margins": {"top": -4}}]})", "margins.top must be"},
        {R"({"pages": [{"pages": "1", "margins": {"middle": 4}}]})", "unknown side"},
        {R"({"pages": [{"pages": "1", "crop": {}}]})", "unknown field \"crop\""},
    };
    for (const auto &[text, reason] : cases) {
        qm::PageEdits edits;
        edits.entries.resize(1);
        std::string error;
        EXPECT_FALSE(qm::ParsePageEdits(text, edits, error)) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << text << " -> " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_TRUE(edits.Empty()) << text;  // nothing half-read is left
    }

    qmtest::TempDir dir;
    qm::PageEdits edits;
    std::string error;
    EXPECT_FALSE(qm::LoadPageEdits(dir.File("missing.json"), edits, error));
    EXPECT_EQ(error, "cannot be read");
    ASSERT_TRUE(qm::WriteFile(dir.File("e.json"), R"({"pages": [{"pages": "2"}]})"));
    EXPECT_TRUE(qm::LoadPageEdits(dir.File("e.json"), edits, error)) << error;
    EXPECT_EQ(edits.HighestPage(), 2);
}

TEST(PageEdits, WrittenTextReadsBackToTheSameEdits) {
    qm::PageEdits edits;
    qm::PageEdits::Entry all;
    all.pages = {{1, INT_MAX}};
    all.margins = {0.0, 1.0 / 3.0, std::nullopt, 40.5};
    all.columnMode = 2;
    edits.entries.push_back(all);
    qm::PageEdits::Entry some;
    some.pages = {{1, 3}, {7, 7}, {9, INT_MAX}};
    some.noOutput = 1;
    some.alignCheck = 0;
    some.ignoreVectorGraphics = 1;
    some.regions = {{72.125, 100.0 / 7.0, 520, 400, qm::RegionAction::Table},
                    {0, 0, 0, 0, qm::RegionAction::Enable},
                    {1, 2, 3, 4, qm::RegionAction::Disable}};
    edits.entries.push_back(some);

    const std::string text = qm::PageEditsToJson(edits);
    qm::PageEdits back;
    std::string error;
    ASSERT_TRUE(qm::ParsePageEdits(text, back, error)) << error << "\n" << text;
    ASSERT_EQ(back.entries.size(), 2u);
    EXPECT_EQ(back.entries[0].pages, (Ranges{{1, INT_MAX}}));
    EXPECT_EQ(back.entries[0].margins, all.margins);  // every digit kept
    EXPECT_EQ(back.entries[0].columnMode, 2);
    EXPECT_FALSE(back.entries[0].noOutput);
    // An open range is written with the highest page the reader takes.
    EXPECT_EQ(back.entries[1].pages[0], (std::pair<int, int>{1, 3}));
    EXPECT_EQ(back.entries[1].pages[1], (std::pair<int, int>{7, 7}));
    EXPECT_GE(back.entries[1].pages[2].second, 1000000000);
    EXPECT_EQ(back.entries[1].noOutput, 1);
    EXPECT_EQ(back.entries[1].alignCheck, 0);
    EXPECT_EQ(back.entries[1].ignoreVectorGraphics, 1);
    EXPECT_FALSE(back.entries[1].columnMode);
    ASSERT_EQ(back.entries[1].regions.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const auto &a = some.regions[i], &b = back.entries[1].regions[i];
        EXPECT_EQ(b.action, a.action);
        EXPECT_EQ(b.x0, a.x0);
        EXPECT_EQ(b.y0, a.y0);
        EXPECT_EQ(b.x1, a.x1);
        EXPECT_EQ(b.y1, a.y1);
    }
    EXPECT_EQ(qm::PageEditsToJson(back), text);
}

// The three column words: files written before "auto" existed read as they did, "auto" is
// written and read back rather than dropped, and anything else is still refused.
TEST(PageEdits, ColumnModesAutoSingleAndMulti) {
    qm::PageEdits edits;
    std::string error;
    ASSERT_TRUE(qm::ParsePageEdits(R"({"pages": [{"pages": "1", "options": {"columns": "single"}},
      {"pages": "2", "options": {"columns": "multi"}}, {"pages": "3", "options": {"columns": "auto"}},
      {"pages": "4", "options": {"noOutput": false}}]})",
                                   edits, error))
        << error;
    ASSERT_EQ(edits.entries.size(), 4u);
    EXPECT_EQ(edits.entries[0].columnMode, static_cast<int32_t>(qm::ColumnMode::Single));
    EXPECT_EQ(edits.entries[1].columnMode, static_cast<int32_t>(qm::ColumnMode::Multi));
    EXPECT_EQ(edits.entries[2].columnMode, static_cast<int32_t>(qm::ColumnMode::AutoDetect));
    EXPECT_FALSE(edits.entries[3].columnMode.has_value());  // unset stays unset, not "auto"

    const std::string text = qm::PageEditsToJson(edits);
    EXPECT_NE(text.find("\"columns\": \"auto\""), std::string::npos) << text;
    qm::PageEdits back;
    ASSERT_TRUE(qm::ParsePageEdits(text, back, error)) << error << "\n" << text;
    ASSERT_EQ(back.entries.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(back.entries[i].columnMode, edits.entries[i].columnMode) << i;

    // A value that is no column mode is not written as some other mode.
    qm::PageEdits odd;
    odd.entries.resize(1);
    odd.entries[0].pages = {{1, 1}};
    odd.entries[0].columnMode = 7;
    EXPECT_EQ(qm::PageEditsToJson(odd).find("columns"), std::string::npos);

    for (const char *value : {R"("Auto")", R"("")", "0", "true", "null", R"(["auto"])"}) {
        const std::string bad = std::string(R"({"pages": [{"pages": "1", "options": {"columns": )") + value + "}}]}";
        EXPECT_FALSE(qm::ParsePageEdits(bad, edits, error)) << bad;
        EXPECT_NE(error.find("pages[0].options.columns must be \"single\", \"multi\" or \"auto\""), std::string::npos)
            << error;
    }
}

} // namespace
