// Running heads and feet: reading the page bands with the engine, and judging the lines.
#include "extract/running_heads.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <tuple>

#include "extract/layout.h"
#include "extract/page_model.h"
#include "extract/roman_numeral.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "platform/utf8.h"

namespace qm {

namespace {

constexpr size_t kMaxKeyBytes = 96;      // longer lines are compared on their start
constexpr int kMaxLinesPerBand = 3;      // the lines nearest the edge
constexpr int kMaxPiecesPerLine = 4;
constexpr size_t kMaxGlyphsPerPage = 4000;  // band glyphs read from one page (hostile pages)
constexpr float kSameHeight = 3.0f;      // points between baselines of one running line
constexpr float kHeadingScale = 1.25f;   // lines this much larger than the body text are headings
constexpr int kSizeSlots = 200;          // font sizes counted in half points, up to 100 points
constexpr float kSameSize = 0.5f;        // points between font sizes of one running line

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiAlnum(char c) { return IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The blank-separated tokens of a text.
std::vector<std::string_view> Tokens(std::string_view text) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        size_t j = i;
        while (j < text.size() && text[j] != ' ' && text[j] != '\t') ++j;
        if (j > i) out.push_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

// A token stripped of the punctuation around it ("(12)", "-iv-", "12.").
std::string_view Core(std::string_view token) {
    size_t b = 0, e = token.size();
    while (b < e && !IsAsciiAlnum(token[b]) && static_cast<unsigned char>(token[b]) < 0x80) ++b;
    while (e > b && !IsAsciiAlnum(token[e - 1]) && static_cast<unsigned char>(token[e - 1]) < 0x80) --e;
    return token.substr(b, e - b);
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), IsAsciiDigit);
}

} // namespace


