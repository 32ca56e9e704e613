// Settings file: exact byte forms, round trips, and damaged files of every kind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "options/settings_file.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace {

using qm::ConversionOptions;
using qm::SettingsFile;
using qm::SettingsLoad;
using qm::SettingsSave;

// Options in which every stored field differs from its default and lies within its range, so a
// test can tell which fields came from a file.
ConversionOptions Distinct() {
    ConversionOptions o;
    o.outputFolder = "/srv/b\xC3\xBC" "cher/";  // "bücher"
    o.pdfPassword = "secret";
    o.fontScaleText = "1.5";
    o.imageDpiText = "150";
    o.userPassword = "user";
    o.bookTitle = "Title \xE4\xB8\xAD \xF0\x9F\x93\x96";  // CJK and a character beyond 16 bits
    o.bookCreator = "Creator";
    o.bookSubject = "Subject";
    o.bookAuthor = "Author";
    o.reserved20 = "other";
    for (int32_t *flag : {&o.useSourceMetadata, &o.ignoreImagesAll, &o.outputHiddenText, &o.fixImageSize,
                          &o.compatibleKindle, &o.createCover, &o.sameAsSource, &o.useMyDocuments,
                          &o.overwriteExisting, &o.outputOutline, &o.importBookmarksToToc, &o.noOutput,
                          &o.ignoreImages, &o.ignoreVectorGraphics, &o.paragraphCheck, &o.alignCheck,
                          &o.ignoreLinks, &o.automationPreview, &o.previewExpanded})
        *flag = 1 - *flag;
    o.fileListTask = o.taskKind = 1;
    o.parseMode = 2;
    o.outlinePosition = 2;
    o.mobiCompression = 2;
    o.columnMode = 2;
    o.previewWidth = 640;
    o.previewHeight = 820;
    // Reserved fields hold anything.
    int32_t v = 100;
    for (int32_t *f : {&o.reserved13, &o.reserved14, &o.reserved21, &o.reserved22, &o.reserved26, &o.reserved27,
                       &o.reserved28})
        *f = v++;
    for (auto &r : o.reserved30to38) r = v++;
    for (auto &r : o.reserved40to42) r = -(v++);
    o.reserved1 = INT32_MIN;
    return o;
}

// The 57 stored fields in file order, each as text, with its byte size when `o` is written.
struct Field {
    std::string value;
    size_t bytes;
};

size_t StringBytes(const std::string &s) {
    size_t units = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    }
    size_t prefix = units < 0xFF ? 1 : units < 0xFFFE ? 3 : 7;
    return 3 + prefix + 2 * units;
}

std::vector<Field> Fields(const ConversionOptions &o) {
    std::vector<Field> f;
    auto i = [&](int32_t v) { f.push_back({std::to_string(v), 4}); };
    auto s = [&](const std::string &v) { f.push_back({"s:" + v, StringBytes(v)}); };
    i(o.reserved1);
    for (const std::string *v : {&o.outputFolder, &o.pdfPassword, &o.fontScaleText, &o.imageDpiText,
                                 &o.userPassword, &o.bookTitle, &o.bookCreator, &o.bookSubject})
        s(*v);
    i(o.useSourceMetadata);
    s(o.bookAuthor);
    for (int32_t v : {o.fileListTask, o.reserved13, o.reserved14, o.ignoreImagesAll, o.outputHiddenText,
                      o.fixImageSize, o.compatibleKindle, o.createCover})
        i(v);
    s(o.reserved20);
    for (int32_t v : {o.reserved21, o.reserved22, o.sameAsSource, o.useMyDocuments, o.overwriteExisting,
                      o.reserved26, o.reserved27, o.reserved28, o.parseMode})
        i(v);
    for (int32_t v : o.reserved30to38) i(v);
    i(o.taskKind);
    for (int32_t v : o.reserved40to42) i(v);
    for (int32_t v : {o.outputOutline, o.importBookmarksToToc, o.outlinePosition, o.mobiCompression,
                      o.columnMode, o.noOutput, o.ignoreImages, o.ignoreVectorGraphics, o.paragraphCheck,
                      o.alignCheck, o.ignoreLinks, o.automationPreview, o.previewWidth, o.previewHeight,
                      o.previewExpanded})
        i(v);
    return f;
}

std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s.push_back(static_cast<char>(b));
    return s;
}

std::string Int32(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    return Bytes({int(u & 0xFF), int((u >> 8) & 0xFF), int((u >> 16) & 0xFF), int(u >> 24)});
}

