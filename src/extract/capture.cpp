#include "extract/capture.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <vector>

namespace qm {
namespace {

// DrawCommand::flags bits.
constexpr int kEvenOdd = 1;       // paths: even-odd rule
constexpr int kIsolated = 1;      // groups
constexpr int kKnockout = 2;      // groups
constexpr int kHasColor = 0x100;  // a colour array was given (begin_mask may pass none)

// ---------------------------------------------------------------------------------------------
// Recording device. Callbacks are called from the engine's C code: nothing may leave them as a
// C++ exception. Every C++ allocation happens in a helper that catches everything and reports
// failure; the callback then raises an engine error with no C++ object alive in its frame.

struct RecordingDevice {
    fz_device super;
    CommandList *list;
};

CommandList &ListOf(fz_device *dev) { return *reinterpret_cast<RecordingDevice *>(dev)->list; }

DrawCommand *Append(fz_device *dev, CommandKind kind) noexcept {
    try {
        DrawCommand &c = ListOf(dev).commands.emplace_back();
        c.kind = kind;
        return &c;
    } catch (...) {
        return nullptr;
    }
}

[[noreturn]] void OutOfMemory(fz_context *ctx) { fz_throw(ctx, FZ_ERROR_MEMORY, "cannot record page: out of memory"); }

DrawCommand *AppendOrThrow(fz_context *ctx, fz_device *dev, CommandKind kind) {
    DrawCommand *c = Append(dev, kind);
    if (!c) OutOfMemory(ctx);
    return c;
}

void SetColour(fz_context *ctx, DrawCommand *c, fz_colorspace *cs, const float *color, float alpha,
               fz_color_params cp) {
    c->colorspace = fz_keep_colorspace(ctx, cs);
    c->alpha = alpha;
    c->colorParams = cp;
    if (color) {
        c->flags |= kHasColor;
        int n = cs ? fz_colorspace_n(ctx, cs) : 0;
        if (n > FZ_MAX_COLORS) n = FZ_MAX_COLORS;
        for (int i = 0; i < n; ++i) c->color[i] = color[i];
    }
}

void RecFillPath(fz_context *ctx, fz_device *dev, const fz_path *path, int evenOdd, fz_matrix ctm,
                 fz_colorspace *cs, const float *color, float alpha, fz_color_params cp) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::FillPath);
    c->path = fz_keep_path(ctx, path);
    c->flags = evenOdd ? kEvenOdd : 0;
    c->transform = ctm;
    SetColour(ctx, c, cs, color, alpha, cp);
    c->bounds = fz_bound_path(ctx, path, nullptr, ctm);
}

void RecStrokePath(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke, fz_matrix ctm,
                   fz_colorspace *cs, const float *color, float alpha, fz_color_params cp) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::StrokePath);
    c->path = fz_keep_path(ctx, path);
    c->stroke = fz_keep_stroke_state(ctx, stroke);
    c->transform = ctm;
    SetColour(ctx, c, cs, color, alpha, cp);
    c->bounds = fz_bound_path(ctx, path, stroke, ctm);
}

void RecClipPath(fz_context *ctx, fz_device *dev, const fz_path *path, int evenOdd, fz_matrix ctm, fz_rect scissor) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::ClipPath);
    c->path = fz_keep_path(ctx, path);
    c->flags = evenOdd ? kEvenOdd : 0;
    c->transform = ctm;
    c->scissor = scissor;
    c->bounds = fz_bound_path(ctx, path, nullptr, ctm);
}

void RecClipStrokePath(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke,
                       fz_matrix ctm, fz_rect scissor) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::ClipStrokePath);
    c->path = fz_keep_path(ctx, path);
    c->stroke = fz_keep_stroke_state(ctx, stroke);
    c->transform = ctm;
    c->scissor = scissor;
    c->bounds = fz_bound_path(ctx, path, stroke, ctm);
}

