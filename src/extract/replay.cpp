// Page capture, part two: the replay of a command list into any device, and into a raster.
#include <vector>

#include "extract/capture.h"
#include "extract/capture_internal.h"

namespace qm {
namespace capture_internal {
namespace {

const float *ColourOf(const DrawCommand &c) { return (c.flags & kHasColor) ? c.color.data() : nullptr; }

// The engine text of a text command, built from its source span on first use.
fz_text *TextOf(fz_context *ctx, const DrawCommand &c) {
    CapturedText &t = *c.text;
    if (!t.text && t.source) t.text = SpanText(ctx, t.source, t.spanIndex);
    return t.text;
}

} // namespace

// Replays one command. Returns 1 when a tile start was answered "cached" by the device (the
// caller then skips to the matching tile end), else 0.
int ReplayOne(fz_context *ctx, const DrawCommand &c, fz_device *dev) {
    switch (c.kind) {
    case CommandKind::FillPath:
        fz_fill_path(ctx, dev, c.path, c.flags & kEvenOdd, c.transform, c.colorspace, ColourOf(c), c.alpha,
                     c.colorParams);
        break;
    case CommandKind::StrokePath:
        fz_stroke_path(ctx, dev, c.path, c.stroke, c.transform, c.colorspace, ColourOf(c), c.alpha, c.colorParams);
        break;
    case CommandKind::ClipPath:
        fz_clip_path(ctx, dev, c.path, c.flags & kEvenOdd, c.transform, c.scissor);
        break;
    case CommandKind::ClipStrokePath:
        fz_clip_stroke_path(ctx, dev, c.path, c.stroke, c.transform, c.scissor);
        break;
    case CommandKind::FillText:
        fz_fill_text(ctx, dev, TextOf(ctx, c), c.transform, c.colorspace, ColourOf(c), c.alpha, c.colorParams);
        break;
    case CommandKind::StrokeText:
        fz_stroke_text(ctx, dev, TextOf(ctx, c), c.stroke, c.transform, c.colorspace, ColourOf(c), c.alpha,
                       c.colorParams);
        break;
    case CommandKind::ClipText:
        fz_clip_text(ctx, dev, c.text->text, c.transform, c.scissor);
        break;
    case CommandKind::ClipStrokeText:
        fz_clip_stroke_text(ctx, dev, c.text->text, c.stroke, c.transform, c.scissor);
        break;
    case CommandKind::IgnoreText:
        fz_ignore_text(ctx, dev, TextOf(ctx, c), c.transform);
        break;
    case CommandKind::FillShade:
        fz_fill_shade(ctx, dev, c.shade, c.transform, c.alpha, c.colorParams);
        break;
    case CommandKind::FillImage:
        fz_fill_image(ctx, dev, c.image, c.transform, c.alpha, c.colorParams);
        break;
    case CommandKind::FillImageMask:
        fz_fill_image_mask(ctx, dev, c.image, c.transform, c.colorspace, ColourOf(c), c.alpha, c.colorParams);
        break;
    case CommandKind::ClipImageMask:
        fz_clip_image_mask(ctx, dev, c.image, c.transform, c.scissor);
        break;
    case CommandKind::PopClip:
        fz_pop_clip(ctx, dev);
        break;
    case CommandKind::BeginMask:
        fz_begin_mask(ctx, dev, c.scissor, c.extra, c.colorspace, ColourOf(c), c.colorParams);
        break;
    case CommandKind::EndMask:
        fz_end_mask(ctx, dev);
        break;
    case CommandKind::BeginGroup:
        fz_begin_group(ctx, dev, c.scissor, c.colorspace, c.flags & kIsolated, (c.flags & kKnockout) ? 1 : 0, c.extra,
                       c.alpha);
        break;
    case CommandKind::EndGroup:
        fz_end_group(ctx, dev);
        break;
    case CommandKind::BeginTile:
        return fz_begin_tile_id(ctx, dev, c.scissor, c.view, c.xstep, c.ystep, c.transform, c.id);
    case CommandKind::EndTile:
        fz_end_tile(ctx, dev);
        break;
    case CommandKind::RenderFlags:
        fz_render_flags(ctx, dev, c.id, c.extra);
        break;
    case CommandKind::DefaultColorspaces:
        fz_set_default_colorspaces(ctx, dev, c.defaultColorspaces);
        break;
    case CommandKind::BeginLayer:
        fz_begin_layer(ctx, dev, c.layerName.c_str());
        break;
    case CommandKind::EndLayer:
        fz_end_layer(ctx, dev);
        break;
    }
    return 0;
}

// Index of the EndTile matching the BeginTile at `i` (or the list size when there is none).
size_t MatchingEndTile(const std::vector<DrawCommand> &cmds, size_t i) {
    int depth = 0;
    for (size_t k = i + 1; k < cmds.size(); ++k) {
        if (cmds[k].kind == CommandKind::BeginTile) ++depth;
        if (cmds[k].kind == CommandKind::EndTile) {
            if (depth == 0) return k;
            --depth;
        }
    }
    return cmds.size();
}

} // namespace capture_internal

using capture_internal::MatchingEndTile;
using capture_internal::ReplayOne;

bool ReplayCommands(fz_context *ctx, const CommandList &list, fz_device *dev, int skip, const fz_cookie *cookie) {
    const std::vector<DrawCommand> &cmds = list.commands;
    for (size_t i = 0; i < cmds.size(); ++i) {
        if (Aborted(cookie)) return false;
        if (static_cast<int>(i) == skip) continue;
        if (ReplayOne(ctx, cmds[i], dev)) {
            // The device has this tile cached: its contents are not drawn again, but the tile
            // still has to be closed.
            size_t end = MatchingEndTile(cmds, i);
            if (end < cmds.size()) {
                fz_end_tile(ctx, dev);
                i = end;
            }
        }
    }
    return true;
}

fz_pixmap *RenderCommands(fz_context *ctx, const CommandList &list, fz_matrix transform, fz_irect deviceBox, bool bgr,
                          int skip, const fz_cookie *cookie) {
    fz_pixmap *pix = nullptr;
    fz_device *dev = nullptr;
    fz_var(pix);
    fz_var(dev);
    fz_try(ctx) {
        pix = fz_new_pixmap_with_bbox(ctx, bgr ? fz_device_bgr(ctx) : fz_device_rgb(ctx), deviceBox, nullptr, 1);
        fz_clear_pixmap_with_value(ctx, pix, 255);
        dev = fz_new_draw_device(ctx, transform, pix);
        ReplayCommands(ctx, list, dev, skip, cookie);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) fz_drop_device(ctx, dev);
    fz_catch(ctx) {
        fz_drop_pixmap(ctx, pix);
        pix = nullptr;
    }
    if (pix && Aborted(cookie)) {
        fz_drop_pixmap(ctx, pix);
        pix = nullptr;
    }
    return pix;
}

} // namespace qm
