#include "xhtml/block_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "extract/text_extract.h"
#include "options/conversion_job.h"
#include "platform/prompt.h"
#include "xhtml/table_builder.h"

namespace qm {
namespace {

// The only reading of the box relation the writer needs: B is on the same line as A.
bool SameLine(const IntBox &a, const IntBox &b) {
    int r = RelateBoxes(a, b, 0, 0);
    return r >= 3 && r <= 7;
}

bool IsTextCommand(const DrawCommand *c) { return c && IsTextKind(c->kind) && c->text; }

const PageItem *MemberItem(const BlockMember *m) { return (m && !m->isGroup) ? m->item : nullptr; }

// Unicode of the last / first glyph of a text run (0 when there is none).
int LastUnicode(const PageItem &item) {
    if (!IsTextCommand(item.command) || item.glyphCount <= 0) return 0;
    const auto &g = item.command->text->glyphs;
    size_t i = static_cast<size_t>(item.firstGlyph + item.glyphCount - 1);
    return i < g.size() ? g[i].unicode : 0;
}

int FirstUnicode(const PageItem &item) {
    if (!IsTextCommand(item.command) || item.glyphCount <= 0) return 0;
    const auto &g = item.command->text->glyphs;
    size_t i = static_cast<size_t>(item.firstGlyph);
    return i < g.size() ? g[i].unicode : 0;
}

// Separators between two runs on one line. A white gap of half an em or more is kept as wide as
// it is: one separator per em, plus one. Narrower gaps, and runs whose ink touches or overlaps,
// are judged by the pen: a word gap or a move to another baseline is one separator (none where
// the text has a blank there already, or breaks after a hyphen), kerning none.
int RunSeparators(const PageItem &item, const PageItem &next, int cw) {
    const long long gap = static_cast<long long>(next.viewBox.x0) - item.viewBox.x1;
    const int byInk = gap > 0 ? static_cast<int>(std::min<long long>(gap / cw + 1, 100000)) : 0;
    if (gap * 2 >= cw) return byInk;
    const int last = LastUnicode(item), first = FirstUnicode(next);
    switch (JudgeRunGap(item, next)) {
    case RunGap::Unknown: return byInk;
    case RunGap::None: return 0;
    case RunGap::Word: return (last == ' ' || first == ' ') ? 0 : 1;
    case RunGap::Line: return (last == ' ' || first == ' ' || last == '-') ? 0 : 1;
    }
    return byInk;
}

bool HasArea(const IntBox &b) { return b.x1 > b.x0 && b.y1 > b.y0; }

IntBox Union(bool &any, const IntBox &acc, const IntBox &b) {
    if (!any) {
        any = true;
        return b;
    }
    return qm::Union(acc, b);
}

const char *ParagraphTag(int align) {
    switch (align) {
    case 1: return "<p style=\"text-align:center;\">";
    case 2: return "<p style=\"text-align:right;\">";
    default: return "<p>";
    }
}

const char *DivTag(int align) {
    switch (align) {
    case 0: return "<div style=\"text-align:left;\">";
    case 2: return "<div style=\"text-align:right;\">";
    default: return "<div style=\"text-align:center;\">";
    }
}

// Whether a space-separated class list holds `name`.
bool HasClass(const std::string &classes, const char *name) {
    const std::string word = name;
    for (size_t at = classes.find(word); at != std::string::npos; at = classes.find(word, at + 1)) {
        const size_t end = at + word.size();
        if ((at == 0 || classes[at - 1] == ' ') && (end == classes.size() || classes[end] == ' ')) return true;
    }
    return false;
}

// The first glyph of a run, and one past its last, within the command's glyphs.
void GlyphRange(const PageItem &item, size_t &begin, size_t &end) {
    const size_t n = item.command->text->glyphs.size();
    begin = static_cast<size_t>(std::clamp<long long>(item.firstGlyph, 0, static_cast<long long>(n)));
    end = static_cast<size_t>(std::clamp<long long>(static_cast<long long>(item.firstGlyph) + item.glyphCount,
                                                    static_cast<long long>(begin), static_cast<long long>(n)));
}

// The pen position (origin) of a glyph in view space.
fz_point GlyphOrigin(const PageItem &item, size_t index, const fz_matrix &viewTransform) {
    const GlyphRecord &g = item.command->text->glyphs[index];
    return fz_transform_point(fz_make_point(g.x, g.y), fz_concat(item.command->transform, viewTransform));
}

// The first glyph of a run that is not a blank; `end` when there is none.
size_t FirstInk(const PageItem &item, size_t begin, size_t end) {
    const auto &g = item.command->text->glyphs;
    while (begin < end && g[begin].IsBlank()) ++begin;
    return begin;
}

// Indentation and blank lines of code are written out one by one: a hostile file's coordinates
// may not make them unbounded.
constexpr long kMaxCodeColumns = 200;
constexpr long kMaxCodeBlankLines = 20;

} // namespace

BlockWriter::BlockWriter(std::string &file, BlockWriterSetup setup) : file_(file), setup_(std::move(setup)) {
    if (setup_.links && !(setup_.job && setup_.job->ignoreLinks))
        anchors_ = AnchorsForLinks(*setup_.links, setup_.pageCount, PagesPerFile(setup_.job),
                                   XhtmlFileNames(setup_.job));
}

BlockWriter::~BlockWriter() { EndWriterState(); }

// ---- states ---------------------------------------------------------------------------------

void BlockWriter::BeginWriterState() {
    stack_.clear();
    classCache_.clear();
    auto state = std::make_unique<BlockWriterState>();
    state->viewPageBox = page_.viewPageBox;
    state->job = setup_.job;
    state->file = &file_;
    stack_.push_back(std::move(state));
}

void BlockWriter::EndWriterState() {
    while (!stack_.empty()) PopState();
}

void BlockWriter::PushNestedState() {
    BlockWriterState *top = State();
    auto state = std::make_unique<BlockWriterState>();
    state->viewPageBox = top ? top->viewPageBox : page_.viewPageBox;
    state->job = setup_.job;
    state->file = &file_;
    state->outer = top;
    stack_.push_back(std::move(state));
}

void BlockWriter::PopState() {
    if (stack_.empty()) return;
    CloseOpenMarkup(*stack_.back());
    stack_.pop_back();
}

void BlockWriter::CloseOpenMarkup(BlockWriterState &state) {
    if (state.spanOpen) file_ += "</span>";
    if (state.paragraphOpen) file_ += "</p>\n";
    state.spanOpen = false;
    state.paragraphOpen = false;
}

void BlockWriter::OpenParagraph(int align) {
    BlockWriterState &s = *State();
    file_ += ParagraphTag(align);
    s.paragraphOpen = true;
    s.paragraphAlign = align;
}

// ---- dispatch -------------------------------------------------------------------------------

void BlockWriter::WriteBlock(const LayoutPage &page, std::vector<TextBlock> &blocks, int index, int count,
                             const TextBlock *previous, const TextBlock *next) {
    page_ = page;
    if (stack_.empty()) BeginWriterState();
    BlockWriterState &s = *State();
    s.viewPageBox = page.viewPageBox;
    s.prevBlock = previous;
    s.block = &blocks[static_cast<size_t>(index)];
    s.nextBlock = next;
    WriteBlock(blocks, index, count);
}

int BlockWriter::WriteBlock(std::vector<TextBlock> &blocks, int index, int count) {
    BlockWriterState *s = State();
    if (!s || !s->block || !s->block->first) return 0;
    const TextBlock &block = *s->block;
    const BlockMember *first = block.first;
    if (first->isGroup) {
        if (!first->group) return 0;
        const ItemGroup &group = *first->group;
        if (group.mark == 2) {
            WriteCentredPicture(GroupOutputBox(group));
            return 0;
        }
        PushNestedState();
        if (group.mark == 1)
            WriteTableGroup(group);
        else
            WriteTextGroup(group);
        PopState();
        return 0;
    }
    const PageItem *item = first->item;
    if (!item || !item->command) return 0;
    CommandKind kind = item->command->kind;
    if (IsTextKind(kind)) {
        WriteTextBlock(blocks, index, count);
    } else if (IsPictureKind(kind) || IsGraphicPathKind(kind)) {
        WritePictureBlock(block, IsPictureKind(kind));
    }
    return 0;
}

void BlockWriter::WriteCentredPicture(const IntBox &outputBox) {
    if (!setup_.savePicture) return;
    std::string name;
    if (setup_.savePicture(&outputBox, name) != PngResult::Written) return;
    // A div cannot stand inside a paragraph: close it around the picture and reopen it after, so
    // the picture keeps its place in the text.
    BlockWriterState &s = *State();
    bool reopen = s.paragraphOpen;
    int align = s.paragraphAlign;
    CloseOpenMarkup(s);
    file_ += "<div style=\"text-align:center;\"><img title=\"img\" alt=\"img\" src=\"" + name + "\" /></div>\n";
    if (reopen) OpenParagraph(align);
}

void BlockWriter::WritePictureBlock(const TextBlock &block, bool picture) {
    (void)picture;  // pictures and drawings are written alike
    if (!setup_.savePicture) return;
    int align = PictureAlignment(page_, block);
    IntBox box = BlockOutputBox(block);
    std::string name;
    if (setup_.savePicture(&box, name) != PngResult::Written) return;
    BlockWriterState &s = *State();
    bool reopen = s.paragraphOpen;
    int paragraphAlign = s.paragraphAlign;
    CloseOpenMarkup(s);
    file_ += DivTag(align);
    file_ += "<img title=\"img\" alt=\"img\" src=\"" + name + "\" /></div>";
    if (reopen) OpenParagraph(paragraphAlign);
}

// ---- text blocks ----------------------------------------------------------------------------

int BlockWriter::EmWidth(const PageItem &item) const {
    return std::max(1, FirstGlyphBox(item, page_.viewTransform).box.Width());
}

void BlockWriter::WriteTextBlock(std::vector<TextBlock> &blocks, int index, int count) {
    BlockStatistics();
    BlockWriterState &s = *State();
    // A single line in a fixed-pitch font is code only as part of a listing (after a code block);
    // alone it is a word or a title set in that font and stays an ordinary paragraph.
    if ((s.lineCount >= 2 || !std::isnan(s.codeLeft)) && IsCodeBlock(*s.block)) {
        WriteCodeBlock();
        return;
    }
    s.codeLeft = s.codeBaseline = std::numeric_limits<double>::quiet_NaN();
    int align = 0;
    if (page_.options.alignCheck)
        align = BlockAlignment(page_, blocks, index, count, s.lineCount, s.leftAligned, s.rightAligned);

    // One output for the whole block: an anchor may go on from one run to the next while they
    // share a span; it is closed before any markup.
    RunTextOutput output;
    output.file = &file_;
    output.links = &anchors_.links;
    output.hrefs = &anchors_.hrefs;
    output.prompt = setup_.prompt;
    output.continueAnchors = true;

    for (const BlockMember *m = s.block->first; m; m = m->next) {
        const PageItem *it = MemberItem(m);
        if (!it || !IsTextCommand(it->command)) continue;
        if (IsContentsRun(it)) {
            CloseRunAnchor(output);
            WriteContentsEntries();
            continue;
        }
        int cw = EmWidth(*it);

        if (s.itemCount == 0) {
            s.lineFirstBox = it->viewBox;
            s.item = it;
        } else if (!SameLine(s.lineFirstBox, it->viewBox)) {
            s.lineStartBox = s.lineFirstBox;
            s.prevItem = s.item;
            s.lineFirstBox = it->viewBox;
        } else {
            s.prevItem = s.item;
        }
        s.item = it;
        s.nextItem = nullptr;
        for (const BlockMember *n = m->next; n; n = n->next) {
            // The next member's item; a group member (never part of a text block) ends the run.
            // Runs of contents entries are written elsewhere and passed over.
            s.nextItem = MemberItem(n);
            if (s.nextItem && IsContentsRun(s.nextItem)) continue;
            break;
        }

        if (it->mark == 2) {
            CloseRunAnchor(output);
            WriteCentredPicture(it->outputBox);
            ++s.itemCount;
            continue;
        }
        int n = 0;
        bool dropHyphen = false;
        bool end = EndOfLine(n, dropHyphen);
        if (!s.paragraphOpen) {
            CloseRunAnchor(output);
            OpenParagraph(align);
        }
        if (!s.spanOpen) {
            CloseRunAnchor(output);
            OpenSpan();
            s.spanOpen = true;
        }
        WriteRunText(output, *it, cw, dropHyphen);
        if (!s.nextItem || s.nextItem->mark || !SameStyle(it->command, s.nextItem->command)) {
            CloseRunAnchor(output);
            file_ += "</span>";
            s.spanOpen = false;
        }
        if (end) {
            CloseRunAnchor(output);
            if (s.spanOpen) file_ += "</span>";
            s.spanOpen = false;
            file_ += "</p>\n";
            s.paragraphOpen = false;
            if (n > 0)
                file_ += "<div style=\"height:" + std::to_string(static_cast<long long>(n) * cw) +
                         "px;width:1px;\"></div>\n";
        } else {
            // The first separator is an ordinary space, where a reading system may wrap the line;
            // further ones are no-break spaces that keep a wider gap as wide as it was. Next to a
            // blank of the text itself an ordinary space would merge with it and narrow the gap.
            const PageItem *following = s.nextItem;
            if (!following && s.nextBlock && s.nextBlock->first && !s.nextBlock->first->isGroup)
                following = s.nextBlock->first->item;
            const bool blankBeside = output.lastChar == ' ' || (following && FirstUnicode(*following) == ' ');
            for (int k = 0; k < n; ++k) WriteRunGap(output, k == 0 && !blankBeside);
        }
        ++s.itemCount;
    }
    CloseRunAnchor(output);
}

bool BlockWriter::IsCodeBlock(const TextBlock &block) {
    bool any = false;
    for (const BlockMember *m = block.first; m; m = m->next) {
        const PageItem *it = MemberItem(m);
        if (!it || it->mark || !IsTextCommand(it->command) || RunIsBlank(*it)) continue;
        std::string classes;
        if (SpanClasses(*it->command, classes) != 0 || !HasClass(classes, "mono")) return false;
        any = true;
    }
    return any;
}

void BlockWriter::WriteCodeBlock() {
    BlockWriterState &s = *State();
    const fz_matrix &view = page_.viewTransform;

    // The character pitch (from the run with the most glyphs: its pen moves by whole characters),
    // the leftmost first character of a line (the indentation's zero), and the baseline of each
    // line (the line spacing, to find blank lines).
    double pitch = 0, left = HUGE_VAL, lineStep = 0, lastBaseline = 0;
    size_t longest = 1;
    int em = 0;
    IntBox lineBox;
    bool anyLine = false;
    for (const BlockMember *m = s.block->first; m; m = m->next) {
        const PageItem *it = MemberItem(m);
        if (!it || it->mark || !IsTextCommand(it->command)) continue;
        size_t begin, end;
        GlyphRange(*it, begin, end);
        const size_t ink = FirstInk(*it, begin, end);
        if (ink == end) continue;
        if (!em) em = TextEmPixels(*it->command, view);
        if (end - begin > longest) {
            const double step = (GlyphOrigin(*it, end - 1, view).x - GlyphOrigin(*it, begin, view).x) /
                                static_cast<double>(end - begin - 1);
            if (std::isfinite(step) && step > 0) {
                pitch = step;
                longest = end - begin;
            }
        }
        if (anyLine && SameLine(lineBox, it->viewBox)) continue;
        const fz_point origin = GlyphOrigin(*it, ink, view);
        if (std::isfinite(origin.x)) left = std::min(left, static_cast<double>(origin.x));
        const double step = static_cast<double>(origin.y) - lastBaseline;
        if (anyLine && std::isfinite(step) && step > 0 && (lineStep == 0 || step < lineStep)) lineStep = step;
        lastBaseline = origin.y;
        lineBox = it->viewBox;
        anyLine = true;
    }
    if (!(pitch > 0)) pitch = std::max(1.0, 0.6 * em);
    if (!std::isnan(s.codeLeft)) left = std::min(left, s.codeLeft);
    if (!std::isfinite(left)) left = s.block->box.x0;
    s.codeLeft = left;
    auto column = [&](double x) {
        const double c = std::round((x - left) / pitch);
        return std::isfinite(c) ? static_cast<long>(std::clamp(c, 0.0, static_cast<double>(kMaxCodeColumns))) : 0L;
    };

    RunTextOutput output;
    output.file = &file_;
    output.links = &anchors_.links;
    output.hrefs = &anchors_.hrefs;
    output.prompt = setup_.prompt;
    output.continueAnchors = true;
    output.keepBlanks = true;

    // Code never continues a paragraph of prose, and is never justified or indented as one; it
    // goes on in the paragraph of the code block before it.
    const bool continuing = s.paragraphOpen && !std::isnan(s.codeBaseline);
    if (continuing) {
        // The closer spacing of the two: a block of two lines apart has a step of two lines.
        if (s.codeLineStep > 0 && !(lineStep > 0 && lineStep <= s.codeLineStep)) lineStep = s.codeLineStep;
    } else {
        CloseOpenMarkup(s);
        file_ += "<p style=\"text-align:left;text-indent:0;\">";
        s.paragraphOpen = true;
        s.paragraphAlign = 0;
    }
    long col = 0;
    double baseline = continuing ? s.codeBaseline : 0;
    for (const BlockMember *m = s.block->first; m; m = m->next) {
        const PageItem *it = MemberItem(m);
        if (!it || !IsTextCommand(it->command)) continue;
        s.item = it;
        s.nextItem = nullptr;
        if (m->next) s.nextItem = MemberItem(m->next);
        if (it->mark == 2) {
            CloseRunAnchor(output);
            WriteCentredPicture(it->outputBox);
            continue;
        }
        size_t begin, end;
        GlyphRange(*it, begin, end);
        const size_t ink = FirstInk(*it, begin, end);
        if (ink == end) continue;  // blanks only: the columns of the next run place it
        const fz_point origin = GlyphOrigin(*it, ink, view);
        const bool newLine = s.itemCount == 0 || !SameLine(s.lineFirstBox, it->viewBox);
        if (newLine) {
            if (s.itemCount > 0 || continuing) {
                CloseRunAnchor(output);
                if (s.spanOpen) file_ += "</span>";
                s.spanOpen = false;
                long blank = 0;
                if (lineStep > 0) {
                    const double lines = std::round((static_cast<double>(origin.y) - baseline) / lineStep) - 1;
                    if (std::isfinite(lines)) blank = static_cast<long>(std::clamp(lines, 0.0, double(kMaxCodeBlankLines)));
                }
                for (long k = 0; k <= blank; ++k) file_ += "<br/>";
                output.lastChar = 0;
            }
            s.lineFirstBox = it->viewBox;
            baseline = origin.y;
            col = 0;
        }
        // The blanks up to the run's first character: no-break spaces, but one ordinary space
        // inside a line, where a reading system may wrap a long line.
        const long target = column(origin.x);
        for (long k = col; k < target; ++k)
            WriteRunGap(output, !newLine && k == col && output.lastChar != ' ' && output.lastChar != 0xA0);
        if (!s.spanOpen) {
            CloseRunAnchor(output);
            OpenSpan();
            s.spanOpen = true;
        }
        WriteRunText(output, *it, EmWidth(*it), false);
        col = std::max(target, column(GlyphOrigin(*it, end - 1, view).x) + 1);
        if (!s.nextItem || s.nextItem->mark || !SameStyle(it->command, s.nextItem->command)) {
            CloseRunAnchor(output);
            file_ += "</span>";
            s.spanOpen = false;
        }
        ++s.itemCount;
    }
    CloseRunAnchor(output);
    if (s.nextBlock && IsCodeBlock(*s.nextBlock)) {
        if (s.spanOpen) file_ += "</span>";
        s.spanOpen = false;
        s.codeBaseline = baseline;
        s.codeLineStep = lineStep;
        return;
    }
    CloseOpenMarkup(s);
    s.codeBaseline = std::numeric_limits<double>::quiet_NaN();
    // The blank lines down to the next block, as after a paragraph.
    if (s.item) {
        s.nextItem = nullptr;
        int n = 0;
        bool dropHyphen = false;
        if (EndOfLine(n, dropHyphen) && n > 0) {
            const int cw = EmWidth(*s.item);
            file_ += "<div style=\"height:" + std::to_string(static_cast<long long>(n) * cw) + "px;width:1px;\"></div>\n";
        }
    }
}

void BlockWriter::WriteContentsEntries() {
    if (!setup_.contents || contentsWritten_ || stack_.empty()) return;
    contentsWritten_ = true;
    CloseOpenMarkup(*State());
    const int perFile = PagesPerFile(setup_.job);
    for (const ContentsEntry &entry : setup_.contents->entries) {
        if (entry.level > 0)
            file_ += "<p style=\"margin-left:" + std::to_string(2 * entry.level) + "em;\">";
        else
            file_ += "<p>";
        const std::string href = PageLinkTarget(entry.page, setup_.pageCount, perFile, XhtmlFileNames(setup_.job));
        if (!href.empty()) file_ += "<a href=\"" + href + "\">";
        std::string classes;
        if (entry.styleItem && entry.styleItem->command && SpanClasses(*entry.styleItem->command, classes) == 0)
            file_ += "<span class=\"" + classes + "\">";
        else
            file_ += "<span>";
        file_ += entry.title;
        file_ += "</span>";
        if (!href.empty()) file_ += "</a>";
        file_ += "</p>\n";
    }
}

void BlockWriter::BlockStatistics() {
    BlockWriterState &s = *State();
    s.itemCount = 0;
    s.lineCount = 0;
    s.leftAligned = s.rightAligned = s.firstLineIndented = s.startsWithCapital = false;
    if (!s.block) return;
    const TextBlock &block = *s.block;

    struct Line {
        IntBox start;               // first item of the line
        int end = 0;                // view x1 of its last item
        const PageItem *first = nullptr;
    };
    std::vector<Line> lines;
    int cw = 1;
    int flush = 0;
    const PageItem *last = nullptr;
    for (const BlockMember *m = block.first; m; m = m->next) {
        const PageItem *it = MemberItem(m);
        if (!it) continue;
        if (!last) {
            FirstGlyph fg = FirstGlyphBox(*it, page_.viewTransform);
            cw = std::max(1, fg.box.Width());
            s.firstLineIndented = static_cast<long long>(it->viewBox.x0) - block.box.x0 >= 2LL * cw;
            s.startsWithCapital = fg.capital;
            lines.push_back(Line{it->viewBox, 0, it});
        } else if (!SameLine(lines.back().start, it->viewBox)) {
            lines.back().end = last->viewBox.x1;
            if (std::llabs(static_cast<long long>(block.box.x1) - last->viewBox.x1) < cw / 2) ++flush;
            lines.push_back(Line{it->viewBox, 0, it});
        }
        last = it;
    }
    if (!last) return;
    lines.back().end = last->viewBox.x1;
    const long long count = static_cast<long long>(lines.size());
    s.lineCount = static_cast<int>(count);
    if (count <= 1) {
        s.leftAligned = s.rightAligned = true;
        return;
    }
    long long sumLeft = 0, sumRight = 0;
    for (const Line &l : lines) {
        sumLeft += l.start.x0;
        sumRight += l.end;
    }
    const long long meanLeft = sumLeft / count, meanRight = sumRight / count;
    long long devLeft = 0, devRight = 0;
    for (const Line &l : lines) {
        devLeft += std::llabs(l.start.x0 - meanLeft);
        devRight += std::llabs(l.end - meanRight);
    }
    devLeft /= count;
    devRight /= count;
    if (count == 2) {
        s.leftAligned = devLeft <= cw / 5;
        s.rightAligned = devRight <= cw / 5;
        return;
    }
    s.leftAligned = devLeft <= 2LL * cw;
    s.rightAligned = devRight <= cw;
    if (!s.rightAligned) {
        // Justified text leaves no room at a line's end that the next line's first word would
        // have fitted into.
        bool ragged = false;
        for (size_t k = 1; k < lines.size() && !ragged; ++k) {
            long long room = static_cast<long long>(block.box.x1) - lines[k - 1].end;
            if (room > FirstWordBox(*lines[k].first).Width()) ragged = true;
        }
        if (!ragged) s.rightAligned = true;
    }
    if (!s.rightAligned && flush >= 2) s.rightAligned = true;
}

bool BlockWriter::EndOfLine(int &count, bool &dropHyphen) {
    count = 0;
    dropHyphen = false;
    BlockWriterState &s = *State();
    if (!s.item) return true;
    const PageItem &item = *s.item;
    FirstGlyph fg = FirstGlyphBox(item, page_.viewTransform);
    const int cw = std::max(1, fg.box.Width());
    const int lineHeight = std::max(1, fg.box.Height());
    auto gapSpaces = [&](const PageItem &next) { return RunSeparators(item, next, cw); };

    if (!s.nextItem) {
        const TextBlock *nb = s.nextBlock;
        if (!nb || !nb->first || nb->first->isGroup || !nb->first->item) return true;
        const PageItem &next = *nb->first->item;
        if (IsTextCommand(next.command) && SameLine(s.lineFirstBox, next.viewBox)) {
            count = gapSpaces(next);
            return false;
        }
        count = std::max(0, (next.viewBox.y0 - s.lineFirstBox.y1) / lineHeight - 1);
        return true;
    }
    const PageItem &next = *s.nextItem;
    if (next.mark || !IsTextCommand(next.command)) return true;
    if (SameLine(s.lineFirstBox, next.viewBox)) {
        count = gapSpaces(next);
        return false;
    }
    if (!page_.options.paragraphCheck) return true;
    if (!s.leftAligned && !s.rightAligned) return true;
    const IntBox &box = s.block->box;
    if (s.firstLineIndented && static_cast<long long>(next.viewBox.x0) - box.x0 >= 2LL * cw) return true;
    const int last = LastUnicode(item);
    const int first = FirstUnicode(next);
    if (s.startsWithCapital && first >= 'a' && first <= 'z') {
        // The next line continues the sentence. It is joined with one space, like every other
        // joined line, so the last word of this line and the first of the next stay two words;
        // a final hyphen is dropped instead and a final blank needs nothing more.
        if (last == '-')
            dropHyphen = true;
        else if (last != ' ')
            count = 1;
        return false;
    }
    const bool bothEdges = s.leftAligned && s.rightAligned;
    const bool startsAtLeft = std::abs(box.x0 - next.viewBox.x0) <= 2;
    if (bothEdges && std::abs(box.x1 - item.viewBox.x1) <= 2 && startsAtLeft) {
        if (last == '-')
            dropHyphen = true;
        else
            count = 1;
        return false;
    }
    if (startsAtLeft && static_cast<long long>(box.x1) - item.viewBox.x1 <= FirstWordBox(next).Width() && bothEdges) {
        count = 1;
        return false;
    }
    if (last == '-') {
        dropHyphen = true;
        return false;
    }
    return true;
}

IntBox BlockWriter::FirstWordBox(const PageItem &item) const {
    IntBox box;
    if (!IsTextCommand(item.command)) return box;
    const auto &glyphs = item.command->text->glyphs;
    bool any = false;
    for (int i = item.firstGlyph; i < item.firstGlyph + item.glyphCount; ++i) {
        if (i < 0 || static_cast<size_t>(i) >= glyphs.size()) break;
        const GlyphRecord &g = glyphs[static_cast<size_t>(i)];
        if (g.IsBlank()) {
            if (any) break;
            continue;
        }
        if (HasArea(g.viewBox)) box = Union(any, box, g.viewBox);
    }
    return box;
}

// ---- spans ----------------------------------------------------------------------------------

int BlockWriter::SpanClasses(const DrawCommand &command, std::string &classes) {
    auto it = classCache_.find(&command);
    if (it != classCache_.end()) {
        classes = it->second;
        return 0;
    }
    if (!setup_.spanClasses) return -1;
    std::string list;
    int rc = setup_.spanClasses(command, list);
    if (rc != 0) return rc;
    classCache_.emplace(&command, list);
    classes = std::move(list);
    return 0;
}

void BlockWriter::OpenSpan() {
    const BlockWriterState &s = *State();
    std::string classes;
    if (s.item && s.item->command && SpanClasses(*s.item->command, classes) == 0)
        file_ += "<span class=\"" + classes + "\">";
    else
        file_ += "<span>";
}

bool BlockWriter::SameStyle(const DrawCommand *a, const DrawCommand *b) {
    if (!IsTextCommand(a) || !IsTextCommand(b)) return false;
    std::string ca, cb;
    if (a == b) return SpanClasses(*a, ca) == 0;
    if (SpanClasses(*a, ca) != 0 || SpanClasses(*b, cb) != 0) return false;
    return ca == cb;
}

// ---- boxes ----------------------------------------------------------------------------------

IntBox BlockWriter::GroupOutputBox(const ItemGroup &group) const {
    IntBox box;
    bool any = false;
    for (const PageItem *m : group.members)
        if (m) box = Union(any, box, m->outputBox);
    return box;
}

IntBox BlockWriter::BlockOutputBox(const TextBlock &block) const {
    IntBox box;
    bool any = false;
    for (const BlockMember *m = block.first; m; m = m->next) {
        if (m->isGroup) {
            if (m->group) box = Union(any, box, GroupOutputBox(*m->group));
        } else if (m->item) {
            box = Union(any, box, m->item->outputBox);
        }
    }
    return box;
}

// ---- groups and cells -----------------------------------------------------------------------

int BlockWriter::WriteTextGroup(const ItemGroup &group) {
    BlockList list;
    int created = BuildBlocks(page_, list, nullptr, nullptr, &group, nullptr,
                              kMergeParagraphs | kMergeSameLine | kAbsorbGraphics, 1.0f, 1.0f);
    if (created <= 0) return -1;
    const bool single = page_.options.columnMode == static_cast<int32_t>(ColumnMode::Single);
    int n = OrderBlocks(list, true, single);
    if (n < 0) return -2;
    std::vector<TextBlock> &blocks = list.blocks;
    for (int i = 0; i < n; ++i)
        if (!blocks[static_cast<size_t>(i)].consumed) OrderMembers(blocks[static_cast<size_t>(i)]);
    BlockWriterState &s = *State();
    for (int i = 0; i < n; ++i) {
        TextBlock &current = blocks[static_cast<size_t>(i)];
        s.prevBlock = s.block;
        s.block = &current;
        s.nextBlock = (i + 1 < n && !blocks[static_cast<size_t>(i + 1)].consumed) ? &blocks[static_cast<size_t>(i + 1)]
                                                                                   : nullptr;
        if (!current.consumed) WriteBlock(blocks, i, n);
    }
    // The blocks die with the list; nothing may point at them afterwards.
    s.prevBlock = s.block = s.nextBlock = nullptr;
    return 0;
}

int BlockWriter::WriteTableGroup(const ItemGroup &group) {
    BlockList list;
    int created = BuildBlocks(page_, list, nullptr, nullptr, &group, nullptr, kMergeSameLine, 1.0f, 1.0f);
    if (created <= 0) return -1;
    // The ruling lines only frame the cells; rows and columns come from the other blocks.
    for (TextBlock &b : list.blocks)
        if (b.first && !b.first->isGroup && b.first->item && IsGraphicPathItem(*b.first->item)) b.consumed = true;
    int n = OrderBlocks(list, false, true);
    if (n < 0) return -1;
    for (int i = 0; i < n; ++i)
        if (!list.blocks[static_cast<size_t>(i)].consumed) OrderMembers(list.blocks[static_cast<size_t>(i)]);
    BuildTable(list.blocks, n);
    return 0;
}

int BlockWriter::BuildTable(std::vector<TextBlock> &blocks, int count) {
    std::vector<TextBlock *> ordered;
    for (int i = 0; i < count && i < static_cast<int>(blocks.size()); ++i)
        if (!blocks[static_cast<size_t>(i)].consumed) ordered.push_back(&blocks[static_cast<size_t>(i)]);
    const BlockWriterState *s = State();
    const IntBox page = s ? s->viewPageBox : page_.viewPageBox;
    std::vector<TableLayout> tables;
    if (LayoutTable(ordered, page.Width(), tables) != TableResult::Built) {
        (setup_.prompt ? *setup_.prompt : DefaultPrompt()).Message("out the max cols", "提示");
        return 0;
    }
    WriteTableMarkup(tables, file_, [this](TextBlock &cell) { WriteCell(cell); });
    return 0;
}

void BlockWriter::WriteCell(TextBlock &cell) {
    std::vector<TextBlock> blocks{cell};
    PushNestedState();
    BlockWriterState &s = *State();
    s.block = &blocks[0];
    s.nextBlock = nullptr;
    WriteBlock(blocks, 0, 1);
    PopState();
}

int BlockWriter::SaveWholePagePicture(std::string &fileName) {
    if (!setup_.savePicture) return -1;
    return setup_.savePicture(nullptr, fileName) == PngResult::Written ? 0 : -1;
}

} // namespace qm