// Creates the payload of a text command: the glyphs of `span` (or, for clips, of every span from
// `span` on), without engine calls. False when memory ran out.
bool MakeCapturedText(DrawCommand *c, const fz_text_span *span, bool allSpans) noexcept {
    try {
        auto t = std::make_unique<CapturedText>();
        size_t count = 0;
        for (const fz_text_span *s = span; s; s = allSpans ? s->next : nullptr) count += static_cast<size_t>(s->len);
        t->glyphs.reserve(count);
        for (const fz_text_span *s = span; s; s = allSpans ? s->next : nullptr)
            for (int i = 0; i < s->len; ++i) {
                GlyphRecord g;
                g.x = s->items[i].x;
                g.y = s->items[i].y;
                g.glyphId = s->items[i].gid;
                g.unicode = s->items[i].ucs;
                t->glyphs.push_back(g);
            }
        t->matrix = span->trm;
        t->matrix.e = 0;
        t->matrix.f = 0;
        t->writingMode = span->wmode;
        t->bidiLevel = span->bidi_level;
        t->markupDir = span->markup_dir;
        t->language = span->language;
        c->text = std::move(t);
        return true;
    } catch (...) {
        return false;
    }
}

// A new engine text holding span `index` of `text` alone.
fz_text *SpanText(fz_context *ctx, const fz_text *text, int index) {
    const fz_text_span *span = text->head;
    for (int k = 0; span && k < index; ++k) span = span->next;
    fz_text *t = fz_new_text(ctx);
    if (!span) return t;
    fz_try(ctx) {
        for (int i = 0; i < span->len; ++i) {
            fz_matrix trm = span->trm;
            trm.e = span->items[i].x;
            trm.f = span->items[i].y;
            fz_show_glyph(ctx, t, span->font, trm, span->items[i].gid, span->items[i].ucs, span->wmode,
                          span->bidi_level, static_cast<fz_bidi_direction>(span->markup_dir),
                          static_cast<fz_text_language>(span->language));
        }
    }
    fz_catch(ctx) {
        fz_drop_text(ctx, t);
        fz_rethrow(ctx);
    }
    return t;
}

void RecordText(fz_context *ctx, fz_device *dev, CommandKind kind, const fz_text *text, const fz_stroke_state *stroke,
                fz_matrix ctm, fz_colorspace *cs, const float *color, float alpha, fz_color_params cp,
                fz_rect scissor, bool split) {
    if (!text || !text->head) return;
    bool single = !split || text->head == text->tail;
    int index = 0;
    for (const fz_text_span *span = text->head; span; span = span->next, ++index) {
        DrawCommand *c = AppendOrThrow(ctx, dev, kind);
        if (!MakeCapturedText(c, span, !split)) OutOfMemory(ctx);
        c->text->font = fz_keep_font(ctx, span->font);
        if (single) {
            c->text->text = fz_keep_text(ctx, text);
        } else {
            c->text->source = fz_keep_text(ctx, text);
            c->text->spanIndex = index;
            if (kind == CommandKind::IgnoreText) c->text->text = SpanText(ctx, text, index);
        }
        if (stroke) c->stroke = fz_keep_stroke_state(ctx, stroke);
        c->transform = ctm;
        c->scissor = scissor;
        if (kind == CommandKind::FillText || kind == CommandKind::StrokeText)
            SetColour(ctx, c, cs, color, alpha, cp);  // bounds come with the glyph boxes
        else
            c->bounds = fz_bound_text(ctx, c->text->text, stroke, ctm);
        if (single) break;
    }
}

void RecFillText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_colorspace *cs,
                 const float *color, float alpha, fz_color_params cp) {
    RecordText(ctx, dev, CommandKind::FillText, text, nullptr, ctm, cs, color, alpha, cp, fz_infinite_rect, true);
}

void RecStrokeText(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *stroke, fz_matrix ctm,
                   fz_colorspace *cs, const float *color, float alpha, fz_color_params cp) {
    RecordText(ctx, dev, CommandKind::StrokeText, text, stroke, ctm, cs, color, alpha, cp, fz_infinite_rect, true);
}

void RecClipText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_rect scissor) {
    RecordText(ctx, dev, CommandKind::ClipText, text, nullptr, ctm, nullptr, nullptr, 1, fz_default_color_params,
               scissor, false);
}

void RecClipStrokeText(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *stroke,
                       fz_matrix ctm, fz_rect scissor) {
    RecordText(ctx, dev, CommandKind::ClipStrokeText, text, stroke, ctm, nullptr, nullptr, 1, fz_default_color_params,
               scissor, false);
}

void RecIgnoreText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm) {
    RecordText(ctx, dev, CommandKind::IgnoreText, text, nullptr, ctm, nullptr, nullptr, 1, fz_default_color_params,
               fz_infinite_rect, true);
}

