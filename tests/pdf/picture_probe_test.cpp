// Picture checks with the engine's decoders: the format asked for, damage, and headers.
#include <gtest/gtest.h>

#include "epub/book_fixture.h"
#include "pdf/picture_probe.h"

using qm::PictureFormat;
using qm::PictureProbe;

namespace {

// TinyPng with its header claiming `width` x `height` pixels (the one IDAT chunk still holds one).
std::string PngClaiming(uint32_t width, uint32_t height) {
    std::string png = qmtest::TinyPng();
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
    }
    return png;
}

} // namespace

TEST(PictureProbe, FormatAndDamage) {
    const std::string png = qmtest::TinyPng();
    EXPECT_EQ(PictureProbe::Decodes, qm::ProbePicture(png, PictureFormat::Png));
    EXPECT_EQ(PictureProbe::Unreadable, qm::ProbePicture(png, PictureFormat::Jpeg));
    EXPECT_EQ(PictureProbe::Unreadable, qm::ProbePicture(png, PictureFormat::Gif));
    EXPECT_EQ(PictureProbe::Unreadable, qm::ProbePicture("", PictureFormat::Png));
    EXPECT_EQ(PictureProbe::Unreadable, qm::ProbePicture("not a picture", PictureFormat::Png));
    EXPECT_EQ(PictureProbe::Unreadable, qm::ProbePicture(png.substr(0, 50), PictureFormat::Png));
}

TEST(PictureProbe, TheHeaderDecidesSizeAndForm) {
    // Beyond the decoding bound (20 million pixels) a header that reads is enough.
    EXPECT_EQ(PictureProbe::Decodes, qm::ProbePicture(PngClaiming(5000, 4000), PictureFormat::Png));
    // A header of zero width is no picture.
    EXPECT_EQ(PictureProbe::Unreadable, qm::ProbePicture(PngClaiming(0, 1), PictureFormat::Png));
}
