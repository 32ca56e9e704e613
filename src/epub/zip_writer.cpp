#include "epub/zip_writer.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "platform/paths.h"

namespace qm {
namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint16_t kVersionNeeded = 20;
// Upper byte 3: the external attributes hold a Unix mode (high 16 bits); lower byte: version 2.0.
constexpr uint16_t kVersionMadeBy = (3 << 8) | 20;
constexpr uint16_t kUtf8NameFlag = 0x0800;
constexpr size_t kOutBufferSize = 1 << 20;
constexpr uint64_t kMax32 = 0xFFFFFFFFull;

void Put16(unsigned char *p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

bool WriteAll(int fd, const unsigned char *data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool PwriteAll(int fd, const unsigned char *data, size_t size, uint64_t offset) {
    while (size > 0) {
        ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool IsAscii(const std::string &text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

z_stream *Z(void *p) { return static_cast<z_stream *>(p); }

} // namespace

ZipWriter::ZipWriter() = default;

ZipWriter::~ZipWriter() {
    Discard();
    if (stream_) {
        deflateEnd(Z(stream_));
        delete Z(stream_);
    }
}

uint16_t ZipWriter::LevelFlags(int level) {
    if (level == 8 || level == 9) return 2;
    if (level == 2) return 4;
    if (level == 1) return 6;
    return 0;
}

void ZipWriter::DosDateTime(int64_t unixTime, uint16_t &dosTime, uint16_t &dosDate) {
    time_t t = static_cast<time_t>(unixTime);
    struct tm tm;
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) {
        dosTime = 0;
        dosDate = (1 << 5) | 1; // 1980-01-01
        return;
    }
    if (tm.tm_year > 80 + 127) { // the format ends in 2107
        dosTime = (23 << 11) | (59 << 5) | 29;
        dosDate = static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
        return;
    }
    dosTime = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    dosDate = static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

int ZipWriter::Fail(int code) {
    if (error_ == kOk) error_ = code;
    return code;
}

int ZipWriter::Create(const std::string &path, const std::string &baseFolder) {
    Discard();
    error_ = kOk;
    entryCount_ = 0;
    central_.clear();
    position_ = flushed_ = 0;
    base_ = WithTrailingSlash(baseFolder);
    if (path.empty()) return Fail(kCreateFailed);
    finalPath_ = (path[0] == '/' ? path : base_ + path);

    // An existing folder of that name could never be replaced by the finished archive.
    struct stat st;
    if (stat(finalPath_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Fail(kCreateFailed);

    std::random_device rd;
    for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(rd()));
        tempPath_ = FolderPart(finalPath_) + "." + FileNamePart(finalPath_) + ".part-" + suffix;
        fd_ = open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        tempPath_.clear();
        return Fail(kCreateFailed);
    }
    out_.clear();
    out_.reserve(kOutBufferSize);
    return kOk;
}

bool ZipWriter::Flush() {
    if (out_.empty()) return true;
    if (!WriteAll(fd_, out_.data(), out_.size())) return false;
    flushed_ += out_.size();
    out_.clear();
    return true;
}

bool ZipWriter::Put(const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    if (out_.size() + size > kOutBufferSize) {
        if (!Flush()) return false;
        if (size >= kOutBufferSize) {
            if (!WriteAll(fd_, p, size)) return false;
            flushed_ += size;
            position_ += size;
            return true;
        }
    }
    out_.insert(out_.end(), p, p + size);
    position_ += size;
    return true;
}

bool ZipWriter::DeflateChunk(const unsigned char *data, size_t size, bool finish, uint64_t &compressed) {
    z_stream *zs = Z(stream_);
    zs->next_in = const_cast<Bytef *>(data);
    zs->avail_in = static_cast<uInt>(size);
    for (;;) {
        zs->next_out = deflateBuf_.data();
        zs->avail_out = static_cast<uInt>(deflateBuf_.size());
        int rc = deflate(zs, finish ? Z_FINISH : Z_NO_FLUSH);
        if (rc == Z_STREAM_ERROR) return false;
        size_t produced = deflateBuf_.size() - zs->avail_out;
        if (produced > 0) {
            if (!Put(deflateBuf_.data(), produced)) {
                error_ = kWriteFailed;
                return false;
            }
            compressed += produced;
        }
        if (finish) {
            if (rc == Z_STREAM_END) return true;
            if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
        } else if (zs->avail_in == 0 && zs->avail_out != 0) {
            return true;
        }
    }
}

int ZipWriter::AddFile(const std::string &relativePath, int level) {
    if (error_ != kOk) return error_;
    if (fd_ < 0) return kNotOpen;
    if (level < 0) level = 0;
    if (level > 9) level = 9;

    std::string name = relativePath;
    while (!name.empty() && name[0] == '/') name.erase(0, 1);
    if (name.empty()) return kSourceMissing;
    if (name.size() > 0xFFFF) return Fail(kLimitExceeded);
    const std::string source = relativePath[0] == '/' ? relativePath : base_ + relativePath;

    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return kSourceMissing;
        return Fail(kReadFailed);
    }
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        return kSourceMissing;
    }
    if (entryCount_ >= kMaxEntries) {
        close(in);
        return Fail(kLimitExceeded);
    }

    const uint64_t headerOffset = position_;
    if (headerOffset > kMax32) {
        close(in);
        return Fail(kLimitExceeded);
    }
    uint16_t dosTime, dosDate;
    DosDateTime(static_cast<int64_t>(st.st_mtime), dosTime, dosDate);
    const uint16_t method = level == 0 ? 0 : 8;
    uint16_t flags = LevelFlags(level);
    if (!IsAscii(name)) flags |= kUtf8NameFlag;

    unsigned char local[30];
    Put32(local + 0, kLocalSignature);
    Put16(local + 4, kVersionNeeded);
    Put16(local + 6, flags);
    Put16(local + 8, method);
    Put16(local + 10, dosTime);
    Put16(local + 12, dosDate);
    Put32(local + 14, 0); // CRC-32 and sizes follow once the data is written
    Put32(local + 18, 0);
    Put32(local + 22, 0);
    Put16(local + 26, static_cast<uint16_t>(name.size()));
    Put16(local + 28, 0);
    if (!Put(local, sizeof local) || !Put(name.data(), name.size())) {
        close(in);
        return Fail(kWriteFailed);
    }

    if (method == 8) {
        if (!stream_) {
            stream_ = new z_stream();
            std::memset(stream_, 0, sizeof(z_stream));
        } else if (streamLevel_ != level) {
            deflateEnd(Z(stream_));
            streamLevel_ = -1;
        }
        if (streamLevel_ == level) {
            if (deflateReset(Z(stream_)) != Z_OK) {
                close(in);
                return Fail(kDeflateFailed);
            }
        } else {
            std::memset(stream_, 0, sizeof(z_stream));
            if (deflateInit2(Z(stream_), level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
                close(in);
                return Fail(kDeflateFailed);
            }
            streamLevel_ = level;
        }
        if (deflateBuf_.empty()) deflateBuf_.resize(1 << 16);
    }
    if (readBuf_.empty()) readBuf_.resize(kReadBlock);

    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t size = 0, compressed = 0;
    int result = kOk;
    for (;;) {
        ssize_t n = read(in, readBuf_.data(), kReadBlock);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = kReadFailed;
            break;
        }
        if (n == 0) break;
        crc = crc32(crc, readBuf_.data(), static_cast<uInt>(n));
        size += static_cast<uint64_t>(n);
        if (method == 8) {
            if (!DeflateChunk(readBuf_.data(), static_cast<size_t>(n), false, compressed)) {
                result = error_ == kWriteFailed ? kWriteFailed : kDeflateFailed;
                break;
            }
        } else {
            if (!Put(readBuf_.data(), static_cast<size_t>(n))) {
                result = kWriteFailed;
                break;
            }
            compressed += static_cast<uint64_t>(n);
        }
    }
    close(in);
    if (result == kOk && method == 8 && !DeflateChunk(nullptr, 0, true, compressed))
        result = error_ == kWriteFailed ? kWriteFailed : kDeflateFailed;
    if (result != kOk) return Fail(result);
    if (size > kMax32 || compressed > kMax32) return Fail(kLimitExceeded);

    // Patch CRC-32 and sizes into the local header, in the buffer when it is still there.
    unsigned char sizes[12];
    Put32(sizes + 0, static_cast<uint32_t>(crc));
    Put32(sizes + 4, static_cast<uint32_t>(compressed));
    Put32(sizes + 8, static_cast<uint32_t>(size));
    if (headerOffset >= flushed_) {
        std::memcpy(out_.data() + (headerOffset - flushed_) + 14, sizes, sizeof sizes);
    } else if (headerOffset + 26 <= flushed_) {
        if (!PwriteAll(fd_, sizes, sizeof sizes, headerOffset + 14)) return Fail(kWriteFailed);
    } else {
        // The fields straddle the flushed part and the buffer: hand the buffer over first.
        if (!Flush() || !PwriteAll(fd_, sizes, sizeof sizes, headerOffset + 14)) return Fail(kWriteFailed);
    }

    unsigned char central[46];
    Put32(central + 0, kCentralSignature);
    Put16(central + 4, kVersionMadeBy);
    Put16(central + 6, kVersionNeeded);
    Put16(central + 8, flags);
    Put16(central + 10, method);
    Put16(central + 12, dosTime);
    Put16(central + 14, dosDate);
    std::memcpy(central + 16, sizes, sizeof sizes);
    Put16(central + 28, static_cast<uint16_t>(name.size()));
    Put16(central + 30, 0); // extra field
    Put16(central + 32, 0); // comment
    Put16(central + 34, 0); // disk
    Put16(central + 36, 0); // internal attributes
    uint32_t external = (static_cast<uint32_t>(st.st_mode) & 0xFFFF) << 16;
    if ((st.st_mode & S_IWUSR) == 0) external |= 0x01; // MS-DOS read-only bit
    Put32(central + 38, external);
    Put32(central + 42, static_cast<uint32_t>(headerOffset));
    central_.insert(central_.end(), central, central + sizeof central);
    central_.insert(central_.end(), name.begin(), name.end());
    ++entryCount_;
    return kOk;
}

int ZipWriter::Close() {
    if (fd_ < 0) return error_ != kOk ? error_ : kNotOpen;
    if (error_ != kOk) {
        int code = error_;
        Discard();
        return code;
    }
    const uint64_t centralOffset = position_;
    const uint64_t centralSize = central_.size();
    if (centralOffset > kMax32 || centralSize > kMax32) {
        Discard();
        return Fail(kLimitExceeded);
    }
    unsigned char end[22];
    Put32(end + 0, kEndSignature);
    Put16(end + 4, 0);
    Put16(end + 6, 0);
    Put16(end + 8, static_cast<uint16_t>(entryCount_));
    Put16(end + 10, static_cast<uint16_t>(entryCount_));
    Put32(end + 12, static_cast<uint32_t>(centralSize));
    Put32(end + 16, static_cast<uint32_t>(centralOffset));
    Put16(end + 20, 0);
    bool ok = Put(central_.data(), central_.size()) && Put(end, sizeof end) && Flush();
    ok = (close(fd_) == 0) && ok;
    fd_ = -1;
    if (ok && rename(tempPath_.c_str(), finalPath_.c_str()) != 0) ok = false;
    if (!ok) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
        return Fail(kWriteFailed);
    }
    tempPath_.clear();
    central_.clear();
    return kOk;
}

void ZipWriter::Discard() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
    }
    out_.clear();
}

} // namespace qm
