#pragma once
// Running heads and feet: the lines a book repeats at the same place near the top or bottom of its
// pages (a title, a chapter name, "Page 12 of 300", a lone page number). A cheap pass before the
// page loop reads only the text near the top and bottom edge of a fixed sample of pages and
// learns the lines that recur there (patterns). Each page is then judged from the text runs its
// own conversion captured, against those fixed patterns, so whoever writes page p (any page
// thread) finds the same answer for it and no page is read twice.
//
// A line is left out when, on at least kMinRepeats sampled pages (all pages, or the odd or the
// even pages on their own), it sits at the same height in the same band and either reads the same
// apart from its numbers (digits and roman numerals), or is a lone number that follows the page
// sequence. A line seen only once or twice is always kept, except a lone number that is the
// page's own number in a sequence learned so (a page number where the other pages have none).
//
// A head that carries the chapter's title changes from chapter to chapter, so the sample teaches
// it only for the chapters it falls in. Where the sample holds two or more such texts at one
// place and size (a slot), a line in that slot on any page is a head too when the same text
// stands in the same slot on kMinRepeats - 1 of the page's neighbours (kNeighbourReach pages
// either side, so heads on odd or even pages only are found too): a line that occurs once or
// twice, such as the first body line of a page set in the head's font, always stays.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <mupdf/fitz.h>

#include "extract/geometry.h"

