// Page capture, part one: the recording device that turns one interpretation of a page into our
// own command list.
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "extract/capture.h"
#include "extract/capture_internal.h"

namespace qm {
namespace capture_internal {

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

} // namespace capture_internal

namespace {

using namespace capture_internal;

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

} // namespace qm