void RecFillShade(fz_context *ctx, fz_device *dev, fz_shade *shade, fz_matrix ctm, float alpha, fz_color_params cp) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::FillShade);
    c->shade = fz_keep_shade(ctx, shade);
    c->transform = ctm;
    c->alpha = alpha;
    c->colorParams = cp;
    c->bounds = fz_bound_shade(ctx, shade, ctm);
}

void RecFillImage(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, float alpha, fz_color_params cp) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::FillImage);
    c->image = fz_keep_image(ctx, image);
    c->transform = ctm;
    c->alpha = alpha;
    c->colorParams = cp;
    c->bounds = fz_transform_rect(fz_unit_rect, ctm);
}

void RecFillImageMask(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, fz_colorspace *cs,
                      const float *color, float alpha, fz_color_params cp) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::FillImageMask);
    c->image = fz_keep_image(ctx, image);
    c->transform = ctm;
    SetColour(ctx, c, cs, color, alpha, cp);
    c->bounds = fz_transform_rect(fz_unit_rect, ctm);
}

void RecClipImageMask(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, fz_rect scissor) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::ClipImageMask);
    c->image = fz_keep_image(ctx, image);
    c->transform = ctm;
    c->scissor = scissor;
    c->bounds = fz_transform_rect(fz_unit_rect, ctm);
}

void RecPopClip(fz_context *ctx, fz_device *dev) { AppendOrThrow(ctx, dev, CommandKind::PopClip); }

void RecBeginMask(fz_context *ctx, fz_device *dev, fz_rect area, int luminosity, fz_colorspace *cs, const float *bc,
                  fz_color_params cp) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::BeginMask);
    c->scissor = area;
    c->bounds = area;
    c->extra = luminosity;
    SetColour(ctx, c, cs, bc, 1, cp);
}

void RecEndMask(fz_context *ctx, fz_device *dev) { AppendOrThrow(ctx, dev, CommandKind::EndMask); }

void RecBeginGroup(fz_context *ctx, fz_device *dev, fz_rect area, fz_colorspace *cs, int isolated, int knockout,
                   int blendmode, float alpha) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::BeginGroup);
    c->scissor = area;
    c->bounds = area;
    c->colorspace = fz_keep_colorspace(ctx, cs);
    c->flags = (isolated ? kIsolated : 0) | (knockout ? kKnockout : 0);
    c->extra = blendmode;
    c->alpha = alpha;
}

void RecEndGroup(fz_context *ctx, fz_device *dev) { AppendOrThrow(ctx, dev, CommandKind::EndGroup); }

int RecBeginTile(fz_context *ctx, fz_device *dev, fz_rect area, fz_rect view, float xstep, float ystep, fz_matrix ctm,
                 int id) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::BeginTile);
    c->scissor = area;
    c->view = view;
    c->xstep = xstep;
    c->ystep = ystep;
    c->transform = ctm;
    c->id = id;
    c->bounds = fz_transform_rect(area, ctm);
    return 0;  // never cached: the interpreter emits the cell contents every time
}

void RecEndTile(fz_context *ctx, fz_device *dev) { AppendOrThrow(ctx, dev, CommandKind::EndTile); }

void RecRenderFlags(fz_context *ctx, fz_device *dev, int set, int clear) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::RenderFlags);
    c->id = set;
    c->extra = clear;
}

void RecDefaultColorspaces(fz_context *ctx, fz_device *dev, fz_default_colorspaces *dcs) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::DefaultColorspaces);
    c->defaultColorspaces = fz_keep_default_colorspaces(ctx, dcs);
}

bool SetLayerName(DrawCommand *c, const char *name) noexcept {
    try {
        c->layerName = name ? name : "";
        return true;
    } catch (...) {
        return false;
    }
}

void RecBeginLayer(fz_context *ctx, fz_device *dev, const char *name) {
    DrawCommand *c = AppendOrThrow(ctx, dev, CommandKind::BeginLayer);
    if (!SetLayerName(c, name)) OutOfMemory(ctx);
}

void RecEndLayer(fz_context *ctx, fz_device *dev) { AppendOrThrow(ctx, dev, CommandKind::EndLayer); }