namespace qm {

class PdfDocument;
class PageModel;

constexpr int kMinRepeats = 3;
constexpr int kNeighbourReach = 4;
// Share of the page height, from either edge, in which running heads are looked for.
constexpr float kRunningBandShare = 0.08f;

// One piece of a line in a page's top (band 0) or bottom (band 1) band, page space (points, y
// down). Pieces of one line are apart by a wide gap (a title on the left, a number on the right).
struct BandLine {
    int band = 0;
    int line = 0;             // pieces of one line share this number (per page)
    float baseline = 0;
    float size = 0;           // largest font size of the piece (0: not known)
    fz_rect box{};            // the piece's glyphs, roughly (advance widths, font size high)
    std::string key;          // text with numbers as '#', lower case, single blanks
    int loneKind = 0;         // 0: not a lone number, 1: arabic, 2: roman
    long long loneValue = 0;
};

// A band line from its text: computes the key and the lone number.
BandLine MakeBandLine(int band, int line, fz_rect box, float baseline, std::string_view text);

// The areas to leave out, per page (page space).
class RunningHeads {
public:
    RunningHeads() = default;
    explicit RunningHeads(int pageCount) : pages_(static_cast<size_t>(std::max(0, pageCount))) {}
    // The areas of page `pageNumber` (from 1); empty for a page out of range.
    const std::vector<fz_rect> &Page(int pageNumber) const;
    void Add(int pageNumber, const fz_rect &area);
    // Number of areas over all pages.
    int Count() const;
    int PageCount() const { return static_cast<int>(pages_.size()); }

private:
    std::vector<std::vector<fz_rect>> pages_;
};

// A page read in the pass before the page loop: its band lines and its most common font size
// (0: not known).
struct SampledPage {
    int pageNumber = 0;  // from 1
    std::vector<BandLine> lines;
    float bodySize = 0;
};

// The recurring band lines learned from a sample of pages, and the check of one page against them.
class RunningHeadPatterns {
public:
    struct Pattern {
        int band = 0;
        int parity = -1;        // -1: every page; 0: even pages; 1: odd pages
        float low = 0, high = 0; // baselines of the sampled lines
        std::string key;        // text lines: the key
        int loneKind = 0;       // lone numbers: their kind and page number minus value
        long long offset = 0;
        float size = 0;         // largest font size of the sampled lines (0: not known)
    };
    // A place where the sampled heads read differently from window to window: band, baselines
    // and font size.
    struct Slot {
        int band = 0;
        float low = 0, high = 0;
        float size = 0;
    };
    // The band lines of another page (from 1), for the repetition check: with `read` false only
    // when they are at hand without reading the page. false: not at hand or not readable.
    using NeighbourLinesFn = std::function<bool(int pageNumber, bool read, std::vector<BandLine> &out)>;
    RunningHeadPatterns() = default;
    RunningHeadPatterns(int pageCount, float bodySize, std::vector<Pattern> patterns);
    bool Empty() const { return patterns_.empty(); }
    int Size() const { return static_cast<int>(patterns_.size()); }
    // The page number minus the printed number for the lone page numbers of kind `loneKind` (1
    // arabic, 2 roman) the sampled pages follow. False when none was learned, or when the learned
    // sequences disagree (two different distances): the printed numbers then say nothing sure.
    bool NumberShift(int loneKind, long long &shift) const;
    // The document's body font size: the median of the sampled pages' most common sizes (0: not
    // known). Pages with too little text of their own judge their headings by it.
    float BodySize() const { return bodySize_; }
    const std::vector<Slot> &Slots() const { return slots_; }
    // The areas (page space) of the lines of page `pageNumber` that match a pattern, or that sit
    // in a slot and repeat on a neighbouring page (asked of `neighbours`, when given); a line all
    // of whose pieces go gives one area for the whole line.
    std::vector<fz_rect> Areas(int pageNumber, const std::vector<BandLine> &lines,
                               const NeighbourLinesFn &neighbours = nullptr) const;

private:
    bool Matches(int pageNumber, const BandLine &line) const;
    int InSlot(const BandLine &line) const;  // the slot's index, -1 when in none
    int pageCount_ = 0;
    float bodySize_ = 0;
    std::vector<Pattern> patterns_;
    std::vector<Slot> slots_;
};

// Pages to read before the page loop: every page of a short document, else kSampleWindows
// windows of kSampleWindowPages neighbouring pages (as many odd as even ones) spread evenly over
// it, the first at its start and the last at its end. Ascending. Lines that change per chapter
// (a chapter title in the head) are learned for the chapters a window falls in; elsewhere they
// stay in the text.
constexpr int kSampleWindows = 6;
constexpr int kSampleWindowPages = 6;
std::vector<int> RunningHeadSample(int pageCount);

// Learns the patterns from the sampled pages of a document of `pageCount` pages. A line set
// clearly larger than the sample's body text is a heading, never a running head. Documents of
// fewer than kMinRepeats pages give none.
RunningHeadPatterns LearnRunningHeads(const std::vector<SampledPage> &sample, int pageCount);

// Learns from every page and judges every page (pages[i] is page i + 1); `bodySizes` (when given,
// one per page) are the pages' most common font sizes.
RunningHeads JudgeRunningHeads(const std::vector<std::vector<BandLine>> &pages,
                               const std::vector<float> *bodySizes = nullptr);

// The band lines of one page, read with the engine (text only; no picture is decoded). At most a
// few lines per band are kept; `bodySize` receives the page's most common font size (0: no text).
// Returns false when the page could not be read or its run stopped.
bool ReadBandLines(fz_context *ctx, fz_page *page, fz_cookie *cookie, std::vector<BandLine> &out, float &bodySize);

// The band lines of the model's current page, made from the text runs already captured (the
// same lines ReadBandLines reads from the page).
std::vector<BandLine> CapturedBandLines(const PageModel &model);

// The areas to leave out of the model's current page.
std::vector<fz_rect> RunningHeadAreas(const RunningHeadPatterns &patterns, const PageModel &model);

// Reads the sampled pages of an open document and learns from them. Each page is read as a page
// run of the document (so a cancel or the page time limit reaches it); `cancelled` is asked
// between pages.
RunningHeadPatterns FindRunningHeads(PdfDocument &doc, const std::function<bool()> &cancelled = nullptr);

// The band lines of the pages a converter wrote last, kept for the repetition check of the pages
// after them, and the check itself (neighbours not at hand are read from the document as part of
// the current page's run). One per converter (thread); a few short lines are kept.
class RunningHeadNeighbours {
public:
    // The areas to leave out of the model's current page (of `doc`, its run in progress).
    std::vector<fz_rect> Areas(const RunningHeadPatterns &patterns, const PageModel &model, PdfDocument &doc);
    // Pages read from the document for the check so far.
    int PagesRead() const { return pagesRead_; }

private:
    struct Kept {
        int page = 0;
        std::vector<BandLine> lines;
    };
    Kept kept_[kNeighbourReach];  // the last pages written, the latest first
    int pagesRead_ = 0;
};

// Whether a text run's view box lies inside one of the page's areas, taken to view space.
std::vector<IntBox> RunningHeadViewBoxes(const std::vector<fz_rect> &areas, const fz_matrix &viewTransform);
bool InsideRunningHead(const std::vector<IntBox> &viewAreas, const IntBox &runBox);

} // namespace qm
