#pragma once
// A small ZIP archive writer for the book container: files from disk are added one by one under
// relative names, stored or deflated (zlib raw deflate), and the central directory is written when
// the archive is closed. Nothing is ever read back.
//
// Entries have no data descriptor and no extra field: the local header's CRC-32 and sizes are
// patched in once the data is written, so that the first entry ("mimetype", stored) sits at offset 0
// with its data right after its name, as EPUB readers require.
//
// The archive is written under a temporary name next to its destination and renamed into place by
// Close(), so a failed or abandoned archive never leaves a half-written file under the real name.
// Errors are returned as codes; nothing is thrown.
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

class ZipWriter {
public:
    // Result codes of Create, AddFile and Close.
    static constexpr int kOk = 0;
    static constexpr int kSourceMissing = 1;  // AddFile: the file does not exist; nothing was added
    static constexpr int kCreateFailed = -1;  // the archive file cannot be created
    static constexpr int kWriteFailed = -2;   // writing the archive failed
    static constexpr int kReadFailed = -3;    // a source file exists but could not be read
    static constexpr int kDeflateFailed = -4; // the deflate stream reported an error
    static constexpr int kLimitExceeded = -5; // more than 65535 entries, a name over 65535 bytes, or
                                              // a size or offset beyond the 4 GiB of the format
    static constexpr int kNotOpen = -6;       // no archive is open

    static constexpr size_t kMaxEntries = 65535;
    static constexpr size_t kReadBlock = 65535;

    ZipWriter();
    ~ZipWriter(); // an archive still open is discarded
    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    // Starts a new archive at `path`; an existing file of that name is replaced when Close()
    // succeeds. A relative `path`, and every relative path given to AddFile, is taken relative to
    // `baseFolder` (the current directory when it is empty).
    int Create(const std::string &path, const std::string &baseFolder = std::string());

    // Adds the file at `relativePath` as an entry of that name (leading "/" removed). `level` 0
    // stores the data; 1..9 deflate at that level. Returns kOk, kSourceMissing (archive unchanged
    // and still usable) or an error code; after an error the archive is unusable and Close() fails.
    int AddFile(const std::string &relativePath, int level);

    // Writes the central directory (entries in the order they were added) and the end record,
    // closes the file and moves it to its final name.
    int Close();

    // Abandons the archive: the temporary file is removed, the destination is left untouched.
    void Discard();

    bool IsOpen() const { return fd_ >= 0; }
    size_t EntryCount() const { return entryCount_; }

    // General-purpose flag of an entry for a compression level (bits 1 and 2).
    static uint16_t LevelFlags(int level);
    // MS-DOS time (high 16 bits) and date (low 16 bits) of a Unix time, in local time;
    // times before 1980 give 1980-01-01 00:00.
    static void DosDateTime(int64_t unixTime, uint16_t &dosTime, uint16_t &dosDate);

private:
    int Fail(int code);
    bool Put(const void *data, size_t size);
    bool Flush();
    bool DeflateChunk(const unsigned char *data, size_t size, bool finish, uint64_t &compressed);

    int fd_ = -1;
    int error_ = kOk;
    std::string finalPath_;
    std::string tempPath_;
    std::string base_;
    uint64_t position_ = 0;         // bytes written to the archive so far (including the buffer)
    uint64_t flushed_ = 0;          // bytes already handed to the file
    std::vector<unsigned char> out_;
    std::vector<unsigned char> central_;
    size_t entryCount_ = 0;
    std::vector<unsigned char> readBuf_;
    std::vector<unsigned char> deflateBuf_;
    void *stream_ = nullptr;        // z_stream, kept for reuse between entries
    int streamLevel_ = -1;
};

} // namespace qm