// Options whose strings are all empty, so the offsets of the first fields are easy to know.
ConversionOptions EmptyStrings() {
    ConversionOptions o;
    o.outputFolder = o.fontScaleText = o.imageDpiText = o.reserved20 = "";
    return o;
}

TEST(SettingsFile, SaveThenLoadGivesBackEveryField) {
    qmtest::TempDir dir;
    const std::string path = dir.File("sub/folder/Option20110626.dat");  // folders made on save
    const ConversionOptions saved = Distinct();
    ASSERT_EQ(SettingsFile::Save(saved, path), SettingsSave::Saved);

    ConversionOptions loaded;
    ASSERT_EQ(SettingsFile::Load(loaded, path), SettingsLoad::Complete);
    const auto want = Fields(saved), got = Fields(loaded);
    ASSERT_EQ(got.size(), 57u);
    for (size_t k = 0; k < want.size(); ++k) EXPECT_EQ(got[k].value, want[k].value) << "field " << k + 1;

    // The file is exactly the fields, nothing more.
    size_t size = 0;
    for (const auto &f : want) size += f.bytes;
    EXPECT_EQ(qm::FileSize(path), static_cast<int64_t>(size));
    // A second save over an existing file replaces it.
    ASSERT_EQ(SettingsFile::Save(ConversionOptions(), path), SettingsSave::Saved);
    ConversionOptions again = saved;
    ASSERT_EQ(SettingsFile::Load(again, path), SettingsLoad::Complete);
    EXPECT_EQ(again.bookTitle, "");
}

TEST(SettingsFile, DefaultsAreWrittenInTheExpectedLayout) {
    ConversionOptions o = EmptyStrings();
    o.fontScaleText = "1.0";
    const std::string bytes = SettingsFile::Encode(o);
    const std::string empty = Bytes({0xFF, 0xFE, 0xFF, 0x00});
    std::string head = Int32(0) + empty + empty + Bytes({0xFF, 0xFE, 0xFF, 3, '1', 0, '.', 0, '0', 0});
    EXPECT_EQ(bytes.substr(0, head.size()), head);
    EXPECT_EQ(bytes.size(), 47u * 4 + 9 * 4 + 10);
    // The last integers: ignoreLinks 1, automationPreview 1, preview 0 x 0, expanded 1.
    EXPECT_EQ(bytes.substr(bytes.size() - 20), Int32(1) + Int32(1) + Int32(0) + Int32(0) + Int32(1));
}

TEST(SettingsFile, StringLengthForms) {
    struct Case {
        size_t units;
        std::string prefix;
    };
    const Case cases[] = {
        {254, Bytes({0xFF, 0xFE, 0xFF, 0xFE})},
        {255, Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00})},
        {300, Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01})},
        {0xFFFD, Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF})},
        {0xFFFE, Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
        {70000, Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
    };
    for (const Case &c : cases) {
        ConversionOptions o = EmptyStrings();
        o.bookTitle.assign(c.units, 'x');
        o.bookTitle.back() = 'y';
        const std::string bytes = SettingsFile::Encode(o);
        const size_t at = 4 + 5 * 4;  // reserved int and five empty strings before the title
        EXPECT_EQ(bytes.substr(at, c.prefix.size()), c.prefix) << c.units;
        EXPECT_EQ(bytes.substr(at + c.prefix.size(), 4), Bytes({'x', 0, 'x', 0})) << c.units;
        ConversionOptions loaded;
        EXPECT_EQ(SettingsFile::Decode(bytes, loaded), SettingsLoad::Complete) << c.units;
        EXPECT_EQ(loaded.bookTitle, o.bookTitle) << c.units;
        EXPECT_EQ(loaded.bookCreator, "") << c.units;  // the next field starts right after
    }
}

TEST(SettingsFile, TextIsStoredAsUtf16WithSurrogatePairs) {
    ConversionOptions o = EmptyStrings();
    o.outputFolder = "\xC3\xA9\xF0\x9F\x98\x80";  // U+00E9, U+1F600
    const std::string bytes = SettingsFile::Encode(o);
    EXPECT_EQ(bytes.substr(4, 10), Bytes({0xFF, 0xFE, 0xFF, 3, 0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE}));
}

