// Outline page and navigation points from the PDF outline (bookmarks).
#include "xhtml/outline_writer.h"

#include <cstdio>
#include <string>

#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "pdf/pdf_document.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/xml_text.h"
#include "xhtml/book_names.h"
#include "xhtml/document_converter.h"

namespace qm {
namespace {

// Hostile files can nest outlines very deeply; deeper levels are dropped rather than risking the
// stack (depth grows by 2 per level).
constexpr int kMaxDepth = 2 * 256;

void Put(FILE *file, const std::string &text) {
    if (file && !text.empty()) std::fwrite(text.data(), 1, text.size(), file);
}

enum class LinkKind { None, Page, Uri };

LinkKind KindOf(const OutlineEntry &entry) {
    if (entry.uri.empty()) return LinkKind::None;
    // Links inside the document read "#page=..." (destinations are resolved when the outline is
    // loaded); anything else is an address.
    if (entry.uri[0] == '#' && !entry.external) return LinkKind::Page;
    return LinkKind::Uri;
}

// Headings kept for the navigation: per page and in all (a few short strings per page at most,
// and a bounded number whatever the document's length).
constexpr size_t kNavHeadingsPerPage = 16;
constexpr size_t kMaxNavHeadings = 20000;

// A new temporary file for navigation points, open for writing; null (logged) when none can be made.
FILE *CreateNavFile(std::string &path) {
    path = CreateUniqueTempFile("qmrk_");
    if (path.empty()) {
        LogWarning("cannot create the navigation points file");
        return nullptr;
    }
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::remove(path.c_str());
        LogWarning("cannot open the navigation points file '" + path + "'");
    }
    return file;
}

} // namespace

int DocumentConverter::WriteOutlineTarget(FILE *file, const OutlineEntry &entry) {
    switch (KindOf(entry)) {
    case LinkKind::Page: {
        int p = entry.page + 1;
        if (p <= 0 || p > doc_.PageCount()) return 0;
        Put(file, PageLinkTarget(p, doc_.PageCount(), PagesPerFile(&job_), XhtmlFileNames(&job_)));
        return p;
    }
    case LinkKind::Uri:
        Put(file, XmlEscape(AddressHref(entry.uri)));
        return 0;
    case LinkKind::None:
        break;
    }
    return 0;
}

void DocumentConverter::WriteOutlineList(FILE *file, const std::vector<OutlineEntry> &entries, int depth) {
    if (depth > kMaxDepth) return;
    Put(file, "<ul>\n");
    for (const OutlineEntry &e : entries) {
        Put(file, "<li><a href=\"");
        WriteOutlineTarget(file, e);
        Put(file, "\">");
        Put(file, XmlEscape(e.title));
        Put(file, "</a>");
        if (!e.children.empty() && depth + 2 <= kMaxDepth) {
            Put(file, "\n");
            WriteOutlineList(file, e.children, depth + 2);
        }
        Put(file, "</li>\n");
    }
    Put(file, "</ul>\n");
}

OutlineResult DocumentConverter::WriteOutlinePage(FILE *file) {
    const std::vector<OutlineEntry> &outline = doc_.Outline();
    if (outline.empty()) return OutlineResult::NoOutline;
    Put(file, "<p></p>\n<p><a id=\"outline\"></a></p>\n<h1>Document Outline</h1>\n");
    WriteOutlineList(file, outline, 0);
    Put(file, "<p></p>\n");
    return OutlineResult::Done;
}

// Page an entry's navPoint points to: its own page, or, for an entry without a usable page link,
// that of its first descendant (in reading order) that has one. Entries with an address link are
// left out of the navigation with everything below them, so the search does not enter them.
// 0: the entry is left out.
int DocumentConverter::NavTargetEntry(const OutlineEntry &entry, const OutlineEntry **target, int depth) {
    LinkKind kind = KindOf(entry);
    if (kind == LinkKind::Uri) return 0;
    if (kind == LinkKind::Page) {
        int page = WriteOutlineTarget(nullptr, entry);
        if (page > 0) {
            *target = &entry;
            return page;
        }
    }
    if (depth + 2 > kMaxDepth) return 0;
    for (const OutlineEntry &c : entry.children) {
        int page = NavTargetEntry(c, target, depth + 2);
        if (page > 0) return page;
    }
    return 0;
}

