// The reading switches' own settings file: round trip, its place beside the older file (which
// keeps its bytes), and missing or damaged files giving the defaults.
#include <gtest/gtest.h>

#include <string>

#include "options/reading_settings.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace {

using qm::ReadingOptions;
using qm::ReadingSettings;
using qm::SettingsLoad;
using qm::SettingsSave;

// Every value differs from its default.
ReadingOptions Distinct() {
    ReadingOptions r;
    r.keepRunningHeads = true;
    r.headings = false;
    r.tocFromHeadings = true;
    r.codeBlocks = false;
    r.keepContentsPages = true;
    r.epub3 = true;
    r.language = "de-CH";
    return r;
}

void ExpectSame(const ReadingOptions &a, const ReadingOptions &b) {
    EXPECT_EQ(a.keepRunningHeads, b.keepRunningHeads);
    EXPECT_EQ(a.headings, b.headings);
    EXPECT_EQ(a.tocFromHeadings, b.tocFromHeadings);
    EXPECT_EQ(a.codeBlocks, b.codeBlocks);
    EXPECT_EQ(a.keepContentsPages, b.keepContentsPages);
    EXPECT_EQ(a.epub3, b.epub3);
    EXPECT_EQ(a.language, b.language);
}

TEST(ReadingSettingsTest, RoundTripBesideTheOlderFileWhichKeepsItsBytes) {
    qmtest::TempDir dir;
    const std::string settings = dir.File("config/Option20110626.dat");
    qm::ConversionOptions options;
    options.reading = Distinct();
    ASSERT_EQ(qm::SettingsFile::Save(options, settings), qm::SettingsSave::Saved);
    const std::string path = ReadingSettings::PathBeside(settings);
    EXPECT_EQ(path, dir.File("config/reading.json"));
    ASSERT_EQ(ReadingSettings::Save(options.reading, path), SettingsSave::Saved);

    // The older file is exactly what it was without the reading switches.
    std::string bytes;
    ASSERT_TRUE(qm::ReadFile(settings, bytes));
    EXPECT_EQ(bytes, qm::SettingsFile::Encode(qm::ConversionOptions{}));

    ReadingOptions loaded;
    EXPECT_EQ(ReadingSettings::Load(loaded, path), SettingsLoad::Complete);
    ExpectSame(loaded, Distinct());
    // Saving again replaces the file as a whole.
    ASSERT_EQ(ReadingSettings::Save(ReadingOptions{}, path), SettingsSave::Saved);
    EXPECT_EQ(ReadingSettings::Load(loaded, path), SettingsLoad::Complete);
    ExpectSame(loaded, ReadingOptions{});
    EXPECT_EQ(qmtest::ListFolder(dir.File("config")).size(), 2u);  // no temporary file left

    // No settings file, no reading file (never one in the working folder).
    EXPECT_EQ(ReadingSettings::PathBeside(""), "");
    EXPECT_EQ(ReadingSettings::Save(Distinct(), ""), SettingsSave::Unwritten);
}

TEST(ReadingSettingsTest, MissingAndDamagedFilesGiveDefaultsAndKeepWhatIsReadable) {
    qmtest::TempDir dir;
    ReadingOptions r = Distinct();
    EXPECT_EQ(ReadingSettings::Load(r, dir.File("none.json")), SettingsLoad::Unreadable);
    ExpectSame(r, Distinct());  // a missing file changes nothing

    for (const std::string text : {"", "not json", "[true, false]", "{\"headings\": ", "\x01\xff{}", "42"}) {
        ReadingOptions o = Distinct();
        EXPECT_EQ(ReadingSettings::Decode(text, o), SettingsLoad::Damaged) << text;
        ExpectSame(o, ReadingOptions{});
    }

    // Wrong types and a language that is no tag take their defaults; the good values are kept.
    ReadingOptions o;
    EXPECT_EQ(ReadingSettings::Decode(R"({"headings": "no", "codeBlocks": false, "epub3": 1,
                                           "language": "en<script>", "tocFromHeadings": true})",
                                      o),
              SettingsLoad::Damaged);
    EXPECT_TRUE(o.headings);
    EXPECT_FALSE(o.codeBlocks);
    EXPECT_FALSE(o.epub3);
    EXPECT_TRUE(o.tocFromHeadings);
    EXPECT_EQ(o.language, "");

    // A file of an older program lacks later values: they take their defaults without complaint.
    o = Distinct();
    EXPECT_EQ(ReadingSettings::Decode(R"({"codeBlocks": false})", o), SettingsLoad::Complete);
    EXPECT_FALSE(o.codeBlocks);
    EXPECT_TRUE(o.headings);
    EXPECT_EQ(o.language, "");

    // A damaged file on disk loads the same way.
    ASSERT_TRUE(qm::WriteFile(dir.File("reading.json"), "{\"epub3\": tru"));
    o = Distinct();
    EXPECT_EQ(ReadingSettings::Load(o, dir.File("reading.json")), SettingsLoad::Damaged);
    ExpectSame(o, ReadingOptions{});
}

TEST(ReadingSettingsTest, LanguageTags) {
    for (const char *good : {"", "en", "de-CH", "zh-Hant-TW", "x-klingon"}) EXPECT_TRUE(ReadingSettings::IsLanguageTag(good)) << good;
    for (const char *bad : {"-en", "en-", "en_GB", "e n", "1en", "\"en\"", "fr\xC3\xA9",
                            "abcdefghijklmnopqrstuvwxyzabcdefghij"})
        EXPECT_FALSE(ReadingSettings::IsLanguageTag(bad)) << bad;
}

} // namespace
