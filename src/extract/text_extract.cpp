#include "extract/text_extract.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>

#include "extract/links.h"
#include "pdf/engine.h"
#include "platform/prompt.h"
#include "platform/xml_text.h"

namespace qm {
namespace {

int ClampToInt(double v) {
    // Boxes of absurd glyph matrices must not overflow; NaN becomes 0.
    if (!(v == v)) return 0;
    if (v > 1e9) return 1000000000;
    if (v < -1e9) return -1000000000;
    return static_cast<int>(v);
}

// Grows the character array by the program's rule: 80 entries first, then by half.
void ReserveForOneMore(std::vector<TextChar> &chars) {
    size_t capacity = chars.capacity();
    if (chars.size() + 1 >= capacity) {
        size_t grown = capacity < 2 ? 80 : capacity * 3 / 2;
        chars.reserve(grown);
    }
}

void Append(TextSpan &span, int code, const IntBox &box) {
    ReserveForOneMore(span.chars);
    span.chars.push_back(TextChar{code, box});
}

void AppendSplit(TextSpan &span, const IntBox &box, std::initializer_list<int> codes) {
    int n = static_cast<int>(codes.size());
    int k = 0;
    for (int code : codes) Append(span, code, SplitBox(box, n, k++));
}

// Advance of a glyph in em units; 0 when the engine cannot tell. The engine reads outline fonts
// through FreeType (under its own lock) and glyph-procedure fonts from their width table; for
// substituted fonts that it stretches to the PDF's widths it answers with those widths, which is
// where the next glyph really starts.
float GlyphAdvance(fz_context *ctx, fz_font *font, int gid) {
    float adv = 0;
    fz_var(adv);
    fz_try(ctx) adv = fz_advance_glyph(ctx, font, gid, 0);
    fz_catch(ctx) adv = 0;
    if (!std::isfinite(adv)) adv = 0;
    return adv;
}

// Pen geometry of one text run in page space.
struct RunPen {
    fz_point start{};  // origin of the first glyph
    fz_point end{};    // where the last glyph leaves the pen
    fz_point unit{};   // along the baseline, length 1
    float size = 0;    // font size in page units
    fz_font *font = nullptr;
};

// False for runs without pen geometry to judge by: no glyph of their own, vertical writing,
// degenerate matrices.
bool PenOfRun(fz_context *ctx, const PageItem &item, RunPen &pen) {
    if (!item.command || !item.command->text) return false;
    const CapturedText &text = *item.command->text;
    if (text.writingMode != 0) return false;
    const int n = static_cast<int>(text.glyphs.size());
    const int from = std::max(0, item.firstGlyph);
    const int to = static_cast<int>(std::min<long long>(n, static_cast<long long>(item.firstGlyph) + item.glyphCount));
    const GlyphRecord *first = nullptr, *last = nullptr;
    for (int k = from; k < to; ++k) {
        const GlyphRecord &g = text.glyphs[static_cast<size_t>(k)];
        if (g.glyphId < 0) continue;
        if (!first) first = &g;
        last = &g;
    }
    if (!first) return false;
    const fz_matrix &transform = item.command->transform;
    fz_matrix base = text.matrix;
    base.e = base.f = 0;
    base = fz_concat(base, transform);
    fz_point dir = fz_transform_vector(fz_make_point(1, 0), base);
    float length = std::hypot(dir.x, dir.y);
    pen.size = fz_matrix_expansion(base);
    if (!(length > 0) || !std::isfinite(length) || !(pen.size > 0) || !std::isfinite(pen.size)) return false;
    pen.unit = fz_make_point(dir.x / length, dir.y / length);
    pen.start = fz_transform_point(fz_make_point(first->x, first->y), transform);
    fz_point origin = fz_transform_point(fz_make_point(last->x, last->y), transform);
    float adv = GlyphAdvance(ctx, text.font, last->glyphId);
    pen.end = fz_make_point(origin.x + dir.x * adv, origin.y + dir.y * adv);
    pen.font = text.font;
    return std::isfinite(pen.start.x) && std::isfinite(pen.start.y) && std::isfinite(pen.end.x) &&
           std::isfinite(pen.end.y);
}

} // namespace

float WordGapThreshold(fz_font *font, float size) {
    float blank = 0.3f;
    if (font) {
        fz_context *ctx = EngineContext();
        float adv = 0;
        fz_var(adv);
        fz_try(ctx) {
            int gid = fz_encode_character(ctx, font, ' ');
            if (gid > 0) adv = fz_advance_glyph(ctx, font, gid, 0);
        }
        fz_catch(ctx) adv = 0;
        if (std::isfinite(adv) && adv > 0.05f && adv <= 1.0f) blank = adv;
    }
    return std::clamp(blank * 0.5f, 0.1f, 0.3f) * size;
}

RunGap JudgeRunGap(const PageItem &a, const PageItem &b) {
    fz_context *ctx = EngineContext();
    RunPen pa, pb;
    if (!PenOfRun(ctx, a, pa) || !PenOfRun(ctx, b, pb)) return RunGap::Unknown;
    // Runs turned against each other have no common line to measure along.
    if (pa.unit.x * pb.unit.x + pa.unit.y * pb.unit.y < 0.95f) return RunGap::Unknown;
    const float dx = pb.start.x - pa.end.x, dy = pb.start.y - pa.end.y;
    const float along = dx * pa.unit.x + dy * pa.unit.y;
    const float across = std::fabs(dx * pa.unit.y - dy * pa.unit.x);
    // Superscripts and subscripts stay within about half the larger size of their line; the
    // next line is a whole line height away.
    if (across > 0.7f * std::max(pa.size, pb.size)) return RunGap::Line;
    // The gap may be either font's blank: the narrower one decides, so that a typewriter face
    // next to a proportional one does not swallow the proportional face's tight gaps.
    const float threshold = std::min(WordGapThreshold(pa.font, pa.size), WordGapThreshold(pb.font, pb.size));
    if (along >= threshold) return RunGap::Word;
    // Overhangs, accents and scripts set back over a letter move back by less than an em; a run
    // that starts further back is another piece of the line (text set right to left of it).
    if (along <= -std::max(pa.size, pb.size)) return RunGap::Word;
    return RunGap::None;
}

IntBox SplitBox(const IntBox &box, int n, int k) {
    if (n <= 0) return box;
    double step = static_cast<double>(box.x1 - box.x0) / n;
    IntBox part = box;
    part.x0 = static_cast<int>(box.x0 + step * k);
    part.x1 = static_cast<int>(box.x0 + step * (k + 1));
    return part;
}

IntBox RoundOut(const fz_rect &r) {
    return IntBox{ClampToInt(std::floor(r.x0)), ClampToInt(std::floor(r.y0)), ClampToInt(std::ceil(r.x1)),
                  ClampToInt(std::ceil(r.y1))};
}

void AddChar(TextSpanChain &chain, fz_font *font, float size, int writingMode, int code, const IntBox &box) {
    TextSpan *tail = &chain.Tail();
    if (!tail->font) {
        tail->font = font;
        tail->size = size;
    }
    if (tail->font != font || tail->size != size || tail->writingMode != writingMode) {
        chain.spans.emplace_back();
        tail = &chain.Tail();
        tail->font = font;
        tail->size = size;
        tail->writingMode = writingMode;
    }
    switch (code) {
    case -1: break;
    case 0xFB00: AppendSplit(*tail, box, {'f', 'f'}); break;
    case 0xFB01: AppendSplit(*tail, box, {'f', 'i'}); break;
    case 0xFB02: AppendSplit(*tail, box, {'f', 'l'}); break;
    case 0xFB03: AppendSplit(*tail, box, {'f', 'f', 'i'}); break;
    case 0xFB04: AppendSplit(*tail, box, {'f', 'f', 'l'}); break;
    case 0xFB05:
    case 0xFB06: AppendSplit(*tail, box, {'s', 't'}); break;
    default: Append(*tail, code, box); break;
    }
}

void AddLineEnd(TextSpanChain &chain, fz_font *font, float size, int writingMode) {
    chain.Tail().endsLine = true;
    chain.spans.emplace_back();
    TextSpan &tail = chain.Tail();
    tail.font = font;
    tail.size = size;
    tail.writingMode = writingMode;
}

void DivideChars(TextSpanChain &chain, int n, const IntBox &box) {
    std::vector<TextChar> &chars = chain.Tail().chars;
    if (n <= 0 || static_cast<int>(chars.size()) < n) return;
    size_t start = chars.size() - static_cast<size_t>(n);
    for (int k = 0; k < n; ++k) chars[start + static_cast<size_t>(k)].box = SplitBox(box, n, k);
}

int ExtractTextSpans(TextSpanChain &chain, const CapturedText &text, int first, int count,
                     const fz_matrix &transform, fz_point &pen, UserPrompt &prompt) {
    const int total = static_cast<int>(text.glyphs.size());
    if (total == 0) return 0;
    if (first < 0 || count < 0 || static_cast<long long>(first) + count > total) {
        prompt.Message("fz_textextractspan - t_st + t_len > text->len");
        return -1;
    }
    fz_context *ctx = EngineContext();
    fz_font *font = text.font;
    const int wmode = text.writingMode;

    // Vertical extent of a glyph box from the face's metrics (em units); glyph-procedure fonts
    // and fonts without a face use the full em above the baseline.
    float ascender = 1, descender = 0;
    FT_Face face = font ? static_cast<FT_Face>(fz_font_ft_face(ctx, font)) : nullptr;
    if (face) {
        fz_lock(ctx, FZ_LOCK_FREETYPE);
        if (face->units_per_EM > 0) {
            ascender = static_cast<float>(face->ascender) / face->units_per_EM;
            descender = static_cast<float>(face->descender) / face->units_per_EM;
        }
        fz_unlock(ctx, FZ_LOCK_FREETYPE);
    }

    fz_matrix base = text.matrix;
    base.e = base.f = 0;
    base = fz_concat(base, transform);
    fz_point dir = wmode == 0 ? fz_make_point(1, 0) : fz_make_point(0, 1);
    dir = fz_transform_vector(dir, base);
    float dirLength = std::hypot(dir.x, dir.y);
    fz_point normDir = dirLength > 0 ? fz_make_point(dir.x / dirLength, dir.y / dirLength) : fz_make_point(0, 0);
    const float size = fz_matrix_expansion(base);

    // A forward move along the line of at least this much parts two words (horizontal text).
    const float wordGap = wmode == 0 ? WordGapThreshold(font, size) : 0;

    fz_rect previous = fz_make_rect(0, 0, 0, 0);
    int multi = 1;
    for (int i = first; i < first + count; ++i) {
        const GlyphRecord &g = text.glyphs[static_cast<size_t>(i)];
        if (g.glyphId < 0) {
            // A further character of the previous glyph (a ligature): the glyph's box is shared
            // out among all its characters; the pen stays.
            IntBox box = RoundOut(previous);
            AddChar(chain, font, size, wmode, g.unicode, box);
            ++multi;
            DivideChars(chain, multi, box);
            continue;
        }
        multi = 1;
        fz_matrix trm = text.matrix;
        trm.e = g.x;
        trm.f = g.y;
        trm = fz_concat(trm, transform);
        fz_point origin = fz_make_point(trm.e, trm.f);

        fz_point delta = fz_make_point(0, 0);
        if (!(pen.x == -1 && pen.y == -1)) delta = fz_make_point(pen.x - origin.x, pen.y - origin.y);
        float dist = std::hypot(delta.x, delta.y);
        if (dist > 0) {
            float dot = (delta.x / dist) * normDir.x + (delta.y / dist) * normDir.y;
            // delta points back from the new origin to the pen: a word gap moves the pen forward
            // (dot near -1); moves back (kerned pairs, accents set over their letter) part nothing.
            bool gap = wmode == 0 ? (dot < -0.95f && dist >= wordGap) : (std::fabs(dot) > 0.95f && dist > size * 0.2f);
            if (dist > size * 0.9f) {
                AddLineEnd(chain, font, size, wmode);
            } else if (gap) {
                const TextSpan &tail = chain.Tail();
                if (!tail.chars.empty() && tail.chars.back().unicode != 32)
                    AddChar(chain, font, size, wmode, 32, RoundOut(fz_transform_rect(fz_make_rect(-0.2f, 0, 0, 1), trm)));
            }
        }

        float adv;
        fz_rect rect;
        if (face && wmode != 0) {
            adv = -1;
            rect = fz_make_rect(0, 0, 1, -1);
        } else {
            adv = GlyphAdvance(ctx, font, g.glyphId);
            rect = fz_make_rect(0, descender, adv, ascender);
        }
        rect = fz_transform_rect(rect, trm);
        pen = fz_make_point(origin.x + dir.x * adv, origin.y + dir.y * adv);
        AddChar(chain, font, size, wmode, g.unicode, RoundOut(rect));
        previous = rect;
    }
    return 0;
}

void AppendXhtmlChar(std::string &out, int ch) {
    // Controls (tab and line ends too: the writer places its own separators) and code points XML
    // does not allow would make the page unreadable; they are dropped.
    if (ch < 32) return;
    AppendXmlChar(out, static_cast<uint32_t>(ch));
}

namespace {

// Before a character: keeps the open anchor when the character continues its link (separators
// waiting after the anchor then go inside it), else closes it and opens the character's own.
void SwitchAnchor(RunTextOutput &output, const PageLink *link) {
    if (link && link == output.openLink) {
        *output.file += output.pendingGap;
        output.pendingGap.clear();
        return;
    }
    CloseRunAnchor(output);
    if (!link) return;
    std::string &out = *output.file;
    out += "<a href=\"";
    if (output.links && output.hrefs) {
        size_t index = static_cast<size_t>(link - output.links->data());
        if (index < output.hrefs->size()) out += (*output.hrefs)[index];
    }
    out += "\">";
    output.openLink = link;
}

} // namespace

void CloseRunAnchor(RunTextOutput &output) {
    if (!output.file) return;
    if (output.openLink) *output.file += "</a>";
    output.openLink = nullptr;
    *output.file += output.pendingGap;
    output.pendingGap.clear();
}

void WriteRunGap(RunTextOutput &output, bool breakable) {
    if (!output.file) return;
    // The character reference is the same no-break space as the named entity, but it needs no
    // DTD, so the page is well-formed for every XML reader, not only validating ones.
    const char *text = breakable ? " " : "&#160;";
    (output.openLink ? output.pendingGap : *output.file) += text;
    output.lastChar = breakable ? ' ' : 0xA0;
}

void WriteRunText(RunTextOutput &output, const PageItem &item, int width, bool dropTrailingHyphen) {
    (void)width;
    if (!output.file || !item.command || !item.command->text) return;
    std::string &out = *output.file;
    TextSpanChain chain;
    fz_point pen = fz_make_point(-1, -1);
    UserPrompt &prompt = output.prompt ? *output.prompt : DefaultPrompt();
    if (ExtractTextSpans(chain, *item.command->text, item.firstGlyph, item.glyphCount, item.command->transform, pen,
                         prompt) != 0)
        return;

    // The character that a dropped hyphen may be: the last one of the last span holding any.
    size_t lastSpan = chain.spans.size();
    for (size_t s = chain.spans.size(); s-- > 0;) {
        if (!chain.spans[s].chars.empty()) {
            lastSpan = s;
            break;
        }
    }
    const bool linking = output.links && !output.links->empty();
    bool wroteText = false;  // a character other than a blank was written
    for (size_t s = 0; s < chain.spans.size(); ++s) {
        const TextSpan &span = chain.spans[s];
        for (size_t i = 0; i < span.chars.size(); ++i) {
            const TextChar &ch = span.chars[i];
            if (ch.unicode == '-' && dropTrailingHyphen && s == lastSpan && i + 1 == span.chars.size()) break;
            // A character outside every link area is never inside an anchor; consecutive
            // characters of one link share one anchor. A blank neither starts nor ends one (a
            // link of nothing but a blank has no name to announce): it joins the anchor only
            // between two characters of its link.
            const PageLink *link = linking ? FindLinkForChar(*output.links, ch.box) : nullptr;
            if (ch.unicode == ' ' && output.keepBlanks) {
                if (!wroteText) continue;
                if (output.lastChar == ' ' || output.lastChar == 0xA0) {
                    if (!link || link != output.openLink) SwitchAnchor(output, nullptr);
                    (output.openLink ? output.pendingGap : out) += "&#160;";
                    output.lastChar = 0xA0;
                    continue;
                }
            }
            if (ch.unicode == ' ') {
                if (link && link == output.openLink) {
                    output.pendingGap += ' ';
                    output.lastChar = ' ';
                    continue;
                }
                link = nullptr;
            }
            SwitchAnchor(output, link);
            size_t before = out.size();
            AppendXhtmlChar(out, ch.unicode);
            if (out.size() != before) output.lastChar = ch.unicode;
            if (ch.unicode != ' ') wroteText = true;
        }
        // A line end inside the run: a space, inside the anchor only when the link goes on.
        if (span.endsLine) {
            (output.openLink ? output.pendingGap : out) += ' ';
            output.lastChar = ' ';
        }
    }
    if (!output.continueAnchors) CloseRunAnchor(output);
}

} // namespace qm
