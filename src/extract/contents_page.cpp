#include "extract/contents_page.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string_view>

#include "extract/running_heads.h"
#include "platform/prompt.h"

namespace qm {
namespace {

bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsRomanLetter(int c) {
    return c > 0 && c < 128 && std::string_view("ivxlcdmIVXLCDM").find(static_cast<char>(c)) != std::string_view::npos;
}
bool IsBlank(int c) { return c == ' ' || c == 0xA0 || c == '\t'; }
// Characters a leader is made of: full stops, middle dots, ellipses, dot operators, underscores.
bool IsLeaderDot(int c) { return c == '.' || c == 0x00B7 || c == 0x2024 || c == 0x2025 || c == 0x2026 || c == 0x22C5 || c == '_'; }
bool IsLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0xC0; }

// The last non-blank glyphs of a run form a token of digits, or of roman letters standing after
// a blank or a dot: a cheap look whether the run may end a contents line.
bool RunEndsInNumber(const PageItem &item) {
    if (!item.command || !item.command->text || item.glyphCount <= 0) return false;
    const auto &g = item.command->text->glyphs;
    long long i = static_cast<long long>(item.firstGlyph) + item.glyphCount - 1;
    const long long first = item.firstGlyph;
    if (first < 0 || i >= static_cast<long long>(g.size())) return false;
    while (i >= first && (g[static_cast<size_t>(i)].IsBlank() || g[static_cast<size_t>(i)].unicode < 0)) --i;
    if (i < first) return false;
    const int last = g[static_cast<size_t>(i)].unicode;
    if (IsDigit(last)) return true;
    if (!IsRomanLetter(last)) return false;
    while (i >= first && IsRomanLetter(g[static_cast<size_t>(i)].unicode)) --i;
    if (i < first) return true;  // the run holds the numeral alone
    const int before = g[static_cast<size_t>(i)].unicode;
    return IsBlank(before) || IsLeaderDot(before);
}

struct Line {
    IntBox box;                          // view space
    std::vector<const PageItem *> items; // left to right
    ContentsLine parsed;
    bool linked = false;                 // a link to a page covers it
    int linkPage = 0;
    int role = 0;                        // 0 none, 1 entry, 2 first lines of a wrapped entry
    int column = 0;                      // 0 left (or only), 1 right
};

// Characters of a line: the runs' characters in order, a blank between two runs that do not
// already meet at one, and a blank for a line end inside a run.
std::vector<TextChar> LineChars(const Line &line, float &em, UserPrompt &prompt) {
    std::vector<TextChar> chars;
    em = 0;
    for (const PageItem *item : line.items) {
        TextSpanChain chain;
        fz_point pen = fz_make_point(-1, -1);
        if (ExtractTextSpans(chain, *item->command->text, item->firstGlyph, item->glyphCount, item->command->transform,
                             pen, prompt) != 0)
            continue;
        bool startOfRun = true;
        for (const TextSpan &span : chain.spans) {
            em = std::max(em, span.size);
            for (const TextChar &ch : span.chars) {
                if (startOfRun && !chars.empty() && chars.back().unicode != ' ' && ch.unicode != ' ') {
                    IntBox gap{chars.back().box.x1, ch.box.y0, std::max(chars.back().box.x1, ch.box.x0), ch.box.y1};
                    chars.push_back(TextChar{' ', gap});
                }
                startOfRun = false;
                chars.push_back(ch);
            }
            if (span.endsLine && !chars.empty()) chars.push_back(TextChar{' ', chars.back().box});
        }
    }
    return chars;
}

// Title text of characters [0, end): escaped XHTML, blanks collapsed, trimmed.
std::string TitleText(const std::vector<TextChar> &chars, size_t end) {
    std::string out;
    bool pendingBlank = false;
    for (size_t i = 0; i < end && i < chars.size(); ++i) {
        const int c = chars[i].unicode;
        if (IsBlank(c)) {
            pendingBlank = !out.empty();
            continue;
        }
        if (pendingBlank) out += ' ';
        pendingBlank = false;
        AppendXhtmlChar(out, c);
    }
    return out;
}

bool HasLetter(const std::vector<TextChar> &chars, size_t end) {
    for (size_t i = 0; i < end && i < chars.size(); ++i)
        if (IsLetter(chars[i].unicode)) return true;
    return false;
}

// Whether line `a` sits directly above line `b` in the same size of type.
bool DirectlyAbove(const Line &a, const Line &b) {
    const int ha = std::max(1, a.box.Height()), hb = std::max(1, b.box.Height());
    if (ha * 10 > hb * 13 || hb * 10 > ha * 13) return false;
    const int gap = b.box.y0 - a.box.y1;
    return gap >= -ha / 2 && gap * 5 <= hb * 4;
}


// Visual lines of `runs`, top to bottom: runs whose boxes share at least half their height.
std::vector<Line> MakeLines(std::vector<const PageItem *> runs, int column) {
    std::sort(runs.begin(), runs.end(), [](const PageItem *a, const PageItem *b) {
        const long long ca = static_cast<long long>(a->viewBox.y0) + a->viewBox.y1;
        const long long cb = static_cast<long long>(b->viewBox.y0) + b->viewBox.y1;
        if (ca != cb) return ca < cb;
        return a->viewBox.x0 < b->viewBox.x0;
    });
    std::vector<Line> lines;
    for (const PageItem *item : runs) {
        const IntBox &b = item->viewBox;
        if (!lines.empty()) {
            Line &l = lines.back();
            const long long overlap =
                static_cast<long long>(std::min(l.box.y1, b.y1)) - std::max(l.box.y0, b.y0);
            if (overlap * 2 >= std::min<long long>(l.box.Height(), b.Height()) && overlap > 0) {
                l.items.push_back(item);
                l.box = Union(l.box, b);
                continue;
            }
        }
        lines.push_back(Line{b, {item}, {}, false, 0, 0, column});
    }
    for (Line &line : lines)
        std::sort(line.items.begin(), line.items.end(),
                  [](const PageItem *a, const PageItem *b) { return a->viewBox.x0 < b->viewBox.x0; });
    return lines;
}

// Reads each line as a contents line and marks the entries (role 1); returns their number.
int ParseLines(std::vector<Line> &lines, const std::vector<PageLink> &links, int pageLinks,
               const PageNumbering &numbering, UserPrompt &ask) {
    const int pageCount = numbering.pageCount;
    int entries = 0;
    for (Line &line : lines) {
        float em = 0;
        const std::vector<TextChar> chars = LineChars(line, em, ask);
        line.parsed = ParseContentsLine(chars, em, numbering);
        if (pageLinks > 0) {
            // A link to a page counts when it covers most of the line (not a reference in prose).
            int visible = 0, covered = 0;
            for (const TextChar &ch : chars) {
                if (IsBlank(ch.unicode)) continue;
                ++visible;
                const PageLink *link = FindLinkForChar(links, ch.box);
                if (link && link->kind == PageLink::InDocument && link->page >= 1 && link->page <= pageCount) {
                    if (covered++ == 0) line.linkPage = link->page;
                }
            }
            line.linked = covered > 0 && covered * 2 >= visible;
        }
        if ((line.parsed.entry || line.linked) && !line.parsed.title.empty()) {
            line.role = 1;
            ++entries;
        }
    }
    return entries;
}

constexpr int kNoGutter = std::numeric_limits<int>::min();
// Entries each column of a two-column listing needs.
constexpr int kMinColumnEntries = 2;

// The middle of the widest vertical strip that no run of the listing crosses, within the middle
// half of the runs' width; kNoGutter when there is none. Runs above the first one that ends in a
// number (a heading over both columns) do not count.
int FindGutter(const std::vector<const PageItem *> &runs) {
    long long top = std::numeric_limits<long long>::max();
    for (const PageItem *item : runs)
        if (RunEndsInNumber(*item)) top = std::min<long long>(top, item->viewBox.y0);
    std::vector<std::pair<int, int>> spans;
    int minX = std::numeric_limits<int>::max(), maxX = std::numeric_limits<int>::min();
    for (const PageItem *item : runs) {
        if (item->viewBox.y1 <= top || item->viewBox.x1 <= item->viewBox.x0) continue;
        spans.emplace_back(item->viewBox.x0, item->viewBox.x1);
        minX = std::min(minX, item->viewBox.x0);
        maxX = std::max(maxX, item->viewBox.x1);
    }
    if (spans.size() < 2 * kMinColumnEntries) return kNoGutter;
    std::sort(spans.begin(), spans.end());
    const long long width = static_cast<long long>(maxX) - minX;
    const long long low = minX + width / 4, high = maxX - width / 4;
    long long best = 0;
    int gutter = kNoGutter;
    long long reach = spans.front().second;
    for (size_t i = 1; i < spans.size(); ++i) {
        const long long hole = spans[i].first - reach;
        const long long middle = (reach + spans[i].first) / 2;
        if (hole > best && middle >= low && middle <= high) {
            best = hole;
            gutter = static_cast<int>(middle);
        }
        reach = std::max<long long>(reach, spans[i].second);
    }
    return gutter;
}
} // namespace

