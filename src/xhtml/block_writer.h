#pragma once
// The XHTML of a page body: every analysed block becomes paragraphs of styled spans (lines joined
// or broken by their geometry), a picture or drawing becomes one PNG cut from the output raster,
// and user groups become nested series of blocks, a table (table_builder.h) or one picture. The
// writer receives the blocks in reading order from layout analysis (extract/layout.h, BlockSink).
//
// Every page body written here is well-formed XHTML: a picture never lands inside an open
// paragraph (the paragraph is closed around it and reopened), and whatever is still open when a
// page or group ends is closed.
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "extract/contents_page.h"
#include "extract/layout.h"
#include "extract/links.h"
#include "extract/page_model.h"
#include "xhtml/book_names.h"
#include "xhtml/style_registry.h"

namespace qm {

struct ConversionJob;
class PageCapture;
class UserPrompt;

// The writing state of one stream of blocks: the page, or one group or table cell inside it.
struct BlockWriterState {
    IntBox viewPageBox;
    const TextBlock *prevBlock = nullptr;
    const TextBlock *block = nullptr;
    const TextBlock *nextBlock = nullptr;
    int itemCount = 0;            // members of the current block written so far
    IntBox lineStartBox;          // first item of the previous visual line
    IntBox lineFirstBox;          // first item of the current visual line
    bool paragraphOpen = false;
    int paragraphAlign = 0;       // alignment the open paragraph was started with
    bool spanOpen = false;
    const PageItem *prevItem = nullptr;
    const PageItem *item = nullptr;
    const PageItem *nextItem = nullptr;
    ConversionJob *job = nullptr;
    std::string *file = nullptr;
    bool leftAligned = false;
    bool rightAligned = false;
    bool firstLineIndented = false;
    bool startsWithCapital = false;
    int lineCount = 0;
    // The left edge (view x) that the indentation of the last code block was measured from; NaN
    // when the block before was not code. Consecutive code blocks share it, so a listing split at
    // a blank line keeps its relative indentation.
    double codeLeft = std::numeric_limits<double>::quiet_NaN();
    // A code block followed by another leaves its paragraph open: the next one goes on after a
    // line break, with the blank lines between them, measured from this last baseline (view y)
    // in steps of this line spacing. NaN: no code paragraph is open.
    double codeBaseline = std::numeric_limits<double>::quiet_NaN();
    double codeLineStep = 0;
    int headingLevel = 0;         // the state's block is written as h1..h3 (0: paragraphs)
    int openHeading = 0;          // the open "paragraph" is that heading element
    size_t headingStart = 0;      // where the open heading's content begins in the file
    BlockWriterState *outer = nullptr;
};

// The class list of a text command's span ("font12 bold"); 0 on success. Supplied by the style
// registry; without it every span is a bare "<span>".
using SpanClassesFn = std::function<int(const DrawCommand &command, std::string &classes)>;
// Saves a region of the output raster (box in output space; null: the whole page) as a picture
// and gives its file name.
using SavePictureFn = std::function<PngResult(const IntBox *outputBox, std::string &name)>;

// The size and weight of a text command's span classes; false when it has none. Supplied by
// the style registry.
using TextStyleFn = std::function<bool(const DrawCommand &command, TextStyle &style)>;

// A block written as a heading: its page, its number on the page (from 1: the id
// HeadingAnchorId(page, index) is on its element), its rank 1..3, and its text as it stands in
// the page (escaped, without markup), cut to a short label.
struct PageHeading {
    int page = 0;
    int index = 0;
    int level = 0;
    std::string label;
};

// A bookmark's title as a block's text is compared with it (blanks left out, ASCII letters in
// lower case), and its rank (1 for a top-level bookmark).
struct BookmarkTitle {
    std::u32string key;
    int level = 1;
};

struct BlockWriterSetup {
    ConversionJob *job = nullptr;
    UserPrompt *prompt = nullptr;             // null: the default prompt
    SpanClassesFn spanClasses;                // empty: bare spans
    SavePictureFn savePicture;                // empty: pictures are left out
    const std::vector<PageLink> *links = nullptr;  // null or empty: no anchors
    int pageCount = 0;                        // for links to pages of the document
    // The page's printed contents entries (null: none). Their runs are not written as text; the
    // entries are written in their place, one linked line each.
    const ContentsPage *contents = nullptr;
    // Headings: blocks that stand alone in a clearly larger or bolder style than the page's body
    // text become h1..h3. Empty: no headings.
    TextStyleFn textStyle;
    int pageNumber = 0;                       // the page written (heading ids)
    // The document's body font size (0: not known). A page with too little text of its own to
    // tell its body style (a chapter's title page) judges its headings by this size.
    double documentBodySize = 0;
    std::vector<PageHeading> *headings = nullptr;  // receives the headings written (may be null)
    // The bookmarks that point at the page: a block of a bookmark's text becomes a heading of
    // its rank, whatever its style (the first such block only).
    const std::vector<BookmarkTitle> *bookmarks = nullptr;
};

class BlockWriter : public BlockSink {
public:
    // Appends to `file`.
    BlockWriter(std::string &file, BlockWriterSetup setup);
    ~BlockWriter() override;
    BlockWriter(const BlockWriter &) = delete;
    BlockWriter &operator=(const BlockWriter &) = delete;

    // BlockSink
    void BeginPage() override { BeginWriterState(); }
    void EndPage() override {
        WriteContentsEntries();
        EndWriterState();
    }
    int SaveWholePagePicture(std::string &fileName) override;
    void WriteRaw(const std::string &text) override { file_ += text; }
    void WriteBlock(const LayoutPage &page, std::vector<TextBlock> &blocks, int index, int count,
                    const TextBlock *previous, const TextBlock *next) override;