fz_device *NewRecordingDevice(fz_context *ctx, CommandList *list) {
    RecordingDevice *d = fz_new_derived_device(ctx, RecordingDevice);
    d->list = list;
    d->super.fill_path = RecFillPath;
    d->super.stroke_path = RecStrokePath;
    d->super.clip_path = RecClipPath;
    d->super.clip_stroke_path = RecClipStrokePath;
    d->super.fill_text = RecFillText;
    d->super.stroke_text = RecStrokeText;
    d->super.clip_text = RecClipText;
    d->super.clip_stroke_text = RecClipStrokeText;
    d->super.ignore_text = RecIgnoreText;
    d->super.fill_shade = RecFillShade;
    d->super.fill_image = RecFillImage;
    d->super.fill_image_mask = RecFillImageMask;
    d->super.clip_image_mask = RecClipImageMask;
    d->super.pop_clip = RecPopClip;
    d->super.begin_mask = RecBeginMask;
    d->super.end_mask = RecEndMask;
    d->super.begin_group = RecBeginGroup;
    d->super.end_group = RecEndGroup;
    d->super.begin_tile = RecBeginTile;
    d->super.end_tile = RecEndTile;
    d->super.render_flags = RecRenderFlags;
    d->super.set_default_colorspaces = RecDefaultColorspaces;
    d->super.begin_layer = RecBeginLayer;
    d->super.end_layer = RecEndLayer;
    return &d->super;
}

// ---------------------------------------------------------------------------------------------
// Replay.

const float *ColourOf(const DrawCommand &c) { return (c.flags & kHasColor) ? c.color.data() : nullptr; }

// The engine text of a text command, built from its source span on first use.
fz_text *TextOf(fz_context *ctx, const DrawCommand &c) {
    CapturedText &t = *c.text;
    if (!t.text && t.source) t.text = SpanText(ctx, t.source, t.spanIndex);
    return t.text;
}

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

// ---------------------------------------------------------------------------------------------
// Geometric boxes.

IntBox ToBox(fz_irect r) {
    if (fz_is_empty_irect(r)) return IntBox{};
    return IntBox{r.x0, r.y0, r.x1, r.y1};
}