void DocumentConverter::WriteNavPoints(FILE *file, const std::vector<OutlineEntry> &entries, int depth,
                                       int &idCounter) {
    if (depth > kMaxDepth) return;
    int &lastPage = navLastPage_;
    int &playOrder = navPlayOrder_;
    for (const OutlineEntry &e : entries) {
        const OutlineEntry *target = nullptr;
        int page = NavTargetEntry(e, &target, depth);
        if (page == 0) continue;  // nothing to point to: left out with its descendants
        if (page != lastPage) {
            lastPage = page;
            playOrder += 1;
        }
        char buf[96];
        std::snprintf(buf, sizeof buf, "\t\t<navPoint id=\"navPoint-%d\" playOrder=\"%d\">\n", idCounter, playOrder);
        idCounter += 1;
        Put(file, buf);
        Put(file, "\t\t\t<navLabel>\n\t\t\t\t<text>");
        Put(file, XmlEscape(e.title));
        Put(file, "</text>\n\t\t\t</navLabel>\n");
        Put(file, "\t\t\t<content src=\"");
        WriteOutlineTarget(file, *target);
        Put(file, "\"/>\n");
        if (!e.children.empty()) WriteNavPoints(file, e.children, depth + 2, idCounter);
        Put(file, "\t\t</navPoint>\n");
    }
}

OutlineResult DocumentConverter::WriteNavPointsFile() {
    const std::vector<OutlineEntry> &outline = doc_.Outline();
    if (outline.empty()) return OutlineResult::NoOutline;
    navLastPage_ = 0;
    navPlayOrder_ = 0;
    std::string path;
    FILE *file = CreateNavFile(path);
    if (!file) return OutlineResult::Done;
    int ids = 1;
    WriteNavPoints(file, outline, 0, ids);
    bool ok = std::ferror(file) == 0;
    ok = (std::fclose(file) == 0) && ok;
    // An outline without a single entry that reaches a page gives no navigation: the package
    // writer then builds its own from the page files instead of an empty navMap.
    if (!ok || ids == 1) {
        std::remove(path.c_str());
        return OutlineResult::Done;
    }
    job_.navPointsFile = path;
    return OutlineResult::Done;
}

void DocumentConverter::KeepHeadings(std::vector<PageHeading> &headings) {
    size_t kept = 0;
    for (PageHeading &h : headings) {
        if (h.label.empty()) continue;  // nothing a reader could pick
        if (kept == kNavHeadingsPerPage || headings_.size() >= kMaxNavHeadings) {
            headingsLeftOut_ = true;
            break;
        }
        headings_.push_back(std::move(h));
        ++kept;
    }
    headings.clear();
}

bool DocumentConverter::WriteHeadingNavPointsFile() {
    if (headings_.empty()) return false;
    if (headingsLeftOut_) LogWarning("'" + DocName() + "' has more headings than the navigation takes; some are left out");
    std::string path;
    FILE *file = CreateNavFile(path);
    if (!file) return false;
    // Each heading opens a navPoint inside the nearest open one of a higher rank; ranks that are
    // skipped (h1 then h3) nest one level, not two.
    std::vector<int> open;
    int n = 0;
    auto indent = [&](size_t depth) { return std::string(2 + depth, '\t'); };
    for (const PageHeading &h : headings_) {
        while (!open.empty() && open.back() >= h.level) {
            open.pop_back();
            Put(file, indent(open.size()) + "</navPoint>\n");
        }
        ++n;
        const std::string in = indent(open.size());
        Put(file, in + "<navPoint id=\"navPoint-" + std::to_string(n) + "\" playOrder=\"" + std::to_string(n) +
                      "\">\n");
        // The label is the heading's text as the page has it: already escaped.
        Put(file, in + "\t<navLabel>\n" + in + "\t\t<text>" + h.label + "</text>\n" + in + "\t</navLabel>\n");
        Put(file, in + "\t<content src=\"" + HeadingLinkTarget(h.page, h.index, PagesPerFile(&job_), XhtmlFileNames(&job_)) + "\"/>\n");
        open.push_back(h.level);
    }
    while (!open.empty()) {
        open.pop_back();
        Put(file, indent(open.size()) + "</navPoint>\n");
    }
    bool ok = std::ferror(file) == 0;
    ok = (std::fclose(file) == 0) && ok;
    if (!ok) {
        std::remove(path.c_str());
        LogWarning("cannot write the navigation points file '" + path + "'");
        return false;
    }
    job_.navPointsFile = path;
    return true;
}

} // namespace qm
