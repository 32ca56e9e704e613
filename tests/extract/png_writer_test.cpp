// PNG files of raster areas: the bytes of the format, decoding through the engine's own image
// loader, error codes, and numbered pictures cut from captured pages.
#include <gtest/gtest.h>
#include <mupdf/fitz.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "extract/png_writer.h"
#include "options/conversion_job.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "support/captured_document.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using qm::IntBox;

uint32_t BE32(const unsigned char *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

struct Chunk {
    std::string type;
    std::vector<unsigned char> data;
};

// Splits a PNG file into chunks, checking the signature and every CRC.
std::vector<Chunk> ReadChunks(const std::string &path) {
    std::string bytes;
    EXPECT_TRUE(qm::ReadFile(path, bytes));
    std::vector<Chunk> out;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data());
    static const unsigned char sig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (bytes.size() < 8 || memcmp(p, sig, 8) != 0) {
        ADD_FAILURE() << "no PNG signature";
        return out;
    }
    size_t pos = 8;
    while (pos + 12 <= bytes.size()) {
        uint32_t len = BE32(p + pos);
        Chunk c;
        c.type.assign(bytes.data() + pos + 4, 4);
        c.data.assign(p + pos + 8, p + pos + 8 + len);
        uLong crc = crc32(0, p + pos + 4, len + 4);
        EXPECT_EQ(crc, BE32(p + pos + 8 + len)) << c.type;
        out.push_back(c);
        pos += 12 + len;
    }
    EXPECT_EQ(pos, bytes.size());
    return out;
}

std::vector<unsigned char> Inflate(const std::vector<unsigned char> &z, size_t size) {
    std::vector<unsigned char> out(size + 16);
    uLongf outLen = out.size();
    EXPECT_EQ(uncompress(out.data(), &outLen, z.data(), z.size()), Z_OK);
    out.resize(outLen);
    return out;
}

// Decodes a PNG with the engine's image loader into (width, height, n, samples without padding).
struct Decoded {
    int w = 0, h = 0, n = 0;
    std::vector<unsigned char> px;
};
Decoded Decode(const std::string &path) {
    fz_context *ctx = qm::EngineContext();
    Decoded d;
    fz_image *img = nullptr;
    fz_pixmap *pix = nullptr;
    fz_var(img);
    fz_var(pix);
    fz_try(ctx) {
        img = fz_new_image_from_file(ctx, path.c_str());
        pix = fz_get_pixmap_from_image(ctx, img, nullptr, nullptr, nullptr, nullptr);
    }
    fz_catch(ctx) {
        ADD_FAILURE() << "engine could not decode " << path;
    }
    if (pix) {
        d.w = fz_pixmap_width(ctx, pix);
        d.h = fz_pixmap_height(ctx, pix);
        d.n = fz_pixmap_components(ctx, pix);
        for (int y = 0; y < d.h; ++y) {
            const unsigned char *row = fz_pixmap_samples(ctx, pix) + y * fz_pixmap_stride(ctx, pix);
            d.px.insert(d.px.end(), row, row + d.w * d.n);
        }
    }
    fz_drop_pixmap(ctx, pix);
    fz_drop_image(ctx, img);
    return d;
}

// A raster of w x h pixels with n components and varied contents.
struct TestRaster {
    int w, h, n;
    std::vector<unsigned char> s;
    TestRaster(int w_, int h_, int n_) : w(w_), h(h_), n(n_), s(static_cast<size_t>(w_) * h_ * n_) {
        for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<unsigned char>((i * 37 + i / 7 * 11) & 0xFF);
    }
    qm::RasterView View() const { return qm::RasterView{s.data(), w, h, n, w * n}; }
};

class PngTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
};

