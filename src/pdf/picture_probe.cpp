#include "pdf/picture_probe.h"

#include "pdf/engine.h"
#include "platform/log.h"

namespace qm {
namespace {

constexpr double kPictureDecodeBudget = 16.0 * 1000 * 1000;

int EngineImageType(PictureFormat format) {
    switch (format) {
    case PictureFormat::Png: return FZ_IMAGE_PNG;
    case PictureFormat::Jpeg: return FZ_IMAGE_JPEG;
    case PictureFormat::Gif: return FZ_IMAGE_GIF;
    }
    return FZ_IMAGE_UNKNOWN;
}

} // namespace

PictureProbe ProbePicture(const std::string &bytes, PictureFormat format) {
    const int wanted = EngineImageType(format);
    EngineRef<fz_buffer> buffer;
    EngineRef<fz_image> image;
    EngineRef<fz_pixmap> pixmap;
    bool kindMatches = false;
    int w = 0, h = 0;
    EngineStatus status = EngineTry(EngineContext(), [&](fz_context *ctx) {
        buffer.reset(fz_new_buffer_from_shared_data(ctx, reinterpret_cast<const unsigned char *>(bytes.data()),
                                                    bytes.size()));
        image.reset(fz_new_image_from_buffer(ctx, buffer.get()));
        fz_compressed_buffer *compressed = fz_compressed_image_buffer(ctx, image.get());
        w = image->w;
        h = image->h;
        kindMatches = compressed && compressed->params.type == wanted && w > 0 && h > 0;
        if (kindMatches && static_cast<double>(w) * h <= kPictureDecodeBudget)
            pixmap.reset(fz_get_pixmap_from_image(ctx, image.get(), nullptr, nullptr, nullptr, nullptr));
    });
    if (!status || !kindMatches) return PictureProbe::Unreadable;
    if (!pixmap)
        LogWarning("a picture of " + std::to_string(w) + " x " + std::to_string(h) +
                   " pixels is checked by its header only");
    return PictureProbe::Decodes;
}

} // namespace qm
