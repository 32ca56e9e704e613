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

// Heading detection. A block is larger than the body text from this share on, and ranks h2 and
// h1 from these; bold text at the body's size is a heading of the lowest rank.
constexpr double kLarger = 1.15;
constexpr double kRank2 = 1.3;
constexpr double kRank1 = 1.75;
// A heading is short: at most this many lines and visible characters.
constexpr int kHeadingLines = 3;
constexpr int kHeadingChars = 200;
// Blocks this close to the top or bottom of the page (share of its height) are where running
// heads and feet stand; only text of at least rank 2 becomes a heading there.
constexpr double kMarginBand = 0.07;
// Per page: at most this many headings, and this many blocks compared against the page's others
// (a hostile page of thousands of bold blocks costs no more than an ordinary one).
constexpr int kMaxHeadings = 64;
constexpr int kMaxHeadingChecks = 256;
// Distinct styles counted per page for the body style; more are left uncounted.
constexpr size_t kMaxStyles = 64;
// Characters the body style must have on a page for headings to be looked for.
constexpr long long kMinBodyChars = 30;
// Dots in a row (blanks between them aside) that make a leader.
constexpr int kLeaderDots = 4;
// Bytes of a heading's label in the navigation.
constexpr size_t kMaxLabel = 160;

bool IsLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0xC0; }