TEST(SettingsFile, BrokenTextNeitherCrashesNorLeaksBadBytes) {
    // Invalid UTF-8 on save: truncated sequence, stray continuation, overlong, encoded surrogate.
    ConversionOptions o = EmptyStrings();
    o.bookTitle = std::string("a\xE4\xB8") + "b\x80" + "c\xC0\xAF" + "d\xED\xA0\x80" + "e\xF0";
    ConversionOptions loaded;
    ASSERT_EQ(SettingsFile::Decode(SettingsFile::Encode(o), loaded), SettingsLoad::Complete);
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(loaded.bookTitle, "a" + r + r + "b" + r + "c" + r + r + "d" + r + r + r + "e" + r);

    // Unpaired surrogates in the file become U+FFFD too.
    std::string bytes = SettingsFile::Encode(EmptyStrings());
    bytes.replace(4, 4, Bytes({0xFF, 0xFE, 0xFF, 3, 0x00, 0xD8, 'A', 0, 0x00, 0xDC}));
    ASSERT_EQ(SettingsFile::Decode(bytes, loaded), SettingsLoad::Complete);
    EXPECT_EQ(loaded.outputFolder, r + "A" + r);
}

TEST(SettingsFile, StringsWithoutMarkerAreSingleByteText) {
    ConversionOptions o = EmptyStrings();
    std::string bytes = SettingsFile::Encode(o);
    // outputFolder as 4 single-byte characters, pdfPassword with a 16-bit length of 300.
    std::string password(300, 'p');
    std::string repl = Bytes({4, '/', 't', 0xE9, '/'}) + Bytes({0xFF, 0x2C, 0x01}) + password;
    bytes.replace(4, 8, repl);
    ConversionOptions loaded;
    ASSERT_EQ(SettingsFile::Decode(bytes, loaded), SettingsLoad::Complete);
    EXPECT_EQ(loaded.outputFolder, "/t\xC3\xA9/");
    EXPECT_EQ(loaded.pdfPassword, password);
    EXPECT_EQ(loaded.fontScaleText, "");
}

TEST(SettingsFile, FileCutAtEveryOffsetKeepsTheFieldsBeforeTheCut) {
    qm::LogCapture quiet;
    const ConversionOptions saved = Distinct();
    const ConversionOptions defaults;
    const std::string bytes = SettingsFile::Encode(saved);
    const auto want = Fields(saved), dflt = Fields(defaults);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        ConversionOptions loaded;
        ASSERT_EQ(SettingsFile::Decode(bytes.substr(0, cut), loaded), SettingsLoad::Damaged) << cut;
        const auto got = Fields(loaded);
        size_t end = 0;
        for (size_t k = 0; k < got.size(); ++k) {
            end += want[k].bytes;
            const auto &expected = end <= cut ? want[k] : dflt[k];
            ASSERT_EQ(got[k].value, expected.value) << "cut " << cut << " field " << k + 1;
        }
    }
    // The same through a real file: the program starts with what could be read.
    qmtest::TempDir dir;
    ASSERT_TRUE(qm::WriteFile(dir.File("cut.dat"), bytes.substr(0, bytes.size() / 2)));
    ConversionOptions loaded;
    EXPECT_EQ(SettingsFile::Load(loaded, dir.File("cut.dat")), SettingsLoad::Damaged);
    EXPECT_EQ(loaded.outputFolder, saved.outputFolder);
    EXPECT_EQ(loaded.previewExpanded, defaults.previewExpanded);
}

