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
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "extract/layout.h"
#include "extract/links.h"
#include "extract/page_model.h"
#include "xhtml/book_names.h"

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
    BlockWriterState *outer = nullptr;
};

// The class list of a text command's span ("font12 bold"); 0 on success. Supplied by the style
// registry; without it every span is a bare "<span>".
using SpanClassesFn = std::function<int(const DrawCommand &command, std::string &classes)>;
// Saves a region of the output raster (box in output space; null: the whole page) as a picture
// and gives its file name.
using SavePictureFn = std::function<PngResult(const IntBox *outputBox, std::string &name)>;

struct BlockWriterSetup {
    ConversionJob *job = nullptr;
    UserPrompt *prompt = nullptr;             // null: the default prompt
    SpanClassesFn spanClasses;                // empty: bare spans
    SavePictureFn savePicture;                // empty: pictures are left out
    const std::vector<PageLink> *links = nullptr;  // null or empty: no anchors
    int pageCount = 0;                        // for links to pages of the document
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
    void EndPage() override { EndWriterState(); }
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
    void WritePictureBlock(const TextBlock &block, bool picture);
    int SpanClasses(const DrawCommand &command, std::string &classes);
    int EmWidth(const PageItem &item) const;

    std::string &file_;
    BlockWriterSetup setup_;
    LinkAnchors anchors_;  // the links that get anchors, with their hrefs
    LayoutPage page_;
    std::vector<std::unique_ptr<BlockWriterState>> stack_;
    // Class lists of the page's text commands, asked once per command.
    std::unordered_map<const DrawCommand *, std::string> classCache_;
};

// Writes the analysed body of the document's current (drawn) page into `file`: the page's links
// are read (unless the job ignores links), the page is analysed, and its blocks are written.
// Returns the result of WritePageBody. Call with the document lock held. Pictures are saved by
// `savePicture` when given, else as the model's numbered pictures. Text lines of the page that
// match `runningHeads` (running heads and page numbers) are left out.
PageBodyResult WritePageXhtml(PageCapture &capture, std::string &file, ConversionJob &job,
                              const SpanClassesFn &spanClasses, const SavePictureFn &savePicture = nullptr,
                              const RunningHeadPatterns *runningHeads = nullptr);
// The same, appending to an open file; FileFailed when the file could not be written.
PageBodyResult WritePageXhtml(PageCapture &capture, std::FILE *file, ConversionJob &job,
                              const SpanClassesFn &spanClasses);

} // namespace qm