bool ContentsPage::Holds(const PageItem *item) const { return std::binary_search(items.begin(), items.end(), item); }


int PageNumbering::PageOf(const std::string &number) const {
    if (number.empty() || pageCount <= 0) return 0;
    const bool arabic = IsDigit(static_cast<unsigned char>(number[0]));
    const long long value = arabic ? std::atoll(number.c_str()) : static_cast<int>(RomanValue(number));
    if (value <= 0) return 0;
    if (!labels || labels->empty()) {
        const long long page = value + (arabic ? arabicShift : romanShift);
        return page >= 1 && page <= pageCount ? static_cast<int>(page) : 0;
    }
    const char style = arabic ? 'D' : (number[0] >= 'a' ? 'r' : 'R');
    for (size_t i = 0; i < labels->size(); ++i) {
        const PageLabelRange &r = (*labels)[i];
        if (r.style != style || !r.prefix.empty() || value < r.start) continue;
        const long long page = r.firstPage + (value - r.start);
        const long long end = i + 1 < labels->size() ? (*labels)[i + 1].firstPage : pageCount + 1LL;
        if (page < end && page <= pageCount) return static_cast<int>(page);
    }
    return 0;
}

PageNumbering DocumentNumbering(PdfDocument &doc, const RunningHeadPatterns *printed) {
    PageNumbering numbering{doc.PageCount(), &doc.PageLabels()};
    if (printed) {
        printed->NumberShift(1, numbering.arabicShift);
        printed->NumberShift(2, numbering.romanShift);
    }
    return numbering;
}

