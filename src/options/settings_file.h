#pragma once
// The settings file "Option20110626.dat": a flat sequence of 57 fields (47 little-endian 32-bit
// integers and 10 strings) with no header. Strings are written as the byte 0xFF, the 16-bit value
// 0xFFFE, a length in UTF-16 code units (one byte below 255; else 0xFF and 16 bits below 0xFFFE;
// else 0xFF, 0xFFFF and 32 bits) and the UTF-16LE code units. Strings without the 0xFFFE marker
// are read as single-byte (Latin-1) text. Every field has the values it may hold (flags 0 or 1,
// parse mode 0-2, ...); a value outside them takes its default and makes the file a damaged one.
#include <string>

#include "options/conversion_options.h"

namespace qm {

// How reading a settings file (Load, Decode) ended.
enum class SettingsLoad {
    Complete,    // every field was read
    Unreadable,  // no file (or not a readable regular file): nothing changed
    Damaged,     // cut, malformed, or a value out of range (see Load)
};

// How writing a settings file (Save) ended.
enum class SettingsSave {
    Saved,     // the whole file is in place
    Unwritten, // the path is empty or the file could not be written; a previous file stays
};

class SettingsFile {
public:

    // ConfigFolder() + "Option20110626.dat".
    static std::string DefaultPath();

    // Reads the file into `options`, each field assigned as soon as it has been read completely.
    // A missing file leaves the options alone; a truncated or malformed file keeps the fields read
    // before the damage; a field whose value is out of its range takes its default and the fields
    // after it are still read. A damaged file is reported in the log. Never fails harder than that.
    static SettingsLoad Load(ConversionOptions &options, const std::string &path = DefaultPath());
    // Writes all fields, creating the folder when needed. The file is replaced as a whole, so a
    // failed write leaves the previous file.
    static SettingsSave Save(const ConversionOptions &options, const std::string &path = DefaultPath());

    // The file's bytes for `options`, and the reverse.
    static std::string Encode(const ConversionOptions &options);
    // `problems` receives what was wrong with a damaged file (empty for a complete one).
    static SettingsLoad Decode(const std::string &bytes, ConversionOptions &options, std::string *problems = nullptr);
};

} // namespace qm
