#pragma once
// Layout analysis: cuts a page's item list into blocks (lines joined into paragraphs, pieces of
// vector graphics joined into figures), puts the blocks in reading order, orders the runs inside
// each block, and judges the alignment of blocks and pictures. All geometry is in view space.
//
// Every search has two implementations. The plain one follows the rules literally and is
// quadratic (or worse for ordering). The indexed one answers the same questions through a uniform
// grid over the boxes and produces exactly the same blocks in exactly the same order; it is what
// the program uses, and it falls back to the plain one for inputs outside its assumptions
// (inverted boxes, negative factors). LayoutEngine::Plain forces the plain one on any input, so
// that tests and benchmarks can hold the two against each other. The runs inside a block are
// ordered by following an exchange sort without making all of its comparisons (see OrderMembers).
#include <deque>
#include <string>
#include <vector>

#include "extract/page_model.h"
#include "extract/running_heads.h"

namespace qm {

class UserPrompt;

struct BlockMember {
    bool isGroup = false;
    PageItem *item = nullptr;    // when not a group
    ItemGroup *group = nullptr;  // when a group
    BlockMember *next = nullptr;
};

struct TextBlock {
    int index = 0;               // position at creation
    IntBox box;                  // union of the members' boxes (a group contributes its view box)
    BlockMember *first = nullptr;
    BlockMember *last = nullptr;
    int sameLineNext = -1;       // successor candidates (array positions), used while building
    int nextLine = -1;
    bool consumed = false;       // merged into another block
};

// Blocks of one analysis call and the storage of their members. Members reference page items and
// groups; the page itself is never changed by analysis.
struct BlockList {
    std::vector<TextBlock> blocks;
    std::deque<BlockMember> members;
    int created = 0;  // blocks created by BuildBlocks
    int count = 0;    // live blocks after OrderBlocks (positions 0 .. count - 1)
    void Clear() {
        blocks.clear();
        members.clear();
        created = count = 0;
    }
};

// What analysis reads of the page: all items (for OverlapsText), crop rectangle, page options,
// the view transform (font sizes in view pixels) and the view page box (alignment).
struct LayoutPage {
    const std::vector<std::unique_ptr<PageItem>> *items = nullptr;
    IntBox cropRect;
    PageParseOptions options;
    fz_matrix viewTransform = fz_identity;
    IntBox viewPageBox;
    // View-space areas of the page's running heads and page numbers: text runs inside them are
    // left out of the blocks (empty: nothing is left out).
    std::vector<IntBox> runningHeads;
};

// The current page of a model as analysis sees it (items null when there is no current page).
LayoutPage MakeLayoutPage(const PageModel &model);

enum LayoutFlags : int { kMergeParagraphs = 1, kMergeSameLine = 2, kAbsorbGraphics = 4 };

enum class LayoutEngine { Plain, Indexed };

// Relation of box B to box A, codes 0 .. 10 (4: A contains B, also for equal boxes; 6: B contains
// A; 5: overlap; 1/9: B above/below with columns overlapping; 3/7: B left/right with rows
// overlapping; 0, 2, 8, 10: diagonal).
int RelateBoxes(const IntBox &a, const IntBox &b, int tolX, int tolY);
// Intersection with the engine-compatible special cases (inverted box: the other box; a box of no
// width: empty). Boxes intersect when the result has x0 != x1.
IntBox IntersectBoxes(const IntBox &a, const IntBox &b);
bool BoxesIntersect(const IntBox &a, const IntBox &b);

// Run-level facts.
bool IsTextItem(const PageItem &item);
bool IsGraphicPathItem(const PageItem &item);
bool IsPictureItem(const PageItem &item);
// No glyph of the run has glyphId > 0 together with a character other than a blank.
bool RunIsBlank(const PageItem &item);

struct FirstGlyph {
    IntBox box{0, 0, 1, 1};  // width: em width (font size in view pixels); height: run height
    bool capital = false;    // the glyph is A-Z
};
// Box of the run's first visible glyph, one em wide and one run high.
FirstGlyph FirstGlyphBox(const PageItem &item, const fz_matrix &viewTransform);
// Font size of a text command in view pixels (integer part).
int TextEmPixels(const DrawCommand &command, const fz_matrix &viewTransform);

bool OverlapsText(const LayoutPage &page, const PageItem &item);
bool IsLayoutCandidate(const LayoutPage &page, const PageItem &item);
bool IsLayoutCandidate(const LayoutPage &page, const ItemGroup &group);

// Builds blocks from any of four sources (each may be null): the page's item list, its group
// list, the member list of one group, and a member chain. Returns the number of blocks created
// (also in out.created) or -1 when there is none. `out` is cleared first.
int BuildBlocks(const LayoutPage &page, BlockList &out, const std::vector<std::unique_ptr<PageItem>> *items,
                const std::vector<std::unique_ptr<ItemGroup>> *groups, const ItemGroup *group,
                const BlockMember *members, int flags, float tolX, float tolY,
                LayoutEngine engine = LayoutEngine::Indexed);

// Moves live blocks to the front and sorts them into reading order. Returns the live count
// (also in out.count).
int OrderBlocks(BlockList &list, bool usePrevious, bool singleColumn, LayoutEngine engine = LayoutEngine::Indexed);

// Orders the runs of a text block into reading order: the order of an adjacent-exchange sort with
// CompareMembers, the member fixed just before each position acting as the previous one. `work`
// is an allowance of comparisons (and similar steps) shared by calls, null for one of
// kMemberOrderWork per call; when it is spent the members not yet placed go in lines from the top
// and by left edge within a line.
void OrderMembers(TextBlock &block, long long *work = nullptr);
constexpr long long kMemberOrderWork = 1LL << 24;
int CompareMembers(const IntBox &x, const IntBox &y, const IntBox *previous);

void MergeBlocks(TextBlock &into, TextBlock &from);
IntBox BlockBox(const TextBlock &block);

// -1: X is read before Y, 1: Y before X, 0: no preference. `blocks`/`from`/`to` name the array
// positions scanned by the column tie-break (blocks may be null: nothing to scan).
int CompareBlocks(const std::vector<TextBlock> *blocks, int from, int to, const TextBlock &x, const TextBlock &y,
                  const TextBlock *previous, int mode);

// Alignment of block `index` of `count` blocks: 0 left, 1 centre, 2 right. The line statistics
// (number of visual lines, shared left and right edges) come from the writer.
int BlockAlignment(const LayoutPage &page, const std::vector<TextBlock> &blocks, int index, int count,
                   int lineCount, bool leftAligned, bool rightAligned);
// Alignment of a picture or graphics block: 1 centre, 2 right (never left).
int PictureAlignment(const LayoutPage &page, const TextBlock &block);

// Receives the analysed blocks of a page body. The XHTML writer implements it.
class BlockSink {
public:
    virtual ~BlockSink() = default;
    virtual void BeginPage() {}  // start of the page's writer state
    virtual void EndPage() {}    // end of the writer state
    // Saves the page's whole output raster as a picture; returns its file name through `fileName`
    // and a negative value on failure.
    virtual int SaveWholePagePicture(std::string &fileName) = 0;
    virtual void WriteRaw(const std::string &text) = 0;
    // Writes block `index` of the `count` ordered blocks; previous/next are null where none.
    virtual void WriteBlock(const LayoutPage &page, std::vector<TextBlock> &blocks, int index, int count,
                            const TextBlock *previous, const TextBlock *next) = 0;
};

// How writing a page body ended.
enum class PageBodyResult {
    Written,      // the page's blocks were handed to the sink
    Empty,        // nothing to analyse ("No Output"), or the page was written as one picture
    NoBlock,      // no block (or no captured page), or the page picture could not be saved
    OrderFailed,  // putting the blocks in reading order failed
    FileFailed,   // the written body could not be appended to its file (the XHTML writers)
};

// Analyses the model's current page and hands its blocks to the sink in reading order.
PageBodyResult WritePageBody(PageModel &model, BlockSink &sink, UserPrompt *prompt = nullptr);
// Same on an explicit page description (the model's page view or a synthetic one).
PageBodyResult WritePageBody(const LayoutPage &page, const std::vector<std::unique_ptr<PageItem>> &items,
                             const std::vector<std::unique_ptr<ItemGroup>> &groups, BlockSink &sink,
                             UserPrompt *prompt);

// The page body's analysis without writing: blocks built with the page body's factors, put in
// reading order, members ordered. Returns the live count (blocks 0 .. n-1 of out), -1 when there
// is no block, -2 when ordering failed. With columnMode "auto check column" the page is read in
// columns only where it is set in columns (extract/column_detect.h); `autoColumns`, when given,
// receives the columns found then (1: read as a single column).
int AnalysePageBody(const LayoutPage &page, const std::vector<std::unique_ptr<PageItem>> &items,
                    const std::vector<std::unique_ptr<ItemGroup>> &groups, BlockList &out,
                    LayoutEngine engine = LayoutEngine::Indexed, int *autoColumns = nullptr);

// Layout factors of the page body: same-line factor 2.0 with "Single Column", else 1.0.
float PageBodySameLineFactor(const PageParseOptions &options);
constexpr float kPageBodyNextLineFactor = 0.5f;

} // namespace qm
