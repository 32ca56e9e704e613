#pragma once
// Links of a page (its link annotations) and the anchors they become: characters whose boxes lie
// in a link's area are wrapped in "<a href=...>" while the run is written. Links to pages of the
// same document point to the page anchors of the XHTML files; web and mail addresses become URIs.
#include <mupdf/fitz.h>

#include <string>
#include <vector>

#include "extract/page_model.h"

namespace qm {

struct ConversionJob;

struct PageLink {
    enum Kind { InDocument = 0, Uri = 1, Other = 2 };
    int kind = Other;
    IntBox area;       // page space, rounded outwards like the characters' boxes
    int page = 0;      // InDocument: 1-based destination page, 0 when it is no page of the document
    std::string uri;   // Uri: the address as stored in the PDF
};

// Whether a URI link's address leads somewhere once written (WriteLinkTarget adds "http://" or
// "mailto:" to an address without scheme): not empty, not a scheme alone ("http://", "mailto:",
// "file://"), a web address with a plain host, and a name without scheme only when it has a dot.
bool IsUsableAddress(const std::string &uri);

// Reads the links of a loaded page (call with the document lock held, with this thread's context).
// Links whose address is not usable (IsUsableAddress) are left out. Returns the number of links,
// or -1 when the engine failed (then `links` is empty).
int LoadPageLinks(fz_context *ctx, fz_document *doc, fz_page *page, std::vector<PageLink> &links);

// The first link whose area contains the character, is contained by it, or overlaps it by at least
// two units in both directions; null when none does.
const PageLink *FindLinkForChar(const std::vector<PageLink> &links, const IntBox &charBox);

// Pages that share one XHTML file: 1 in imaging mode, otherwise (also without a job) 15.
int PagesPerFile(const ConversionJob *job);

// Appends the href value of a link (attribute-escaped, without quotes). In-document links give
// "page-F.html#page-P" with F the first page of P's file; addresses without a scheme get
// "mailto:" (with "@" and a dot) or "http://" (with a dot); anything else gives nothing.
void WriteLinkTarget(std::string &file, const PageLink &link, int pageCount, int pagesPerFile);

} // namespace qm
