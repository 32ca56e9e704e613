#include "extract/links.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "extract/text_extract.h"
#include "options/conversion_job.h"
#include "platform/log.h"

namespace qm {
namespace {

bool HasUriScheme(const std::string &uri) {
    // scheme ":" where scheme is a letter followed by letters, digits, "+" or "-". A dot is left
    // out on purpose: "www.example.com:8080" is a host with a port, not a scheme. So is
    // "localhost:8080": digits up to the end or the next "/" after the colon are a port.
    size_t i = 0;
    if (uri.empty() || !std::isalpha(static_cast<unsigned char>(uri[0]))) return false;
    while (i < uri.size() && (std::isalnum(static_cast<unsigned char>(uri[i])) || uri[i] == '+' || uri[i] == '-')) ++i;
    if (i >= uri.size() || uri[i] != ':') return false;
    size_t j = i + 1;
    while (j < uri.size() && std::isdigit(static_cast<unsigned char>(uri[j]))) ++j;
    bool port = j > i + 1 && (j == uri.size() || uri[j] == '/');
    return !port;
}

void AppendUriChar(std::string &out, unsigned char c) {
    switch (c) {
    case '&': out += "&amp;"; return;
    case '>': out += "&gt;"; return;
    case '<': out += "&lt;"; return;
    case '"': out += "&quot;"; return;
    default: break;
    }
    // Blanks, controls and bytes of non-ASCII characters are not allowed in a URI as such; they
    // are percent-encoded so the book's links stay valid.
    if (c <= 32 || c >= 127) {
        static const char hex[] = "0123456789ABCDEF";
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
        return;
    }
    out += static_cast<char>(c);
}

} // namespace

int LoadPageLinks(fz_context *ctx, fz_document *doc, fz_page *page, std::vector<PageLink> &links) {
    links.clear();
    if (!ctx || !doc || !page) return 0;
    fz_link *list = nullptr;
    fz_var(list);
    fz_try(ctx) list = fz_load_links(ctx, page);
    fz_catch(ctx) {
        LogWarning("cannot read the links of the page: " + std::string(fz_caught_message(ctx)));
        return -1;
    }
    int pageCount = 0;
    fz_var(pageCount);
    fz_try(ctx) pageCount = fz_count_pages(ctx, doc);
    fz_catch(ctx) pageCount = 0;
    for (fz_link *l = list; l; l = l->next) {
        PageLink link;
        link.area = RoundOut(l->rect);
        const char *uri = l->uri ? l->uri : "";
        int external = 0;
        fz_var(external);
        fz_try(ctx) external = fz_is_external_link(ctx, uri);
        fz_catch(ctx) external = 0;
        if (external || (uri[0] != '#' && uri[0] != 0)) {
            link.kind = PageLink::Uri;
            link.uri = uri;
            // The engine reads an address stored without a scheme ("www.example.org") as relative
            // to the default base "file://". A file URI names a path from "/"; anything else after
            // the prefix is the address as the PDF stored it, which gets its proper scheme later.
            if (link.uri.rfind("file://", 0) == 0 && link.uri.size() > 7 && link.uri[7] != '/')
                link.uri.erase(0, 7);
        } else if (uri[0] == '#') {
            link.kind = PageLink::InDocument;
            int number = -1;
            fz_var(number);
            fz_try(ctx) {
                float x = 0, y = 0;
                fz_location loc = fz_resolve_link(ctx, doc, uri, &x, &y);
                number = fz_page_number_from_location(ctx, doc, loc);
            }
            fz_catch(ctx) number = -1;
            link.page = (number >= 0 && number < pageCount) ? number + 1 : 0;
        } else {
            link.kind = PageLink::Other;
        }
        links.push_back(std::move(link));
    }
    fz_drop_link(ctx, list);
    return static_cast<int>(links.size());
}

const PageLink *FindLinkForChar(const std::vector<PageLink> &links, const IntBox &c) {
    // Containment either way, or an overlap of at least two units both across and down.
    constexpr int tolerance = 2;
    for (const PageLink &link : links) {
        const IntBox &a = link.area;
        int ox = std::min(a.x1, c.x1) - std::max(a.x0, c.x0);
        int oy = std::min(a.y1, c.y1) - std::max(a.y0, c.y0);
        if (ox >= tolerance && oy >= tolerance) return &link;
    }
    return nullptr;
}

int PagesPerFile(const ConversionJob *job) {
    return job && job->parseMode == static_cast<int32_t>(ParseMode::Imaging) ? 1 : 15;
}

void WriteLinkTarget(std::string &file, const PageLink &link, int pageCount, int pagesPerFile) {
    if (pagesPerFile < 1) pagesPerFile = 1;
    if (link.kind == PageLink::InDocument) {
        int p = link.page;
        if (p > 0 && p <= pageCount) {
            int first = pagesPerFile * ((p - 1) / pagesPerFile) + 1;
            file += "page-" + std::to_string(first) + ".html#page-" + std::to_string(p);
        }
        return;
    }
    if (link.kind != PageLink::Uri) return;
    const std::string &uri = link.uri;
    if (!HasUriScheme(uri)) {
        bool dot = uri.find('.') != std::string::npos;
        if (dot && uri.find('@') != std::string::npos)
            file += "mailto:";
        else if (dot)
            file += "http://";
    }
    for (char c : uri) AppendUriChar(file, static_cast<unsigned char>(c));
}

} // namespace qm
