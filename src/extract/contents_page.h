#pragma once
// A printed table of contents on a page: lines made of a title, a leader (dots or a wide gap) and
// the number of a page of the document, or lines that a link to a page covers. On such a page the
// entries are written as one line each that leads to its page, instead of a title, a row of dots
// and a lone number that layout analysis would tear into separate paragraphs.
//
// A page counts only when several lines agree: at least kMinContentsEntries entries, their pages
// rising (a few steps back are allowed, where front-matter numbering restarts), and the entries
// making up at least half of the page's lines. Ordinary text with a number at a line's end is
// left alone. A printed number names a page through the document's page labels (an arabic number
// through its arabic ranges, a roman one through its roman ranges of the same case); a document
// without labels is taken to number its pages from 1, in roman or arabic, unless the page numbers
// printed on its pages show another start (unnumbered front matter: printed 1 on the fifth page).
// A link to a page that covers the line names the page instead.
#include <string>
#include <vector>

#include "extract/layout.h"
#include "extract/links.h"
#include "extract/roman_numeral.h"
#include "extract/text_extract.h"
#include "pdf/pdf_document.h"

namespace qm {

class UserPrompt;
class RunningHeadPatterns;

constexpr int kMinContentsEntries = 3;

struct ContentsEntry {
    std::string title;                  // UTF-8, blanks collapsed, leader and number left out
    int page = 0;                       // 1-based page it leads to
    int level = 0;                      // 0 outermost, by the indent of its first line
    const PageItem *styleItem = nullptr; // first run of the title: its style is the entry's
};

struct ContentsPage {
    std::vector<ContentsEntry> entries;  // top to bottom
    std::vector<const PageItem *> items; // runs the entries replace, sorted by address
    bool Holds(const PageItem *item) const;
    bool Empty() const { return entries.empty(); }
};

// What one line of text says as a contents entry.
struct ContentsLine {
    bool entry = false;       // a title, a leader and a page number
    std::string title;        // UTF-8 text before the leader (the whole line when it has none)
    std::string number;       // the printed number, as printed
    int page = 0;             // page the number names, 0 when it names none
};

// How the document numbers its pages: the number of pages and its page label ranges.
struct PageNumbering {
    int pageCount = 0;
    const std::vector<PageLabelRange> *labels = nullptr;  // null or empty: pages numbered from 1
    // Without labels: the page that printed arabic (roman) number N names is N + shift.
    long long arabicShift = 0, romanShift = 0;
    // The page (1-based) that a printed number ("12", "xiv") names; 0 when it names none.
    int PageOf(const std::string &number) const;
};

// How `doc` numbers its pages: its page labels, else the start of the page numbers printed in
// the heads and feet that `printed` learned (null: pages numbered from 1).
PageNumbering DocumentNumbering(PdfDocument &doc, const RunningHeadPatterns *printed);

// Reads one line's characters (page-space boxes, left to right; blanks as ' '). `em` is the
// font size in page units: a gap of two ems or more between title and number is a leader.
ContentsLine ParseContentsLine(const std::vector<TextChar> &chars, float em, const PageNumbering &numbering);

// Finds the contents entries of the page's text runs (the layout candidates). `links` are the
// page's links (may be empty). True when the page is a contents page; `out` then holds its
// entries and the runs they replace.
bool FindContentsPage(const LayoutPage &page, const std::vector<PageLink> &links, const PageNumbering &numbering,
                      ContentsPage &out, UserPrompt *prompt = nullptr);

} // namespace qm
