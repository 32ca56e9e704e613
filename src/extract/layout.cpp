#include "extract/layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <functional>
#include <queue>

#include "extract/column_detect.h"
#include "extract/layout_index.h"
#include "platform/prompt.h"

namespace qm {

namespace {

bool WellFormed(const IntBox &b) { return b.x0 <= b.x1 && b.y0 <= b.y1; }

inline int Relate(const IntBox &a, const IntBox &b, int tolX, int tolY) {
    int ox = std::min(a.x1, b.x1) - std::max(a.x0, b.x0);
    int oy = std::min(a.y1, b.y1) - std::max(a.y0, b.y0);
    bool cols = ox >= tolX, rows = oy >= tolY;
    if (cols && rows) {
        if (a.x0 <= b.x0 && a.x1 >= b.x1 && a.y0 <= b.y0 && a.y1 >= b.y1) return 4;
        if (b.x0 <= a.x0 && b.x1 >= a.x1 && b.y0 <= a.y0 && b.y1 >= a.y1) return 6;
        return 5;
    }
    if (cols) return a.y0 >= b.y0 ? 1 : 9;
    if (rows) return a.x0 >= b.x0 ? 3 : 7;
    if (a.x0 >= b.x0) return a.y0 >= b.y0 ? 0 : 8;
    return a.y0 >= b.y0 ? 2 : 10;
}

long long Area(const IntBox &b) { return static_cast<long long>(b.x1 - b.x0) * (b.y1 - b.y0); }

const IntBox &MemberBox(const BlockMember &m) { return m.isGroup ? m.group->viewBox : m.item->viewBox; }

bool FirstIsText(const TextBlock &b) { return b.first && !b.first->isGroup && IsTextItem(*b.first->item); }

// Appends the chain of `from` to `into` without touching boxes or flags.
void AppendMembers(TextBlock &into, TextBlock &from) {
    if (!from.first) return;
    if (into.last)
        into.last->next = from.first;
    else
        into.first = from.first;
    into.last = from.last;
}

// Per-block facts the neighbour search reads over and over.
struct RunFacts {
    bool text = false;
    IntBox box;     // the run's view box
    int em = 1;     // first-glyph box width
    int height = 1; // first-glyph box height
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Boxes

int RelateBoxes(const IntBox &a, const IntBox &b, int tolX, int tolY) { return Relate(a, b, tolX, tolY); }

IntBox IntersectBoxes(const IntBox &a, const IntBox &b) {
    if (a.x0 > a.x1) return b;
    if (b.x0 > b.x1) return a;
    if (a.x0 == a.x1 || b.x0 == b.x1) return IntBox{};
    IntBox r{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
    if (r.x1 < r.x0 || r.y1 < r.y0) return IntBox{};
    return r;
}

bool BoxesIntersect(const IntBox &a, const IntBox &b) {
    IntBox r = IntersectBoxes(a, b);
    return r.x0 != r.x1;
}

// ---------------------------------------------------------------------------------------------
// Items

bool IsTextItem(const PageItem &item) { return item.command && IsTextKind(item.command->kind); }
bool IsGraphicPathItem(const PageItem &item) { return item.command && IsGraphicPathKind(item.command->kind); }
bool IsPictureItem(const PageItem &item) { return item.command && IsPictureKind(item.command->kind); }

bool RunIsBlank(const PageItem &item) {
    if (!item.command || !item.command->text) return true;
    const std::vector<GlyphRecord> &g = item.command->text->glyphs;
    long long end = std::min<long long>(static_cast<long long>(item.firstGlyph) + item.glyphCount,
                                        static_cast<long long>(g.size()));
    for (long long i = std::max(0, item.firstGlyph); i < end; ++i)
        if (g[static_cast<size_t>(i)].glyphId > 0 && g[static_cast<size_t>(i)].unicode != 32) return false;
    return true;
}

int TextEmPixels(const DrawCommand &command, const fz_matrix &viewTransform) {
    if (!command.text) return 0;
    fz_matrix m = fz_concat(fz_concat(command.text->matrix, command.transform), viewTransform);
    float e = std::sqrt(std::fabs(m.a * m.d - m.b * m.c));
    if (!(e < 1e9f)) return 0;
    return static_cast<int>(e);
}

FirstGlyph FirstGlyphBox(const PageItem &item, const fz_matrix &viewTransform) {
    FirstGlyph r;
    if (!item.command || !item.command->text) return r;
    int em = TextEmPixels(*item.command, viewTransform);
    if (em == 0) return r;
    const std::vector<GlyphRecord> &g = item.command->text->glyphs;
    long long end = std::min<long long>(static_cast<long long>(item.firstGlyph) + item.glyphCount,
                                        static_cast<long long>(g.size()));
    for (long long i = std::max(0, item.firstGlyph); i < end; ++i) {
        const GlyphRecord &gl = g[static_cast<size_t>(i)];
        if (gl.glyphId < 0 || gl.unicode == 32 || gl.viewBox.Width() <= 0 || gl.viewBox.Height() <= 0) continue;
        r.box = IntBox{gl.viewBox.x0, gl.viewBox.y0, gl.viewBox.x0 + em, gl.viewBox.y0 + item.viewBox.Height()};
        r.capital = gl.unicode >= 65 && gl.unicode <= 90;
        return r;
    }
    return r;
}

bool OverlapsText(const LayoutPage &page, const PageItem &item) {
    if (!page.items) return false;
    for (const auto &other : *page.items) {
        if (other.get() == &item || !IsTextItem(*other) || RunIsBlank(*other)) continue;
        if (BoxesIntersect(other->viewBox, item.viewBox)) return true;
    }
    return false;
}

namespace {

// Everything of the candidate test except OverlapsText.
bool CandidateWithoutOverlap(const LayoutPage &page, const PageItem &item) {
    if (item.disabled == 1 || !item.command || !IsDisplayableKind(item.command->kind)) return false;
    if (!BoxesIntersect(item.viewBox, page.cropRect)) return false;
    if (IsTextItem(item))
        return !RunIsBlank(item) && !(!page.runningHeads.empty() && InsideRunningHead(page.runningHeads, item.viewBox));
    if (page.options.ignoreVectorGraphics == 1 && IsGraphicPathItem(item)) return false;
    if (page.options.ignoreImages == 1 && IsPictureItem(item)) return false;
    return true;
}

bool NeedsOverlapTest(const PageItem &item) { return IsGraphicPathItem(item) || IsPictureItem(item); }

} // namespace

bool IsLayoutCandidate(const LayoutPage &page, const PageItem &item) {
    if (!CandidateWithoutOverlap(page, item)) return false;
    return !(NeedsOverlapTest(item) && OverlapsText(page, item));
}

bool IsLayoutCandidate(const LayoutPage &page, const ItemGroup &group) {
    return group.disabled != 1 && BoxesIntersect(group.viewBox, page.cropRect);
}

namespace {

bool SameLineFacts(const RunFacts &a, const RunFacts &b, float tolX) {
    int r = Relate(a.box, b.box, 0, 0);
    if (r < 4 || r > 7) return false;
    return static_cast<float>(std::abs(b.box.x0 - a.box.x1)) < tolX * static_cast<float>(std::max(a.em, b.em));
}

bool NextLineFacts(const RunFacts &a, const RunFacts &b, float tolY) {
    if (Relate(a.box, b.box, 0, 0) != 9) return false;
    return static_cast<float>(b.box.y0 - a.box.y1) < tolY * static_cast<float>(std::min(a.height, b.height));
}

RunFacts FactsOf(const PageItem &item, const fz_matrix &viewTransform) {
    RunFacts f;
    f.text = true;
    f.box = item.viewBox;
    FirstGlyph g = FirstGlyphBox(item, viewTransform);
    f.em = g.box.Width();
    f.height = g.box.Height();
    return f;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Blocks

IntBox BlockBox(const TextBlock &block) {
    IntBox box;
    bool firstMember = true;
    for (const BlockMember *m = block.first; m; m = m->next) {
        box = firstMember ? MemberBox(*m) : Union(box, MemberBox(*m));
        firstMember = false;
    }
    return box;
}


void MergeBlocks(TextBlock &into, TextBlock &from) {
    bool intoEmpty = into.first == nullptr;
    AppendMembers(into, from);
    if (intoEmpty)
        into.box = BlockBox(into);
    else if (from.first)
        into.box = Union(into.box, from.box);
    from.consumed = true;
}

namespace {

// Same-line (mode 1) and next-line (mode 2) chain merging. The rules describe a recursion along the
// successor links; links always point to later positions, so the chain is collected first and
// merged from its far end, which is the order the recursion merges in.
void MergeChain(std::vector<TextBlock> &blocks, int x, int mode, std::vector<int> &chain) {
    chain.clear();
    chain.push_back(x);
    for (;;) {
        const TextBlock &cur = blocks[static_cast<size_t>(chain.back())];
        int s = mode == 1 ? cur.sameLineNext : cur.nextLine;
        if (s < 0 || blocks[static_cast<size_t>(s)].consumed) break;
        chain.push_back(s);
    }
    for (size_t k = chain.size() - 1; k >= 1; --k) {
        TextBlock &into = blocks[static_cast<size_t>(chain[k - 1])];
        TextBlock &from = blocks[static_cast<size_t>(chain[k])];
        from.consumed = true;
        bool intoEmpty = into.first == nullptr;
        AppendMembers(into, from);
        if (mode == 1) {
            if (into.nextLine < 0) {
                into.nextLine = from.nextLine;
            } else if (from.nextLine >= 0 &&
                       CompareBlocks(nullptr, 0, 0, blocks[static_cast<size_t>(into.nextLine)],
                                     blocks[static_cast<size_t>(from.nextLine)], nullptr, 0) > 0) {
                into.nextLine = from.nextLine;
            }
            into.box = intoEmpty ? BlockBox(into) : (from.first ? Union(into.box, from.box) : into.box);
            into.sameLineNext = -1;
        } else {
            into.box = intoEmpty ? BlockBox(into) : (from.first ? Union(into.box, from.box) : into.box);
            from.first = from.last = nullptr;
            into.nextLine = -1;
        }
    }
}

void AddBlock(BlockList &out, bool isGroup, PageItem *item, ItemGroup *group) {
    out.members.push_back(BlockMember{isGroup, item, group, nullptr});
    BlockMember *m = &out.members.back();
    TextBlock b;
    b.index = static_cast<int>(out.blocks.size());
    b.first = b.last = m;
    b.box = MemberBox(*m);
    out.blocks.push_back(b);
}

// Candidate test for many items at once: the OverlapsText part goes through a grid of the page's
// visible text runs.
class CandidateFilter {
public:
    CandidateFilter(const LayoutPage &page, bool indexed) : page_(page), indexed_(indexed) {}

    bool Test(const PageItem &item) {
        if (!CandidateWithoutOverlap(page_, item)) return false;
        if (!NeedsOverlapTest(item)) return true;
        if (!indexed_ || !WellFormed(item.viewBox)) return !OverlapsText(page_, item);
        Prepare();
        if (fallback_) return !OverlapsText(page_, item);
        bool hit = false;
        for (int i : odd_) {
            if (texts_[static_cast<size_t>(i)] != &item && BoxesIntersect(texts_[static_cast<size_t>(i)]->viewBox, item.viewBox)) {
                hit = true;
                break;
            }
        }
        if (!hit && grid_) {
            grid_->Query(item.viewBox, [&](int i) {
                const PageItem *t = texts_[static_cast<size_t>(i)];
                if (t != &item && BoxesIntersect(t->viewBox, item.viewBox)) {
                    hit = true;
                    return false;
                }
                return true;
            });
        }
        return !hit;
    }

private:
    void Prepare() {
        if (prepared_) return;
        prepared_ = true;
        if (!page_.items) return;
        IntBox bounds;
        bool any = false;
        long long extent = 0;
        for (const auto &p : *page_.items) {
            if (!IsTextItem(*p) || RunIsBlank(*p)) continue;
            int i = static_cast<int>(texts_.size());
            texts_.push_back(p.get());
            const IntBox &b = p->viewBox;
            // A box of no width never intersects; an inverted one intersects anything with width.
            if (b.x0 == b.x1) continue;
            if (!WellFormed(b)) {
                odd_.push_back(i);
                continue;
            }
            bounds = any ? Union(bounds, b) : b;
            any = true;
            extent += std::max(b.Width(), b.Height());
            regular_.push_back(i);
        }
        if (!any) return;
        int n = static_cast<int>(regular_.size());
        grid_ = std::make_unique<BoxGrid>(bounds, static_cast<int>(texts_.size()), static_cast<int>(extent / n));
        for (int i : regular_) grid_->Insert(i, texts_[static_cast<size_t>(i)]->viewBox);
    }

    const LayoutPage &page_;
    bool indexed_;
    bool prepared_ = false;
    bool fallback_ = false;
    std::vector<const PageItem *> texts_;
    std::vector<int> regular_, odd_;
    std::unique_ptr<BoxGrid> grid_;
};

IntBox BoundsOfBlocks(const std::vector<TextBlock> &blocks, int *typical) {
    IntBox bounds;
    bool any = false;
    long long extent = 0;
    int n = 0;
    for (const TextBlock &b : blocks) {
        if (b.consumed) continue;
        bounds = any ? Union(bounds, b.box) : b.box;
        any = true;
        extent += std::max(b.box.Width(), b.box.Height());
        ++n;
    }
    *typical = n ? static_cast<int>(extent / n) : 1;
    return bounds;
}

bool AllWellFormed(const std::vector<TextBlock> &blocks) {
    for (const TextBlock &b : blocks)
        if (!WellFormed(b.box)) return false;
    return true;
}

// ---- neighbour search ----

void NeighboursPlain(std::vector<TextBlock> &blocks, const std::vector<RunFacts> &facts, float tolX, float tolY) {
    int n = static_cast<int>(blocks.size());
    for (int a = 0; a < n; ++a) {
        if (!facts[static_cast<size_t>(a)].text) continue;
        TextBlock &A = blocks[static_cast<size_t>(a)];
        for (int b = a + 1; b < n; ++b) {
            if (!facts[static_cast<size_t>(b)].text) continue;
            if (A.sameLineNext < 0 && SameLineFacts(facts[static_cast<size_t>(a)], facts[static_cast<size_t>(b)], tolX)) {
                A.sameLineNext = b;
            } else if (A.nextLine < 0 && b != A.sameLineNext &&
                       NextLineFacts(facts[static_cast<size_t>(a)], facts[static_cast<size_t>(b)], tolY)) {
                A.nextLine = b;
            }
            if (A.sameLineNext >= 0 && A.nextLine >= 0) break;
        }
    }
}

// Both neighbours are the first later block meeting their condition, and the two conditions
// exclude each other (same row versus strictly below), so each is the smallest qualifying
// position among the grid's hits.
void NeighboursIndexed(std::vector<TextBlock> &blocks, const std::vector<RunFacts> &facts, float tolX, float tolY) {
    int n = static_cast<int>(blocks.size());
    IntBox bounds;
    bool any = false;
    long long extent = 0;
    int count = 0, maxEm = 0;
    for (int i = 0; i < n; ++i) {
        const RunFacts &f = facts[static_cast<size_t>(i)];
        if (!f.text) continue;
        bounds = any ? Union(bounds, f.box) : f.box;
        any = true;
        extent += std::max(f.box.Width(), f.box.Height());
        maxEm = std::max(maxEm, f.em);
        ++count;
    }
    if (!any) return;
    BoxGrid grid(bounds, n, static_cast<int>(extent / count));
    for (int i = 0; i < n; ++i)
        if (facts[static_cast<size_t>(i)].text) grid.Insert(i, facts[static_cast<size_t>(i)].box);
    // Largest horizontal reach of the same-line condition.
    double reachX = std::ceil(static_cast<double>(tolX) * maxEm) + 1;
    if (reachX > 1e9) reachX = 1e9;
    int rx = static_cast<int>(reachX);
    for (int a = 0; a < n; ++a) {
        const RunFacts &fa = facts[static_cast<size_t>(a)];
        if (!fa.text) continue;
        TextBlock &A = blocks[static_cast<size_t>(a)];
        int best = -1;
        IntBox q{static_cast<int>(std::max<long long>(INT32_MIN, static_cast<long long>(fa.box.x1) - rx)), fa.box.y0,
                 static_cast<int>(std::min<long long>(INT32_MAX, static_cast<long long>(fa.box.x1) + rx)), fa.box.y1};
        grid.Query(q, [&](int b) {
            if (b > a && (best < 0 || b < best) && SameLineFacts(fa, facts[static_cast<size_t>(b)], tolX)) best = b;
            return true;
        });
        A.sameLineNext = best;
        best = -1;
        double reachY = std::ceil(static_cast<double>(tolY) * fa.height) + 1;
        if (reachY > 1e9) reachY = 1e9;
        IntBox q2{fa.box.x0, fa.box.y1, fa.box.x1,
                  static_cast<int>(std::min<long long>(INT32_MAX, static_cast<long long>(fa.box.y1) + static_cast<long long>(reachY)))};
        grid.Query(q2, [&](int b) {
            if (b > a && (best < 0 || b < best) && b != A.sameLineNext &&
                NextLineFacts(fa, facts[static_cast<size_t>(b)], tolY))
                best = b;
            return true;
        });
        A.nextLine = best;
    }
}

// ---- graphics absorption ----

bool AbsorbableGraphic(const TextBlock &b) {
    return b.first && !b.first->isGroup && (IsGraphicPathItem(*b.first->item) || IsPictureItem(*b.first->item));
}

bool AbsorbTarget(const TextBlock &b) {
    return !b.consumed && b.first && !b.first->isGroup &&
           (!IsTextItem(*b.first->item) || RunIsBlank(*b.first->item));
}

void AbsorbPlain(std::vector<TextBlock> &blocks, int a) {
    TextBlock &A = blocks[static_cast<size_t>(a)];
    for (size_t b = 0; b < blocks.size(); ++b) {
        if (static_cast<int>(b) == a) continue;
        TextBlock &B = blocks[b];
        if (!AbsorbTarget(B)) continue;
        int r = Relate(A.box, B.box, 0, 0);
        if (r == 4 || r == 5 || r == 6) MergeBlocks(A, B);
    }
}

// A scan over positions 0 .. n-1 in order against a box that only grows: every position passed
// is final, and a hit grows the box. Positions that touch the current box are kept in a min-heap;
// whenever the box grows the grid is asked again for positions it now touches.
template <typename Eligible, typename Touches, typename Hit>
void GrowingScan(BoxGrid &grid, int self, int n, const IntBox &(*boxOf)(void *, int), void *ctx, int expand,
                 Eligible &&eligible, Touches &&touches, Hit &&hit, std::vector<unsigned> &pushedStamp, unsigned stamp) {
    std::priority_queue<int, std::vector<int>, std::greater<int>> heap;
    int pos = 0;
    IntBox queried;
    bool haveQuery = false;
    for (;;) {
        const IntBox &cur = boxOf(ctx, self);
        if (!haveQuery || !(queried == cur)) {
            queried = cur;
            haveQuery = true;
            IntBox q{cur.x0 - expand, cur.y0 - expand, cur.x1 + expand, cur.y1 + expand};
            grid.Query(q, [&](int j) {
                if (j == self || j < pos || j >= n || pushedStamp[static_cast<size_t>(j)] == stamp) return true;
                if (!eligible(j) || !touches(j)) return true;
                pushedStamp[static_cast<size_t>(j)] = stamp;
                heap.push(j);
                return true;
            });
        }
        if (heap.empty()) return;
        int j = heap.top();
        heap.pop();
        if (j < pos || !eligible(j)) continue;
        pos = j + 1;
        if (!hit(j)) return;
    }
}

const IntBox &BlockBoxAt(void *ctx, int i) { return (*static_cast<std::vector<TextBlock> *>(ctx))[static_cast<size_t>(i)].box; }

bool Touches(const IntBox &a, const IntBox &b, int tol) {
    return std::min(a.x1, b.x1) - std::max(a.x0, b.x0) >= tol && std::min(a.y1, b.y1) - std::max(a.y0, b.y0) >= tol;
}

// ---- containment pass ----

void ContainmentPlain(std::vector<TextBlock> &blocks, int count) {
    for (int i = 0; i <= count - 2; ++i) {
        TextBlock &I = blocks[static_cast<size_t>(i)];
        if (I.consumed || !FirstIsText(I)) continue;
        for (int l = 0; l <= count - 1; ++l) {
            if (l == i) continue;
            TextBlock &L = blocks[static_cast<size_t>(l)];
            if (L.consumed || !FirstIsText(L)) continue;
            int r = Relate(I.box, L.box, -1, -1);
            if (r == 5) {
                if (Area(I.box) < Area(L.box)) {
                    MergeBlocks(L, I);
                    break;
                }
                MergeBlocks(I, L);
            } else if (r == 4) {
                MergeBlocks(I, L);
            } else if (r == 6) {
                MergeBlocks(L, I);
                break;
            }
        }
    }
}

void ContainmentIndexed(std::vector<TextBlock> &blocks, int count) {
    int typical = 1;
    IntBox bounds = BoundsOfBlocks(blocks, &typical);
    BoxGrid grid(IntBox{bounds.x0 - 2, bounds.y0 - 2, bounds.x1 + 2, bounds.y1 + 2}, count, typical);
    std::vector<char> text(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        text[static_cast<size_t>(i)] = FirstIsText(blocks[static_cast<size_t>(i)]);
        if (!blocks[static_cast<size_t>(i)].consumed && text[static_cast<size_t>(i)]) grid.Insert(i, blocks[static_cast<size_t>(i)].box);
    }
    std::vector<unsigned> pushed(static_cast<size_t>(count), 0u);
    for (int i = 0; i <= count - 2; ++i) {
        TextBlock &I = blocks[static_cast<size_t>(i)];
        if (I.consumed || !text[static_cast<size_t>(i)]) continue;
        IntBox before = I.box;
        GrowingScan(
            grid, i, count, &BlockBoxAt, &blocks, 1,
            [&](int l) { return !blocks[static_cast<size_t>(l)].consumed && text[static_cast<size_t>(l)]; },
            [&](int l) { return Touches(I.box, blocks[static_cast<size_t>(l)].box, -1); },
            [&](int l) {
                TextBlock &L = blocks[static_cast<size_t>(l)];
                int r = Relate(I.box, L.box, -1, -1);
                if (r == 5) {
                    if (Area(I.box) < Area(L.box)) {
                        IntBox old = L.box;
                        MergeBlocks(L, I);
                        if (!(old == L.box)) grid.Insert(l, L.box);
                        return false;
                    }
                    MergeBlocks(I, L);
                } else if (r == 4) {
                    MergeBlocks(I, L);
                } else if (r == 6) {
                    IntBox old = L.box;
                    MergeBlocks(L, I);
                    if (!(old == L.box)) grid.Insert(l, L.box);
                    return false;
                }
                return true;
            },
            pushed, static_cast<unsigned>(i + 1));
        if (!I.consumed && !(before == I.box)) grid.Insert(i, I.box);
    }
}

} // namespace

int BuildBlocks(const LayoutPage &page, BlockList &out, const std::vector<std::unique_ptr<PageItem>> *items,
                const std::vector<std::unique_ptr<ItemGroup>> *groups, const ItemGroup *group,
                const BlockMember *members, int flags, float tolX, float tolY, LayoutEngine engine) {
    out.Clear();
    bool indexed = engine == LayoutEngine::Indexed;
    CandidateFilter filter(page, indexed);
    if (items)
        for (const auto &it : *items)
            if (!it->grouped && filter.Test(*it)) AddBlock(out, false, it.get(), nullptr);
    if (groups)
        for (const auto &g : *groups)
            if (IsLayoutCandidate(page, *g)) AddBlock(out, true, nullptr, g.get());
    if (group)
        for (PageItem *it : group->members)
            if (it && filter.Test(*it)) AddBlock(out, false, it, nullptr);
    for (const BlockMember *m = members; m; m = m->next) {
        if (m->isGroup ? m->group != nullptr : (m->item && filter.Test(*m->item)))
            AddBlock(out, m->isGroup, m->isGroup ? nullptr : m->item, m->isGroup ? m->group : nullptr);
    }
    int count = static_cast<int>(out.blocks.size());
    out.created = count;
    if (count == 0) return -1;
    if (flags == 0) return count;

    std::vector<TextBlock> &blocks = out.blocks;
    if (indexed && (!AllWellFormed(blocks) || tolX < 0 || tolY < 0 || std::isnan(tolX) || std::isnan(tolY)))
        indexed = false;

    // Neighbour search over text blocks (every block still holds one member here).
    std::vector<RunFacts> facts(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        if (FirstIsText(blocks[static_cast<size_t>(i)]))
            facts[static_cast<size_t>(i)] = FactsOf(*blocks[static_cast<size_t>(i)].first->item, page.viewTransform);
    if (indexed)
        NeighboursIndexed(blocks, facts, tolX, tolY);
    else
        NeighboursPlain(blocks, facts, tolX, tolY);

    // Graphics absorption. Text blocks never take part, so it can run after the neighbour search.
    if (flags & kAbsorbGraphics) {
        if (!indexed) {
            for (int a = 0; a < count; ++a)
                if (AbsorbableGraphic(blocks[static_cast<size_t>(a)]) && !blocks[static_cast<size_t>(a)].consumed) AbsorbPlain(blocks, a);
        } else {
            std::vector<int> targets;
            for (int i = 0; i < count; ++i)
                if (AbsorbTarget(blocks[static_cast<size_t>(i)])) targets.push_back(i);
            if (!targets.empty()) {
                IntBox bounds = blocks[static_cast<size_t>(targets[0])].box;
                long long extent = 0;
                for (int i : targets) {
                    bounds = Union(bounds, blocks[static_cast<size_t>(i)].box);
                    extent += std::max(blocks[static_cast<size_t>(i)].box.Width(), blocks[static_cast<size_t>(i)].box.Height());
                }
                BoxGrid grid(bounds, count, static_cast<int>(extent / static_cast<long long>(targets.size())));
                std::vector<char> target(static_cast<size_t>(count), 0);
                for (int i : targets) {
                    target[static_cast<size_t>(i)] = 1;
                    grid.Insert(i, blocks[static_cast<size_t>(i)].box);
                }
                std::vector<unsigned> pushed(static_cast<size_t>(count), 0u);
                for (int a = 0; a < count; ++a) {
                    TextBlock &A = blocks[static_cast<size_t>(a)];
                    if (!AbsorbableGraphic(A) || A.consumed) continue;
                    IntBox before = A.box;
                    GrowingScan(
                        grid, a, count, &BlockBoxAt, &blocks, 0,
                        [&](int b) { return target[static_cast<size_t>(b)] && !blocks[static_cast<size_t>(b)].consumed; },
                        [&](int b) { return Touches(A.box, blocks[static_cast<size_t>(b)].box, 0); },
                        [&](int b) {
                            MergeBlocks(A, blocks[static_cast<size_t>(b)]);
                            return true;
                        },
                        pushed, static_cast<unsigned>(a + 1));
                    if (!(before == A.box)) grid.Insert(a, A.box);
                }
            }
        }
    }

    std::vector<int> chain;
    if (flags & kMergeSameLine)
        for (int i = 0; i < count; ++i)
            if (!blocks[static_cast<size_t>(i)].consumed) MergeChain(blocks, i, 1, chain);

    if ((flags & kMergeParagraphs) && page.options.paragraphCheck == 1) {
        for (int i = 0; i < count; ++i)
            if (!blocks[static_cast<size_t>(i)].consumed) MergeChain(blocks, i, 2, chain);
        if (indexed && AllWellFormed(blocks))
            ContainmentIndexed(blocks, count);
        else
            ContainmentPlain(blocks, count);
    }
    return count;
}

// ---------------------------------------------------------------------------------------------
// Ordering

namespace {

// The tie-break between X and Y with previous block P. `scan(band, upper, lower, crossed,
// lowerColumn)` looks for other blocks crossing the band; it is called only when its answer
// matters (the gap is taller than both blocks).
template <typename B, typename Scan>
int TieBreak(const B &x, const B &y, const B *p, int mode, Scan &&scan) {
    if (!p) return x.box.y0 > y.box.y0 ? 1 : -1;
    IntBox band{std::min(x.box.x0, y.box.x0), std::min({x.box.y1, y.box.y1, p->box.y1}),
                std::max(x.box.x1, y.box.x1), std::max({x.box.y0, y.box.y0, p->box.y0})};
    int gap = band.y1 - band.y0;
    int hmax = std::max(x.box.Height(), y.box.Height());
    if (gap > hmax) {
        const B &upper = x.box.y0 <= y.box.y0 ? x : y;
        const B &lower = x.box.y0 >= y.box.y0 ? x : y;
        bool crossed = false, lowerColumn = false;
        scan(band, upper, lower, crossed, lowerColumn);
        if (!crossed || lowerColumn) return x.box.y0 > y.box.y0 ? 1 : -1;
    }
    if (mode == 0) return x.box.x0 > y.box.x0 ? 1 : -1;
    if (mode == 1) return x.box.y0 > y.box.y0 ? 1 : -1;
    return 0;
}

template <typename B, typename Scan>
int Compare(const B &x, const B &y, const B *p, int mode, Scan &&scan) {
    int tx = std::min(x.box.Width(), y.box.Width()) / 10;
    int ty = std::min(x.box.Height(), y.box.Height()) / 5;
    int r = Relate(x.box, y.box, tx, ty);
    switch (r) {
    case 0:
    case 1:
    case 6:
        return 1;
    case 4:
    case 7:
    case 9:
    case 10:
        return -1;
    case 3:
        return (mode == 0 || mode == 1) ? 1 : 0;
    case 5:
        if (mode == 0) return x.box.x0 > y.box.x0 ? 1 : -1;
        if (mode == 1) return x.box.y0 > y.box.y0 ? 1 : -1;
        return 0;
    default:
        break;
    }
    // r is 2 (Y above-right of X) or 8 (Y below-left of X): the column rule.
    if (!p) return TieBreak(x, y, p, mode, scan);
    int h = Relate(p->box, x.box, 1, 1);
    int v = Relate(p->box, y.box, 1, 1);
    if (h < 3 || v < 3) {
        if (mode == 0) return r == 2 ? -1 : 1;
        if (mode == 1) return r == 2 ? 1 : -1;
        return TieBreak(x, y, p, mode, scan);
    }
    if (h > 7 && v > 7) {
        auto aligned = [&](const IntBox &b) {
            return (b.x0 <= p->box.x0 && b.x1 >= p->box.x1) || (b.x0 >= p->box.x0 && b.x1 <= p->box.x1);
        };
        bool ax = aligned(x.box), ay = aligned(y.box);
        if (ax == ay) return TieBreak(x, y, p, mode, scan);
        if (ax) return x.box.y0 > y.box.y0 ? TieBreak(x, y, p, mode, scan) : -1;
        return y.box.y0 > x.box.y0 ? TieBreak(x, y, p, mode, scan) : 1;
    }
    return TieBreak(x, y, p, mode, scan);
}

// Marks from one block Z met in the band.
inline bool VisitBand(const IntBox &z, const IntBox &band, const IntBox &upper, const IntBox &lower, bool &crossed,
                      bool &upperColumn, bool &lowerColumn) {
    if (!BoxesIntersect(z, band)) return true;
    crossed = true;
    int ru = Relate(z, upper, 0, 0);
    if (ru == 1 || ru == 9) upperColumn = true;
    int rl = Relate(z, lower, 0, 0);
    if (rl == 1 || rl == 9) lowerColumn = true;
    return !(upperColumn && lowerColumn);
}

// The literal scan over array positions from .. to.
struct ArrayScan {
    const std::vector<TextBlock> *blocks;
    int from, to;
    const TextBlock *x, *y, *p;
    void operator()(const IntBox &band, const TextBlock &upper, const TextBlock &lower, bool &crossed,
                    bool &lowerColumn) const {
        if (!blocks) return;
        bool upperColumn = false;
        for (int i = from; i <= to; ++i) {
            const TextBlock &z = (*blocks)[static_cast<size_t>(i)];
            if (z.consumed || &z == x || &z == y || &z == p) continue;
            if (!VisitBand(z.box, band, upper.box, lower.box, crossed, upperColumn, lowerColumn)) break;
        }
    }
};

// Compact record the indexed ordering sorts.
struct OrderBox {
    IntBox box;
    int id;  // position in the live prefix before sorting
};

// The same answer from a grid over all live blocks: the outcome only depends on whether a block in
// the lower block's column crosses the band (a narrow query) and, failing that, whether any block
// crosses it (the query stops at the first).
struct GridScan {
    BoxGrid *grid;
    const std::vector<OrderBox> *boxes;  // by id
    int xid, yid, pid;
    void operator()(const IntBox &band, const OrderBox &, const OrderBox &lower, bool &crossed,
                    bool &lowerColumn) const {
        auto other = [&](int id) { return id != xid && id != yid && id != pid; };
        IntBox column{std::max(band.x0, lower.box.x0), band.y0, std::min(band.x1, lower.box.x1), band.y1};
        if (column.x0 <= column.x1) {
            grid->Query(column, [&](int id) {
                if (!other(id)) return true;
                const IntBox &z = (*boxes)[static_cast<size_t>(id)].box;
                if (!BoxesIntersect(z, band)) return true;
                int rl = Relate(z, lower.box, 0, 0);
                if (rl == 1 || rl == 9) crossed = lowerColumn = true;
                return !lowerColumn;
            });
        }
        if (!lowerColumn) {
            grid->Query(band, [&](int id) {
                if (other(id) && BoxesIntersect((*boxes)[static_cast<size_t>(id)].box, band)) crossed = true;
                return !crossed;
            });
        }
    }
};

} // namespace

int CompareBlocks(const std::vector<TextBlock> *blocks, int from, int to, const TextBlock &x, const TextBlock &y,
                  const TextBlock *p, int mode) {
    return Compare(x, y, p, mode, ArrayScan{blocks, from, to, &x, &y, p});
}

int OrderBlocks(BlockList &list, bool usePrevious, bool singleColumn, LayoutEngine engine) {
    std::vector<TextBlock> &blocks = list.blocks;
    int total = static_cast<int>(blocks.size());
    // Compaction: the highest live block changes place with the lowest consumed one.
    int lo = 0, hi = total - 1;
    for (;;) {
        while (hi >= 0 && blocks[static_cast<size_t>(hi)].consumed) --hi;
        while (lo < hi && !blocks[static_cast<size_t>(lo)].consumed) ++lo;
        if (lo >= hi) break;
        std::swap(blocks[static_cast<size_t>(lo)], blocks[static_cast<size_t>(hi)]);
    }
    int n = hi + 1;
    list.count = n;
    if (n <= 1) return n;
    int mode = singleColumn ? 1 : 0;
    bool wellFormed = true;
    for (int i = 0; i < n; ++i) wellFormed = wellFormed && WellFormed(blocks[static_cast<size_t>(i)].box);
    if (engine == LayoutEngine::Plain || !wellFormed) {
        for (int i = 0; i < n; ++i) {
            for (int j = n - 1; j >= i + 1; --j) {
                const TextBlock *prev = (usePrevious && i > 0) ? &blocks[static_cast<size_t>(i - 1)] : nullptr;
                if (CompareBlocks(&blocks, 0, n - 1, blocks[static_cast<size_t>(j)], blocks[static_cast<size_t>(j - 1)],
                                  prev, mode) < 0)
                    std::swap(blocks[static_cast<size_t>(j)], blocks[static_cast<size_t>(j - 1)]);
            }
        }
        return n;
    }
    // Indexed: the same exchanges on compact records. The scanned set of the tie-break is every
    // live block but X, Y and P wherever they stand, so a grid built once answers it.
    std::vector<OrderBox> byId(static_cast<size_t>(n));
    IntBox bounds = blocks[0].box;
    long long extent = 0;
    for (int i = 0; i < n; ++i) {
        byId[static_cast<size_t>(i)] = OrderBox{blocks[static_cast<size_t>(i)].box, i};
        bounds = Union(bounds, blocks[static_cast<size_t>(i)].box);
        extent += std::max(blocks[static_cast<size_t>(i)].box.Width(), blocks[static_cast<size_t>(i)].box.Height());
    }
    BoxGrid grid(bounds, n, static_cast<int>(extent / n));
    for (int i = 0; i < n; ++i) grid.Insert(i, byId[static_cast<size_t>(i)].box);
    std::vector<OrderBox> a = byId;
    for (int i = 0; i < n; ++i) {
        const OrderBox *prev = (usePrevious && i > 0) ? &a[static_cast<size_t>(i - 1)] : nullptr;
        // One pass carries the winner of each comparison down to position i.
        OrderBox cur = a[static_cast<size_t>(n - 1)];
        for (int j = n - 1; j >= i + 1; --j) {
            const OrderBox &y = a[static_cast<size_t>(j - 1)];
            GridScan scan{&grid, &byId, cur.id, y.id, prev ? prev->id : -1};
            if (Compare(cur, y, prev, mode, scan) < 0) {
                a[static_cast<size_t>(j)] = y;
            } else {
                a[static_cast<size_t>(j)] = cur;
                cur = y;
            }
        }
        a[static_cast<size_t>(i)] = cur;
    }
    std::vector<TextBlock> live(blocks.begin(), blocks.begin() + n);
    for (int i = 0; i < n; ++i) blocks[static_cast<size_t>(i)] = live[static_cast<size_t>(a[static_cast<size_t>(i)].id)];
    return n;
}

int CompareMembers(const IntBox &x, const IntBox &y, const IntBox *p) {
    int a = p ? Relate(*p, x, 1, 1) : 0;
    int b = p ? Relate(*p, y, 1, 1) : 0;
    if (p && a == 7 && std::llabs(static_cast<long long>(x.x0) - p->x1) <= 2 && b >= 8) return -1;
    if (p && b == 7 && std::llabs(static_cast<long long>(y.x0) - p->x1) <= 2 && a >= 8) return 1;
    int rel = Relate(x, y, 0, 0);
    if (rel >= 8) return -1;
    if (rel >= 4 && rel <= 7 && x.x0 <= y.x0) return -1;
    return 1;
}

namespace {

// The members of a text block are read in the order of an adjacent-exchange sort: for each
// position i from the front, a pass runs from the back down to i + 1 and exchanges a member with
// its left neighbour whenever CompareMembers (member, neighbour, P) is -1, P being the member
// already fixed at i - 1. That comparison is no order: equal boxes, and runs on overlapping rows
// that start at the same x, each come before the other, and rows that only touch make it
// intransitive. The result depends on every exchange made, so no sort by a key reproduces it.
//
// A pass can be followed without comparing every neighbour pair. The member carried down a pass
// is simply the next one to the left except where a pair is out of order (the later member
// compares before the earlier one): there it moves left past every member it compares before.
// P changes the comparison only for pairs in which one member continues P's line (lies right of
// P with its left edge within 2 of P's right edge); every other pair compares as without P. So
// whether each neighbour pair is out of order without P is kept per position and mended where
// members move, summary bits per 64 positions find the next such pair, and the pairs around the
// members that continue P's line are looked at in each pass. An ordered or nearly ordered block
// then costs about one summary word per 4,096 members per pass.
//
// A heap of overlapping runs still needs on the order of n^2 exchanges. Each comparison, moved
// member and scanned summary word is counted against a work allowance; once it is spent, the
// positions already fixed stay, and the rest are put in lines from the top and by left edge
// within a line.
class MemberOrder {
public:
    MemberOrder(std::vector<IntBox> boxes, long long &work)
        : box_(std::move(boxes)), n_(static_cast<int>(box_.size())), work_(work) {}

    // The reading order: member indexes by position.
    std::vector<int> Run() {
        cur_.resize(static_cast<size_t>(n_));
        pos_.resize(static_cast<size_t>(n_));
        for (int k = 0; k < n_; ++k) cur_[static_cast<size_t>(k)] = pos_[static_cast<size_t>(k)] = k;
        // Runs by left edge, then top, in groups of one left edge with their tallest height: the
        // runs that continue P's line are looked up there.
        byX_ = cur_;
        std::sort(byX_.begin(), byX_.end(), [&](int a, int b) {
            const IntBox &ba = Box(a), &bb = Box(b);
            return ba.x0 != bb.x0 ? ba.x0 < bb.x0 : ba.y0 != bb.y0 ? ba.y0 < bb.y0 : a < b;
        });
        groupEnd_.resize(static_cast<size_t>(n_));
        groupHeight_.resize(static_cast<size_t>(n_));
        for (int t = n_ - 1; t >= 0; --t) {
            const IntBox &b = Box(byX_[static_cast<size_t>(t)]);
            long long h = std::max(0LL, static_cast<long long>(b.y1) - b.y0);
            bool last = t + 1 == n_ || Box(byX_[static_cast<size_t>(t + 1)]).x0 != b.x0;
            groupEnd_[static_cast<size_t>(t)] = last ? t + 1 : groupEnd_[static_cast<size_t>(t + 1)];
            groupHeight_[static_cast<size_t>(t)] = last ? h : std::max(h, groupHeight_[static_cast<size_t>(t + 1)]);
        }
        bits_.assign(static_cast<size_t>(n_ / 64 + 1), 0);
        summary_.assign(bits_.size() / 64 + 1, 0);
        for (int p = 1; p < n_; ++p) SetFlag(p, Before(At(p), At(p - 1)));
        for (int i = 0; i < n_; ++i) {
            if (!Pass(i)) {
                LinesThenLeftEdges(i);
                break;
            }
        }
        return cur_;
    }

private:
    const IntBox &Box(int k) const { return box_[static_cast<size_t>(k)]; }
    int At(int p) const { return cur_[static_cast<size_t>(p)]; }

    void Spend(long long units) { work_ -= units; }

    // Member k compares before member l (k standing right of l), without P.
    bool Before(int k, int l) {
        --work_;
        return CompareMembers(Box(k), Box(l), nullptr) == -1;
    }

    // CompareMembers (x, y, P) == -1 for one x and many y, with x's relation to P worked out once.
    struct Mover {
        Mover(const IntBox &x, const IntBox *p) : x(x), p(p) {
            int a = p ? Relate(*p, x, 1, 1) : 0;
            continues = p && a == 7 && std::llabs(static_cast<long long>(x.x0) - p->x1) <= 2;
            below = p && a >= 8;
        }
        bool Before(const IntBox &y) const {
            if (continues || below) {
                int b = Relate(*p, y, 1, 1);
                if (continues && b >= 8) return true;
                if (below && b == 7 && std::llabs(static_cast<long long>(y.x0) - p->x1) <= 2) return false;
            }
            int rel = Relate(x, y, 0, 0);
            return rel >= 8 || (rel >= 4 && rel <= 7 && x.x0 <= y.x0);
        }
        const IntBox &x;
        const IntBox *p;
        bool continues, below;
    };

    // Flags by position p: the pair (p - 1, p) is out of order without P. One bit per position,
    // and one summary bit per word that has any flag set.
    void SetFlag(int p, bool on) {
        size_t w = static_cast<size_t>(p) / 64;
        uint64_t bit = uint64_t{1} << (p % 64);
        bits_[w] = on ? bits_[w] | bit : bits_[w] & ~bit;
        Summarise(w);
    }
    void Summarise(size_t w) {
        uint64_t bit = uint64_t{1} << (w % 64);
        summary_[w / 64] = bits_[w] ? summary_[w / 64] | bit : summary_[w / 64] & ~bit;
    }
    static uint64_t Through(int bit) { return bit == 63 ? ~uint64_t{0} : (uint64_t{1} << (bit + 1)) - 1; }

    // Flags at from .. to - 1 move to from + 1 .. to (the flag at from stays, the one at to is lost).
    void ShiftFlagsUp(int from, int to) {
        for (int p = to; p > from;) {
            size_t w = static_cast<size_t>(p) / 64;
            int low = std::max(from + 1, static_cast<int>(w * 64));
            uint64_t shifted = bits_[w] << 1;
            if (low == static_cast<int>(w * 64)) shifted |= bits_[w - 1] >> 63;
            uint64_t mask = Through(p % 64) & ~(Through(low % 64) >> 1);
            bits_[w] = (bits_[w] & ~mask) | (shifted & mask);
            Summarise(w);
            p = low - 1;
        }
        Spend(1 + (to - from) / 64);
    }

    // The last flagged position in lo .. hi, or -1.
    int LastFlag(int lo, int hi) {
        if (hi < lo) return -1;
        long long w = hi / 64;
        uint64_t word = bits_[static_cast<size_t>(w)] & Through(hi % 64);
        if (!word) {
            // The last word below with a flag, through the summary.
            long long lowest = lo / 64, v = w - 1;
            word = 0;
            while (v >= lowest) {
                Spend(1);
                uint64_t sum = summary_[static_cast<size_t>(v / 64)] & Through(static_cast<int>(v % 64));
                if (sum) {
                    v = v / 64 * 64 + 63 - __builtin_clzll(sum);
                    if (v >= lowest) {
                        w = v;
                        word = bits_[static_cast<size_t>(w)];
                    }
                    break;
                }
                v = v / 64 * 64 - 1;
            }
            if (!word) return -1;
        }
        int p = static_cast<int>(w * 64 + 63 - __builtin_clzll(word));
        return p >= lo ? p : -1;
    }

    // The member at position d moves to position j < d; the members between move one place right.
    void MoveLeft(int d, int j) {
        int x = At(d);
        std::memmove(&cur_[static_cast<size_t>(j + 1)], &cur_[static_cast<size_t>(j)], static_cast<size_t>(d - j) * sizeof(int));
        cur_[static_cast<size_t>(j)] = x;
        for (int p = j; p <= d; ++p) pos_[static_cast<size_t>(At(p))] = p;
        // Pairs j+2 .. d are the former pairs j+1 .. d-1; pairs j, j+1 and d+1 are new.
        if (d - j - 1 > 0) ShiftFlagsUp(j + 1, d);
        Spend(12 + (d - j) / 8);
        if (j >= 1) SetFlag(j, Before(x, At(j - 1)));
        SetFlag(j + 1, Before(At(j + 1), x));
        if (d + 1 < n_) SetFlag(d + 1, Before(At(d + 1), At(d)));
    }

    // Pass i of the exchange sort. False when the work allowance ran out.
    bool Pass(int i) {
        const IntBox *p = i > 0 ? &Box(At(i - 1)) : nullptr;
        // Positions of pairs holding a member that continues P's line, from the back.
        extra_.clear();
        if (p) {
            // Such a member starts within 2 of P's right edge and shares at least one row with P:
            // its top lies from P's top + 1 - its height to P's bottom - 1.
            long long from = static_cast<long long>(p->x1) - 2, to = static_cast<long long>(p->x1) + 2;
            long long topMax = static_cast<long long>(p->y1) - 1;
            auto begin = byX_.begin();
            auto t = std::lower_bound(begin, byX_.end(), from, [&](int k, long long v) { return Box(k).x0 < v; });
            while (t != byX_.end() && Box(*t).x0 <= to) {
                size_t at = static_cast<size_t>(t - begin);
                auto end = begin + groupEnd_[at];
                long long topMin = static_cast<long long>(p->y0) + 1 - groupHeight_[at];
                auto u = std::upper_bound(t, end, topMax, [&](long long v, int k) { return v < Box(k).y0; });
                while (u != t && Box(*(u - 1)).y0 >= topMin) {
                    --u;
                    --work_;
                    int position = pos_[static_cast<size_t>(*u)];
                    if (position < i || Relate(*p, Box(*u), 1, 1) != 7) continue;
                    if (position > i) extra_.push_back(position);
                    if (position + 1 < n_) extra_.push_back(position + 1);
                }
                t = end;
            }
            std::sort(extra_.begin(), extra_.end(), std::greater<int>());
        }
        size_t e = 0;
        int q = n_ - 1;  // the member carried down the pass stands here
        while (q > i) {
            if (work_ <= 0) return false;
            int d = LastFlag(i + 1, q);
            while (e < extra_.size() && extra_[e] > q) ++e;
            if (e < extra_.size()) d = std::max(d, extra_[e]);
            if (d <= i) break;
            Mover x(Box(At(d)), p);
            work_ -= 2;
            if (!x.Before(Box(At(d - 1)))) {
                q = d - 1;
                continue;
            }
            int j = d - 1;
            while (j > i && x.Before(Box(At(j - 1)))) --j;
            work_ -= d - 1 - j;
            MoveLeft(d, j);
            q = j - 1;
        }
        return work_ > 0;
    }

    // The order given to members from position `from` on when the allowance is spent: lines from
    // the top, then left edges, then the order they stand in. A line starts with the run whose
    // middle is highest and takes every run whose middle lies above that run's bottom, so lines
    // that touch or overlap a little stay apart.
    void LinesThenLeftEdges(int from) {
        std::vector<int> rest(cur_.begin() + from, cur_.end());
        auto middle = [&](int r) {
            const IntBox &b = Box(rest[static_cast<size_t>(r)]);
            return static_cast<long long>(b.y0) + b.y1;  // twice the middle
        };
        std::vector<int> byMiddle(rest.size());
        for (size_t r = 0; r < rest.size(); ++r) byMiddle[r] = static_cast<int>(r);
        std::stable_sort(byMiddle.begin(), byMiddle.end(), [&](int a, int b) { return middle(a) < middle(b); });
        std::vector<int> line(rest.size());
        int current = -1;
        long long bottom = 0;
        for (int r : byMiddle) {
            if (current < 0 || middle(r) > bottom) {
                ++current;
                bottom = 2LL * Box(rest[static_cast<size_t>(r)]).y1;
            }
            line[static_cast<size_t>(r)] = current;
        }
        std::vector<int> order(byMiddle);
        std::sort(order.begin(), order.end(), [&](int a, int b) {
            if (line[static_cast<size_t>(a)] != line[static_cast<size_t>(b)])
                return line[static_cast<size_t>(a)] < line[static_cast<size_t>(b)];
            int xa = Box(rest[static_cast<size_t>(a)]).x0, xb = Box(rest[static_cast<size_t>(b)]).x0;
            return xa != xb ? xa < xb : a < b;
        });
        for (size_t r = 0; r < order.size(); ++r) cur_[static_cast<size_t>(from) + r] = rest[static_cast<size_t>(order[r])];
    }

    std::vector<IntBox> box_;
    int n_;
    long long &work_;
    std::vector<int> cur_, pos_, byX_, extra_;
    std::vector<int> groupEnd_;             // byX_: end of the group of one left edge
    std::vector<long long> groupHeight_;    // byX_: the tallest height in that group
    std::vector<uint64_t> bits_;       // flags, 64 positions a word
    std::vector<uint64_t> summary_;    // one bit per word of bits_: some flag set
};

} // namespace

void OrderMembers(TextBlock &block, long long *work) {
    if (!block.first || !block.first->next) return;
    if (block.first->isGroup || !IsTextItem(*block.first->item)) return;
    std::vector<BlockMember *> m;
    std::vector<IntBox> boxes;
    for (BlockMember *x = block.first; x; x = x->next) {
        m.push_back(x);
        boxes.push_back(MemberBox(*x));
    }
    long long own = kMemberOrderWork;
    std::vector<int> order = MemberOrder(std::move(boxes), work ? *work : own).Run();
    for (size_t i = 0; i + 1 < order.size(); ++i) m[static_cast<size_t>(order[i])]->next = m[static_cast<size_t>(order[i + 1])];
    m[static_cast<size_t>(order.back())]->next = nullptr;
    block.first = m[static_cast<size_t>(order.front())];
    block.last = m[static_cast<size_t>(order.back())];
}

// ---------------------------------------------------------------------------------------------
// Alignment

int BlockAlignment(const LayoutPage &page, const std::vector<TextBlock> &blocks, int index, int count,
                   int lineCount, bool leftAligned, bool rightAligned) {
    if (lineCount > 1) {
        if (leftAligned) return 0;
        return rightAligned ? 0 : 1;
    }
    // A single line: its margins are those of the row of blocks it starts (the following blocks
    // that share its rows), which is only looked for here.
    const TextBlock &block = blocks[static_cast<size_t>(index)];
    int em = 1;
    if (block.first && !block.first->isGroup && block.first->item)
        em = FirstGlyphBox(*block.first->item, page.viewTransform).box.Width();
    int bw = block.box.Width();
    IntBox area = block.box;
    for (int k = index + 1; k < count && k < static_cast<int>(blocks.size()); ++k) {
        const TextBlock &z = blocks[static_cast<size_t>(k)];
        if (z.consumed) continue;
        int r = Relate(z.box, area, 0, 0);
        if (r < 3 || r > 7) break;
        area = Union(area, z.box);
    }
    long long l = std::llabs(static_cast<long long>(area.x0) - page.viewPageBox.x0);
    long long r = std::llabs(static_cast<long long>(area.x1) - page.viewPageBox.x1);
    if (std::llabs(l - r) < 3LL * em) return 1;
    if (l > r + 3LL * bw) return 2;
    return 0;
}

int PictureAlignment(const LayoutPage &page, const TextBlock &block) {
    long long l = std::llabs(static_cast<long long>(block.box.x0) - page.viewPageBox.x0);
    long long r = std::llabs(static_cast<long long>(block.box.x1) - page.viewPageBox.x1);
    long long half = std::llabs(static_cast<long long>(block.box.Width())) / 2;
    if (std::llabs(l - r) < half) return 1;
    if (l > r + half) return 2;
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Page body

LayoutPage MakeLayoutPage(const PageModel &model) {
    LayoutPage page;
    if (PageLayout *cur = model.Current()) {
        page.items = &cur->items;
        page.cropRect = cur->cropRect;
        page.options = cur->options;
    }
    page.viewTransform = model.viewTransform;
    page.viewPageBox = model.viewDeviceBox;
    return page;
}

float PageBodySameLineFactor(const PageParseOptions &options) {
    return options.columnMode == static_cast<int32_t>(ColumnMode::Single) ? 2.0f : 1.0f;
}

namespace {

// The boxes column detection looks at: every member of the built blocks, which are exactly the
// page's layout candidates.
std::vector<ColumnBox> CandidateBoxes(const BlockList &list) {
    std::vector<ColumnBox> boxes;
    for (const TextBlock &b : list.blocks) {
        if (b.consumed) continue;
        for (const BlockMember *m = b.first; m; m = m->next)
            boxes.push_back(ColumnBox{MemberBox(*m), !m->isGroup && IsTextItem(*m->item)});
    }
    return boxes;
}

// Orders the live blocks band by band, and within a band column by column; each part is put in
// single-column order on its own.
int OrderByColumns(BlockList &list, const ColumnLayout &layout, LayoutEngine engine) {
    auto live = std::stable_partition(list.blocks.begin(), list.blocks.end(),
                                      [](const TextBlock &b) { return !b.consumed; });
    const int n = static_cast<int>(live - list.blocks.begin());
    list.count = n;
    if (n <= 1) return n;
    std::vector<std::pair<std::pair<int, int>, int>> keys;  // (segment, column), position
    keys.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) keys.push_back({layout.Place(list.blocks[static_cast<size_t>(i)].box), i});
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<TextBlock> ordered;
    ordered.reserve(static_cast<size_t>(n));
    BlockList part;
    for (size_t k = 0; k < keys.size();) {
        size_t e = k;
        part.blocks.clear();
        while (e < keys.size() && keys[e].first == keys[k].first)
            part.blocks.push_back(list.blocks[static_cast<size_t>(keys[e++].second)]);
        OrderBlocks(part, true, true, engine);
        ordered.insert(ordered.end(), part.blocks.begin(), part.blocks.end());
        k = e;
    }
    std::copy(ordered.begin(), ordered.end(), list.blocks.begin());
    return n;
}

} // namespace

int AnalysePageBody(const LayoutPage &page, const std::vector<std::unique_ptr<PageItem>> &items,
                    const std::vector<std::unique_ptr<ItemGroup>> &groups, BlockList &list, LayoutEngine engine,
                    int *autoColumns) {
    const bool detect = page.options.columnMode == static_cast<int32_t>(ColumnMode::AutoDetect);
    // Auto detection builds the blocks as a single-column page first: a page without columns is
    // then analysed exactly as "Single Column" would, and only a page set in columns is built
    // again with the column-aware factor.
    PageParseOptions options = page.options;
    if (detect) options.columnMode = static_cast<int32_t>(ColumnMode::Single);
    bool single = options.columnMode == static_cast<int32_t>(ColumnMode::Single);
    int created = BuildBlocks(page, list, &items, &groups, nullptr, nullptr,
                              kMergeParagraphs | kMergeSameLine | kAbsorbGraphics, PageBodySameLineFactor(options),
                              kPageBodyNextLineFactor, engine);
    if (created <= 0) return -1;
    int n = -1;
    if (detect) {
        const ColumnLayout layout = DetectColumns(CandidateBoxes(list));
        if (autoColumns) *autoColumns = layout.Columns();
        if (!layout.bands.empty()) {
            PageParseOptions multi = page.options;
            multi.columnMode = static_cast<int32_t>(ColumnMode::Multi);
            created = BuildBlocks(page, list, &items, &groups, nullptr, nullptr,
                                  kMergeParagraphs | kMergeSameLine | kAbsorbGraphics, PageBodySameLineFactor(multi),
                                  kPageBodyNextLineFactor, engine);
            if (created <= 0) return -1;
            n = OrderByColumns(list, layout, engine);
        }
    }
    if (n < 0) n = OrderBlocks(list, true, single, engine);
    if (n < 0) return -2;
    long long work = kMemberOrderWork;  // one allowance for all blocks of the page
    for (int i = 0; i < n; ++i)
        if (!list.blocks[static_cast<size_t>(i)].consumed) OrderMembers(list.blocks[static_cast<size_t>(i)], &work);
    return n;
}

PageBodyResult WritePageBody(const LayoutPage &page, const std::vector<std::unique_ptr<PageItem>> &items,
                             const std::vector<std::unique_ptr<ItemGroup>> &groups, BlockSink &sink,
                             UserPrompt *prompt) {
    if (page.options.noOutput == 1) return PageBodyResult::Empty;
    sink.BeginPage();
    if (page.options.imageWholePage == 1) {
        std::string name;
        if (sink.SaveWholePagePicture(name) < 0) {
            (prompt ? *prompt : DefaultPrompt()).Message("Couldn't create page image file!");
            sink.EndPage();
            return PageBodyResult::NoBlock;
        }
        std::string html = "<p style=\"align:center;\"><img title=\"img\" alt=\"img\" style=\"width:100%;\" src=\"" +
                           name + "\" /></p>\n";
        sink.WriteRaw(html);
        sink.EndPage();
        return PageBodyResult::Empty;
    }
    BlockList list;
    int n = AnalysePageBody(page, items, groups, list);
    if (n < 0) {
        sink.EndPage();
        return n == -2 ? PageBodyResult::OrderFailed : PageBodyResult::NoBlock;
    }
    std::vector<TextBlock> &blocks = list.blocks;
    const TextBlock *previous = nullptr;
    for (int i = 0; i < n; ++i) {
        TextBlock &current = blocks[static_cast<size_t>(i)];
        const TextBlock *next = nullptr;
        if (i + 1 < n && !blocks[static_cast<size_t>(i + 1)].consumed) next = &blocks[static_cast<size_t>(i + 1)];
        if (!current.consumed) sink.WriteBlock(page, blocks, i, n, previous, next);
        previous = &current;
    }
    sink.EndPage();
    return PageBodyResult::Written;
}

PageBodyResult WritePageBody(PageModel &model, BlockSink &sink, UserPrompt *prompt) {
    PageLayout *cur = model.Current();
    if (!cur) return PageBodyResult::NoBlock;
    return WritePageBody(MakeLayoutPage(model), cur->items, cur->groups, sink, prompt);
}

} // namespace qm
