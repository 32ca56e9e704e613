#include "extract/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace qm {
namespace {

constexpr size_t kOutChunk = 64 * 1024;  // compressed bytes written per step

void PutBE32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

// One chunk: length, type, data, CRC-32 over type and data.
bool WriteChunk(FILE *f, const char *type, const unsigned char *data, size_t size) {
    unsigned char head[8];
    PutBE32(head, static_cast<uint32_t>(size));
    std::copy(type, type + 4, head + 4);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, head + 4, 4);
    if (size) crc = crc32_z(crc, data, size);
    unsigned char tail[4];
    PutBE32(tail, static_cast<uint32_t>(crc));
    return std::fwrite(head, 1, 8, f) == 8 && (size == 0 || std::fwrite(data, 1, size, f) == size) &&
           std::fwrite(tail, 1, 4, f) == 4;
}

} // namespace

RasterView RasterOf(fz_context *ctx, fz_pixmap *pix) {
    RasterView r;
    if (!pix) return r;
    r.samples = fz_pixmap_samples(ctx, pix);
    r.width = fz_pixmap_width(ctx, pix);
    r.height = fz_pixmap_height(ctx, pix);
    r.n = fz_pixmap_components(ctx, pix);
    r.stride = static_cast<int>(fz_pixmap_stride(ctx, pix));
    return r;
}

PngResult WritePng(const RasterView &raster, const std::string &path, bool keepAlpha, const IntBox *rect) {
    const int n = raster.n;
    if (n != 1 && n != 2 && n != 4) return PngResult::BadRaster;
    // The area, kept inside the raster whatever the caller passed.
    IntBox area{0, 0, raster.width, raster.height};
    if (rect) {
        area.x0 = std::max(rect->x0, 0);
        area.y0 = std::max(rect->y0, 0);
        area.x1 = std::min(rect->x1, raster.width);
        area.y1 = std::min(rect->y1, raster.height);
    }
    const int w = area.Width(), h = area.Height();
    if (w <= 0 || h <= 0 || !raster.samples) return PngResult::BadRaster;
    const int dn = (!keepAlpha && n > 1) ? n - 1 : n;
    static const unsigned char kColourType[5] = {0, 0, 4, 2, 6};

    // Rows are Sub-filtered (each byte minus the same channel of the pixel to its left) one at a
    // time and fed to one deflate stream at zlib's default level, which gives the same bytes as
    // compressing the whole filtered image in one call, without holding it (or its compressed
    // form) in memory: a page raster may be hundreds of megabytes.
    const size_t rowBytes = static_cast<size_t>(w) * dn + 1;
    std::vector<unsigned char> row;
    std::vector<unsigned char> out;
    z_stream z{};
    try {
        row.resize(rowBytes);
        out.resize(kOutChunk);
    } catch (...) {
        return PngResult::CompressFailed;
    }
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) return PngResult::CompressFailed;

    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        deflateEnd(&z);
        return PngResult::FileFailed;
    }
    static const unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    unsigned char ihdr[13];
    PutBE32(ihdr, static_cast<uint32_t>(w));
    PutBE32(ihdr + 4, static_cast<uint32_t>(h));
    ihdr[8] = 8;
    ihdr[9] = kColourType[dn];
    ihdr[10] = 0;
    ihdr[11] = 0;
    ihdr[12] = 0;
    bool ok = std::fwrite(kSignature, 1, 8, f) == 8 && WriteChunk(f, "IHDR", ihdr, sizeof ihdr);

    // IDAT: its length is known only at the end; it is written in place afterwards.
    const long idatAt = std::ftell(f);
    unsigned char idatHead[8] = {0, 0, 0, 0, 'I', 'D', 'A', 'T'};
    ok = ok && idatAt >= 0 && std::fwrite(idatHead, 1, 8, f) == 8;
    uLong crc = crc32(crc32(0L, Z_NULL, 0), idatHead + 4, 4);
    uint64_t packedSize = 0;
    int zrc = Z_OK;
    for (int y = 0; ok && y < h; ++y) {
        const unsigned char *src = raster.samples + static_cast<size_t>(area.y0 + y) * raster.stride +
                                   static_cast<size_t>(area.x0) * n;
        unsigned char *dst = row.data();
        *dst++ = 1;
        for (int c = 0; c < dn; ++c) dst[c] = src[c];
        for (int x = 1; x < w; ++x) {
            const unsigned char *p = src + static_cast<size_t>(x) * n;
            unsigned char *d = dst + static_cast<size_t>(x) * dn;
            for (int c = 0; c < dn; ++c) d[c] = static_cast<unsigned char>(p[c] - p[c - n]);
        }
        const int flush = y + 1 == h ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = row.data();
        z.avail_in = static_cast<uInt>(rowBytes);
        for (;;) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            zrc = deflate(&z, flush);
            if (zrc == Z_STREAM_ERROR) break;
            const size_t made = out.size() - z.avail_out;
            if (made) {
                crc = crc32_z(crc, out.data(), made);
                packedSize += made;
                ok = std::fwrite(out.data(), 1, made, f) == made;
            }
            if (!ok || zrc == Z_STREAM_END) break;
            if (flush == Z_NO_FLUSH && z.avail_in == 0 && z.avail_out > 0) break;  // row taken in
            if (zrc == Z_BUF_ERROR && made == 0) break;                           // no progress
        }
        if (zrc == Z_STREAM_ERROR) break;
    }
    deflateEnd(&z);
    const bool packed = zrc == Z_STREAM_END && packedSize <= 0x7FFFFFFFu;
    if (ok && packed) {
        unsigned char tail[4], length[4];
        PutBE32(tail, static_cast<uint32_t>(crc));
        PutBE32(length, static_cast<uint32_t>(packedSize));
        ok = std::fwrite(tail, 1, 4, f) == 4 && WriteChunk(f, "IEND", nullptr, 0) &&
             std::fseek(f, idatAt, SEEK_SET) == 0 && std::fwrite(length, 1, 4, f) == 4;
    }
    if (std::fclose(f) != 0) ok = false;
    if (!ok || !packed) {
        // A short write (full disk) would leave a truncated picture that looks like a result.
        std::remove(path.c_str());
        return packed ? PngResult::FileFailed : PngResult::CompressFailed;
    }
    return PngResult::Written;
}

} // namespace qm
