#include "options/settings_file.h"


#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/log.h"
#include "platform/paths.h"
#include "platform/utf8.h"

namespace qm {

namespace {

// A settings file is a few hundred bytes; anything past this is not read.
constexpr size_t kMaxFileBytes = size_t(64) << 20;

constexpr char32_t kReplacement = 0xFFFD;

// ---- UTF-8 <-> UTF-16 -------------------------------------------------------------------

// Decodes UTF-8 into UTF-16 code units. Every byte that does not start a well-formed sequence
// (overlong forms, surrogates and values above U+10FFFF included) becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string &text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t decoded = 0;
        size_t len = DecodeUtf8(text, i, decoded);
        char32_t cp = len ? static_cast<char32_t>(decoded) : kReplacement;
        i += len ? len : 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

// Decodes `units` UTF-16LE code units at `p`; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(const unsigned char *p, size_t units) {
    std::string out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        char32_t u = static_cast<char32_t>(p[2 * i] | (p[2 * i + 1] << 8));
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            char32_t low = static_cast<char32_t>(p[2 * i + 2] | (p[2 * i + 3] << 8));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = kReplacement;
        AppendUtf8(out, u);
    }
    return out;
}

// ---- field visitors ---------------------------------------------------------------------

using Options = ConversionOptions;

// The values a stored integer may hold. Anything else cannot have come from the program.
struct IntRange {
    int32_t lo, hi;
};
constexpr IntRange kAnyInt{INT32_MIN, INT32_MAX};  // reserved fields: nothing reads them
constexpr IntRange kFlag{0, 1};
constexpr IntRange kTask{0, 1};                    // TaskKind (the third task is never offered)
constexpr IntRange kThreeWay{0, 2};                // parse mode, outline position, mobi output, columns
// A preview window side in pixels; 0 means never set. Window sides beyond the 16-bit range of
// X11 coordinates cannot be shown.
constexpr IntRange kWindowSide{0, 32767};

constexpr uint64_t kAnyLength = UINT64_MAX;
// The font scale and image DPI lists take at most 10 characters.
constexpr uint64_t kListTextUnits = 10;

class Writer {
public:
    explicit Writer(const Options &o) : o_(o) {}

    void Int(int32_t Options::*field, IntRange = kAnyInt) {
        Put32(static_cast<uint32_t>(o_.*field));
    }
    template <size_t N>
    void Element(std::array<int32_t, N> Options::*field, size_t i) {
        Put32(static_cast<uint32_t>((o_.*field)[i]));
    }
    void Str(std::string Options::*field, uint64_t = kAnyLength) {
        std::u16string units = Utf8ToUtf16(o_.*field);
        bytes_.push_back('\xFF');
        Put16(0xFFFE);
        // Longer texts than 32 bits can count do not occur; cut rather than write a lie.
        size_t n = units.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : units.size();
        if (n < 0xFF) {
            bytes_.push_back(static_cast<char>(n));
        } else if (n < 0xFFFE) {
            bytes_.push_back('\xFF');
            Put16(static_cast<uint16_t>(n));
        } else {
            bytes_.push_back('\xFF');
            Put16(0xFFFF);
            Put32(static_cast<uint32_t>(n));
        }
        for (size_t i = 0; i < n; ++i) Put16(units[i]);
    }
    std::string Take() { return std::move(bytes_); }

private:
    void Put16(uint16_t v) {
        bytes_.push_back(static_cast<char>(v & 0xFF));
        bytes_.push_back(static_cast<char>(v >> 8));
    }
    void Put32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    const Options &o_;
    std::string bytes_;
};

// Reads the fields into the options, each assigned as soon as it is complete. A value outside its
// range takes its default; reading goes on with the next field. A cut or malformed field ends the
// reading, and it and the fields after it keep what they held.
class Reader {
public:
    Reader(const std::string &bytes, Options &o)
        : o_(o), p_(reinterpret_cast<const unsigned char *>(bytes.data())), end_(p_ + bytes.size()) {}

    bool Damaged() const { return stopped_ || !problems_.empty(); }
    // What was wrong, for the log.
    std::string Problems() const {
        std::string text = problems_;
        if (stopped_)
            text += (text.empty() ? "" : "; ") + std::string("cut or malformed at field ") + std::to_string(stopField_) +
                    "; from there on the fields keep their values";
        return text;
    }