ContentsLine ParseContentsLine(const std::vector<TextChar> &chars, float em, const PageNumbering &numbering) {
    ContentsLine line;
    size_t end = chars.size();
    while (end > 0 && IsBlank(chars[end - 1].unicode)) --end;
    // The number: digits, or else roman letters, standing after a blank or a leader.
    size_t start = end;
    while (start > 0 && IsDigit(chars[start - 1].unicode) && end - start < 6) --start;
    if (start == end)
        while (start > 0 && IsRomanLetter(chars[start - 1].unicode) && end - start < 15) --start;
    if (start != end && start > 0 && !IsBlank(chars[start - 1].unicode) && !IsLeaderDot(chars[start - 1].unicode))
        start = end;  // part of a word ("Windows10", "Appendix")
    size_t titleEnd = end;
    if (start != end) {
        for (size_t i = start; i < end; ++i) line.number += static_cast<char>(chars[i].unicode);
        line.page = numbering.PageOf(line.number);
        titleEnd = start;
    }
    int dots = 0;
    while (titleEnd > 0 && (IsBlank(chars[titleEnd - 1].unicode) || IsLeaderDot(chars[titleEnd - 1].unicode))) {
        if (IsLeaderDot(chars[titleEnd - 1].unicode)) ++dots;
        --titleEnd;
    }
    // A title that ends in a full stop keeps it when the leader is only a gap.
    if (dots == 1 && titleEnd < start && chars[titleEnd].unicode == '.') {
        ++titleEnd;
        dots = 0;
    }
    line.title = TitleText(chars, titleEnd);
    if (start == end || line.page == 0 || titleEnd == 0 || !HasLetter(chars, titleEnd)) return line;
    const float gap = static_cast<float>(chars[start].box.x0 - chars[titleEnd - 1].box.x1);
    line.entry = dots >= 3 || (em > 0 && gap >= 2 * em);
    return line;
}

