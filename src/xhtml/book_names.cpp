#include "xhtml/book_names.h"

#include <cctype>
#include <string_view>

#include "extract/links.h"
#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "platform/xml_text.h"

namespace qm {
namespace {

bool IsHostChar(unsigned char c) { return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

// The address part "//host[:port]..." of a web address: a host of plain ASCII letters, digits and
// "-._~" (or a bracketed IP literal), optionally after "user@", and a port of digits.
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
        if (host.empty() || host[0] == '.' || host.find("..") != std::string::npos) return false;  // empty labels
        for (unsigned char c : host)
            if (!IsHostChar(c)) return false;
    }
    for (size_t i = 1; i < port.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(port[i]))) return false;
    return true;
}

// Whether an address with its scheme leads somewhere: something after the scheme, and for web
// schemes "//" and a plain host; a file URI needs a path. Scripts lead nowhere a reader follows.
bool IsUsableAddress(const std::string &address) {
    size_t colon = address.find(':');
    std::string scheme = address.substr(0, colon);
    for (char &c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string rest = address.substr(colon + 1);
    if (rest.empty()) return false;  // "mailto:", "x:"
    if (scheme == "javascript" || scheme == "vbscript") return false;
    bool web = scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "ws" || scheme == "wss";
    if (rest.rfind("//", 0) != 0) return !web;  // "mailto:a@b.org", "urn:isbn:0"; a web address needs "//"
    if (scheme == "file") return rest.size() > 2;  // "file:///path" and "file://host/path"; not "file://"
    return UsableAuthority(rest.substr(2, rest.find_first_of("/?#", 2) - 2));
}

// Whether an address from a PDF carries its scheme. Producers store bare hosts, so what reads as
// a scheme with a dot ("www.example.org:8080") or a host with a port ("localhost:8080/a": digits
// up to the end or the next "/") is a host, not a scheme.
bool AddressHasScheme(const std::string &uri) {
    if (!HasUriScheme(uri)) return false;
    size_t colon = uri.find(':');
    if (uri.find('.') < colon) return false;
    size_t j = colon + 1;
    while (j < uri.size() && std::isdigit(static_cast<unsigned char>(uri[j]))) ++j;
    bool port = j > colon + 1 && (j == uri.size() || uri[j] == '/');
    return !port;
}

} // namespace

int PagesPerFile(const ConversionJob *job) {
    return job && job->parseMode == static_cast<int32_t>(ParseMode::Imaging) ? 1 : kPagesPerFile;
}

int FirstPageOfFile(int page, int pagesPerFile) {
    if (pagesPerFile < 1) pagesPerFile = 1;
    return pagesPerFile * ((page - 1) / pagesPerFile) + 1;
}

bool XhtmlFileNames(const ConversionJob *job) { return job && job->reading.epub3; }

std::string PageFileName(int firstPage, bool xhtml) {
    return "page-" + std::to_string(firstPage) + (xhtml ? ".xhtml" : ".html");
}

std::string TitlePageName(bool xhtml) { return xhtml ? "title_page.xhtml" : "title_page.html"; }

std::string PageAnchorId(int page) { return "page-" + std::to_string(page); }

std::string PageLinkTarget(int page, int pageCount, int pagesPerFile, bool xhtml) {
    if (page < 1 || page > pageCount) return std::string();
    return PageFileName(FirstPageOfFile(page, pagesPerFile), xhtml) + "#" + PageAnchorId(page);
}

std::string HeadingAnchorId(int page, int index) {
    return "heading-" + std::to_string(page) + "-" + std::to_string(index);
}

std::string HeadingLinkTarget(int page, int index, int pagesPerFile, bool xhtml) {
    return PageFileName(FirstPageOfFile(page, pagesPerFile), xhtml) + "#" + HeadingAnchorId(page, index);
}

bool HasUriScheme(const std::string &uri) {
    size_t colon = uri.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(uri[i]);
        bool ok = std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
}

void AppendPercentEscape(std::string &out, unsigned char c) {
    static const char hex[] = "0123456789ABCDEF";
    out += '%';
    out += hex[c >> 4];
    out += hex[c & 15];
}

std::string UrlEncoded(const std::string &address) {
    std::string out;
    out.reserve(address.size());
    bool fragment = false;
    for (size_t i = 0; i < address.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(address[i]);
        bool keep = false;
        if (c == '%') {
            keep = i + 2 < address.size() && std::isxdigit(static_cast<unsigned char>(address[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(address[i + 2]));
        } else if (c == '#') {
            keep = !fragment;  // a fragment cannot hold another "#"
            fragment = true;
        } else {
            keep = c > 32 && c < 127 && std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) == std::string_view::npos;
        }
        if (keep)
            out += static_cast<char>(c);
        else
            AppendPercentEscape(out, c);
    }
    return out;
}

std::string AddressHref(const std::string &engineUri) {
    std::string uri = engineUri;
    if (uri.rfind("file://", 0) == 0 && uri.size() > 7 && uri[7] != '/') uri.erase(0, 7);
    if (uri.empty()) return std::string();
    std::string href;
    if (!AddressHasScheme(uri)) {
        if (uri.find('@') != std::string::npos) {
            if (uri.find('.') == std::string::npos) return std::string();
            href = "mailto:";
        } else {
            // A host needs a dot before any path: "docs/x.pdf" and "../a.html" are paths relative
            // to the PDF, which name files the book does not have.
            if (uri.substr(0, uri.find_first_of("/?#")).find('.') == std::string::npos) return std::string();
            href = "http://";
        }
    }
    href += UrlEncoded(uri);
    if (!IsUsableAddress(href)) return std::string();
    return href;
}

std::string LinkHref(const PageLink &link, int pageCount, int pagesPerFile, bool xhtml) {
    if (link.kind == PageLink::InDocument) return PageLinkTarget(link.page, pageCount, pagesPerFile, xhtml);
    if (link.kind == PageLink::Uri) return XmlEscape(AddressHref(link.uri));
    return std::string();
}

LinkAnchors AnchorsForLinks(const std::vector<PageLink> &links, int pageCount, int pagesPerFile, bool xhtml) {
    LinkAnchors anchors;
    for (const PageLink &link : links) {
        std::string href = LinkHref(link, pageCount, pagesPerFile, xhtml);
        if (link.kind != PageLink::InDocument && href.empty()) continue;
        anchors.links.push_back(link);
        anchors.hrefs.push_back(std::move(href));
    }
    return anchors;
}

} // namespace qm