TEST_F(PngTest, ThreeByTwoRgbHasSubFilteredRowsAndDecodesToTheArea) {
    TestRaster r(5, 4, 4);
    IntBox area{1, 1, 4, 3};
    ASSERT_EQ(qm::WritePng(r.View(), dir.File("a.png"), false, &area), qm::PngResult::Written);
    auto chunks = ReadChunks(dir.File("a.png"));
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[1].type, "IDAT");
    EXPECT_EQ(chunks[2].type, "IEND");
    ASSERT_EQ(chunks[0].data.size(), 13u);
    EXPECT_EQ(BE32(chunks[0].data.data()), 3u);
    EXPECT_EQ(BE32(chunks[0].data.data() + 4), 2u);
    EXPECT_EQ(chunks[0].data[8], 8);
    EXPECT_EQ(chunks[0].data[9], 2);
    EXPECT_EQ(chunks[0].data[10] | chunks[0].data[11] | chunks[0].data[12], 0);
    EXPECT_TRUE(chunks[2].data.empty());
    auto filtered = Inflate(chunks[1].data, 20);
    ASSERT_EQ(filtered.size(), 20u);
    for (int row = 0; row < 2; ++row) {
        const unsigned char *f = filtered.data() + row * 10;
        EXPECT_EQ(f[0], 1);
        const unsigned char *src = r.s.data() + ((1 + row) * 5 + 1) * 4;
        for (int c = 0; c < 3; ++c) EXPECT_EQ(f[1 + c], src[c]);  // first pixel unchanged
        for (int x = 1; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(f[1 + x * 3 + c], static_cast<unsigned char>(src[x * 4 + c] - src[(x - 1) * 4 + c]));
    }
    Decoded d = Decode(dir.File("a.png"));
    ASSERT_EQ(d.w, 3);
    ASSERT_EQ(d.h, 2);
    ASSERT_EQ(d.n, 3);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(d.px[(y * 3 + x) * 3 + c], r.s[((1 + y) * 5 + 1 + x) * 4 + c]);
}