bool FindContentsPage(const LayoutPage &page, const std::vector<PageLink> &links, const PageNumbering &numbering,
                      ContentsPage &out, UserPrompt *prompt) {
    out = ContentsPage{};
    const int pageCount = numbering.pageCount;
    if (!page.items || pageCount <= 0) return false;
    UserPrompt &ask = prompt ? *prompt : DefaultPrompt();

    // A cheap look first: most pages have too few runs that end in a number or lie in a link to
    // a page to hold a contents listing.
    int pageLinks = 0;
    for (const PageLink &link : links)
        if (link.kind == PageLink::InDocument && link.page >= 1 && link.page <= pageCount) ++pageLinks;
    std::vector<const PageItem *> runs;
    int numbered = 0;
    for (const auto &owned : *page.items) {
        const PageItem *item = owned.get();
        if (!item || !IsTextItem(*item) || !item->command->text || item->mark != 0 || item->grouped) continue;
        if (!IsLayoutCandidate(page, *item)) continue;
        runs.push_back(item);
        if (RunEndsInNumber(*item)) ++numbered;
    }
    if (numbered < kMinContentsEntries && pageLinks < kMinContentsEntries) return false;

    // A listing set in two columns is read column by column: the left column's entries, then
    // the right one's. Without entries on both sides of a gutter the page is one column (a gap
    // between short titles and their numbers is no gutter).
    std::vector<Line> lines;
    int entries = 0;
    if (const int gutter = FindGutter(runs); gutter != kNoGutter) {
        std::vector<const PageItem *> left, right;
        for (const PageItem *item : runs)
            (static_cast<long long>(item->viewBox.x0) + item->viewBox.x1 < 2LL * gutter ? left : right).push_back(item);
        std::vector<Line> leftLines = MakeLines(std::move(left), 0);
        std::vector<Line> rightLines = MakeLines(std::move(right), 1);
        const int leftEntries = ParseLines(leftLines, links, pageLinks, numbering, ask);
        const int rightEntries = ParseLines(rightLines, links, pageLinks, numbering, ask);
        if (leftEntries >= kMinColumnEntries && rightEntries >= kMinColumnEntries) {
            lines = std::move(leftLines);
            lines.insert(lines.end(), std::make_move_iterator(rightLines.begin()),
                         std::make_move_iterator(rightLines.end()));
            entries = leftEntries + rightEntries;
        }
    }
    if (lines.empty()) {
        lines = MakeLines(std::move(runs), 0);
        entries = ParseLines(lines, links, pageLinks, numbering, ask);
    }
    if (entries < kMinContentsEntries) return false;

    // Entries that wrap: up to two lines directly above an entry line, in its type size, that
    // run most of the way across the entry line (a short heading such as "Contents" does not).
    std::vector<int> firstLine(lines.size(), -1);
    int usedLines = 0;
    for (size_t j = 0; j < lines.size(); ++j) {
        if (lines[j].role != 1) continue;
        ++usedLines;
        size_t top = j;
        for (int k = 0; k < 2 && top > 0; ++k) {
            const Line &above = lines[top - 1];
            const Line &entry = lines[j];
            if (above.role != 0 || above.column != entry.column || !DirectlyAbove(above, lines[top])) break;
            const long long reach = static_cast<long long>(above.box.x1) - entry.box.x0;
            if (reach * 5 < static_cast<long long>(entry.box.Width()) * 3) break;
            if (above.box.x0 > entry.box.x0 + entry.box.Height()) break;
            --top;
            lines[top].role = 2;
            ++usedLines;
        }
        firstLine[j] = static_cast<int>(top);
    }
    if (usedLines * 2 < static_cast<int>(lines.size())) return false;

    // The pages must rise through the listing; a restart (roman front matter, then arabic) may
    // step back now and then.
    int previous = 0, backSteps = 0;
    for (const Line &line : lines) {
        if (line.role != 1) continue;
        const int target = line.linked ? line.linkPage : line.parsed.page;
        if (target < previous) ++backSteps;
        previous = target;
    }
    if (backSteps * 4 > entries - 1) return false;

    // Levels: the distinct indents of the entries' first lines, half a line height apart, each
    // measured from the left edge of its column's entries.
    int columnLeft[2] = {std::numeric_limits<int>::max(), std::numeric_limits<int>::max()};
    for (size_t j = 0; j < lines.size(); ++j)
        if (lines[j].role == 1) {
            const Line &first = lines[static_cast<size_t>(firstLine[j])];
            columnLeft[first.column] = std::min(columnLeft[first.column], first.box.x0);
        }
    const auto indentOf = [&columnLeft](const Line &line) {
        return static_cast<int>(static_cast<long long>(line.box.x0) - columnLeft[line.column]);
    };
    std::vector<int> indents;
    for (size_t j = 0; j < lines.size(); ++j)
        if (lines[j].role == 1) indents.push_back(indentOf(lines[static_cast<size_t>(firstLine[j])]));
    std::sort(indents.begin(), indents.end());
    std::vector<int> levels;
    int tolerance = 2;
    for (const Line &line : lines) tolerance = std::max(tolerance, line.box.Height() / 2);
    for (int x : indents)
        if (levels.empty() || x - levels.back() > tolerance) levels.push_back(x);

    for (size_t j = 0; j < lines.size(); ++j) {
        if (lines[j].role != 1) continue;
        ContentsEntry entry;
        const size_t top = static_cast<size_t>(firstLine[j]);
        // The lines of a wrapped title are joined with one blank; a hyphen that breaks a word is dropped.
        for (size_t k = top; k <= j; ++k) {
            const std::string &part = lines[k].parsed.title;
            if (part.empty()) continue;
            if (!entry.title.empty() && entry.title.back() == '-')
                entry.title.pop_back();
            else if (!entry.title.empty())
                entry.title += ' ';
            entry.title += part;
        }
        entry.page = lines[j].linked ? lines[j].linkPage : lines[j].parsed.page;
        const int x = indentOf(lines[top]);
        int level = 0;
        for (size_t l = 0; l < levels.size(); ++l)
            if (x >= levels[l] - tolerance) level = static_cast<int>(l);
        entry.level = std::min(level, 4);
        entry.styleItem = lines[top].items.front();
        for (size_t k = top; k <= j; ++k)
            out.items.insert(out.items.end(), lines[k].items.begin(), lines[k].items.end());
        out.entries.push_back(std::move(entry));
    }
    std::sort(out.items.begin(), out.items.end());
    return true;
}

} // namespace qm
