// ZIP writer: archives are read back by an independent reader (zip_reader.h) and by Info-ZIP's
// unzip and Python's zipfile.
#include <gtest/gtest.h>

#include <ctime>
#include <dirent.h>
#include <random>
#include <sys/stat.h>
#include <utime.h>

#include "epub/zip_writer.h"
#include "platform/paths.h"
#include "support/temp_dir.h"
#include "zip_reader.h"

namespace {

using qm::ZipWriter;
using qmtest::ReadZipArchive;
using qmtest::ShellQuote;
using qmtest::TempDir;

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (char &c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

std::string Slurp(const std::string &path) {
    std::string s;
    qm::ReadFile(path, s);
    return s;
}

std::vector<std::string> FolderNames(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

void SetMTime(const std::string &path, int year, int mon, int day, int h, int m, int s) {
    struct tm tm {};
    tm.tm_year = year - 1900, tm.tm_mon = mon - 1, tm.tm_mday = day, tm.tm_hour = h, tm.tm_min = m, tm.tm_sec = s;
    tm.tm_isdst = -1;
    struct utimbuf times;
    times.actime = times.modtime = mktime(&tm);
    ASSERT_EQ(0, utime(path.c_str(), &times));
}

// The layout the book needs plus content that crosses the 64 KiB read blocks and the writer's
// 1 MiB output buffer, an incompressible file and an empty one.
TEST(EpubZipWriter, EntriesRoundTripWithExactHeaders) {
    TempDir dir;
    ASSERT_TRUE(qm::CreateFolders(dir.File("OPS")));
    ASSERT_TRUE(qm::WriteFile(dir.File("mimetype"), "application/epub+zip"));
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) text += "<p>Paragraph " + std::to_string(i) + " of the page.</p>\n";
    ASSERT_TRUE(qm::WriteFile(dir.File("OPS/page-1.html"), text));
    const std::string noise = RandomBytes(3 * 1024 * 1024 + 17, 7);
    ASSERT_TRUE(qm::WriteFile(dir.File("OPS/image-1.png"), noise));
    ASSERT_TRUE(qm::WriteFile(dir.File("OPS/empty.css"), ""));
    ASSERT_TRUE(qm::WriteFile(dir.File("OPS/after.html"), "tail"));
    SetMTime(dir.File("OPS/page-1.html"), 2021, 3, 4, 5, 6, 8);
    chmod(dir.File("OPS/after.html").c_str(), 0444);

    ZipWriter zip;
    ASSERT_EQ(ZipWriter::kOk, zip.Create("book.epub", dir.Path()));
    EXPECT_EQ(ZipWriter::kOk, zip.AddFile("mimetype", 0));
    EXPECT_EQ(ZipWriter::kOk, zip.AddFile("OPS/page-1.html", 8));
    EXPECT_EQ(ZipWriter::kOk, zip.AddFile("OPS/image-1.png", 8));
    EXPECT_EQ(ZipWriter::kOk, zip.AddFile("OPS/empty.css", 8));
    EXPECT_EQ(ZipWriter::kOk, zip.AddFile("OPS/after.html", 8));
    ASSERT_EQ(ZipWriter::kOk, zip.Close());

    const std::string bytes = Slurp(dir.File("book.epub"));
    auto info = ReadZipArchive(bytes);
    ASSERT_TRUE(info.ok) << info.error;
    ASSERT_EQ(5u, info.entries.size());
    EXPECT_EQ(0, info.commentLength);

    // mimetype: first, at offset 0, stored, flag 0, no extra field, its bytes right after the name.
    const auto &m = info.entries[0];
    EXPECT_EQ("mimetype", m.name);
    EXPECT_EQ(0u, m.localOffset);
    EXPECT_EQ(0, m.method);
    EXPECT_EQ(0, m.localMethod);
    EXPECT_EQ(0, m.flags);
    EXPECT_EQ(0, m.localFlags);
    EXPECT_EQ(0, m.localExtraLength);
    EXPECT_EQ("mimetype", bytes.substr(30, 8));
    EXPECT_EQ("application/epub+zip", bytes.substr(38, 20));

    const char *names[] = {"mimetype", "OPS/page-1.html", "OPS/image-1.png", "OPS/empty.css", "OPS/after.html"};
    const std::string contents[] = {"application/epub+zip", text, noise, "", "tail"};
    for (size_t i = 0; i < 5; ++i) {
        const auto &e = info.entries[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(names[i], e.name);
        EXPECT_TRUE(e.data == contents[i]);
        EXPECT_EQ(20, e.versionNeeded);
        EXPECT_EQ(20, e.localVersion);
        EXPECT_EQ(20, e.versionMadeBy & 0xFF);
        EXPECT_EQ(0, e.centralExtraLength);
        EXPECT_EQ(0, e.commentLength);
        // Sizes and CRC are in the local header itself: no data descriptor.
        EXPECT_EQ(0, e.localFlags & 0x0009);
        EXPECT_EQ(e.crc, e.localCrc);
        EXPECT_EQ(e.size, e.localSize);
        EXPECT_EQ(e.compressedSize, e.localCompressedSize);
        if (i > 0) {
            EXPECT_EQ(8, e.method);
            EXPECT_EQ(2, e.flags);
            EXPECT_EQ(2, e.localFlags);
        }
        struct stat st;
        ASSERT_EQ(0, stat((dir.Path() + names[i]).c_str(), &st));
        EXPECT_EQ(st.st_mode & 0xFFFF, e.externalAttributes >> 16);
    }
    EXPECT_LT(info.entries[1].compressedSize, text.size() / 4);
    // An empty file: deflated, size 0, CRC 0.
    EXPECT_EQ(8, info.entries[3].method);
    EXPECT_EQ(0u, info.entries[3].size);
    EXPECT_EQ(0u, info.entries[3].crc);
    // Time and date of the source file in MS-DOS form; a read-only file carries the DOS read-only bit.
    EXPECT_EQ((5 << 11) | (6 << 5) | 4, info.entries[1].dosTime);
    EXPECT_EQ(((2021 - 1980) << 9) | (3 << 5) | 4, info.entries[1].dosDate);
    EXPECT_EQ(1u, info.entries[4].externalAttributes & 1);
    EXPECT_EQ(0u, info.entries[1].externalAttributes & 1);

    // Two other readers agree.
    std::string out;
    EXPECT_EQ(0, qmtest::RunCommand("unzip -t " + ShellQuote(dir.File("book.epub")), &out)) << out;
    EXPECT_EQ(0, qmtest::RunCommand("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
                                    "sys.exit(1 if z.testzip() else 0)\" " +
                                        ShellQuote(dir.File("book.epub")),
                                    &out))
        << out;
    // Nothing but the sources and the book is left in the folder.
    auto left = FolderNames(dir.Path());
    std::sort(left.begin(), left.end());
    EXPECT_EQ((std::vector<std::string>{"OPS", "book.epub", "mimetype"}), left);
}

TEST(EpubZipWriter, LevelsGiveTheirFlagsAndMethods) {
    TempDir dir;
    ASSERT_TRUE(qm::WriteFile(dir.File("a.txt"), std::string(5000, 'a') + "b"));
    ZipWriter zip;
    ASSERT_EQ(ZipWriter::kOk, zip.Create(dir.File("levels.zip")));
    // The same file under different levels: levels may change between entries.
    const int levels[] = {9, 0, 1, 2, 5, 8};
    for (int level : levels) ASSERT_EQ(ZipWriter::kOk, zip.AddFile(dir.File("a.txt"), level));
    ASSERT_EQ(ZipWriter::kOk, zip.Close());
    auto info = ReadZipArchive(Slurp(dir.File("levels.zip")));
    ASSERT_TRUE(info.ok) << info.error;
    ASSERT_EQ(6u, info.entries.size());
    const int flags[] = {2, 0, 6, 4, 0, 2};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(flags[i], info.entries[i].flags) << "level " << levels[i];
        EXPECT_EQ(levels[i] == 0 ? 0 : 8, info.entries[i].method);
        EXPECT_EQ(5001u, info.entries[i].size);
    }
    // An absolute name loses its leading "/" in the archive.
    EXPECT_EQ(dir.File("a.txt").substr(1), info.entries[0].name);
}

TEST(EpubZipWriter, ExistingArchiveIsReplacedAndMissingFileLeftOut) {
    TempDir dir;
    ASSERT_TRUE(qm::WriteFile(dir.File("book.epub"), RandomBytes(200000, 3)));
    ASSERT_TRUE(qm::WriteFile(dir.File("one.txt"), "one"));
    ASSERT_TRUE(qm::WriteFile(dir.File("two.txt"), "two"));
    ZipWriter zip;
    ASSERT_EQ(ZipWriter::kOk, zip.Create("book.epub", dir.Path()));
    EXPECT_EQ(ZipWriter::kOk, zip.AddFile("one.txt", 8));
    EXPECT_EQ(ZipWriter::kSourceMissing, zip.AddFile("missing.txt", 8));
    EXPECT_EQ(ZipWriter::kSourceMissing, zip.AddFile("nofolder/x.txt", 8));
    EXPECT_EQ(ZipWriter::kOk, zip.AddFile("two.txt", 8));
    EXPECT_EQ(2u, zip.EntryCount());
    ASSERT_EQ(ZipWriter::kOk, zip.Close());
    const std::string bytes = Slurp(dir.File("book.epub"));
    EXPECT_LT(bytes.size(), 1000u);
    auto info = ReadZipArchive(bytes);
    ASSERT_TRUE(info.ok) << info.error;
    ASSERT_EQ(2u, info.entries.size());
    EXPECT_EQ("one.txt", info.entries[0].name);
    EXPECT_EQ("two", info.entries[1].data);
    std::string out;
    EXPECT_EQ(0, qmtest::RunCommand("unzip -t " + ShellQuote(dir.File("book.epub")), &out)) << out;
}

TEST(EpubZipWriter, NonAsciiNamesCarryTheUtf8Flag) {
    TempDir dir;
    const std::string name = "Caf\xC3\xA9 \xE7\xAB\xA0.html"; // "Café 章.html"
    ASSERT_TRUE(qm::WriteFile(dir.File(name), "x"));
    ASSERT_TRUE(qm::WriteFile(dir.File("plain.html"), "y"));
    ZipWriter zip;
    ASSERT_EQ(ZipWriter::kOk, zip.Create("u.zip", dir.Path()));
    ASSERT_EQ(ZipWriter::kOk, zip.AddFile(name, 8));
    ASSERT_EQ(ZipWriter::kOk, zip.AddFile(name, 0));
    ASSERT_EQ(ZipWriter::kOk, zip.AddFile("plain.html", 8));
    ASSERT_EQ(ZipWriter::kOk, zip.Close());
    auto info = ReadZipArchive(Slurp(dir.File("u.zip")));
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(0x0800 | 2, info.entries[0].flags);
    EXPECT_EQ(0x0800 | 2, info.entries[0].localFlags);
    EXPECT_EQ(0x0800, info.entries[1].flags);
    EXPECT_EQ(2, info.entries[2].flags);
    // Python decodes the name as UTF-8 only because of the flag.
    std::string out;
    ASSERT_EQ(0, qmtest::RunCommand("python3 -c \"import zipfile,sys; "
                                    "sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).namelist()[0].encode())\" " +
                                        ShellQuote(dir.File("u.zip")),
                                    &out));
    EXPECT_EQ(name, out);
}

TEST(EpubZipWriter, FailuresLeaveNoArchiveBehind) {
    TempDir dir;
    ASSERT_TRUE(qm::WriteFile(dir.File("a.txt"), "a"));
    ZipWriter zip;
    // A folder that does not exist, a path below a regular file, and a name taken by a folder.
    EXPECT_EQ(ZipWriter::kCreateFailed, zip.Create(dir.File("nofolder/book.epub")));
    EXPECT_EQ(ZipWriter::kCreateFailed, zip.Create(dir.File("a.txt/book.epub")));
    ASSERT_TRUE(qm::CreateFolder(dir.File("taken.epub")));
    EXPECT_EQ(ZipWriter::kCreateFailed, zip.Create("taken.epub", dir.Path()));
    EXPECT_LT(zip.AddFile("a.txt", 8), 0);
    EXPECT_FALSE(zip.IsOpen());

    // An archive abandoned half-way leaves the earlier file of that name untouched, and no
    // temporary file.
    ASSERT_TRUE(qm::WriteFile(dir.File("old.epub"), "old"));
    {
        ZipWriter abandoned;
        ASSERT_EQ(ZipWriter::kOk, abandoned.Create("old.epub", dir.Path()));
        ASSERT_EQ(ZipWriter::kOk, abandoned.AddFile("a.txt", 8));
    }
    EXPECT_EQ("old", Slurp(dir.File("old.epub")));
    auto left = FolderNames(dir.Path());
    std::sort(left.begin(), left.end());
    EXPECT_EQ((std::vector<std::string>{"a.txt", "old.epub", "taken.epub"}), left);
}

TEST(EpubZipWriter, EntryLimitIsAnErrorNotACorruptArchive) {
    TempDir dir;
    ASSERT_TRUE(qm::WriteFile(dir.File("e"), ""));
    ZipWriter zip;
    ASSERT_EQ(ZipWriter::kOk, zip.Create("many.zip", dir.Path()));
    for (size_t i = 0; i < ZipWriter::kMaxEntries; ++i) ASSERT_EQ(ZipWriter::kOk, zip.AddFile("e", 0));
    EXPECT_EQ(ZipWriter::kLimitExceeded, zip.AddFile("e", 0));
    EXPECT_EQ(ZipWriter::kLimitExceeded, zip.AddFile("e", 0)); // the archive stays failed
    EXPECT_EQ(ZipWriter::kLimitExceeded, zip.Close());
    EXPECT_FALSE(qm::FileExists(dir.File("many.zip")));
}

TEST(EpubZipWriter, FullLimitOfEntriesCloses) {
    TempDir dir;
    ASSERT_TRUE(qm::WriteFile(dir.File("e"), "x"));
    ZipWriter zip;
    ASSERT_EQ(ZipWriter::kOk, zip.Create("many.zip", dir.Path()));
    for (size_t i = 0; i < ZipWriter::kMaxEntries; ++i) ASSERT_EQ(ZipWriter::kOk, zip.AddFile("e", 0));
    ASSERT_EQ(ZipWriter::kOk, zip.Close());
    auto info = ReadZipArchive(Slurp(dir.File("many.zip")));
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(ZipWriter::kMaxEntries, info.entries.size());
}

TEST(EpubZipWriter, DosDateTimeClampsToTheFormat) {
    uint16_t t, d;
    ZipWriter::DosDateTime(0, t, d); // 1970 is before the format begins
    EXPECT_EQ(0, t);
    EXPECT_EQ((1 << 5) | 1, d);
}

} // namespace
