#pragma once
// Text of one run: the glyphs of a recorded text command become Unicode characters with page-space
// boxes, with spaces and line ends inserted where the pen jumps between glyphs, and are written to
// the page's XHTML (escaped, UTF-8, wrapped in link anchors where the page's links cover them).
// The chain of spans is built and freed per run; nothing is kept between runs.
#include <mupdf/fitz.h>

#include <string>
#include <vector>

#include "extract/page_model.h"

namespace qm {

class UserPrompt;
struct PageLink;

struct TextChar {
    int unicode = 0;
    IntBox box;  // page space, rounded outwards
};

// Characters of one font, size and writing mode.
struct TextSpan {
    fz_font *font = nullptr;  // only compared; the command keeps the font alive while the chain lives
    float size = 0;           // font size in page units
    int writingMode = 0;      // 0 horizontal, 1 vertical
    std::vector<TextChar> chars;
    bool endsLine = false;    // a line end follows this span
};

// The spans of one run, in order; the last one is the tail that characters are added to.
struct TextSpanChain {
    TextSpanChain() { spans.emplace_back(); }
    TextSpan &Tail() { return spans.back(); }
    std::vector<TextSpan> spans;
};

// Part k (from 0) of a box cut into n equal slices across x.
IntBox SplitBox(const IntBox &box, int n, int k);
// Rounds a page-space rectangle outwards to whole units.
IntBox RoundOut(const fz_rect &rect);

// Appends the character(s) of `code` to the tail, starting a new span when font, size or writing
// mode change. Ligatures U+FB00..U+FB06 become their letters, each with a slice of the box; -1
// appends nothing.
void AddChar(TextSpanChain &chain, fz_font *font, float size, int writingMode, int code, const IntBox &box);
// Marks the tail as ending a line and starts a new span.
void AddLineEnd(TextSpanChain &chain, fz_font *font, float size, int writingMode);
// Gives the last n characters of the tail the n slices of box (nothing when it holds fewer).
void DivideChars(TextSpanChain &chain, int n, const IntBox &box);

// The smallest forward move of the pen, in page units, that parts two words set in `font` at
// `size`: half the font's own blank, kept between 0.1 and 0.3 of the size. Tight justified lines
// shrink word gaps to about two thirds of the blank, while kerning and italic corrections stay
// well below half of it. A font without a usable blank counts as having one of 0.3 em.
float WordGapThreshold(fz_font *font, float size);

// How the pen moved from where one text run left it to the first glyph of the next run.
enum class RunGap {
    Unknown,  // no pen geometry to judge by (vertical or rotated against each other, no glyphs)
    None,     // kerning, an italic correction, a superscript: the words go on
    Word,     // a word gap along the line, or a jump back of more than an em
    Line,     // the next run lies on another baseline
};
// Judges the pen move from the end of run `a` to the start of run `b` (two text items) by the
// fonts' own word gaps; their ink boxes play no part, so overhanging italics and tight lines
// are read as the typesetter set them.
RunGap JudgeRunGap(const PageItem &a, const PageItem &b);

// Appends glyphs first .. first + count - 1 of `text` to the chain. `transform` takes the
// command's coordinates to page space; `pen` is where the previous glyph left the pen, (-1, -1)
// for none, and is updated. A range beyond the command's glyphs is reported through `prompt`
// and produces nothing (-1); otherwise 0.
int ExtractTextSpans(TextSpanChain &chain, const CapturedText &text, int first, int count,
                     const fz_matrix &transform, fz_point &pen, UserPrompt &prompt);

// Appends one character as XHTML text: controls and code points XML cannot hold are dropped,
// the markup characters are escaped, everything from 128 up is UTF-8.
void AppendXhtmlChar(std::string &out, int ch);

// Where the characters of a run go and which links cover them. One output serves the runs that
// are written one after another into the same open span: an anchor is left open at the end of a
// run, so that the next run's characters of the same link continue it.
struct RunTextOutput {
    std::string *file = nullptr;               // XHTML being written
    const std::vector<PageLink> *links = nullptr; // null or empty: no anchors
    // The href of each link, in the order of `links` (already escaped for an attribute); a link
    // without one gets an empty href.
    const std::vector<std::string> *hrefs = nullptr;
    UserPrompt *prompt = nullptr;              // null: the default prompt
    // Leave the last anchor of a run open for the next run (the caller then closes it with
    // CloseRunAnchor); otherwise every run closes its own anchors.
    bool continueAnchors = false;
    // Text whose blanks keep their width (program code): blanks before a run's first character are
    // left out (the caller writes the indentation), and a blank after another blank is a no-break
    // space, so a run of blanks is not collapsed.
    bool keepBlanks = false;
    // Writing state between runs.
    const PageLink *openLink = nullptr;        // the link of the anchor left open
    std::string pendingGap;                    // separators written after an open anchor
    int lastChar = 0;                          // last character written (0: none yet)
};

// Writes the text of one text item: one anchor around each stretch of consecutive characters
// that the same link covers (blanks only between two of them), one space per line end, and, with
// dropTrailingHyphen, without a "-" that ends the run. `width` is not used.
void WriteRunText(RunTextOutput &output, const PageItem &item, int width, bool dropTrailingHyphen);
// One separator between two runs: an ordinary (breakable) space or a no-break space. While an
// anchor is open it waits: the next run puts it inside the anchor when its first character
// continues the link, else after the anchor.
void WriteRunGap(RunTextOutput &output, bool breakable);
// Closes an open anchor and writes the separators waiting after it. Call before any markup.
void CloseRunAnchor(RunTextOutput &output);

} // namespace qm
