#include "interactive/region_painter.h"

#include <QPainter>
#include <QPen>

namespace qm {

namespace {

QRect ToRect(const IntBox &b) {
    // Boxes are edge to edge; a QRect's right and bottom are the last pixel inside it.
    return QRect(QPoint(b.x0, b.y0), QPoint(b.x1 - 1, b.y1 - 1));
}

void Outline(QPainter &painter, const IntBox &b, QRgb colour, Qt::PenStyle style) {
    QPen pen{QColor::fromRgba(colour)};
    pen.setWidth(1);
    pen.setStyle(style);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // An empty box is still outlined, as a single point at its corner, so a shade shows where it is.
    painter.drawRect(QRect(b.x0, b.y0, std::max(0, b.x1 - b.x0 - 1), std::max(0, b.y1 - b.y0 - 1)));
}

void Fill(QPainter &painter, const IntBox &b, QRgb colour) {
    if (b.x1 <= b.x0 || b.y1 <= b.y0) return;
    painter.fillRect(ToRect(b), QColor::fromRgba(colour));
}

void Icon(QPainter &painter, const QImage *icon, const IntBox &at) {
    if (icon && !icon->isNull()) painter.drawImage(QPoint(at.x0, at.y0), *icon);
}

QImage LoadIcon(const char *path) {
    QImage image(QString::fromLatin1(path));
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

QImage ViewRasterImage(const fz_pixmap *raster) {
    if (!raster || raster->w <= 0 || raster->h <= 0 || !raster->samples) return {};
    if (raster->n == 4 && raster->alpha) {
        return QImage(raster->samples, raster->w, raster->h, static_cast<qsizetype>(raster->stride),
                      QImage::Format_ARGB32_Premultiplied);
    }
    if (raster->n == 2 && raster->alpha) {
        QImage image(raster->w, raster->h, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < raster->h; ++y) {
            const unsigned char *src = raster->samples + static_cast<ptrdiff_t>(y) * raster->stride;
            auto *dst = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < raster->w; ++x) dst[x] = qRgba(src[2 * x], src[2 * x], src[2 * x], src[2 * x + 1]);
        }
        return image;
    }
    return {};
}

void DrawViewRaster(QPainter &painter, const fz_pixmap *raster, int ox, int oy) {
    const QImage image = ViewRasterImage(raster);
    if (!image.isNull()) painter.drawImage(QPoint(ox, oy), image);
}

QRgb ItemKindColour(CommandKind kind) {
    switch (kind) {
    case CommandKind::FillPath:
    case CommandKind::StrokePath: return region_colours::kPathItem;
    case CommandKind::FillText:
    case CommandKind::StrokeText: return region_colours::kTextItem;
    case CommandKind::FillShade: return region_colours::kShadeItem;
    case CommandKind::FillImage:
    case CommandKind::FillImageMask: return region_colours::kImageItem;
    default: return 0;
    }
}

const QImage *RegionIcon(int mark, bool group) {
    static const QImage graphic = LoadIcon(":/interactive/region_graphic.png");
    static const QImage table = LoadIcon(":/interactive/region_table.png");
    static const QImage plain = LoadIcon(":/interactive/region_group.png");
    if (mark == 2) return &graphic;
    if (mark == 1) return &table;
    if (mark == 0 && group) return &plain;
    return nullptr;
}

void DrawRegions(QPainter &painter, RegionEditor &editor, int ox, int oy) {
    PageLayout *page = editor.Model().Current();
    PageViewState &view = editor.View();
    editor.PlaceOnScreen(ox, oy);
    if (!page) return;
    painter.save();

    for (int pass = 0; pass < 2; ++pass) {
        for (const auto &item : page->items) {
            if (item->grouped || !editor.Drawn(*item)) continue;
            const PageViewState::Marks marks = view.Get(*item);
            const bool lit = marks.hover != 0 || marks.selected;
            if (lit != (pass == 1)) continue;
            Icon(painter, RegionIcon(item->mark, false), marks.screenRect);
            QRgb colour = ItemKindColour(item->command->kind);
            if (marks.hover && marks.selected) colour = region_colours::kItemHoveredSelected;
            else if (marks.hover) colour = region_colours::kItemHovered;
            else if (marks.selected) colour = region_colours::kItemSelected;
            Outline(painter, marks.screenRect, colour, Qt::SolidLine);
            if (item->disabled) Fill(painter, marks.screenRect, region_colours::kDisabledFill);
        }
    }

    for (const auto &group : page->groups) {
        const PageViewState::Marks marks = view.Get(*group);
        QRgb colour = region_colours::kGroupOther;
        if (group->mark == 2) colour = region_colours::kGroupGraphic;
        else if (group->mark == 1) colour = region_colours::kGroupTable;
        else if (group->mark == 0) colour = region_colours::kGroupPlain;
        Icon(painter, RegionIcon(group->mark, true), marks.screenRect);
        if (marks.hover) colour = region_colours::kGroupHovered;
        else if (marks.selected) colour = region_colours::kGroupSelected;
        Outline(painter, marks.screenRect, colour, Qt::DashLine);
        if (group->disabled) Fill(painter, marks.screenRect, region_colours::kDisabledFill);
    }

    // The margin zone: inside the page, outside the crop rectangle.
    const QRegion pageArea(ToRect(editor.PageScreenRect()));
    const IntBox &crop = editor.CropScreenRect();
    QRegion zone = pageArea;
    if (crop.x1 > crop.x0 && crop.y1 > crop.y0) zone -= QRegion(ToRect(crop));
    for (const QRect &r : zone) painter.fillRect(r, QColor::fromRgba(region_colours::kDisabledFill));
    Outline(painter, crop, region_colours::kCropFrame, Qt::SolidLine);

    for (const IntBox &handle : editor.HandleScreenRects()) Fill(painter, handle, region_colours::kHandle);
    painter.restore();
}

} // namespace qm