    void Int(int32_t Options::*field, IntRange range = kAnyInt) {
        ++number_;
        uint32_t v;
        if (stopped_ || !Get32(v)) return Stop();
        int32_t value = static_cast<int32_t>(v);
        if (value < range.lo || value > range.hi) {
            OutOfRange(std::to_string(value));
            value = defaults_.*field;
        }
        o_.*field = value;
    }

    template <size_t N>
    void Element(std::array<int32_t, N> Options::*field, size_t i) {
        ++number_;
        uint32_t v;
        if (stopped_ || !Get32(v)) return Stop();
        (o_.*field)[i] = static_cast<int32_t>(v);
    }

    // `maxUnits`: the longest text the field may hold, in UTF-16 code units.
    void Str(std::string Options::*field, uint64_t maxUnits = kAnyLength) {
        ++number_;
        if (stopped_) return;
        bool wide = false;
        uint64_t length = 0;
        int form = LengthPrefix(length);
        if (form == kMarker) {
            wide = true;
            form = LengthPrefix(length);
        }
        // A second marker is no length at all.
        if (form != kLength) return Stop();
        uint64_t size = wide ? length * 2 : length;
        // A length beyond the end of the file is damage, never an allocation.
        if (size > static_cast<uint64_t>(end_ - p_)) return Stop();
        if (length > maxUnits) {
            OutOfRange(std::to_string(length) + " characters");
            o_.*field = defaults_.*field;
        } else if (wide) {
            o_.*field = Utf16LeToUtf8(p_, static_cast<size_t>(length));
        } else {
            // Single-byte text: taken as Latin-1, whose bytes are the first 256 code points.
            std::string text;
            text.reserve(static_cast<size_t>(length) * 2);
            for (uint64_t i = 0; i < length; ++i) AppendUtf8(text, p_[i]);
            o_.*field = std::move(text);
        }
        p_ += size;
    }

private:
    enum { kFailed, kMarker, kLength };

    int LengthPrefix(uint64_t &length) {
        uint8_t b;
        if (!Get8(b)) return kFailed;
        if (b < 0xFF) {
            length = b;
            return kLength;
        }
        uint16_t w;
        if (!Get16(w)) return kFailed;
        if (w == 0xFFFE) return kMarker;
        if (w < 0xFFFF) {
            length = w;
            return kLength;
        }
        uint32_t d;
        if (!Get32(d)) return kFailed;
        length = d;
        return kLength;
    }
    bool Get8(uint8_t &v) {
        if (end_ - p_ < 1) return false;
        v = *p_++;
        return true;
    }
    bool Get16(uint16_t &v) {
        if (end_ - p_ < 2) return false;
        v = static_cast<uint16_t>(p_[0] | (p_[1] << 8));
        p_ += 2;
        return true;
    }
    bool Get32(uint32_t &v) {
        if (end_ - p_ < 4) return false;
        v = static_cast<uint32_t>(p_[0]) | (static_cast<uint32_t>(p_[1]) << 8) |
            (static_cast<uint32_t>(p_[2]) << 16) | (static_cast<uint32_t>(p_[3]) << 24);
        p_ += 4;
        return true;
    }
    void Stop() {
        if (!stopped_) stopField_ = number_;
        stopped_ = true;
    }
    void OutOfRange(const std::string &value) {
        problems_ += (problems_.empty() ? "" : "; ") + std::string("field ") + std::to_string(number_) + " (" + value +
                     ") is out of range and takes its default";
    }

    Options &o_;
    const Options defaults_;
    const unsigned char *p_;
    const unsigned char *end_;
    int number_ = 0;  // the field being read, from 1
    bool stopped_ = false;
    int stopField_ = 0;
    std::string problems_;
};