TEST_F(PngTest, ColourTypesFollowComponentsAndAlpha) {
    struct Case {
        int n;
        bool keepAlpha;
        int colourType;
    } cases[] = {{1, false, 0}, {2, false, 0}, {2, true, 4}, {4, false, 2}, {4, true, 6}};
    for (const Case &c : cases) {
        SCOPED_TRACE("n=" + std::to_string(c.n) + " keepAlpha=" + std::to_string(c.keepAlpha));
        TestRaster r(7, 5, c.n);
        // Opaque alpha so the engine's decoder gives back the colour values unchanged.
        if (c.n == 2 || c.n == 4)
            for (size_t i = c.n - 1; i < r.s.size(); i += c.n) r.s[i] = 255;
        std::string path = dir.File("c" + std::to_string(c.n) + std::to_string(c.keepAlpha) + ".png");
        ASSERT_EQ(qm::WritePng(r.View(), path, c.keepAlpha, nullptr), qm::PngResult::Written);
        auto chunks = ReadChunks(path);
        ASSERT_FALSE(chunks.empty());
        EXPECT_EQ(chunks[0].data[9], c.colourType);
        Decoded d = Decode(path);
        ASSERT_EQ(d.w, 7);
        ASSERT_EQ(d.h, 5);
        int colours = (c.n == 4) ? 3 : 1;
        for (int p = 0; p < 35; ++p)
            for (int k = 0; k < colours; ++k) ASSERT_EQ(d.px[p * d.n + k], r.s[p * c.n + k]) << "pixel " << p;
    }
    // A row of equal pixels compresses to its first pixel followed by zero differences.
    TestRaster flat(4, 1, 4);
    for (int x = 0; x < 4; ++x) std::copy(flat.s.begin(), flat.s.begin() + 4, flat.s.begin() + x * 4);
    ASSERT_EQ(qm::WritePng(flat.View(), dir.File("flat.png"), false, nullptr), qm::PngResult::Written);
    auto f = Inflate(ReadChunks(dir.File("flat.png"))[1].data, 13);
    EXPECT_EQ(f, (std::vector<unsigned char>{1, flat.s[0], flat.s[1], flat.s[2], 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(PngTest, StreamedCompressionGivesTheBytesOfOneCallOnTheWholeImage) {
    // Books stay byte-identical: the picture data equals zlib's compress() of the whole filtered
    // image, for areas large enough to span many deflate blocks and windows.
    struct Case {
        int w, h, n;
        bool keepAlpha;
        unsigned seed;
    };
    for (const Case &c : {Case{1500, 1100, 4, false, 1}, Case{700, 900, 1, false, 2}, Case{333, 777, 2, true, 3},
                          Case{2048, 3, 4, true, 4}, Case{517, 301, 2, false, 5}, Case{1, 999, 4, false, 6}}) {
        TestRaster r(c.w, c.h, c.n);
        // Stretches of noise among smooth runs: both long matches and incompressible data.
        unsigned v = c.seed;
        for (size_t i = 0; i < r.s.size(); ++i) {
            v = v * 1103515245u + 12345u;
            if ((i / 5000) % 3 == 0) r.s[i] = static_cast<unsigned char>(v >> 16);
        }
        const std::string path = dir.File("big.png");
        ASSERT_EQ(qm::WritePng(r.View(), path, c.keepAlpha, nullptr), qm::PngResult::Written);
        const int dn = c.keepAlpha || c.n == 1 ? c.n : c.n - 1;
        std::vector<unsigned char> filtered;
        for (int y = 0; y < c.h; ++y) {
            filtered.push_back(1);
            const unsigned char *row = r.s.data() + static_cast<size_t>(y) * c.w * c.n;
            for (int x = 0; x < c.w; ++x)
                for (int k = 0; k < dn; ++k)
                    filtered.push_back(static_cast<unsigned char>(row[x * c.n + k] - (x ? row[(x - 1) * c.n + k] : 0)));
        }
        std::vector<unsigned char> expected(compressBound(filtered.size()));
        uLongf size = expected.size();
        ASSERT_EQ(compress(expected.data(), &size, filtered.data(), filtered.size()), Z_OK);
        expected.resize(size);
        std::vector<Chunk> chunks = ReadChunks(path);
        ASSERT_EQ(chunks.size(), 3u);
        EXPECT_EQ(chunks[1].type, "IDAT");
        EXPECT_TRUE(chunks[1].data == expected) << c.w << "x" << c.h << "x" << c.n;
    }
}

TEST_F(PngTest, FailuresLeaveNoFile) {
    TestRaster rgb(4, 4, 3), cmyk(4, 4, 5);
    EXPECT_EQ(qm::WritePng(rgb.View(), dir.File("rgb.png"), false, nullptr), qm::PngResult::BadRaster);
    EXPECT_EQ(qm::WritePng(cmyk.View(), dir.File("cmyk.png"), false, nullptr), qm::PngResult::BadRaster);
    EXPECT_FALSE(qm::FileExists(dir.File("rgb.png")));
    EXPECT_FALSE(qm::FileExists(dir.File("cmyk.png")));
    TestRaster ok(4, 4, 4);
    EXPECT_EQ(qm::WritePng(ok.View(), dir.File("no/such/folder/x.png"), false, nullptr), qm::PngResult::FileFailed);
    // An area reaching outside the raster is cut to it instead of reading past the pixels.
    IntBox wide{-5, 2, 40, 90};
    ASSERT_EQ(qm::WritePng(ok.View(), dir.File("cut.png"), false, &wide), qm::PngResult::Written);
    Decoded d = Decode(dir.File("cut.png"));
    EXPECT_EQ(d.w, 4);
    EXPECT_EQ(d.h, 2);
    IntBox empty{2, 2, 2, 3};
    EXPECT_EQ(qm::WritePng(ok.View(), dir.File("empty.png"), false, &empty), qm::PngResult::BadRaster);
    EXPECT_FALSE(qm::FileExists(dir.File("empty.png")));
}

TEST_F(PngTest, PicturesAreCutFromTheOutputRasterAndNumberedPerDocument) {
    qmtest::PdfBuilder b;
    for (int i = 0; i < 2; ++i) {
        int p = b.AddPage(300, 200);
        b.FillRect(p, 50, 50, 100, 60, {0.1, 0.6, 0.2});
        b.Text(p, 20, 170, "Picture page", 12);
    }
    ASSERT_TRUE(b.Save(dir.File("pics.pdf")));
    qm::ConversionJob job;
    job.workFolder = dir.Path();
    std::vector<std::string> listed;

    std::vector<int> numbers;
    for (int docNo = 0; docNo < 2; ++docNo) {
        qmtest::CapturedDocument cd;
        ASSERT_TRUE(cd.Open(dir.File("pics.pdf")));
        cd.model.job = &job;
        cd.model.pictures.folder = job.workFolder;
        cd.model.pictures.written = [&listed](const std::string &path) { listed.push_back(path); };
        cd.capture.outputDpi = 144;
        for (int page = 1; page <= 2; ++page) {
            ASSERT_EQ(cd.Draw(page), qm::CaptureResult::Captured);
            const qm::DrawCommand *fill = nullptr;
            for (auto &c : cd.model.commands->commands)
                if (c.kind == qm::CommandKind::FillPath) fill = &c;
            ASSERT_NE(fill, nullptr);
            int expected = cd.model.nextPictureNumber;
            std::string name;
            ASSERT_EQ(cd.model.SaveRegionPng(name, &fill->outputBox, true), qm::PngResult::Written);
            EXPECT_EQ(name, "image-" + std::to_string(expected) + ".png");
            numbers.push_back(expected);
            // The picture is exactly the filled rectangle: 100 x 60 points at 144 dpi.
            Decoded d = Decode(dir.File(name));
            EXPECT_EQ(d.w, 200);
            EXPECT_EQ(d.h, 120);
            ASSERT_FALSE(d.px.empty());
            EXPECT_NEAR(d.px[0], 26, 2);
            EXPECT_NEAR(d.px[1], 153, 2);
        }
        // The whole page, named by the caller.
        std::string cover = dir.File("cover.png");
        ASSERT_EQ(cd.model.SaveRegionPng(cover, nullptr, false), qm::PngResult::Written);
        Decoded whole = Decode(cover);
        EXPECT_EQ(whole.w, 600);
        EXPECT_EQ(whole.h, 400);
    }
    // Each document numbers its pictures from 1, whatever was converted before it.
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 1, 2}));

    // Every picture and the cover are handed on for packaging, once each; a sink that says no
    // more stops the next picture.
    ASSERT_EQ(listed.size(), 6u);
    EXPECT_EQ(listed[0], dir.Path() + "image-" + std::to_string(numbers[0]) + ".png");
    EXPECT_EQ(listed[2], dir.File("cover.png"));

    // A folder too long for the name: nothing written, and the number is used up.
    qmtest::CapturedDocument cd;
    ASSERT_TRUE(cd.Open(dir.File("pics.pdf")));
    cd.model.job = &job;
    ASSERT_EQ(cd.Draw(1), qm::CaptureResult::Captured);
    std::string longFolder(505, 'x');
    std::string name;
    int before = cd.model.nextPictureNumber;
    EXPECT_EQ(cd.model.SaveRegionPng(name, nullptr, true, &longFolder), qm::PngResult::NameTooLong);
    EXPECT_EQ(cd.model.nextPictureNumber, before + 1);

    // A sink that takes no more pictures: nothing is written, nothing listed.
    cd.model.pictures.folder = job.workFolder;
    cd.model.pictures.mayWrite = [] { return false; };
    cd.model.pictures.written = [&listed](const std::string &path) { listed.push_back(path); };
    std::string refused = dir.File("refused.png");
    EXPECT_EQ(cd.model.SaveRegionPng(refused, nullptr, false), qm::PngResult::NoRaster);
    EXPECT_FALSE(qm::FileExists(refused));
    EXPECT_EQ(listed.size(), 6u);
}

} // namespace
