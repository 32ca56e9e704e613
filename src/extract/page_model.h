#pragma once
// Captured content of the pages of one open document: per-page records, the current page's items
// and groups, and the writing state that layout analysis and the XHTML writer work on.
// (Filled in by the page capture work; the document only needs to construct and empty it.)

namespace qm {

class PageModel {
public:
    PageModel() = default;
    PageModel(const PageModel &) = delete;
    PageModel &operator=(const PageModel &) = delete;

    // Releases every page record, item, group and recorded command. Called with the document lock
    // held, before the document itself is dropped.
    void Clear() {}
};

} // namespace qm