// The text of a written heading: markup left out, blanks (also escaped no-break spaces) run
// together, at most kMaxLabel bytes, never cutting a character or an entity in half.
std::string HeadingLabel(const std::string &xhtml) {
    std::string out;
    bool inTag = false, blank = false;
    for (size_t i = 0; i < xhtml.size(); ++i) {
        const char c = xhtml[i];
        if (inTag) {
            inTag = c != '>';
            continue;
        }
        if (c == '<') {
            inTag = true;
            continue;
        }
        const bool nbsp = xhtml.compare(i, 6, "&#160;") == 0;
        if (c == ' ' || c == '\n' || c == '\t' || nbsp) {
            if (nbsp) i += 5;
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    if (out.size() > kMaxLabel) {
        size_t n = kMaxLabel;
        while (n > 0 && (static_cast<unsigned char>(out[n]) & 0xC0) == 0x80) --n;
        const size_t amp = out.rfind('&', n);
        if (amp != std::string::npos && out.find(';', amp) >= n) n = amp;
        out.resize(n);
        while (!out.empty() && out.back() == ' ') out.pop_back();
    }
    return out;
}

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
    styleCache_.clear();
    bodyState_ = 0;
    headingCount_ = 0;
    headingChecks_ = 0;
    bookmarkUsed_.clear();
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
    state.spanOpen = false;
    CloseParagraph(state);
}

// Ends the open paragraph, or the open heading (noting it for the navigation).
void BlockWriter::CloseParagraph(BlockWriterState &state) {
    if (!state.paragraphOpen) return;
    state.paragraphOpen = false;
    if (state.openHeading == 0) {
        file_ += "</p>\n";
        return;
    }
    const int level = state.openHeading;
    state.openHeading = 0;
    if (setup_.headings && state.headingStart <= file_.size())
        setup_.headings->push_back(
            PageHeading{setup_.pageNumber, headingCount_, level, HeadingLabel(file_.substr(state.headingStart))});
    file_ += "</h" + std::to_string(level) + ">\n";
}

void BlockWriter::OpenParagraph(int align) {
    BlockWriterState &s = *State();
    if (s.headingLevel > 0) {
        // One element per heading block: its lines are joined.
        ++headingCount_;
        file_ += "<h" + std::to_string(s.headingLevel) + " id=\"" + HeadingAnchorId(setup_.pageNumber, headingCount_) +
                 "\"";
        if (align == 1) file_ += " style=\"text-align:center;\"";
        if (align == 2) file_ += " style=\"text-align:right;\"";
        file_ += ">";
        s.openHeading = s.headingLevel;
        s.headingStart = file_.size();
    } else {
        file_ += ParagraphTag(align);
    }
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

RunTextOutput BlockWriter::BlockOutput() {
    RunTextOutput output;
    output.file = &file_;
    output.links = &anchors_.links;
    output.hrefs = &anchors_.hrefs;
    output.prompt = setup_.prompt;
    output.continueAnchors = true;
    return output;
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
    s.headingLevel = HeadingLevel(blocks, index, count);
    int align = 0;
    if (page_.options.alignCheck)
        align = BlockAlignment(page_, blocks, index, count, s.lineCount, s.leftAligned, s.rightAligned);

    // One output for the whole block: an anchor may go on from one run to the next while they
    // share a span; it is closed before any markup.
    RunTextOutput output = BlockOutput();

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
        if (s.headingLevel > 0) {
            // A heading's lines are one element, ended after its last run.
            if (!s.nextItem) {
                if (!end) n = 0;
                end = true;
            } else if (end) {
                end = false;
                dropHyphen = false;
                n = LastUnicode(*it) == ' ' ? 0 : 1;
            }
        }
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
            CloseParagraph(s);
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
    if (s.openHeading) {
        if (s.spanOpen) file_ += "</span>";
        s.spanOpen = false;
        CloseParagraph(s);
    }
    s.headingLevel = 0;
}

bool BlockWriter::CommandStyle(const DrawCommand &command, TextStyle &style) {
    auto it = styleCache_.find(&command);
    if (it != styleCache_.end()) {
        style = it->second;
        return true;
    }
    if (!setup_.textStyle || !setup_.textStyle(command, style)) return false;
    styleCache_.emplace(&command, style);
    return true;
}

bool BlockWriter::BodyStyle(TextStyle &body) {
    if (bodyState_ == 0) {
        bodyState_ = -1;
        // Characters per style (size in tenths of a point, weight), in order of first use.
        struct Count {
            long long size;
            bool bold;
            long long chars;
        };
        std::vector<Count> counts;
        if (page_.items) {
            for (const auto &item : *page_.items) {
                if (!item || item->mark || !IsTextCommand(item->command) || item->glyphCount <= 0) continue;
                TextStyle style;
                if (!CommandStyle(*item->command, style)) continue;
                const long long size = std::llround(style.size * 10);
                auto c = std::find_if(counts.begin(), counts.end(),
                                      [&](const Count &k) { return k.size == size && k.bold == style.bold; });
                if (c != counts.end())
                    c->chars += item->glyphCount;
                else if (counts.size() < kMaxStyles)
                    counts.push_back(Count{size, style.bold, item->glyphCount});
            }
        }
        // The style of the most characters; on a tie the smaller, then the regular one.
        const Count *best = nullptr;
        for (const Count &c : counts)
            if (!best || c.chars > best->chars ||
                (c.chars == best->chars && (c.size < best->size || (c.size == best->size && !c.bold && best->bold))))
                best = &c;
        // A page with little text has no body style of its own (a title page, a part page); the
        // document's body size stands in for it where it is known.
        if (best && best->size > 0 && best->chars >= kMinBodyChars) {
            body_.size = static_cast<double>(best->size) / 10;
            body_.bold = best->bold;
            bodyState_ = 1;
        } else if (setup_.documentBodySize > 0) {
            body_.size = setup_.documentBodySize;
            body_.bold = false;
            bodyState_ = 1;
        }
    }
    body = body_;
    return bodyState_ == 1;
}

int BlockWriter::StyleLevel(const TextBlock &block) {
    TextStyle body;
    if (!BodyStyle(body)) return 0;

    // Every run with visible characters must be set larger than the body, or bold where the
    // body is not: a bold word inside a paragraph shares its block with regular text.
    double smallest = 0;
    int letters = 0, chars = 0, dots = 0;
    const PageItem *last = nullptr;
    for (const BlockMember *m = block.first; m; m = m->next) {
        const PageItem *it = MemberItem(m);
        if (!it || it->mark || !IsTextCommand(it->command)) return 0;
        last = it;
        TextStyle style;
        if (!CommandStyle(*it->command, style)) return 0;
        const double ratio = style.size / body.size;
        const bool larger = ratio >= kLarger && style.size - body.size >= 1.0;
        const bool bolder = style.bold && !body.bold && ratio >= 0.95;
        const auto &glyphs = it->command->text->glyphs;
        int visible = 0;
        for (int i = it->firstGlyph; i < it->firstGlyph + it->glyphCount; ++i) {
            if (i < 0 || static_cast<size_t>(i) >= glyphs.size()) break;
            const int u = glyphs[static_cast<size_t>(i)].unicode;
            if (u <= ' ') continue;
            if (!larger && !bolder) return 0;  // body text (blank runs count for nothing)
            ++visible;
            if (IsLetter(u)) ++letters;
            // A leader of dots belongs to an entry of a printed contents page.
            dots = u == '.' ? dots + 1 : 0;
            if (dots >= kLeaderDots) return 0;
        }
        if (visible == 0) continue;
        chars += visible;
        if (chars > kHeadingChars) return 0;
        if (smallest == 0 || ratio < smallest) smallest = ratio;
    }
    // A page number or any other block without a letter is no heading.
    if (letters == 0 || !last) return 0;

    const IntBox &page = page_.viewPageBox;
    const long long band = static_cast<long long>(page.Height() * kMarginBand);
    const bool inMargin = block.box.y1 <= page.y0 + band || block.box.y0 >= page.y1 - band;
    if (inMargin && smallest < kRank2) return 0;
    if (smallest >= kRank1) return 1;
    if (smallest >= kRank2) return 2;
    return 3;
}

int BlockWriter::BookmarkLevel(const TextBlock &block) {
    if (!setup_.bookmarks || setup_.bookmarks->empty()) return 0;
    // The block's characters without blanks, ASCII letters in lower case, as the titles are kept.
    std::u32string key;
    for (const BlockMember *m = block.first; m; m = m->next) {
        const PageItem *it = MemberItem(m);
        if (!it || it->mark || !IsTextCommand(it->command)) return 0;
        const auto &glyphs = it->command->text->glyphs;
        for (int i = it->firstGlyph; i < it->firstGlyph + it->glyphCount; ++i) {
            if (i < 0 || static_cast<size_t>(i) >= glyphs.size()) break;
            const int u = glyphs[static_cast<size_t>(i)].unicode;
            if (u <= ' ') continue;
            if (key.size() >= static_cast<size_t>(kHeadingChars)) return 0;
            key += static_cast<char32_t>(u >= 'A' && u <= 'Z' ? u + 32 : u);
        }
    }
    if (key.empty()) return 0;
    bookmarkUsed_.resize(setup_.bookmarks->size());
    for (size_t k = 0; k < setup_.bookmarks->size(); ++k) {
        const BookmarkTitle &title = (*setup_.bookmarks)[k];
        if (bookmarkUsed_[k] || title.key != key) continue;
        bookmarkUsed_[k] = true;  // one block per bookmark
        return std::clamp(title.level, 1, 3);
    }
    return 0;
}

int BlockWriter::HeadingLevel(const std::vector<TextBlock> &blocks, int index, int count) {
    if (!setup_.textStyle || stack_.size() != 1 || headingCount_ >= kMaxHeadings) return 0;
    const BlockWriterState &s = *State();
    // A block that goes on from the previous one's open paragraph is not standing alone.
    if (s.paragraphOpen || !s.block || s.lineCount < 1 || s.lineCount > kHeadingLines) return 0;
    const TextBlock &block = *s.block;
    int level = StyleLevel(block);
    if (level == 0) level = BookmarkLevel(block);
    if (level == 0) return 0;
    const PageItem *last = nullptr;
    for (const BlockMember *m = block.first; m; m = m->next)
        if (const PageItem *it = MemberItem(m)) last = it;
    if (!last) return 0;

    // Text that goes on beside its last line is not standing alone.
    if (s.nextBlock && s.nextBlock->first && !s.nextBlock->first->isGroup && s.nextBlock->first->item &&
        SameLine(last->viewBox, s.nextBlock->first->item->viewBox))
        return 0;
    // Nor is a cell of a row: a block of about its height beside it (a column of text beside
    // a heading is much taller).
    if (++headingChecks_ > kMaxHeadingChecks) return 0;
    const long long height = std::max(1, block.box.Height());
    for (int j = 0; j < count && j < static_cast<int>(blocks.size()); ++j) {
        const TextBlock &other = blocks[static_cast<size_t>(j)];
        if (j == index || other.consumed || !other.first) continue;
        const bool rows = other.box.y0 < block.box.y1 && block.box.y0 < other.box.y1;
        const bool apart = other.box.x1 <= block.box.x0 || other.box.x0 >= block.box.x1;
        if (rows && apart && other.box.Height() <= 2 * height) return 0;
    }
    return level;
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

    RunTextOutput output = BlockOutput();
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