    // Frees any states left over and starts the page-level state.
    void BeginWriterState();
    // Closes whatever is still open and frees every state.
    void EndWriterState();
    BlockWriterState *State() const { return stack_.empty() ? nullptr : stack_.back().get(); }

    // Writes block `index` of the `count` blocks (the state's block). Always 0.
    int WriteBlock(std::vector<TextBlock> &blocks, int index, int count);
    // Lines, edges, indent and capital of the state's block.
    void BlockStatistics();
    // Whether the paragraph ends after the state's item; `count` fill spaces (or, at a paragraph
    // end, empty lines) and whether a final hyphen is dropped.
    bool EndOfLine(int &count, bool &dropHyphen);
    // The union of the view boxes of the run's first word.
    IntBox FirstWordBox(const PageItem &item) const;
    void OpenSpan();
    bool SameStyle(const DrawCommand *a, const DrawCommand *b);
    IntBox GroupOutputBox(const ItemGroup &group) const;
    IntBox BlockOutputBox(const TextBlock &block) const;
    // 0, -1 when the group yields no block, -2 when ordering fails.
    int WriteTextGroup(const ItemGroup &group);
    // A group marked "to Table": its blocks (same-line merging only, ruling lines left out) in
    // reading order become a table. 0, or -1 when the group yields no block.
    int WriteTableGroup(const ItemGroup &group);
    // Writes the table of `count` ordered blocks, or, when a row holds more blocks than a table
    // may have columns, nothing but a message. Always 0.
    int BuildTable(std::vector<TextBlock> &blocks, int count);
    // Writes the content block of one table cell with a fresh nested state.
    void WriteCell(TextBlock &cell);

    const LayoutPage &Page() const { return page_; }
    void SetPage(const LayoutPage &page) { page_ = page; }

private:
    void PushNestedState();
    void PopState();
    void CloseOpenMarkup(BlockWriterState &state);
    void OpenParagraph(int align);
    void WriteCentredPicture(const IntBox &outputBox);
    void WriteTextBlock(std::vector<TextBlock> &blocks, int index, int count);
    // Whether every text run of a block is set in a fixed-pitch font (its span classes
    // hold "mono"): such a block is program code.
    bool IsCodeBlock(const TextBlock &block);
    // Writes the state's block as code: its lines stay lines (<br/> between them, blank lines
    // kept), left-aligned, each indented with no-break spaces by its distance from the block's
    // left edge in character widths. Consecutive code blocks make one paragraph.
    void WriteCodeBlock();
    // The output a block's runs are written to: the page file, its links and anchors, an anchor
    // going on from one run to the next while they share a span.
    RunTextOutput BlockOutput();
    void WritePictureBlock(const TextBlock &block, bool picture);
    int SpanClasses(const DrawCommand &command, std::string &classes);
    void CloseParagraph(BlockWriterState &state);
    bool CommandStyle(const DrawCommand &command, TextStyle &style);
    // The style most of the page's characters are set in (false: the page has no text).
    bool BodyStyle(TextStyle &body);
    // The rank a block's style gives it, and the one a bookmark's title gives it (0: none).
    int StyleLevel(const TextBlock &block);
    int BookmarkLevel(const TextBlock &block);
    // The rank (1..3) block `index` is written with, 0 for paragraphs.
    int HeadingLevel(const std::vector<TextBlock> &blocks, int index, int count);
    int EmWidth(const PageItem &item) const;
    bool IsContentsRun(const PageItem *item) const { return setup_.contents && setup_.contents->Holds(item); }
    // Writes the page's contents entries once, where the first of their runs comes in the reading
    // order (or at the page's end, should none come).
    void WriteContentsEntries();

    std::string &file_;
    BlockWriterSetup setup_;
    LinkAnchors anchors_;  // the links that get anchors, with their hrefs
    LayoutPage page_;
    std::vector<std::unique_ptr<BlockWriterState>> stack_;
    // Class lists of the page's text commands, asked once per command.
    std::unordered_map<const DrawCommand *, std::string> classCache_;
    bool contentsWritten_ = false;
    // Styles of the page's text commands, the page's body style and the headings written on it.
    std::unordered_map<const DrawCommand *, TextStyle> styleCache_;
    int bodyState_ = 0;  // 0: not yet looked for, 1: found, -1: the page has no text
    TextStyle body_;
    int headingCount_ = 0;
    int headingChecks_ = 0;
    std::vector<bool> bookmarkUsed_;
};

// Writes the analysed body of the document's current (drawn) page into `file`: the page's links
// are read (unless the job ignores links), the page is analysed, and its blocks are written.
// Returns the result of WritePageBody. Call with the document lock held. Pictures are saved by
// `savePicture` when given, else as the model's numbered pictures.
// With `textStyle`, headings are written where the job asks for them (Automatic mode, headings
// on) and added to `headings` when given. Text lines of the page that match `runningHeads`
// (running heads and page numbers) are left out; with `neighbours`, so are the lines that repeat
// in a running head's place on a neighbouring page.
PageBodyResult WritePageXhtml(PageCapture &capture, std::string &file, ConversionJob &job,
                              const SpanClassesFn &spanClasses, const SavePictureFn &savePicture = nullptr,
                              const TextStyleFn &textStyle = nullptr, std::vector<PageHeading> *headings = nullptr,
                              const std::vector<BookmarkTitle> *bookmarks = nullptr,
                              const RunningHeadPatterns *runningHeads = nullptr,
                              RunningHeadNeighbours *neighbours = nullptr);
// The same, appending to an open file; FileFailed when the file could not be written.
PageBodyResult WritePageXhtml(PageCapture &capture, std::FILE *file, ConversionJob &job,
                              const SpanClassesFn &spanClasses);

} // namespace qm
