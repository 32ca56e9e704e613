#pragma once
// Painting of a captured page in the page view: its view raster, and over it the page's items, the
// user's groups, the crop frame and its corner handles, with the colours, pens and icons the
// region editor's users know. Drawing also stores, in the editor, the screen rectangles its hit
// tests use.
#include <QColor>
#include <QImage>

#include "extract/page_capture.h"
#include "extract/region_editor.h"

class QPainter;

namespace qm {

// Colours of the overlay (ARGB).
namespace region_colours {
constexpr QRgb kPathItem = 0x96E8C004;
constexpr QRgb kTextItem = 0x961E8EFF;
constexpr QRgb kShadeItem = 0xFFFF0000;
constexpr QRgb kImageItem = 0x9646FFA3;
constexpr QRgb kItemHoveredSelected = 0xFFFF00FF;
constexpr QRgb kItemHovered = 0xFF0000FF;
constexpr QRgb kItemSelected = 0xFFFF0000;
constexpr QRgb kDisabledFill = 0x78646464;
constexpr QRgb kGroupGraphic = 0xFFFA0000;
constexpr QRgb kGroupTable = 0xFF0000FA;
constexpr QRgb kGroupPlain = 0xFF00FA00;
constexpr QRgb kGroupOther = 0xFF000000;
constexpr QRgb kGroupHovered = 0xFFFFFA00;
constexpr QRgb kGroupSelected = 0xFF00FAFF;
constexpr QRgb kCropFrame = 0x7D505050;
constexpr QRgb kHandle = 0xFF640000;
} // namespace region_colours

// The raster as an image without copying its pixels when it has blue, green, red and alpha
// (premultiplied, as the engine paints it); a grey raster with alpha is expanded into a new image.
// Null for a missing raster or any other layout. The image lives no longer than the raster.
QImage ViewRasterImage(const fz_pixmap *raster);

// Draws the raster with its top-left corner at (ox, oy), one raster pixel per window pixel.
void DrawViewRaster(QPainter &painter, const fz_pixmap *raster, int ox, int oy);

// Draws, in this order, the ungrouped items that are neither hovered nor selected, then those
// that are, the groups, the crop frame with the margin zone shaded, and the handles; the view
// raster's top-left corner is at (ox, oy). The editor keeps the screen rectangles drawn.
void DrawRegions(QPainter &painter, RegionEditor &editor, int ox, int oy);

// Outline colour of an item of the given kind when neither hovered nor selected; 0 for kinds
// that are not drawn.
QRgb ItemKindColour(CommandKind kind);

// The icon drawn on a region marked `mark` (1 "to Table", 2 "to Graphic") or, for a group, on a
// plain group (mark 0 with `group`); null for anything else.
const QImage *RegionIcon(int mark, bool group);

} // namespace qm
