// Pictures of the book: rectangles of the page's output raster saved as numbered PNG files.
#include <cstdio>

#include "extract/page_model.h"
#include "extract/png_writer.h"
#include "extract/page_capture.h"
#include "pdf/engine.h"

namespace qm {
namespace {

constexpr size_t kPathLimit = 512;

} // namespace

PngResult PageModel::NextPicturePath(std::string &name, std::string &path, const std::string *folder) {
    std::string dir = folder ? *folder : pictures.folder;
    if (dir.size() > kPathLimit - 1) dir.resize(kPathLimit - 1);
    char buf[32];
    std::snprintf(buf, sizeof buf, "image-%d.png", nextPictureNumber++);
    if (std::char_traits<char>::length(buf) + dir.size() >= kPathLimit) return PngResult::NameTooLong;
    path = dir.empty() ? std::string(buf) : (dir.back() == '/' ? dir : dir + "/") + buf;
    name = buf;
    return PngResult::Written;
}

PngResult PageModel::SaveRegionPng(std::string &nameOut, const IntBox *rect, bool autoName, const std::string *folder) {
    IntBox area;
    if (rect) {
        area = IntBox{rect->x0 - outputDeviceBox.x0, rect->y0 - outputDeviceBox.y0, rect->x1 - outputDeviceBox.x0,
                      rect->y1 - outputDeviceBox.y0};
    }
    std::string path;
    if (autoName) {
        const PngResult named = NextPicturePath(nameOut, path, folder);
        if (named != PngResult::Written) return named;
    } else {
        path = nameOut.substr(0, kPathLimit - 1);
    }

    if (!capture) return PngResult::NoRaster;
    // A conversion that has produced all the files one book may hold writes no more pictures.
    if (pictures.mayWrite && !pictures.mayWrite()) return PngResult::NoRaster;
    auto lock = capture->Document().Lock();
    fz_pixmap *raster = capture->OutputRaster();
    if (!raster) return PngResult::NoRaster;
    const PngResult rc = WritePng(RasterOf(EngineContext(), raster), path, false, rect ? &area : nullptr);
    if (rc != PngResult::Written) return rc;
    if (pictures.written) pictures.written(path);
    return PngResult::Written;
}

} // namespace qm
