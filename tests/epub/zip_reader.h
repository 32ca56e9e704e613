#pragma once
// A small, independent ZIP reader for the tests: walks the end record, the central directory and
// every local header, inflates the data with zlib and checks CRC-32 and sizes, so archives the
// writer produced are judged by code that shares nothing with it.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

namespace qmtest {

struct ZipEntryInfo {
    std::string name;
    uint16_t versionMadeBy = 0, versionNeeded = 0, flags = 0, method = 0, dosTime = 0, dosDate = 0;
    uint32_t crc = 0, compressedSize = 0, size = 0, externalAttributes = 0, localOffset = 0;
    uint16_t centralExtraLength = 0, commentLength = 0;
    // From the local header:
    uint16_t localFlags = 0, localMethod = 0, localExtraLength = 0, localVersion = 0;
    uint32_t localCrc = 0, localCompressedSize = 0, localSize = 0;
    uint64_t dataOffset = 0;
    std::string data; // uncompressed contents
};

struct ZipArchiveInfo {
    bool ok = false;
    std::string error;
    std::vector<ZipEntryInfo> entries;
    uint16_t commentLength = 0;
};

inline uint16_t ZGet16(const std::string &b, size_t p) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[p]) | (static_cast<unsigned char>(b[p + 1]) << 8));
}
inline uint32_t ZGet32(const std::string &b, size_t p) {
    return static_cast<uint32_t>(ZGet16(b, p)) | (static_cast<uint32_t>(ZGet16(b, p + 2)) << 16);
}

inline bool InflateRaw(const std::string &in, std::string &out, size_t expected) {
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit2(&zs, -15) != Z_OK) return false;
    out.assign(expected, '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    zs.avail_in = static_cast<uInt>(in.size());
    std::string extra(1, '\0'); // room for one byte more, to notice a stream longer than declared
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = static_cast<uInt>(expected);
    int rc = inflate(&zs, Z_FINISH);
    if (rc == Z_BUF_ERROR && zs.avail_out == 0) {
        zs.next_out = reinterpret_cast<Bytef *>(extra.data());
        zs.avail_out = 1;
        rc = inflate(&zs, Z_FINISH);
        if (zs.avail_out == 0) rc = Z_DATA_ERROR;
    }
    bool ok = rc == Z_STREAM_END && zs.total_out == expected && zs.avail_in == 0;
    inflateEnd(&zs);
    return ok;
}

inline ZipArchiveInfo ReadZipArchive(const std::string &bytes) {
    ZipArchiveInfo info;
    auto fail = [&](const std::string &why) {
        info.error = why;
        return info;
    };
    if (bytes.size() < 22) return fail("too short");
    size_t end = bytes.size() - 22; // no archive comment is expected
    if (ZGet32(bytes, end) != 0x06054b50) return fail("no end record at the end of the file");
    const uint16_t count = ZGet16(bytes, end + 10);
    if (ZGet16(bytes, end + 8) != count || ZGet16(bytes, end + 4) != 0 || ZGet16(bytes, end + 6) != 0)
        return fail("bad disk fields in the end record");
    const uint32_t cdSize = ZGet32(bytes, end + 12), cdOffset = ZGet32(bytes, end + 16);
    info.commentLength = ZGet16(bytes, end + 20);
    if (static_cast<uint64_t>(cdOffset) + cdSize != end) return fail("central directory does not end at the end record");
    size_t p = cdOffset;
    uint64_t expectedLocal = 0;
    for (uint16_t i = 0; i < count; ++i) {
        if (p + 46 > end || ZGet32(bytes, p) != 0x02014b50) return fail("bad central header");
        ZipEntryInfo e;
        e.versionMadeBy = ZGet16(bytes, p + 4);
        e.versionNeeded = ZGet16(bytes, p + 6);
        e.flags = ZGet16(bytes, p + 8);
        e.method = ZGet16(bytes, p + 10);
        e.dosTime = ZGet16(bytes, p + 12);
        e.dosDate = ZGet16(bytes, p + 14);
        e.crc = ZGet32(bytes, p + 16);
        e.compressedSize = ZGet32(bytes, p + 20);
        e.size = ZGet32(bytes, p + 24);
        const uint16_t nameLen = ZGet16(bytes, p + 28);
        e.centralExtraLength = ZGet16(bytes, p + 30);
        e.commentLength = ZGet16(bytes, p + 32);
        e.externalAttributes = ZGet32(bytes, p + 38);
        e.localOffset = ZGet32(bytes, p + 42);
        e.name = bytes.substr(p + 46, nameLen);
        p += 46 + nameLen + e.centralExtraLength + e.commentLength;

        // Entries must follow each other without gaps, in central-directory order.
        if (e.localOffset != expectedLocal) return fail("entry " + e.name + " is not where the previous one ended");
        size_t l = e.localOffset;
        if (l + 30 > cdOffset || ZGet32(bytes, l) != 0x04034b50) return fail("bad local header for " + e.name);
        e.localVersion = ZGet16(bytes, l + 4);
        e.localFlags = ZGet16(bytes, l + 6);
        e.localMethod = ZGet16(bytes, l + 8);
        e.localCrc = ZGet32(bytes, l + 14);
        e.localCompressedSize = ZGet32(bytes, l + 18);
        e.localSize = ZGet32(bytes, l + 22);
        const uint16_t localNameLen = ZGet16(bytes, l + 26);
        e.localExtraLength = ZGet16(bytes, l + 28);
        if (bytes.compare(l + 30, localNameLen, e.name) != 0) return fail("local name differs for " + e.name);
        e.dataOffset = l + 30 + localNameLen + e.localExtraLength;
        if (e.dataOffset + e.compressedSize > cdOffset) return fail("data of " + e.name + " runs past the directory");
        const std::string raw = bytes.substr(e.dataOffset, e.compressedSize);
        if (e.method == 0) {
            if (e.compressedSize != e.size) return fail("stored sizes differ for " + e.name);
            e.data = raw;
        } else if (e.method == 8) {
            if (!InflateRaw(raw, e.data, e.size)) return fail("cannot inflate " + e.name);
        } else {
            return fail("unknown method for " + e.name);
        }
        uLong crc = crc32(0L, Z_NULL, 0);
        crc = crc32(crc, reinterpret_cast<const Bytef *>(e.data.data()), static_cast<uInt>(e.data.size()));
        if (crc != e.crc) return fail("CRC-32 mismatch for " + e.name);
        expectedLocal = e.dataOffset + e.compressedSize;
        info.entries.push_back(std::move(e));
    }
    if (p != end) return fail("central directory size is wrong");
    if (expectedLocal != cdOffset) return fail("gap before the central directory");
    info.ok = true;
    return info;
}

} // namespace qmtest
