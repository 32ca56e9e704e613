// Page capture, part three: the geometric pass that gives every command and glyph its painted box
// in a device space without painting anything.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "extract/capture.h"
#include "extract/capture_internal.h"

namespace qm {
namespace {

using capture_internal::MatchingEndTile;
using capture_internal::ReplayOne;

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

} // namespace qm