TEST(SettingsFile, HugeLengthPrefixesAreDamageNotAllocations) {
    qm::LogCapture quiet;
    const ConversionOptions defaults;
    const std::string head = Int32(7);
    const std::string tail = std::string(64, 'z');
    const std::string prefixes[] = {
        Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),  // 4 G code units
        Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}),
        Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF}),                          // 16-bit, too long
        Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}),                    // no marker, 32-bit
        Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF}),                          // marker twice
        Bytes({0xFE}),                                                        // one-byte length
    };
    const auto start = std::chrono::steady_clock::now();
    for (const std::string &p : prefixes) {
        ConversionOptions loaded;
        EXPECT_EQ(SettingsFile::Decode(head + p + tail, loaded), SettingsLoad::Damaged);
        EXPECT_EQ(loaded.reserved1, 7);
        EXPECT_EQ(loaded.outputFolder, defaults.outputFolder);
        EXPECT_EQ(loaded.previewExpanded, 1);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(SettingsFile, MissingOrOddFilesLeaveTheDefaults) {
    qmtest::TempDir dir;
    const ConversionOptions defaults;
    auto unchanged = [&](const std::string &path) {
        ConversionOptions loaded;
        EXPECT_EQ(SettingsFile::Load(loaded, path), SettingsLoad::Unreadable) << path;
        const auto got = Fields(loaded), want = Fields(defaults);
        for (size_t k = 0; k < got.size(); ++k) EXPECT_EQ(got[k].value, want[k].value) << path << " " << k;
    };
    {
        qm::LogCapture log;
        unchanged(dir.File("none.dat"));
        EXPECT_EQ(log.Text(), "");  // a first run says nothing
    }
    unchanged(dir.Path());  // a folder in its place
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    unchanged(dir.File("fifo"));  // a pipe with no writer must not block the start

    // An empty file is a damaged one: nothing read, defaults stay, and the program starts.
    qm::LogCapture quiet;
    ASSERT_TRUE(qm::WriteFile(dir.File("empty.dat"), ""));
    ConversionOptions loaded;
    EXPECT_EQ(SettingsFile::Load(loaded, dir.File("empty.dat")), SettingsLoad::Damaged);
    EXPECT_EQ(loaded.useMyDocuments, 1);
}

TEST(SettingsFile, UnwritableLocationFailsQuietly) {
    qmtest::TempDir dir;
    ASSERT_TRUE(qm::WriteFile(dir.File("plain"), "x"));
    // A file where the folder should be: neither the folder nor the file can be made.
    EXPECT_EQ(SettingsFile::Save(ConversionOptions(), dir.File("plain/Option20110626.dat")), SettingsSave::Unwritten);
    EXPECT_EQ(SettingsFile::Save(ConversionOptions(), ""), SettingsSave::Unwritten);
    // No temporary leftovers next to a saved file.
    ASSERT_EQ(SettingsFile::Save(ConversionOptions(), dir.File("s/Option20110626.dat")), SettingsSave::Saved);
    std::string out;
    qmtest::RunCommand("ls -A " + qmtest::ShellQuote(dir.File("s")), &out);
    EXPECT_EQ(out, "Option20110626.dat\n");
    // A settings file that is a link (kept with the user's other dotfiles) stays a link.
    ASSERT_EQ(symlink(dir.File("s/Option20110626.dat").c_str(), dir.File("link.dat").c_str()), 0);
    ConversionOptions changed;
    changed.bookTitle = "through the link";
    ASSERT_EQ(SettingsFile::Save(changed, dir.File("link.dat")), SettingsSave::Saved);
    struct stat st;
    ASSERT_EQ(lstat(dir.File("link.dat").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ConversionOptions loaded;
    ASSERT_EQ(SettingsFile::Load(loaded, dir.File("s/Option20110626.dat")), SettingsLoad::Complete);
    EXPECT_EQ(loaded.bookTitle, "through the link");
}

// The integers with a range: their place in the file and the values they may hold.
struct RangedInt {
    int number;
    int32_t ConversionOptions::*field;
    int32_t lo, hi;
};
const RangedInt kRangedInts[] = {
    {10, &ConversionOptions::useSourceMetadata, 0, 1},    {12, &ConversionOptions::fileListTask, 0, 1},
    {15, &ConversionOptions::ignoreImagesAll, 0, 1},      {16, &ConversionOptions::outputHiddenText, 0, 1},
    {17, &ConversionOptions::fixImageSize, 0, 1},         {18, &ConversionOptions::compatibleKindle, 0, 1},
    {19, &ConversionOptions::createCover, 0, 1},          {23, &ConversionOptions::sameAsSource, 0, 1},
    {24, &ConversionOptions::useMyDocuments, 0, 1},       {25, &ConversionOptions::overwriteExisting, 0, 1},
    {29, &ConversionOptions::parseMode, 0, 2},            {39, &ConversionOptions::taskKind, 0, 1},
    {43, &ConversionOptions::outputOutline, 0, 1},        {44, &ConversionOptions::importBookmarksToToc, 0, 1},
    {45, &ConversionOptions::outlinePosition, 0, 2},      {46, &ConversionOptions::mobiCompression, 0, 2},
    {47, &ConversionOptions::columnMode, 0, 2},           {48, &ConversionOptions::noOutput, 0, 1},
    {49, &ConversionOptions::ignoreImages, 0, 1},         {50, &ConversionOptions::ignoreVectorGraphics, 0, 1},
    {51, &ConversionOptions::paragraphCheck, 0, 1},       {52, &ConversionOptions::alignCheck, 0, 1},
    {53, &ConversionOptions::ignoreLinks, 0, 1},          {54, &ConversionOptions::automationPreview, 0, 1},
    {55, &ConversionOptions::previewWidth, 0, 32767},     {56, &ConversionOptions::previewHeight, 0, 32767},
    {57, &ConversionOptions::previewExpanded, 0, 1},
};

TEST(SettingsFile, ValuesOutOfRangeTakeTheirDefaultAndTheOtherFieldsAreKept) {
    const ConversionOptions saved = Distinct(), defaults;
    for (const RangedInt &r : kRangedInts) {
        const int64_t values[] = {int64_t{r.lo} - 1, int64_t{r.hi} + 1, INT32_MIN, INT32_MAX, r.lo, r.hi};
        for (int64_t value : values) {
            if (value < INT32_MIN || value > INT32_MAX) continue;
            const bool inside = value >= r.lo && value <= r.hi;
            ConversionOptions written = saved;
            written.*r.field = static_cast<int32_t>(value);
            ConversionOptions expected = written;
            if (!inside) expected.*r.field = defaults.*r.field;
            ConversionOptions loaded;
            std::string problems;
            ASSERT_EQ(SettingsFile::Decode(SettingsFile::Encode(written), loaded, &problems),
                      inside ? SettingsLoad::Complete : SettingsLoad::Damaged)
                << "field " << r.number << " = " << value;
            const auto got = Fields(loaded), want = Fields(expected);
            for (size_t k = 0; k < got.size(); ++k)
                ASSERT_EQ(got[k].value, want[k].value) << "field " << r.number << " = " << value << ": field " << k + 1;
            if (!inside) {
                EXPECT_NE(problems.find("field " + std::to_string(r.number) + " (" + std::to_string(value) + ")"),
                          std::string::npos)
                    << problems;
            }
        }
    }
}

TEST(SettingsFile, ParseModeSevenLoadsAsAutomaticAndIsReportedDamaged) {
    qmtest::TempDir dir;
    ConversionOptions written = Distinct();
    written.parseMode = 7;
    written.bookTitle = "after the check";
    ASSERT_TRUE(qm::WriteFile(dir.File("Option20110626.dat"), SettingsFile::Encode(written)));
    qm::LogCapture log;
    ConversionOptions loaded;
    EXPECT_EQ(SettingsFile::Load(loaded, dir.File("Option20110626.dat")), SettingsLoad::Damaged);
    EXPECT_EQ(loaded.parseMode, static_cast<int32_t>(qm::ParseMode::Automatic));
    // The fields before and after it are the file's.
    EXPECT_EQ(loaded.bookTitle, "after the check");
    EXPECT_EQ(loaded.taskKind, written.taskKind);
    EXPECT_EQ(loaded.previewHeight, written.previewHeight);
    EXPECT_NE(log.Text().find("damaged"), std::string::npos) << log.Text();
    EXPECT_NE(log.Text().find("field 29 (7)"), std::string::npos) << log.Text();
    // Saving writes the repaired value back.
    ASSERT_EQ(SettingsFile::Save(loaded, dir.File("Option20110626.dat")), SettingsSave::Saved);
    ConversionOptions again;
    EXPECT_EQ(SettingsFile::Load(again, dir.File("Option20110626.dat")), SettingsLoad::Complete);
}

TEST(SettingsFile, ListTextsLongerThanTheirListsTakeTheirDefault) {
    const ConversionOptions defaults;
    ConversionOptions written = Distinct();
    written.fontScaleText = "1.23456789";        // ten characters: kept
    written.imageDpiText = "72.00000001";        // eleven: too long
    ConversionOptions loaded;
    std::string problems;
    EXPECT_EQ(SettingsFile::Decode(SettingsFile::Encode(written), loaded, &problems), SettingsLoad::Damaged);
    EXPECT_EQ(loaded.fontScaleText, "1.23456789");
    EXPECT_EQ(loaded.imageDpiText, defaults.imageDpiText);
    EXPECT_EQ(loaded.bookTitle, written.bookTitle);  // the next string is read from the right place
    EXPECT_EQ(loaded.previewExpanded, written.previewExpanded);
    EXPECT_NE(problems.find("field 5 (11 characters)"), std::string::npos) << problems;

    // The same in the single-byte string form, and a character beyond 16 bits counts as two.
    std::string bytes = SettingsFile::Encode(EmptyStrings());
    const std::string narrow = Bytes({11}) + "1.000000001";
    bytes.replace(4 + 2 * 4, 4, narrow);  // fontScaleText, after the int and two empty strings
    ConversionOptions fromNarrow;
    EXPECT_EQ(SettingsFile::Decode(bytes, fromNarrow), SettingsLoad::Damaged);
    EXPECT_EQ(fromNarrow.fontScaleText, defaults.fontScaleText);
    EXPECT_EQ(fromNarrow.imageDpiText, "");
    ConversionOptions wide = EmptyStrings();
    wide.fontScaleText = "1.0000000\xF0\x9F\x93\x96";  // nine plus a surrogate pair
    EXPECT_EQ(SettingsFile::Decode(SettingsFile::Encode(wide), loaded), SettingsLoad::Damaged);
}

} // namespace