// Intersection; an empty result is any box with x0 >= x1 or y0 >= y1 (see fz_is_empty_irect).
inline fz_irect Meet(fz_irect a, fz_irect b) {
    return fz_irect{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

fz_irect Join(fz_irect a, fz_irect b) {
    return fz_make_irect(std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1));
}

fz_irect ScissorIn(fz_rect scissor, fz_matrix transform) {
    if (fz_is_infinite_rect(scissor)) return fz_infinite_irect;
    return fz_irect_from_rect(fz_transform_rect(scissor, transform));
}

// Largest miter length of a path's joins, as a multiple of half the line width, in device space:
// 1 / sin(phi / 2) for a join of angle phi, or 1 where the miter limit turns it into a bevel.
struct JoinWalk {
    fz_matrix m;
    float miterLimit;
    float ratio = 1;
    fz_point current{0, 0}, start{0, 0};
    fz_point lastDir{0, 0}, firstDir{0, 0};
    bool haveLast = false, haveFirst = false;

    static bool Direction(fz_point from, fz_point to, fz_point &dir) {
        float dx = to.x - from.x, dy = to.y - from.y;
        float len = std::sqrt(dx * dx + dy * dy);
        if (!(len > 1e-6f)) return false;
        dir = fz_make_point(dx / len, dy / len);
        return true;
    }
    void Join(fz_point in, fz_point out) {
        // Angle between the incoming segment reversed and the outgoing one.
        float cosPhi = -(in.x * out.x + in.y * out.y);
        float s = std::sqrt(std::max(0.0f, (1 - cosPhi) / 2));
        if (s <= 0) return;  // the path turns straight back: the miter is cut off
        float r = 1 / s;
        if (r <= miterLimit && r > ratio) ratio = r;
    }
    // A segment leaving `current` in direction `in` and arriving in direction `out` at `to`.
    void Segment(fz_point in, fz_point out, fz_point to) {
        if (haveLast)
            Join(lastDir, in);
        else if (!haveFirst) {
            firstDir = in;
            haveFirst = true;
        }
        lastDir = out;
        haveLast = true;
        current = to;
    }
    void MoveTo(fz_point p) {
        current = start = p;
        haveLast = haveFirst = false;
    }
    void LineTo(fz_point p) {
        fz_point d;
        if (Direction(current, p, d)) Segment(d, d, p);
    }
    void CurveTo(fz_point c1, fz_point c2, fz_point p) {
        fz_point in, out;
        if (!Direction(current, c1, in) && !Direction(current, c2, in) && !Direction(current, p, in)) return;
        if (!Direction(c2, p, out) && !Direction(c1, p, out)) out = in;
        Segment(in, out, p);
    }
    void Close() {
        LineTo(start);
        if (haveLast && haveFirst) Join(lastDir, firstDir);
        current = start;
        haveLast = haveFirst = false;
    }
};

void WalkMove(fz_context *, void *arg, float x, float y) {
    auto *w = static_cast<JoinWalk *>(arg);
    w->MoveTo(fz_transform_point_xy(x, y, w->m));
}
void WalkLine(fz_context *, void *arg, float x, float y) {
    auto *w = static_cast<JoinWalk *>(arg);
    w->LineTo(fz_transform_point_xy(x, y, w->m));
}
void WalkCurve(fz_context *, void *arg, float x1, float y1, float x2, float y2, float x3, float y3) {
    auto *w = static_cast<JoinWalk *>(arg);
    w->CurveTo(fz_transform_point_xy(x1, y1, w->m), fz_transform_point_xy(x2, y2, w->m),
               fz_transform_point_xy(x3, y3, w->m));
}
void WalkClose(fz_context *, void *arg) { static_cast<JoinWalk *>(arg)->Close(); }

// Device-space box of a stroked path. The engine's own stroke bound grows the outline by the
// miter limit on every side, which makes thin rules many times too large. Instead the fill bound
// is grown by half the rendered line width (at least the one-pixel minimum the rasteriser uses
// for hairlines), times the longest miter the path's joins actually produce, or the square root
// of two for square caps.
fz_rect StrokeBounds(fz_context *ctx, const fz_path *path, const fz_stroke_state *stroke, fz_matrix m) {
    fz_rect r = fz_bound_path(ctx, path, nullptr, m);
    if (r.x0 > r.x1 || r.y0 > r.y1) return r;  // no points at all
    float expansion = fz_matrix_expansion(m);
    float width = stroke ? stroke->linewidth * expansion : expansion;
    if (width < 1) width = 1;
    float factor = 1;
    if (stroke && (stroke->start_cap == FZ_LINECAP_SQUARE || stroke->end_cap == FZ_LINECAP_SQUARE ||
                   stroke->dash_cap == FZ_LINECAP_SQUARE))
        factor = 1.4143f;
    if (stroke && (stroke->linejoin == FZ_LINEJOIN_MITER || stroke->linejoin == FZ_LINEJOIN_MITER_XPS)) {
        static const fz_path_walker walker = {WalkMove, WalkLine, WalkCurve, WalkClose,
                                              nullptr, nullptr, nullptr, nullptr};
        JoinWalk walk{m, stroke->miterlimit};
        fz_walk_path(ctx, path, &walker, &walk);
        factor = std::max(factor, walk.ratio * 1.01f);
    }
    return fz_expand_rect(r, width / 2 * factor);
}

// A rectangle through a matrix, as the engine's own transform does it, with the common
// axis-aligned case done in line.
inline fz_rect TransformRect(fz_rect r, const fz_matrix &m) {
    if (std::fabs(m.b) < FLT_EPSILON && std::fabs(m.c) < FLT_EPSILON && !fz_is_infinite_rect(r)) {
        if (m.a < 0) std::swap(r.x0, r.x1);
        if (m.d < 0) std::swap(r.y0, r.y1);
        return fz_make_rect(r.x0 * m.a + r.y0 * m.c + m.e, r.x0 * m.b + r.y0 * m.d + m.f,
                            r.x1 * m.a + r.y1 * m.c + m.e, r.x1 * m.b + r.y1 * m.d + m.f);
    }
    return fz_transform_rect(r, m);
}

constexpr float kLimit = 16777216.0f;  // the engine's largest safe integer coordinate

// Rounds outwards like the engine's fz_irect_from_rect, in line (glyph boxes are many).
inline fz_irect IrectFromRect(fz_rect r) {
    if (r.x0 > r.x1 || r.y0 > r.y1 || fz_is_infinite_rect(r)) return fz_irect_from_rect(r);
    auto lo = [](float v) { return static_cast<int>(std::floor(std::clamp(v, -kLimit, kLimit))); };
    auto hi = [](float v) { return static_cast<int>(std::ceil(std::clamp(v, -kLimit, kLimit))); };
    return fz_irect{lo(r.x0), lo(r.y0), hi(r.x1), hi(r.y1)};
}

constexpr int kWriteView = 1;
constexpr int kWriteOutput = 2;

// One device space's box pass: the clip stack and the last painted box.
struct BoxPass {
    fz_context *ctx;
    fz_matrix transform;
    int write;  // which of viewBox / outputBox this pass fills
    std::vector<fz_irect> clips;
    fz_irect last;
    int overflow = 0;  // pushes that found no memory; their pops are absorbed

    BoxPass(fz_context *c, fz_matrix t, fz_irect deviceBox, int w) : ctx(c), transform(t), write(w), last(deviceBox) {
        clips.reserve(32);
        clips.push_back(deviceBox);
    }

    fz_irect Top() const { return clips.back(); }
    void Push(fz_irect r) noexcept {
        try {
            clips.push_back(r);
        } catch (...) {
            ++overflow;
        }
    }
    void Pop() {
        if (overflow > 0)
            --overflow;
        else if (clips.size() > 1)
            clips.pop_back();
    }
    void Paint(fz_irect r) {
        if (!fz_is_empty_irect(r)) last = r;
    }
    void Store(IntBox &view, IntBox &output, fz_irect r) const {
        IntBox b = ToBox(r);
        if (write & kWriteView) view = b;
        if (write & kWriteOutput) output = b;
    }

    // Every kind but FillText/StrokeText, whose glyphs are done for all passes at once.
    void Command(DrawCommand &c) {
        fz_matrix m = fz_concat(c.transform, transform);
        switch (c.kind) {
        case CommandKind::FillPath:
            // A fill whose pixel box has no width paints nothing (Paint ignores empty boxes). A
            // zero-width outline between pixel edges still covers one pixel column, which the
            // rasteriser paints, so it counts as painted.
            Paint(Meet(fz_irect_from_rect(fz_bound_path(ctx, c.path, nullptr, m)), Top()));
            break;
        case CommandKind::StrokePath:
            Paint(Meet(fz_irect_from_rect(StrokeBounds(ctx, c.path, c.stroke, m)), Top()));
            break;
        case CommandKind::ClipPath:
            Push(Meet(Meet(fz_irect_from_rect(fz_bound_path(ctx, c.path, nullptr, m)), Top()),
                      ScissorIn(c.scissor, transform)));
            break;
        case CommandKind::ClipStrokePath: {
            fz_irect r = Meet(Meet(fz_irect_from_rect(StrokeBounds(ctx, c.path, c.stroke, m)), Top()),
                              ScissorIn(c.scissor, transform));
            Push(r);
            Paint(r);
            break;
        }
        case CommandKind::ClipText:
        case CommandKind::ClipStrokeText: {
            fz_irect r = Meet(Meet(fz_irect_from_rect(fz_bound_text(ctx, c.text->text, c.stroke, m)), Top()),
                              ScissorIn(c.scissor, transform));
            Paint(r);
            Push(r);
            break;
        }
        case CommandKind::FillImage:
            Paint(Meet(fz_irect_from_rect(fz_transform_rect(fz_unit_rect, m)), Top()));
            break;
        case CommandKind::ClipImageMask:
            Push(Meet(Meet(fz_irect_from_rect(fz_transform_rect(fz_unit_rect, m)), Top()),
                      ScissorIn(c.scissor, transform)));
            break;
        case CommandKind::PopClip:
        case CommandKind::EndGroup:
        case CommandKind::EndTile:
            Pop();
            break;
        case CommandKind::BeginMask:
        case CommandKind::BeginGroup:
            Push(Meet(Top(), ScissorIn(c.scissor, transform)));
            break;
        case CommandKind::BeginTile:
            // Cell contents are drawn into a cell buffer of the tile's view, not onto the page.
            Push(fz_irect_from_rect(fz_transform_rect(c.view, m)));
            break;
        default:  // IgnoreText, FillShade, FillImageMask, EndMask and the engine bookkeeping kinds
            break;
        }
        Store(c.viewBox, c.outputBox, last);
    }
};

constexpr int kMaxPasses = 2;

// Outline bounds of glyphs in font units, remembered per font and glyph for one box walk: a page
// uses few fonts and repeats its glyphs many times.
class UnitRectCache {
public:
    fz_rect Get(fz_context *ctx, fz_font *font, int gid) {
        Table *t = Find(font);
        if (t && gid >= 0 && static_cast<size_t>(gid) < t->known.size() && t->known[gid]) return t->rects[gid];
        fz_rect r = fz_bound_glyph(ctx, font, gid, fz_identity);
        if (t && gid >= 0 && gid < kMaxGlyph) Remember(*t, gid, r);
        return r;
    }

private:
    static constexpr int kMaxGlyph = 65536;
    struct Table {
        fz_font *font;
        std::vector<fz_rect> rects;
        std::vector<unsigned char> known;
    };
    std::vector<Table> tables_;
    Table *last_ = nullptr;

    Table *Find(fz_font *font) noexcept {
        if (last_ && last_->font == font) return last_;
        for (Table &t : tables_)
            if (t.font == font) return last_ = &t;
        try {
            tables_.push_back(Table{font, {}, {}});
            last_ = nullptr;  // addresses may have moved
            return last_ = &tables_.back();
        } catch (...) {
            return nullptr;
        }
    }
    static void Remember(Table &t, int gid, fz_rect r) noexcept {
        try {
            if (static_cast<size_t>(gid) >= t.known.size()) {
                size_t size = std::max<size_t>(static_cast<size_t>(gid) + 1, t.known.size() * 2);
                t.rects.resize(size);
                t.known.resize(size, 0);
            }
            t.rects[gid] = r;
            t.known[gid] = 1;
        } catch (...) {
            // not remembered; computed again next time
        }
    }
};

// Glyph boxes of a FillText/StrokeText command in every pass, each pass's last painted box, and
// the command's page-space bounds. A glyph is drawn at its origin snapped to the rasteriser's
// subpixel grid, so the box is the glyph's outline bounds at that snapped position, clipped.
void TextCommand(fz_context *ctx, DrawCommand &c, BoxPass *passes, int count, UnitRectCache &units) {
    CapturedText &t = *c.text;
    const bool type3 = fz_font_t3_procs(ctx, t.font) != nullptr;
    fz_matrix m[kMaxPasses], gm[kMaxPasses];
    fz_irect top[kMaxPasses], all[kMaxPasses];
    for (int p = 0; p < count; ++p) {
        m[p] = fz_concat(c.transform, passes[p].transform);
        gm[p] = fz_concat(t.matrix, m[p]);  // glyph matrix without the origin
        top[p] = passes[p].Top();
        all[p] = fz_empty_irect;
    }
    // Union of the first pass's unclipped glyph rectangles, taken back to page space at the end
    // for the command's bounds.
    fz_rect painted = fz_empty_rect;
    bool anyPainted = false;
    for (GlyphRecord &g : t.glyphs) {
        if (g.glyphId < 0) {
            for (int p = 0; p < count; ++p) passes[p].Store(g.viewBox, g.outputBox, fz_empty_irect);
            continue;
        }
        // The glyph's outline bounds in font units; every placement below is a transform of it.
        const fz_rect unit = units.Get(ctx, t.font, g.glyphId);
        for (int p = 0; p < count; ++p) {
            fz_matrix trm = gm[p];
            trm.e = g.x * m[p].a + g.y * m[p].c + m[p].e;
            trm.f = g.x * m[p].b + g.y * m[p].d + m[p].f;
            fz_matrix subpix;
            unsigned char qe, qf;
            fz_subpixel_adjust(ctx, &trm, &subpix, &qe, &qf);
            fz_rect r = TransformRect(unit, trm);
            if (c.stroke) r = fz_adjust_rect_for_stroke(ctx, r, c.stroke, m[p]);
            if (p == 0 && r.x0 <= r.x1 && r.y0 <= r.y1) {
                if (!anyPainted) {
                    painted = r;
                    anyPainted = true;
                } else {
                    painted.x0 = std::min(painted.x0, r.x0);
                    painted.y0 = std::min(painted.y0, r.y0);
                    painted.x1 = std::max(painted.x1, r.x1);
                    painted.y1 = std::max(painted.y1, r.y1);
                }
            }
            fz_irect box = IrectFromRect(r);
            if (type3 && !fz_is_empty_irect(box)) {
                box.x0 -= 1;
                box.y0 -= 1;
                box.x1 += 1;
                box.y1 += 1;
            }
            box = Meet(box, top[p]);
            passes[p].Store(g.viewBox, g.outputBox, box);
            if (!fz_is_empty_irect(box)) all[p] = fz_is_empty_irect(all[p]) ? box : Join(all[p], box);
        }
    }
    c.bounds = anyPainted ? fz_transform_rect(painted, fz_invert_matrix(passes[0].transform)) : fz_empty_rect;
    for (int p = 0; p < count; ++p) {
        passes[p].Paint(all[p]);
        passes[p].Store(c.viewBox, c.outputBox, passes[p].last);
    }
}

void BoxCommand(fz_context *ctx, DrawCommand &c, BoxPass *passes, int count, UnitRectCache &units) {
    if ((c.kind == CommandKind::FillText || c.kind == CommandKind::StrokeText) && c.text) {
        TextCommand(ctx, c, passes, count, units);
        return;
    }
    for (int p = 0; p < count; ++p) passes[p].Command(c);
}

bool RunBoxPasses(fz_context *ctx, CommandList &list, BoxPass *passes, int count, fz_device *target,
                  const fz_cookie *cookie = nullptr) {
    std::vector<DrawCommand> &cmds = list.commands;
    UnitRectCache units;
    size_t i = 0;
    fz_var(i);
    // The engine calls below throw only for damaged fonts or shadings; such a command keeps the
    // last box and the pass goes on with the next one.
    for (i = 0; i < cmds.size(); ++i) {
        if (Aborted(cookie)) return false;
        fz_try(ctx) {
            BoxCommand(ctx, cmds[i], passes, count, units);
            if (target && ReplayOne(ctx, cmds[i], target)) {
                // Cached tile: its contents get their boxes but are not drawn again.
                size_t end = MatchingEndTile(cmds, i);
                for (size_t k = i + 1; k < end; ++k) BoxCommand(ctx, cmds[k], passes, count, units);
                if (end < cmds.size()) {
                    BoxCommand(ctx, cmds[end], passes, count, units);
                    fz_end_tile(ctx, target);
                    i = end;
                } else {
                    i = cmds.size() - 1;
                }
            }
        }
        fz_catch(ctx) {
            // keep going
        }
    }
    return true;
}

} // namespace

