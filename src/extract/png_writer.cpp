#include "extract/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace qm {
namespace {

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

int WritePng(const RasterView &raster, const std::string &path, bool keepAlpha, const IntBox *rect) {
    const int n = raster.n;
    if (n != 1 && n != 2 && n != 4) return -1;
    // The area, kept inside the raster whatever the caller passed.
    IntBox area{0, 0, raster.width, raster.height};
    if (rect) {
        area.x0 = std::max(rect->x0, 0);
        area.y0 = std::max(rect->y0, 0);
        area.x1 = std::min(rect->x1, raster.width);
        area.y1 = std::min(rect->y1, raster.height);
    }
    const int w = area.Width(), h = area.Height();
    if (w <= 0 || h <= 0 || !raster.samples) return -1;
    const int dn = (!keepAlpha && n > 1) ? n - 1 : n;
    static const unsigned char kColourType[5] = {0, 0, 4, 2, 6};

    // Sub filter: each byte minus the same channel of the pixel to its left.
    const size_t rowBytes = static_cast<size_t>(w) * dn + 1;
    std::vector<unsigned char> filtered;
    std::vector<unsigned char> packed;
    try {
        filtered.resize(rowBytes * h);
    } catch (...) {
        return -2;
    }
    for (int y = 0; y < h; ++y) {
        const unsigned char *src = raster.samples + static_cast<size_t>(area.y0 + y) * raster.stride +
                                   static_cast<size_t>(area.x0) * n;
        unsigned char *dst = filtered.data() + rowBytes * y;
        *dst++ = 1;
        for (int c = 0; c < dn; ++c) dst[c] = src[c];
        for (int x = 1; x < w; ++x) {
            const unsigned char *p = src + static_cast<size_t>(x) * n;
            unsigned char *d = dst + static_cast<size_t>(x) * dn;
            for (int c = 0; c < dn; ++c) d[c] = static_cast<unsigned char>(p[c] - p[c - n]);
        }
    }

    uLongf packedSize = compressBound(static_cast<uLong>(filtered.size()));
    try {
        packed.resize(packedSize);
    } catch (...) {
        return -2;
    }
    if (compress(packed.data(), &packedSize, filtered.data(), static_cast<uLong>(filtered.size())) != Z_OK)
        return -2;

    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return -3;
    static const unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    unsigned char ihdr[13];
    PutBE32(ihdr, static_cast<uint32_t>(w));
    PutBE32(ihdr + 4, static_cast<uint32_t>(h));
    ihdr[8] = 8;
    ihdr[9] = kColourType[dn];
    ihdr[10] = 0;
    ihdr[11] = 0;
    ihdr[12] = 0;
    bool ok = std::fwrite(kSignature, 1, 8, f) == 8 && WriteChunk(f, "IHDR", ihdr, sizeof ihdr) &&
              WriteChunk(f, "IDAT", packed.data(), packedSize) && WriteChunk(f, "IEND", nullptr, 0);
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        // A short write (full disk) would leave a truncated picture that looks like a result.
        std::remove(path.c_str());
        return -3;
    }
    return 0;
}

} // namespace qm
