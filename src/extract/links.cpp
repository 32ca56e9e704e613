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

bool IsHostChar(unsigned char c) { return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

// The address part "//host[:port]..." of a web or file address: a host of plain ASCII letters,
// digits and "-._~" (or a bracketed IP literal), optionally after "user@", and a port of digits.
bool UsableAuthority(const std::string &authority) {
    size_t at = authority.rfind('@');
    std::string hostPort = at == std::string::npos ? authority : authority.substr(at + 1);
    std::string host = hostPort, port;
    if (!hostPort.empty() && hostPort[0] == '[') {
        size_t close = hostPort.find(']');
        if (close == std::string::npos || close == 1) return false;
        host = hostPort.substr(0, close + 1);
        port = hostPort.substr(close + 1);
        if (!port.empty() && port[0] != ':') return false;
    } else {
        size_t colon = hostPort.find(':');
        if (colon != std::string::npos) {
            host = hostPort.substr(0, colon);
            port = hostPort.substr(colon);
        }
        if (host.empty()) return false;
        for (unsigned char c : host)
            if (!IsHostChar(c)) return false;
    }
    for (size_t i = 1; i < port.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(port[i]))) return false;
    return true;
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

bool IsUsableAddress(const std::string &uri) {
    if (uri.empty()) return false;
    std::string address = uri;
    if (!HasUriScheme(uri)) {
        // A name without a dot would be written as it is, naming a file of the book that does
        // not exist; with a dot it gets the scheme WriteLinkTarget gives it.
        if (uri.find('.') == std::string::npos) return false;
        address = (uri.find('@') != std::string::npos ? "mailto:" : "http://") + uri;
    }
    size_t colon = address.find(':');
    std::string scheme = address.substr(0, colon);
    for (char &c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string rest = address.substr(colon + 1);
    if (rest.empty()) return false;  // "mailto:", "x:"
    bool web = scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "ws" || scheme == "wss";
    if (rest.rfind("//", 0) != 0) return !web;  // "mailto:a@b.org", "urn:isbn:0"; a web address needs "//"
    std::string authority = rest.substr(2, rest.find_first_of("/?#", 2) - 2);
    if (scheme == "file") return rest.size() > 2;  // "file:///path" and "file://host/path"; not "file://"
    return UsableAuthority(authority);
}

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
            // An address that leads nowhere (the engine reports a /URI that is not a string as
            // "file://" or "", and PDFs hold bare schemes such as "http://") gives no anchor: the
            // text stays, and the book keeps only links a reader can follow.
            if (!IsUsableAddress(link.uri)) continue;
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
            continue;  // an empty target: nothing to point at
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