BandLine MakeBandLine(int band, int line, fz_rect box, float baseline, std::string_view text) {
    BandLine out;
    out.band = band;
    out.line = line;
    out.box = box;
    out.baseline = baseline;
    const std::vector<std::string_view> tokens = Tokens(text);
    // A lone number: one token that is a number once the punctuation around it is gone.
    if (tokens.size() == 1) {
        const std::string_view core = Core(tokens[0]);
        if (AllDigits(core) && core.size() <= 6) {
            out.loneKind = 1;
            out.loneValue = std::stoll(std::string(core));
        } else if (const long long v = RomanValue(core); v > 0) {
            out.loneKind = 2;
            out.loneValue = v;
        }
    }
    for (const std::string_view token : tokens) {
        if (out.key.size() >= kMaxKeyBytes) break;
        if (!out.key.empty()) out.key += ' ';
        const std::string_view core = Core(token);
        if (!core.empty() && RomanValue(core) > 0) {
            // The numeral itself becomes '#', the punctuation around it stays.
            const size_t at = static_cast<size_t>(core.data() - token.data());
            out.key.append(token.substr(0, at));
            out.key += '#';
            out.key.append(token.substr(at + core.size()));
            continue;
        }
        bool inDigits = false;
        for (const char c : token) {
            if (IsAsciiDigit(c)) {
                if (!inDigits) out.key += '#';
                inDigits = true;
                continue;
            }
            inDigits = false;
            out.key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
    }
    if (out.key.size() > kMaxKeyBytes) out.key.resize(kMaxKeyBytes);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Judging

const std::vector<fz_rect> &RunningHeads::Page(int pageNumber) const {
    static const std::vector<fz_rect> kNone;
    if (pageNumber < 1 || pageNumber > PageCount()) return kNone;
    return pages_[static_cast<size_t>(pageNumber - 1)];
}

void RunningHeads::Add(int pageNumber, const fz_rect &area) {
    if (pageNumber >= 1 && pageNumber <= PageCount()) pages_[static_cast<size_t>(pageNumber - 1)].push_back(area);
}

int RunningHeads::Count() const {
    size_t n = 0;
    for (const auto &p : pages_) n += p.size();
    return static_cast<int>(n);
}

namespace {

struct Occurrence {
    int page;  // from 1
    float baseline;
    float size;
};

// The patterns of one group of lines that read alike: the heights at which they sit on at least
// kMinRepeats pages, judged over all pages and over the odd and the even pages on their own.
void LearnGroup(std::vector<Occurrence> &group, const RunningHeadPatterns::Pattern &like,
                std::vector<RunningHeadPatterns::Pattern> &out) {
    std::sort(group.begin(), group.end(), [](const Occurrence &a, const Occurrence &b) {
        return std::tie(a.baseline, a.page) < std::tie(b.baseline, b.page);
    });
    for (int parity = -1; parity <= 1; ++parity) {
        std::vector<const Occurrence *> chosen;
        for (const Occurrence &o : group)
            if (parity < 0 || o.page % 2 == parity) chosen.push_back(&o);
        size_t from = 0;
        while (from < chosen.size()) {
            // A run of heights each within kSameHeight of its first.
            size_t to = from + 1;
            while (to < chosen.size() && chosen[to]->baseline - chosen[from]->baseline <= kSameHeight) ++to;
            std::vector<int> ps;
            for (size_t k = from; k < to; ++k) ps.push_back(chosen[k]->page);
            std::sort(ps.begin(), ps.end());
            const auto pages = std::unique(ps.begin(), ps.end()) - ps.begin();
            if (pages >= kMinRepeats) {
                RunningHeadPatterns::Pattern p = like;
                p.parity = parity;
                p.low = chosen[from]->baseline;
                p.high = chosen[to - 1]->baseline;
                for (size_t k = from; k < to; ++k) p.size = std::max(p.size, chosen[k]->size);
                out.push_back(std::move(p));
            }
            from = to;
        }
    }
}

float MedianOf(std::vector<float> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

} // namespace

RunningHeadPatterns LearnRunningHeads(const std::vector<SampledPage> &sample, int pageCount) {
    if (pageCount < kMinRepeats) return RunningHeadPatterns(pageCount, 0, {});
    // The document's body size: the median of the sampled pages' own.
    std::vector<float> known;
    for (const SampledPage &s : sample)
        if (s.bodySize > 0) known.push_back(s.bodySize);
    const float bodySize = MedianOf(std::move(known));
    // Lines that read the same apart from numbers, by band and key; lone numbers by band, kind
    // and their distance from the page number (constant while they follow the pages).
    std::map<std::pair<int, std::string>, std::vector<Occurrence>> byKey;
    std::map<std::tuple<int, int, long long>, std::vector<Occurrence>> bySequence;
    for (const SampledPage &s : sample) {
        for (const BandLine &l : s.lines) {
            if (bodySize > 0 && l.size > kHeadingScale * bodySize) continue;
            const Occurrence o{s.pageNumber, l.baseline, l.size};
            if (l.loneKind != 0)
                bySequence[{l.band, l.loneKind, static_cast<long long>(s.pageNumber) - l.loneValue}].push_back(o);
            else if (!l.key.empty())
                byKey[{l.band, l.key}].push_back(o);
        }
    }
    std::vector<RunningHeadPatterns::Pattern> patterns;
    for (auto &[k, group] : byKey) {
        RunningHeadPatterns::Pattern like;
        like.band = k.first;
        like.key = k.second;
        LearnGroup(group, like, patterns);
    }
    for (auto &[k, group] : bySequence) {
        RunningHeadPatterns::Pattern like;
        like.band = std::get<0>(k);
        like.loneKind = std::get<1>(k);
        like.offset = std::get<2>(k);
        LearnGroup(group, like, patterns);
    }
    return RunningHeadPatterns(pageCount, bodySize, std::move(patterns));
}

namespace {

bool SameSize(float a, float b) { return a > 0 && b > 0 && std::fabs(a - b) <= kSameSize; }

} // namespace

RunningHeadPatterns::RunningHeadPatterns(int pageCount, float bodySize, std::vector<Pattern> patterns)
    : pageCount_(pageCount), bodySize_(bodySize), patterns_(std::move(patterns)) {
    // Text patterns gathered by band, height and size; a place holding two texts or more is a
    // slot (the number of patterns is bounded by the sample, so pairs may be compared).
    struct Place {
        Slot slot;
        std::vector<const std::string *> keys;
    };
    std::vector<Place> places;
    for (const Pattern &p : patterns_) {
        if (p.loneKind != 0 || p.key.empty() || !(p.size > 0)) continue;
        auto at = std::find_if(places.begin(), places.end(), [&](const Place &pl) {
            return pl.slot.band == p.band && SameSize(pl.slot.size, p.size) && p.low <= pl.slot.high + kSameHeight &&
                   p.high >= pl.slot.low - kSameHeight;
        });
        if (at == places.end()) {
            places.push_back(Place{Slot{p.band, p.low, p.high, p.size}, {}});
            at = places.end() - 1;
        } else {
            at->slot.low = std::min(at->slot.low, p.low);
            at->slot.high = std::max(at->slot.high, p.high);
        }
        if (std::none_of(at->keys.begin(), at->keys.end(), [&](const std::string *k) { return *k == p.key; }))
            at->keys.push_back(&p.key);
    }
    for (const Place &pl : places)
        if (pl.keys.size() >= 2) slots_.push_back(pl.slot);
}

int RunningHeadPatterns::InSlot(const BandLine &line) const {
    if (line.loneKind != 0 || line.key.empty()) return -1;
    if (bodySize_ > 0 && line.size > kHeadingScale * bodySize_) return -1;
    for (size_t k = 0; k < slots_.size(); ++k) {
        const Slot &s = slots_[k];
        if (s.band == line.band && SameSize(s.size, line.size) && line.baseline >= s.low - kSameHeight &&
            line.baseline <= s.high + kSameHeight)
            return static_cast<int>(k);
    }
    return -1;
}

bool RunningHeadPatterns::Matches(int pageNumber, const BandLine &line) const {
    if (bodySize_ > 0 && line.size > kHeadingScale * bodySize_) return false;
    for (const Pattern &p : patterns_) {
        // A lone number that is this page's number in a sequence the document follows is a page
        // number wherever it sits in the bands (a chapter's opening page has it at the foot).
        if (p.loneKind != 0) {
            if (line.loneKind == p.loneKind && static_cast<long long>(pageNumber) - line.loneValue == p.offset)
                return true;
            continue;
        }
        if (p.band != line.band || (p.parity >= 0 && pageNumber % 2 != p.parity)) continue;
        // At the learned height, give or take kSameHeight around the sampled lines.
        if (line.baseline < p.high - kSameHeight || line.baseline > p.low + kSameHeight) continue;
        if (line.loneKind == 0 && !line.key.empty() && line.key == p.key) return true;
    }
    return false;
}

bool RunningHeadPatterns::NumberShift(int loneKind, long long &shift) const {
    bool found = false;
    long long learned = 0;
    for (const Pattern &p : patterns_) {
        if (p.loneKind != loneKind || loneKind == 0) continue;
        if (found && p.offset != learned) return false;
        learned = p.offset;
        found = true;
    }
    if (found) shift = learned;
    return found;
}

std::vector<fz_rect> RunningHeadPatterns::Areas(int pageNumber, const std::vector<BandLine> &lines,
                                                const NeighbourLinesFn &neighbours) const {
    std::vector<fz_rect> out;
    if (patterns_.empty() || pageCount_ < kMinRepeats) return out;
    std::vector<char> marked(lines.size(), 0);
    for (size_t i = 0; i < lines.size(); ++i) marked[i] = Matches(pageNumber, lines[i]) ? 1 : 0;
    // Lines in a slot that no pattern knows go when the same text stands in the same slot on at
    // least kMinRepeats - 1 of the pages up to kNeighbourReach before and after (a line seen on
    // only one or two pages stays). The neighbours at hand are asked first, the others are read
    // only while a line is still open; the answer is the same whichever of them were at hand.
    std::vector<size_t> open;
    std::vector<int> found(lines.size(), 0);
    if (neighbours && !slots_.empty())
        for (size_t i = 0; i < lines.size(); ++i)
            if (!marked[i] && InSlot(lines[i]) >= 0) open.push_back(i);
    constexpr int kNeighbours[] = {-1, 1, -2, 2, -3, 3, -4, 4};
    static_assert(std::size(kNeighbours) == 2 * kNeighbourReach);
    bool asked[std::size(kNeighbours)] = {};
    std::vector<BandLine> other;
    for (int pass = 0; pass < 2 && !open.empty(); ++pass) {
        for (size_t n = 0; n < std::size(kNeighbours) && !open.empty(); ++n) {
            const int q = pageNumber + kNeighbours[n];
            if (asked[n] || q < 1 || q > pageCount_) continue;
            other.clear();
            const bool got = neighbours(q, pass == 1, other);
            if (!got && pass == 0) continue;
            asked[n] = true;
            std::erase_if(open, [&](size_t i) {
                const BandLine &l = lines[i];
                const int slot = InSlot(l);
                if (std::any_of(other.begin(), other.end(),
                                [&](const BandLine &o) { return o.key == l.key && InSlot(o) == slot; }))
                    ++found[i];
                if (found[i] < kMinRepeats - 1) return false;
                marked[i] = 1;
                return true;
            });
        }
    }
    // A line all of whose pieces go is left out whole (a run may hold several pieces).
    std::map<int, std::pair<bool, fz_rect>> whole;
    for (size_t i = 0; i < lines.size(); ++i) {
        auto [it, added] = whole.try_emplace(lines[i].line, true, lines[i].box);
        if (!added) it->second.second = fz_union_rect(it->second.second, lines[i].box);
        if (!marked[i]) it->second.first = false;
    }
    for (size_t i = 0; i < lines.size(); ++i)
        if (marked[i] && !whole[lines[i].line].first) out.push_back(lines[i].box);
    for (const auto &[line, w] : whole)
        if (w.first) out.push_back(w.second);
    return out;
}

std::vector<int> RunningHeadSample(int pageCount) {
    std::vector<int> out;
    constexpr int kAll = kSampleWindows * kSampleWindowPages;
    if (pageCount <= kAll) {
        for (int p = 1; p <= pageCount; ++p) out.push_back(p);
        return out;
    }
    // Windows of neighbouring pages, the first at the start and the last at the end.
    for (int i = 0; i < kSampleWindows; ++i) {
        const int start = 1 + static_cast<int>(static_cast<long long>(i) * (pageCount - kSampleWindowPages) /
                                               (kSampleWindows - 1));
        for (int p = start; p < start + kSampleWindowPages; ++p) out.push_back(p);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

RunningHeads JudgeRunningHeads(const std::vector<std::vector<BandLine>> &pages, const std::vector<float> *bodySizes) {
    const int pageCount = static_cast<int>(pages.size());
    std::vector<SampledPage> sample(pages.size());
    for (size_t i = 0; i < pages.size(); ++i) {
        sample[i].pageNumber = static_cast<int>(i) + 1;
        sample[i].lines = pages[i];
        if (bodySizes && i < bodySizes->size()) sample[i].bodySize = (*bodySizes)[i];
    }
    const RunningHeadPatterns patterns = LearnRunningHeads(sample, pageCount);
    RunningHeads result(pageCount);
    for (int p = 1; p <= pageCount; ++p)
        for (const fz_rect &area : patterns.Areas(p, pages[static_cast<size_t>(p - 1)])) result.Add(p, area);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Reading the bands

namespace {

struct BandGlyph {
    float x, y, size, advance;
    int band;
    int ucs;
};

// Sorts glyphs into the page's bands and counts the page's font sizes.
struct BandCollector {
    std::vector<BandGlyph> *glyphs = nullptr;
    int *sizeCounts = nullptr;  // kSizeSlots counters of the page's glyphs by font size
    float topLimit = 0, bottomLimit = 0;
    fz_rect bounds{};
};

BandCollector CollectorFor(fz_rect bounds, std::vector<BandGlyph> *glyphs, int *sizeCounts) {
    BandCollector c;
    c.glyphs = glyphs;
    c.sizeCounts = sizeCounts;
    c.bounds = bounds;
    const float h = bounds.y1 - bounds.y0;
    c.topLimit = bounds.y0 + kRunningBandShare * h;
    c.bottomLimit = bounds.y1 - kRunningBandShare * h;
    return c;
}

// The band (0 top, 1 bottom) of a glyph placed by `m` (its size matrix and origin in page space),
// -1 when it lies in neither or is not horizontal, upright text. Counts its size.
int BandOf(const BandCollector &d, const fz_matrix &m) {
    if (std::fabs(m.b) > 0.01f * std::fabs(m.a) || std::fabs(m.c) > 0.01f * std::fabs(m.d) || m.a <= 0) return -1;
    const float size = std::fabs(m.d);
    if (!(size > 0.5f) || size > 0.3f * (d.bounds.y1 - d.bounds.y0)) return -1;
    if (const int slot = static_cast<int>(size * 2.0f); slot < kSizeSlots) ++d.sizeCounts[slot];
    const float y = m.f;
    if (m.e < d.bounds.x0 || m.e > d.bounds.x1 || y < d.bounds.y0 || y - 0.8f * size > d.bounds.y1) return -1;
    if (y <= d.topLimit) return 0;
    if (y - 0.8f * size >= d.bottomLimit) return 1;
    return -1;
}

void KeepGlyph(const BandCollector &d, const BandGlyph &g) noexcept {
    if (d.glyphs->size() >= kMaxGlyphsPerPage) return;
    try {
        d.glyphs->push_back(g);
    } catch (...) {
    }
}

struct BandDevice {
    fz_device super;
    BandCollector collector;
};

// Only trivially destructible locals here: the engine may unwind through this frame.
void BandText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm) {
    BandDevice *d = reinterpret_cast<BandDevice *>(dev);
    for (const fz_text_span *span = text->head; span; span = span->next) {
        if (span->wmode != 0) continue;
        for (int i = 0; i < span->len; ++i) {
            const fz_text_item &item = span->items[i];
            if (item.ucs < 32) continue;
            fz_matrix trm = span->trm;
            trm.e = item.x;
            trm.f = item.y;
            const fz_matrix m = fz_concat(trm, ctm);
            const int band = BandOf(d->collector, m);
            if (band < 0) continue;
            float advance = 0.5f;
            if (item.gid >= 0) advance = fz_advance_glyph(ctx, span->font, item.gid, 0);
            KeepGlyph(d->collector, BandGlyph{m.e, m.f, std::fabs(m.d), advance * m.a, band, item.ucs});
        }
    }
}

void BandFillText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_colorspace *, const float *,
                  float, fz_color_params) {
    BandText(ctx, dev, text, ctm);
}
void BandStrokeText(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *, fz_matrix ctm,
                    fz_colorspace *, const float *, float, fz_color_params) {
    BandText(ctx, dev, text, ctm);
}

// Glyphs of one band into lines (baselines apart by under a third of the font size) and lines
// into pieces (apart by more than two font sizes), the lines nearest the edge first.
void GlyphsToLines(std::vector<BandGlyph> &glyphs, std::vector<BandLine> &out) {
    std::sort(glyphs.begin(), glyphs.end(), [](const BandGlyph &a, const BandGlyph &b) {
        return std::tie(a.band, a.y, a.x) < std::tie(b.band, b.y, b.x);
    });
    struct Line {
        int band;
        size_t from, to;
    };
    std::vector<Line> lines;
    for (size_t i = 0; i < glyphs.size();) {
        size_t j = i + 1;
        while (j < glyphs.size() && glyphs[j].band == glyphs[i].band &&
               glyphs[j].y - glyphs[i].y <= 0.3f * std::max(glyphs[i].size, glyphs[j].size))
            ++j;
        lines.push_back({glyphs[i].band, i, j});
        i = j;
    }
    // Top band: the first lines; bottom band: the last ones.
    std::vector<const Line *> chosen;
    int topTaken = 0;
    for (const Line &l : lines)
        if (l.band == 0 && topTaken < kMaxLinesPerBand) {
            chosen.push_back(&l);
            ++topTaken;
        }
    int bottomTaken = 0;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->band == 1 && bottomTaken < kMaxLinesPerBand) {
            chosen.push_back(&*it);
            ++bottomTaken;
        }
    int lineNumber = 0;
    for (const Line *l : chosen) {
        std::sort(glyphs.begin() + static_cast<long>(l->from), glyphs.begin() + static_cast<long>(l->to),
                  [](const BandGlyph &a, const BandGlyph &b) { return a.x < b.x; });
        float baseline = glyphs[l->from].y;
        float size = 0;
        std::string text;
        fz_rect box = fz_empty_rect;
        int pieces = 0;
        auto flush = [&] {
            if (!text.empty() && pieces < kMaxPiecesPerLine) {
                out.push_back(MakeBandLine(l->band, lineNumber, box, baseline, text));
                out.back().size = size;
                ++pieces;
            }
            size = 0;
            text.clear();
            box = fz_empty_rect;
        };
        for (size_t k = l->from; k < l->to; ++k) {
            const BandGlyph &g = glyphs[k];
            if (!text.empty()) {
                const float gap = g.x - box.x1;
                if (gap > 2.0f * g.size)
                    flush();
                else if (gap > 0.2f * g.size && text.back() != ' ')
                    text += ' ';
            }
            if (g.ucs == ' ' && (text.empty() || text.back() == ' ')) continue;
            size = std::max(size, g.size);
            if (text.size() < 4 * kMaxKeyBytes) AppendUtf8(text, static_cast<uint32_t>(g.ucs));
            const fz_rect gr{g.x, g.y - g.size, g.x + std::max(g.advance, 0.0f), g.y + 0.3f * g.size};
            box = fz_is_empty_rect(box) ? gr : fz_union_rect(box, gr);
        }
        flush();
        ++lineNumber;
    }
}

float MostCommonSize(const std::vector<int> &sizeCounts) {
    const auto most = std::max_element(sizeCounts.begin(), sizeCounts.end());
    if (most == sizeCounts.end() || *most <= 0) return 0;
    return static_cast<float>(most - sizeCounts.begin()) / 2.0f + 0.25f;
}

} // namespace

bool ReadBandLines(fz_context *ctx, fz_page *page, fz_cookie *cookie, std::vector<BandLine> &out, float &bodySize) {
    out.clear();
    bodySize = 0;
    std::vector<BandGlyph> glyphs;
    std::vector<int> sizeCounts(kSizeSlots, 0);
    BandDevice *dev = nullptr;
    const EngineStatus status = EngineTry(ctx, [&](fz_context *c) {
        dev = fz_new_derived_device(c, BandDevice);
        dev->collector = CollectorFor(fz_bound_page(c, page), &glyphs, sizeCounts.data());
        dev->super.fill_text = BandFillText;
        dev->super.stroke_text = BandStrokeText;
        fz_run_page_contents(c, page, &dev->super, fz_identity, cookie);
        fz_close_device(c, &dev->super);
    });
    if (dev) fz_drop_device(ctx, &dev->super);
    if (!status.Ok() || (cookie && cookie->abort)) return false;
    bodySize = MostCommonSize(sizeCounts);
    try {
        GlyphsToLines(glyphs, out);
    } catch (...) {
        out.clear();
        return false;
    }
    return true;
}

std::vector<BandLine> CapturedBandLines(const PageModel &model) {
    std::vector<BandLine> out;
    const PageLayout *page = model.Current();
    if (!page) return out;
    const fz_matrix toPage = fz_invert_matrix(model.viewTransform);
    const IntBox &vb = model.viewDeviceBox;
    const fz_rect bounds = fz_transform_rect(fz_rect{static_cast<float>(vb.x0), static_cast<float>(vb.y0),
                                                     static_cast<float>(vb.x1), static_cast<float>(vb.y1)},
                                             toPage);
    std::vector<BandGlyph> glyphs;
    struct GlyphAdvance {
        fz_font *font;
        int gid;
        float scale;
    };
    std::vector<GlyphAdvance> advances;
    std::vector<int> sizeCounts(kSizeSlots, 0);
    const BandCollector collector = CollectorFor(bounds, &glyphs, sizeCounts.data());
    for (const auto &itemPtr : page->items) {
        const PageItem &item = *itemPtr;
        if (!IsTextItem(item) || !item.command->text) continue;
        const DrawCommand &command = *item.command;
        const CapturedText &text = *command.text;
        if (text.writingMode != 0) continue;
        const fz_matrix size = fz_concat(text.matrix, command.transform);
        const size_t first = static_cast<size_t>(std::max(0, item.firstGlyph));
        const size_t last = std::min(text.glyphs.size(), first + static_cast<size_t>(std::max(0, item.glyphCount)));
        for (size_t k = first; k < last; ++k) {
            const GlyphRecord &g = text.glyphs[k];
            if (g.unicode < 32) continue;
            const fz_point origin = fz_transform_point(fz_point{g.x, g.y}, command.transform);
            fz_matrix m = size;
            m.e = origin.x;
            m.f = origin.y;
            const int band = BandOf(collector, m);
            if (band < 0) continue;
            // The advance as the engine gives it (below); no glyph of its own: half an em.
            if (glyphs.size() >= kMaxGlyphsPerPage) continue;
            glyphs.push_back(BandGlyph{m.e, m.f, std::fabs(m.d), 0.5f * m.a, band, g.unicode});
            advances.push_back(GlyphAdvance{g.glyphId >= 0 ? text.font : nullptr, g.glyphId, m.a});
        }
    }
    // The glyphs' advance widths, the same the reading pass measures (where the engine fails, the
    // half em stays).
    fz_context *ctx = EngineContext();
    BandGlyph *bandGlyphs = glyphs.data();
    const GlyphAdvance *want = advances.data();
    const size_t count = glyphs.size();
    EngineTry(ctx, [&](fz_context *c) {
        for (size_t k = 0; k < count; ++k)
            if (want[k].font) bandGlyphs[k].advance = fz_advance_glyph(c, want[k].font, want[k].gid, 0) * want[k].scale;
    });
    try {
        GlyphsToLines(glyphs, out);
    } catch (...) {
        out.clear();
    }
    return out;
}

std::vector<fz_rect> RunningHeadNeighbours::Areas(const RunningHeadPatterns &patterns, const PageModel &model,
                                                  PdfDocument &doc) {
    if (patterns.Empty() || !model.Current()) return {};
    const int pageNumber = model.Current()->pageNumber;
    std::vector<BandLine> lines = CapturedBandLines(model);
    auto neighbour = [&](int q, bool read, std::vector<BandLine> &out) {
        for (const Kept &k : kept_)
            if (k.page == q) {
                out = k.lines;
                return true;
            }
        if (!read) return false;
        // Read as part of the current page's run: its cancel and time limit reach this too.
        ++pagesRead_;
        auto lock = doc.Lock();
        EngineRef<fz_page> page = doc.LoadPage(q);
        float bodySize = 0;
        return page && ReadBandLines(EngineContext(), page.get(), doc.PageRunCookie(), out, bodySize);
    };
    std::vector<fz_rect> areas = patterns.Areas(pageNumber, lines, neighbour);
    if (!patterns.Slots().empty() && kept_[0].page != pageNumber) {
        std::move_backward(std::begin(kept_), std::end(kept_) - 1, std::end(kept_));
        kept_[0] = Kept{pageNumber, std::move(lines)};
    }
    return areas;
}

std::vector<fz_rect> RunningHeadAreas(const RunningHeadPatterns &patterns, const PageModel &model) {
    if (patterns.Empty() || !model.Current()) return {};
    return patterns.Areas(model.Current()->pageNumber, CapturedBandLines(model));
}

RunningHeadPatterns FindRunningHeads(PdfDocument &doc, const std::function<bool()> &cancelled) {
    const int pageCount = doc.PageCount();
    if (pageCount < kMinRepeats) return RunningHeadPatterns(pageCount, 0, {});
    std::vector<SampledPage> sample;
    for (const int p : RunningHeadSample(pageCount)) {
        if (cancelled && cancelled()) return RunningHeadPatterns(pageCount, 0, {});
        SampledPage s;
        s.pageNumber = p;
        auto lock = doc.Lock();
        doc.BeginPageRun(false);
        EngineRef<fz_page> page = doc.LoadPage(p);
        if (page) ReadBandLines(EngineContext(), page.get(), doc.PageRunCookie(), s.lines, s.bodySize);
        page.reset();
        doc.EndPageRun();
        sample.push_back(std::move(s));
    }
    return LearnRunningHeads(sample, pageCount);
}

std::vector<IntBox> RunningHeadViewBoxes(const std::vector<fz_rect> &areas, const fz_matrix &viewTransform) {
    std::vector<IntBox> out;
    out.reserve(areas.size());
    for (const fz_rect &a : areas) {
        const float h = a.y1 - a.y0;
        // Room for the rendered glyphs' own boxes (accents, descenders, italic overhang).
        const fz_rect wide{a.x0 - 0.5f * h, a.y0 - 0.3f * h, a.x1 + 0.5f * h, a.y1 + 0.3f * h};
        const fz_rect v = fz_transform_rect(wide, viewTransform);
        out.push_back(IntBox{static_cast<int>(std::floor(v.x0)) - 1, static_cast<int>(std::floor(v.y0)) - 1,
                             static_cast<int>(std::ceil(v.x1)) + 1, static_cast<int>(std::ceil(v.y1)) + 1});
    }
    return out;
}

bool InsideRunningHead(const std::vector<IntBox> &viewAreas, const IntBox &runBox) {
    for (const IntBox &a : viewAreas)
        if (runBox.x0 >= a.x0 && runBox.y0 >= a.y0 && runBox.x1 <= a.x1 && runBox.y1 <= a.y1) return true;
    return false;
}

} // namespace qm
