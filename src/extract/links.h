#pragma once
// Links of a page (its link annotations) as data: kind, destination page or address, and area.
// Characters whose boxes lie in a link's area are wrapped in an anchor while the run is written;
// the hrefs themselves are the page writer's (xhtml/book_names.h).
#include <mupdf/fitz.h>

#include <string>
#include <vector>

#include "extract/page_model.h"

namespace qm {

struct PageLink {
    enum Kind { InDocument = 0, Uri = 1, Other = 2 };
    int kind = Other;
    IntBox area;       // page space, rounded outwards like the characters' boxes
    int page = 0;      // InDocument: 1-based destination page, 0 when it is no page of the document
    std::string uri;   // Uri: the address as the engine reports it
};

enum class LinksRead { Read, EngineFailed };

// Reads the links of a loaded page (call with the document lock held, with this thread's context):
// links to pages of the document with their page, all others as addresses exactly as the engine
// reports them (the page writer decides which lead somewhere); links without a target are left
// out. EngineFailed: the engine could not read them (then `links` is empty).
LinksRead LoadPageLinks(fz_context *ctx, fz_document *doc, fz_page *page, std::vector<PageLink> &links);

// The first link whose area contains the character, is contained by it, or overlaps it by at least
// two units in both directions; null when none does.
const PageLink *FindLinkForChar(const std::vector<PageLink> &links, const IntBox &charBox);

} // namespace qm