int RecordPage(fz_context *ctx, fz_page *page, CommandList &list, fz_cookie *cookie) {
    list.Release();
    try {
        list.commands.reserve(256);
    } catch (...) {
        return -1;
    }
    fz_device *dev = nullptr;
    int rc = 0;
    fz_var(dev);
    fz_var(rc);
    fz_try(ctx) {
        dev = NewRecordingDevice(ctx, &list);
        fz_run_page(ctx, page, dev, fz_identity, cookie);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) fz_drop_device(ctx, dev);
    fz_catch(ctx) rc = -1;
    // The interpreter may stop quietly when aborted: what it recorded is only part of the page.
    if (Aborted(cookie)) rc = -1;
    if (rc != 0) list.Release();
    return rc;
}

fz_irect DeviceBoxFor(fz_context *ctx, fz_page *page, fz_matrix transform) {
    fz_rect bounds = fz_empty_rect;
    fz_try(ctx) bounds = fz_bound_page(ctx, page);
    fz_catch(ctx) bounds = fz_empty_rect;
    return fz_round_rect(fz_transform_rect(bounds, transform));
}

void ComputeBoxes(fz_context *ctx, CommandList &list, fz_matrix transform, fz_irect deviceBox, bool outputBoxes,
                  fz_device *target) {
    BoxPass pass(ctx, transform, deviceBox, kWriteView | (outputBoxes ? kWriteOutput : 0));
    RunBoxPasses(ctx, list, &pass, 1, target);
}

bool ComputeOutputAndViewBoxes(fz_context *ctx, CommandList &list, fz_matrix outputTransform, fz_irect outputBox,
                               fz_matrix viewTransform, fz_irect viewBox, const fz_cookie *cookie) {
    BoxPass passes[2] = {BoxPass(ctx, outputTransform, outputBox, kWriteOutput),
                         BoxPass(ctx, viewTransform, viewBox, kWriteView)};
    return RunBoxPasses(ctx, list, passes, 2, nullptr, cookie);
}

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