// The one list of the file's fields, in file order, with the values each may hold; used for
// writing and for reading.
template <class Visitor>
void VisitFields(Visitor &v) {
    v.Int(&Options::reserved1);                              // 1
    v.Str(&Options::outputFolder);                           // 2
    v.Str(&Options::pdfPassword);
    v.Str(&Options::fontScaleText, kListTextUnits);
    v.Str(&Options::imageDpiText, kListTextUnits);
    v.Str(&Options::userPassword);
    v.Str(&Options::bookTitle);
    v.Str(&Options::bookCreator);
    v.Str(&Options::bookSubject);                            // 9
    v.Int(&Options::useSourceMetadata, kFlag);               // 10
    v.Str(&Options::bookAuthor);                             // 11
    v.Int(&Options::fileListTask, kTask);                    // 12
    v.Int(&Options::reserved13);
    v.Int(&Options::reserved14);
    v.Int(&Options::ignoreImagesAll, kFlag);                 // 15
    v.Int(&Options::outputHiddenText, kFlag);
    v.Int(&Options::fixImageSize, kFlag);
    v.Int(&Options::compatibleKindle, kFlag);
    v.Int(&Options::createCover, kFlag);                     // 19
    v.Str(&Options::reserved20);
    v.Int(&Options::reserved21);
    v.Int(&Options::reserved22);
    v.Int(&Options::sameAsSource, kFlag);                    // 23
    v.Int(&Options::useMyDocuments, kFlag);
    v.Int(&Options::overwriteExisting, kFlag);
    v.Int(&Options::reserved26);
    v.Int(&Options::reserved27);
    v.Int(&Options::reserved28);
    v.Int(&Options::parseMode, kThreeWay);                   // 29
    for (size_t i = 0; i < 9; ++i) v.Element(&Options::reserved30to38, i);
    v.Int(&Options::taskKind, kTask);                        // 39
    for (size_t i = 0; i < 3; ++i) v.Element(&Options::reserved40to42, i);
    v.Int(&Options::outputOutline, kFlag);                   // 43
    v.Int(&Options::importBookmarksToToc, kFlag);
    v.Int(&Options::outlinePosition, kThreeWay);
    v.Int(&Options::mobiCompression, kThreeWay);
    v.Int(&Options::columnMode, kThreeWay);                  // 47
    v.Int(&Options::noOutput, kFlag);
    v.Int(&Options::ignoreImages, kFlag);
    v.Int(&Options::ignoreVectorGraphics, kFlag);
    v.Int(&Options::paragraphCheck, kFlag);
    v.Int(&Options::alignCheck, kFlag);
    v.Int(&Options::ignoreLinks, kFlag);                     // 53
    v.Int(&Options::automationPreview, kFlag);
    v.Int(&Options::previewWidth, kWindowSide);
    v.Int(&Options::previewHeight, kWindowSide);
    v.Int(&Options::previewExpanded, kFlag);                 // 57
}

// Reads at most kMaxFileBytes of a regular file. Anything else (missing, a folder, a pipe that
// would block) is unreadable.
bool ReadSettingsBytes(const std::string &path, std::string &bytes) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes.clear();
    char buf[16384];
    size_t got;
    while (bytes.size() < kMaxFileBytes && (got = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, std::min(got, kMaxFileBytes - bytes.size()));
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

} // namespace

std::string SettingsFile::DefaultPath() { return ConfigFolder() + "Option20110626.dat"; }

std::string SettingsFile::Encode(const ConversionOptions &options) {
    Writer writer(options);
    VisitFields(writer);
    return writer.Take();
}

SettingsLoad SettingsFile::Decode(const std::string &bytes, ConversionOptions &options, std::string *problems) {
    Reader reader(bytes, options);
    VisitFields(reader);
    if (problems) *problems = reader.Problems();
    return reader.Damaged() ? SettingsLoad::Damaged : SettingsLoad::Complete;
}

SettingsLoad SettingsFile::Load(ConversionOptions &options, const std::string &path) {
    std::string bytes;
    if (!ReadSettingsBytes(path, bytes)) return SettingsLoad::Unreadable;
    std::string problems;
    const SettingsLoad result = Decode(bytes, options, &problems);
    if (result == SettingsLoad::Damaged) LogWarning("settings file '" + path + "' is damaged: " + problems);
    return result;
}

SettingsSave SettingsFile::Save(const ConversionOptions &options, const std::string &path) {
    if (path.empty()) return SettingsSave::Unwritten;
    const std::string bytes = Encode(options);
    std::string folder = FolderPart(path);
    if (folder.empty()) folder = "./";
    CreateFolders(folder);
    // Write a sibling file and move it over the old one, so that a failed or interrupted write
    // never leaves half a settings file behind. A symbolic link is written through instead, so
    // that the link stays.
    struct stat st;
    const bool isLink = lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    std::string temp = isLink ? std::string() : CreateUniqueTempFile(FileNamePart(path) + ".", folder);
    if (!temp.empty()) {
        if (WriteFile(temp, bytes) && std::rename(temp.c_str(), path.c_str()) == 0) return SettingsSave::Saved;
        std::remove(temp.c_str());
    }
    // The folder may refuse new files while the file itself is writable.
    return WriteFile(path, bytes) ? SettingsSave::Saved : SettingsSave::Unwritten;
}

} // namespace qm
