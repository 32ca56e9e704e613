#include "worker/book_builder.h"

#include <iconv.h>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <unordered_map>

#include "pdf/picture_probe.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/utf8.h"
#include "options/reading_options.h"
#include "platform/xml_text.h"
#include "xhtml/book_names.h"

namespace qm {
namespace {

constexpr const char *kXhtmlNs = "http://www.w3.org/1999/xhtml";

std::string StemToLastDot(const std::string &name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// The page up to the end of its head; `head` holds further lines of the head (stylesheets).
std::string PageFrame(const std::string &title, const std::string &head = std::string()) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE html  PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" \"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n<title>" +
           XmlEscape(title) +
           "</title>\n"
           "<meta http-equiv=\"Content-Type\" content=\"application/xhtml+xml; charset=utf-8\"/>\n" +
           head + "</head>\n";
}

// ---- HTML reduced to XHTML 1.1 ------------------------------------------------------------------

const std::set<std::string> kDropped = {"script", "noscript", "style", "head", "title", "meta", "link", "iframe",
                                        "object", "embed", "applet", "form", "input", "button", "select",
                                        "textarea", "option", "canvas", "svg", "math", "video", "audio",
                                        "template", "map", "area", "frameset", "frame", "param", "base"};
const std::set<std::string> kBlocks = {"address", "blockquote", "div", "dl", "h1", "h2", "h3", "h4", "h5",
                                       "h6", "hr", "ol", "p", "pre", "table", "ul"};
const std::set<std::string> kInlines = {"a", "abbr", "acronym", "b", "bdo", "big", "br", "cite", "code", "dfn",
                                        "em", "i", "img", "kbd", "q", "samp", "small", "span", "strong", "sub",
                                        "sup", "tt", "var", "del", "ins"};
const std::set<std::string> kStructural = {"li", "dt", "dd", "caption", "col", "colgroup", "thead", "tbody",
                                           "tfoot", "tr", "td", "th"};
// Elements whose content may only be inline.
const std::set<std::string> kInlineOnly = {"p", "h1", "h2", "h3", "h4", "h5", "h6", "pre", "address", "dt",
                                           "caption", "a", "abbr", "acronym", "b", "bdo", "big", "cite",
                                           "code", "dfn", "em", "i", "kbd", "q", "samp", "small", "span",
                                           "strong", "sub", "sup", "tt", "var"};

const std::unordered_map<std::string, std::set<std::string>> kOwnAttributes = {
    {"a", {"href"}},
    {"img", {"src", "alt", "width", "height"}},
    {"td", {"colspan", "rowspan", "align", "valign"}},
    {"th", {"colspan", "rowspan", "align", "valign"}},
    {"table", {"summary", "width", "border", "cellspacing", "cellpadding"}},
    {"col", {"span", "width"}},
    {"colgroup", {"span", "width"}},
    {"blockquote", {"cite"}},
    {"q", {"cite"}},
    {"bdo", {"dir"}},
};
const std::set<std::string> kCommonAttributes = {"id", "class", "title", "style", "dir", "lang"};

std::string Name(const xmlNode *n) { return n->name ? reinterpret_cast<const char *>(n->name) : std::string(); }

bool IsBlankText(const xmlNode *n) {
    if (n->type != XML_TEXT_NODE) return false;
    for (const xmlChar *c = n->content; c && *c; ++c)
        if (*c != ' ' && *c != '\t' && *c != '\n' && *c != '\r') return false;
    return true;
}

bool IsInlineNode(const xmlNode *n) {
    if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE || n->type == XML_ENTITY_REF_NODE)
        return true;
    return n->type == XML_ELEMENT_NODE && kInlines.count(Name(n));
}

void Unwrap(xmlNode *n) {
    xmlNode *c = n->children;
    while (c) {
        xmlNode *next = c->next;
        xmlUnlinkNode(c);
        xmlAddPrevSibling(n, c);
        c = next;
    }
    xmlUnlinkNode(n);
    xmlFreeNode(n);
}

// Puts runs of children for which `stray` holds into new `wrapper` elements; runs of blank text
// alone are left as they are.
void WrapRuns(xmlNode *parent, const std::function<bool(const xmlNode *)> &stray, const char *wrapper) {
    xmlNode *c = parent->children;
    while (c) {
        if (!stray(c) || IsBlankText(c)) {
            c = c->next;
            continue;
        }
        xmlNode *w = xmlNewDocNode(parent->doc, nullptr, BAD_CAST wrapper, nullptr);
        xmlAddPrevSibling(c, w);
        while (c && stray(c)) {
            xmlNode *next = c->next;
            xmlUnlinkNode(c);
            xmlAddChild(w, c);
            c = next;
        }
    }
}

struct Sanitizer {
    std::set<std::string> ids;
    const ReferenceResolver *resolve = nullptr;

    bool ValidId(const std::string &id) { return EpubBuilder::IsXmlId(id) && ids.insert(id).second; }

    void Attributes(xmlNode *e) {
        const std::string name = Name(e);
        auto own = kOwnAttributes.find(name);
        xmlAttr *a = e->properties;
        std::string anchorName;
        while (a) {
            xmlAttr *next = a->next;
            std::string an = a->name ? reinterpret_cast<const char *>(a->name) : "";
            xmlChar *v = xmlNodeGetContent(reinterpret_cast<xmlNode *>(a));
            const std::string raw = v ? reinterpret_cast<const char *>(v) : "";
            xmlFree(v);
            // The HTML parser keeps control characters in attribute values; XML cannot hold
            // them, not even as references.
            const std::string value = XmlChars(raw);
            std::string written = value;
            bool keep = kCommonAttributes.count(an) || (own != kOwnAttributes.end() && own->second.count(an));
            if (an == "id" && !ValidId(value)) keep = false;
            if (an == "dir" && value != "ltr" && value != "rtl") keep = false;
            if (name == "a" && an == "name") anchorName = value;
            if (keep && (an == "href" || an == "src") && resolve && *resolve) {
                written = (*resolve)(value, an == "src" ? ReferenceKind::Picture : ReferenceKind::Link);
                if (written.empty()) keep = false;
            } else if (keep && an == "style" && resolve && *resolve) {
                written = RewriteCssReferences(value, *resolve);
                if (written.find_first_not_of(" \t\r\n;") == std::string::npos) keep = false;
            }
            if (!keep)
                xmlRemoveProp(a);
            else if (written != raw)
                xmlSetProp(e, a->name, BAD_CAST XmlChars(written).c_str());
            a = next;
        }
        // Old-style anchors become ids.
        if (!anchorName.empty() && !xmlHasProp(e, BAD_CAST "id") && ValidId(anchorName))
            xmlSetProp(e, BAD_CAST "id", BAD_CAST anchorName.c_str());
        if (name == "img" && !xmlHasProp(e, BAD_CAST "alt")) xmlSetProp(e, BAD_CAST "alt", BAD_CAST "");
        if (name == "bdo" && !xmlHasProp(e, BAD_CAST "dir")) xmlSetProp(e, BAD_CAST "dir", BAD_CAST "ltr");
    }

    // First pass over the children of `parent`: unwanted elements and other nodes go, unknown
    // elements give way to their content, attributes are reduced to what XHTML 1.1 allows.
    void Clean(xmlNode *parent) {
        xmlNode *c = parent->children;
        while (c) {
            xmlNode *next = c->next;
            if (c->type == XML_ELEMENT_NODE) {
                const std::string name = Name(c);
                if (kDropped.count(name)) {
                    xmlUnlinkNode(c);
                    xmlFreeNode(c);
                } else {
                    Clean(c);
                    c->ns = nullptr;
                    if (kBlocks.count(name) || kInlines.count(name) || kStructural.count(name)) {
                        Attributes(c);
                        if (name == "img" && !xmlHasProp(c, BAD_CAST "src")) {  // no picture to show
                            xmlUnlinkNode(c);
                            xmlFreeNode(c);
                        }
                    } else {
                        Unwrap(c);
                    }
                }
            } else if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
                const char *text = reinterpret_cast<const char *>(c->content);
                if (text) {
                    const std::string clean = XmlChars(text);
                    if (clean != text) xmlNodeSetContent(c, BAD_CAST clean.c_str());
                }
            } else {
                // comments, processing instructions, entity references and the like
                xmlUnlinkNode(c);
                xmlFreeNode(c);
            }
            c = next;
        }
    }

    // Second pass: elements where XHTML does not allow them give way to their content (which is
    // then checked against the new parent), loose content gets the element it needs, and empty
    // lists and tables go. false: `parent` itself should go.
    bool Nest(xmlNode *parent) {
        const std::string pname = Name(parent);
        xmlNode *c = parent->children;
        while (c) {
            if (c->type != XML_ELEMENT_NODE) {
                c = c->next;
                continue;
            }
            const std::string name = Name(c);
            bool misplaced = (kInlineOnly.count(pname) && !kInlines.count(name)) ||
                             (kStructural.count(name) && !FitsIn(name, pname)) || (name == "a" && InsideLink(parent));
            if (misplaced) {
                xmlNode *first = c->children;
                xmlNode *next = c->next;
                Unwrap(c);
                c = first ? first : next;
                continue;
            }
            xmlNode *next = c->next;
            if (!Nest(c)) {
                xmlUnlinkNode(c);
                xmlFreeNode(c);
            }
            c = next;
        }
        return Structure(parent);
    }

    static bool InsideLink(xmlNode *n) {
        for (; n && n->type == XML_ELEMENT_NODE; n = n->parent)
            if (Name(n) == "a") return true;
        return false;
    }

    static bool FitsIn(const std::string &child, const std::string &parent) {
        if (child == "li") return parent == "ul" || parent == "ol";
        if (child == "dt" || child == "dd") return parent == "dl";
        if (child == "tr") return parent == "table" || parent == "thead" || parent == "tbody" || parent == "tfoot";
        if (child == "td" || child == "th") return parent == "tr";
        if (child == "col") return parent == "table" || parent == "colgroup";
        return parent == "table";  // caption, colgroup, thead, tbody, tfoot
    }

    bool Structure(xmlNode *e) {
        const std::string name = Name(e);
        if (name == "body" || name == "blockquote") {
            WrapRuns(e, IsInlineNode, "p");
        } else if (name == "ul" || name == "ol") {
            WrapRuns(e, [](const xmlNode *n) { return Name(n) != "li"; }, "li");
        } else if (name == "dl") {
            WrapRuns(e, [](const xmlNode *n) { return Name(n) != "dt" && Name(n) != "dd"; }, "dd");
        } else if (name == "tr") {
            WrapRuns(e, [](const xmlNode *n) { return Name(n) != "td" && Name(n) != "th"; }, "td");
        } else if (name == "table" || name == "thead" || name == "tbody" || name == "tfoot") {
            xmlNode *c = e->children;
            while (c) {  // loose content of a table has no place in XHTML
                xmlNode *next = c->next;
                std::string n = Name(c);
                bool ok = IsBlankText(c) || n == "tr" ||
                          (name == "table" && (n == "caption" || n == "col" || n == "colgroup" || n == "thead" ||
                                               n == "tbody" || n == "tfoot"));
                if (!ok) {
                    xmlUnlinkNode(c);
                    xmlFreeNode(c);
                }
                c = next;
            }
        }
        // Lists, tables and rows without any entry are not allowed.
        auto hasChild = [&](std::initializer_list<const char *> names) {
            for (xmlNode *c = e->children; c; c = c->next)
                for (const char *n : names)
                    if (c->type == XML_ELEMENT_NODE && Name(c) == n) return true;
            return false;
        };
        bool empty = ((name == "ul" || name == "ol") && !hasChild({"li"})) || (name == "dl" && !hasChild({"dt", "dd"})) ||
                     (name == "tr" && !hasChild({"td", "th"})) ||
                     ((name == "thead" || name == "tbody" || name == "tfoot") && !hasChild({"tr"})) ||
                     (name == "table" && !HasRow(e));
        return !empty;
    }

    static bool HasRow(xmlNode *table) {
        for (xmlNode *c = table->children; c; c = c->next) {
            if (c->type != XML_ELEMENT_NODE) continue;
            if (Name(c) == "tr") return true;
            if (Name(c) == "thead" || Name(c) == "tbody" || Name(c) == "tfoot")
                for (xmlNode *r = c->children; r; r = r->next)
                    if (r->type == XML_ELEMENT_NODE && Name(r) == "tr") return true;
        }
        return false;
    }
};

xmlNode *FindBody(xmlNode *n) {
    for (; n; n = n->next) {
        if (n->type == XML_ELEMENT_NODE && Name(n) == "body") return n;
        if (xmlNode *b = FindBody(n->children)) return b;
    }
    return nullptr;
}

std::string PercentDecode(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        auto hex = [](char c) {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// ---- Stylesheet references ----------------------------------------------------------------------

bool IsCssNameChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || u >= 0x80;
}

bool IsCssSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool HasWordAt(const std::string &text, size_t at, const char *word) {
    const size_t n = std::strlen(word);
    if (at + n > text.size()) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

// Index just past the string that starts with the quote at `at` (a string left open ends at the
// line end).
size_t SkipCssString(const std::string &css, size_t at) {
    const char quote = css[at];
    for (size_t i = at + 1; i < css.size(); ++i) {
        if (css[i] == '\\') {
            ++i;
        } else if (css[i] == quote) {
            return i + 1;
        } else if (css[i] == '\n') {
            return i;
        }
    }
    return css.size();
}

// Index past white space and comments from `at`.
size_t SkipCssSpace(const std::string &css, size_t at) {
    while (at < css.size()) {
        if (IsCssSpace(css[at])) {
            ++at;
        } else if (css.compare(at, 2, "/*") == 0) {
            size_t end = css.find("*/", at + 2);
            at = end == std::string::npos ? css.size() : end + 2;
        } else {
            break;
        }
    }
    return at;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The text of a CSS string or unquoted url with its escapes resolved.
std::string CssUnescape(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        ++i;
        if (HexValue(text[i]) >= 0) {
            uint32_t cp = 0;
            size_t k = 0;
            for (; k < 6 && i < text.size() && HexValue(text[i]) >= 0; ++k, ++i) cp = cp * 16 + static_cast<uint32_t>(HexValue(text[i]));
            if (i < text.size() && IsCssSpace(text[i])) ++i;
            --i;
            AppendUtf8(out, cp == 0 ? 0xFFFD : cp);  // CSS reads an escaped zero as U+FFFD
        } else if (text[i] != '\n') {
            out += text[i];
        }
    }
    return out;
}

std::string CssQuoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n' || c == '\r' || c == '\f') {
            out += "\\a ";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A string or url() token at `at`: its address and the index past it. false when there is none.
bool ReadCssAddress(const std::string &css, size_t at, bool stringAllowed, std::string &address, size_t &end) {
    if (at < css.size() && stringAllowed && (css[at] == '"' || css[at] == '\'')) {
        end = SkipCssString(css, at);
        if (end <= at + 1 || css[end - 1] != css[at]) return false;
        address = CssUnescape(css.substr(at + 1, end - at - 2));
        return true;
    }
    if (!HasWordAt(css, at, "url(") || (at > 0 && IsCssNameChar(css[at - 1]))) return false;
    size_t i = at + 4;
    while (i < css.size() && IsCssSpace(css[i])) ++i;
    if (i < css.size() && (css[i] == '"' || css[i] == '\'')) {
        size_t close = SkipCssString(css, i);
        if (close <= i + 1 || css[close - 1] != css[i]) return false;
        address = CssUnescape(css.substr(i + 1, close - i - 2));
        i = close;
        while (i < css.size() && IsCssSpace(css[i])) ++i;
        if (i >= css.size() || css[i] != ')') return false;
    } else {
        size_t close = css.find(')', i);
        if (close == std::string::npos) return false;
        std::string raw = css.substr(i, close - i);
        while (!raw.empty() && IsCssSpace(raw.back())) raw.pop_back();
        address = CssUnescape(raw);
        i = close;
    }
    end = i + 1;
    return true;
}

// Where the declaration (or rule) that goes on at `at` ends: past its ";", or at its "}".
size_t CssStatementEnd(const std::string &css, size_t at) {
    size_t i = at;
    while (i < css.size()) {
        if (css[i] == '"' || css[i] == '\'') {
            i = SkipCssString(css, i);
        } else if (css.compare(i, 2, "/*") == 0) {
            i = SkipCssSpace(css, i);
        } else if (css[i] == ';') {
            return i + 1;
        } else if (css[i] == '}') {
            return i;
        } else {
            ++i;
        }
    }
    return css.size();
}

// ---- The document's own styles ------------------------------------------------------------------

std::string Attribute(xmlNode *e, const char *name) {
    xmlChar *v = xmlGetProp(e, BAD_CAST name);
    std::string value = v ? reinterpret_cast<const char *>(v) : "";
    xmlFree(v);
    return value;
}

bool HasToken(const std::string &list, const char *token) {
    size_t pos = 0;
    while (pos < list.size()) {
        while (pos < list.size() && IsCssSpace(list[pos])) ++pos;
        size_t end = pos;
        while (end < list.size() && !IsCssSpace(list[end])) ++end;
        if (end > pos && end - pos == std::strlen(token) && HasWordAt(list, pos, token)) return true;
        pos = end;
    }
    return false;
}

bool IsStylesheetLink(xmlNode *e) { return Name(e) == "link" && HasToken(Attribute(e, "rel"), "stylesheet"); }

bool IsCssStyle(xmlNode *e) {
    std::string type = Attribute(e, "type");
    return Name(e) == "style" && (type.empty() || HasWordAt(type, 0, "text/css"));
}

std::string TextContent(xmlNode *e) {
    xmlChar *v = xmlNodeGetContent(e);
    std::string text = v ? reinterpret_cast<const char *>(v) : "";
    xmlFree(v);
    return text;
}

// The stylesheet links and <style> blocks of an HTML document, in document order, as lines of an
// XHTML head.
void CollectStyles(xmlNode *n, const ReferenceResolver &resolve, std::string &head) {
    for (; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        const std::string media = Attribute(n, "media");
        const std::string mediaAttribute = media.empty() ? std::string() : " media=\"" + XmlEscape(media) + "\"";
        if (IsStylesheetLink(n)) {
            std::string href = Attribute(n, "href");
            if (!href.empty() && resolve) href = resolve(href, ReferenceKind::Stylesheet);
            if (!href.empty())
                head += "<link rel=\"stylesheet\" type=\"text/css\" href=\"" + XmlEscape(href) + "\"" +
                        mediaAttribute + "/>\n";
        } else if (IsCssStyle(n)) {
            std::string css = TextContent(n);
            if (resolve) css = RewriteCssReferences(css, resolve);
            // Escaped as XML text, the style is well-formed whatever it holds ("<", "&", "]]>").
            if (css.find_first_not_of(" \t\r\n") != std::string::npos)
                head += "<style type=\"text/css\"" + mediaAttribute + ">\n" + XmlEscape(css) + "\n</style>\n";
        } else {
            CollectStyles(n->children, resolve, head);
        }
    }
}

// ---- Encodings ----------------------------------------------------------------------------------

// windows-1252 for 0x80-0x9F; the five bytes it leaves open keep their C1 code points.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Windows1252ToUtf8(const std::string &bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x80)
            out += c;
        else
            AppendUtf8(out, u < 0xA0 ? kWindows1252High[u - 0x80] : u);
    }
    return out;
}

// Converts with iconv from `charset`; a sequence that is not of the charset becomes U+FFFD.
// false when the system does not know the charset.
bool ConvertToUtf8(const std::string &bytes, const std::string &charset, std::string &out) {
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.clear();
    std::string input = bytes;
    char *in = input.data();
    size_t inLeft = input.size();
    char buffer[4096];
    while (inLeft > 0) {
        char *o = buffer;
        size_t oLeft = sizeof buffer;
        const size_t rc = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buffer, static_cast<size_t>(o - buffer));
        if (rc != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        out += "\xEF\xBF\xBD";
        if (errno == EINVAL) break;  // cut off at the end
        ++in;                        // EILSEQ: one byte is skipped
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char *o = buffer;
    size_t oLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &o, &oLeft);  // the shift state's closing bytes
    out.append(buffer, static_cast<size_t>(o - buffer));
    iconv_close(cd);
    return true;
}

// The charset a document names near its start: an XML declaration's encoding, or a "charset="
// of a meta element; lower case, "" when none.
std::string DeclaredCharset(const std::string &bytes) {
    const std::string head = bytes.substr(0, 1024);
    for (const char *word : {"encoding", "charset"}) {
        for (size_t at = 0; at < head.size(); ++at) {
            if (!HasWordAt(head, at, word)) continue;
            size_t i = at + std::strlen(word);
            while (i < head.size() && IsCssSpace(head[i])) ++i;
            if (i >= head.size() || head[i] != '=') continue;
            ++i;
            while (i < head.size() && (IsCssSpace(head[i]) || head[i] == '"' || head[i] == '\'')) ++i;
            std::string name;
            for (; i < head.size(); ++i) {
                const char c = head[i];
                if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_' || c == '.' || c == ':'))
                    break;
                name += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            }
            if (!name.empty()) return name;
        }
    }
    return std::string();
}

// A document's bytes as UTF-8, decided before any parser sees them: a byte order mark names the
// encoding; text that is valid UTF-8 stays as it is; otherwise the charset the document declares
// (`declarations`: HTML and XML) when the system knows it, else windows-1252, which gives every
// byte a character. The parser then never switches encodings half way through.
std::string DocumentUtf8(const std::string &bytes, bool declarations) {
    std::string out;
    if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0) {
        const bool little = bytes[0] == '\xFF';
        if (ConvertToUtf8(bytes.substr(2), little ? "UTF-16LE" : "UTF-16BE", out)) return out;
    }
    if (IsUtf8(bytes)) return bytes;
    if (declarations) {
        const std::string charset = DeclaredCharset(bytes);
        // Latin-1 and ASCII labels mean windows-1252, as browsers read them; a declared UTF-8
        // or UTF-16 is evidently wrong here.
        const bool latin = charset.empty() || charset == "iso-8859-1" || charset == "iso8859-1" || charset == "latin1" ||
                           charset == "l1" || charset == "us-ascii" || charset == "ascii" || charset == "windows-1252" ||
                           charset == "cp1252" || charset == "x-cp1252";
        const bool unicode = charset.rfind("utf", 0) == 0 || charset.rfind("ucs", 0) == 0;
        if (!latin && !unicode && ConvertToUtf8(bytes, charset, out)) return out;
    }
    return Windows1252ToUtf8(bytes);
}

// ---- Pictures -----------------------------------------------------------------------------------

bool IsSvgDocument(const std::string &bytes) {
    if (bytes.size() > static_cast<size_t>(INT32_MAX)) return false;
    xmlDoc *doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return false;
    xmlNode *root = xmlDocGetRootElement(doc);
    const bool ok = root && Name(root) == "svg";
    xmlFreeDoc(doc);
    return ok;
}

} // namespace

bool IsTextFileName(const std::string &name) { return LowerExtension(name) == "txt"; }

bool IsHtmlFileName(const std::string &name) {
    std::string ext = LowerExtension(name);
    return ext == "html" || ext == "htm" || ext == "xhtml" || ext == "xml";
}

bool IsWellFormedXhtml(const std::string &content) {
    xmlInitParser();
    if (content.size() > static_cast<size_t>(INT32_MAX)) return false;
    xmlDoc *doc = xmlReadMemory(content.data(), static_cast<int>(content.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return false;
    xmlNode *root = xmlDocGetRootElement(doc);
    bool ok = root && Name(root) == "html" && root->ns && root->ns->href &&
              std::strcmp(reinterpret_cast<const char *>(root->ns->href), kXhtmlNs) == 0;
    xmlFreeDoc(doc);
    return ok;
}

std::string TextToXhtml(const std::string &input, const std::string &title) {
    std::string text = DocumentUtf8(input, false);
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::string body;
    std::string paragraph;
    auto flush = [&] {
        if (!paragraph.empty()) body += "<p>" + XmlEscape(paragraph) + "</p>\n";
        paragraph.clear();
    };
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bool blank = line.find_first_not_of(" \t\f\v") == std::string::npos;
        if (blank) {
            flush();
        } else {
            if (!paragraph.empty()) paragraph += "\n";
            paragraph += line;
        }
        pos = end + 1;
    }
    flush();
    if (body.empty()) body = "<p></p>\n";
    return PageFrame(title) + "<body>\n" + body + "</body>\n</html>\n";
}

std::string RewriteCssReferences(const std::string &css, const ReferenceResolver &resolve) {
    if (!resolve) return css;
    struct Edit {
        size_t begin, end;
        std::string text;
    };
    std::vector<Edit> edits;
    size_t statementStart = 0;  // where the declaration or rule under the scan began
    size_t i = 0;
    while (i < css.size()) {
        const char c = css[i];
        if (c == '"' || c == '\'') {
            i = SkipCssString(css, i);
        } else if (css.compare(i, 2, "/*") == 0) {
            i = SkipCssSpace(css, i);
        } else if (c == '{' || c == '}' || c == ';') {
            statementStart = ++i;
        } else if ((c == '@' && HasWordAt(css, i, "@import") && (i + 7 >= css.size() || !IsCssNameChar(css[i + 7]))) ||
                   ((c == 'u' || c == 'U') && HasWordAt(css, i, "url(") && (i == 0 || !IsCssNameChar(css[i - 1])))) {
            const bool import = c == '@';
            const size_t at = import ? SkipCssSpace(css, i + 7) : i;
            std::string address;
            size_t end = 0;
            if (!ReadCssAddress(css, at, import, address, end)) {
                i += import ? 7 : 4;
                continue;
            }
            const std::string target = resolve(address, import ? ReferenceKind::Stylesheet : ReferenceKind::CssResource);
            if (target.empty())  // the whole @import rule, or the declaration holding the url()
                edits.push_back({import ? i : statementStart, CssStatementEnd(css, end), std::string()});
            else if (target != address)
                edits.push_back({at, end, "url(" + CssQuoted(target) + ")"});
            i = end;
        } else {
            ++i;
        }
    }
    if (edits.empty()) return css;
    // A dropped declaration takes any other edit inside it along.
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end > b.end;
    });
    std::string out;
    size_t pos = 0;
    for (const Edit &e : edits) {
        if (e.begin < pos) continue;
        out.append(css, pos, e.begin - pos);
        out += e.text;
        pos = e.end;
    }
    out.append(css, pos, std::string::npos);
    return out;
}

std::string PictureProblem(const std::string &path) {
    const std::string type = EpubBuilder::MediaType(path);
    const char *kind = type == "image/png"       ? "PNG"
                       : type == "image/jpeg"    ? "JPEG"
                       : type == "image/gif"     ? "GIF"
                       : type == "image/svg+xml" ? "SVG"
                                                 : nullptr;
    if (!kind) return std::string();
    std::string bytes;
    if (!ReadFile(path, bytes)) return "the file cannot be read";
    if (bytes.empty()) return "the picture is empty";
    bool ok = type == "image/svg+xml"
                  ? IsSvgDocument(bytes)
                  : ProbePicture(bytes, type == "image/png"    ? PictureFormat::Png
                                        : type == "image/jpeg" ? PictureFormat::Jpeg
                                                               : PictureFormat::Gif) == PictureProbe::Decodes;
    return ok ? std::string() : std::string("the picture cannot be read (damaged, or not a ") + kind + " file)";
}

std::string HtmlToXhtml(const std::string &html, const std::string &title, const ReferenceResolver &resolve) {
    xmlInitParser();
    std::string head;
    std::string body = "<body>\n<p></p>\n</body>\n";
    htmlDocPtr doc = nullptr;
    // Parsed as UTF-8 throughout: a charset the document names was taken into account already.
    const std::string utf8 = DocumentUtf8(html, true);
    if (utf8.size() < static_cast<size_t>(INT32_MAX))
        doc = htmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                             HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (doc) {
        CollectStyles(xmlDocGetRootElement(doc), resolve, head);
        xmlNode *src = FindBody(xmlDocGetRootElement(doc));
        if (src) {
            Sanitizer s;
            s.resolve = &resolve;
            s.Clean(src);
            s.Attributes(src);
            s.Nest(src);
            // Serialise with XML rules: the cleaned body is copied into an XML document.
            xmlDoc *out = xmlNewDoc(BAD_CAST "1.0");
            out->encoding = xmlStrdup(BAD_CAST "UTF-8");
            xmlNode *copy = xmlDocCopyNode(src, out, 1);
            if (copy) {
                xmlDocSetRootElement(out, copy);
                xmlBuffer *buf = xmlBufferCreate();
                if (buf) {
                    xmlNodeDump(buf, out, copy, 0, 0);
                    std::string dumped(reinterpret_cast<const char *>(xmlBufferContent(buf)),
                                       static_cast<size_t>(xmlBufferLength(buf)));
                    xmlBufferFree(buf);
                    if (dumped == "<body/>") dumped = "<body>\n<p></p>\n</body>";
                    body = dumped + "\n";
                }
            }
            xmlFreeDoc(out);
        }
        xmlFreeDoc(doc);
    }
    return PageFrame(title, head) + body + "</html>\n";
}

namespace {

std::string RealPath(const std::string &path) {
    char *real = realpath(path.c_str(), nullptr);
    if (!real) return std::string();
    std::string out = real;
    std::free(real);
    return out;
}

std::string AsciiLower(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// A relative path with "." and "x/.." taken out; ".." that climb above the start stay in front.
std::string NormalizeRelative(const std::string &path) {
    std::vector<std::string> parts;
    size_t up = 0;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(start, slash - start);
        if (part == "..") {
            if (parts.empty())
                ++up;
            else
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    std::string out;
    for (size_t k = 0; k < up; ++k) out += "../";
    for (size_t k = 0; k < parts.size(); ++k) out += (k ? "/" : "") + parts[k];
    return out;
}

// The path of `to` (a book path) as seen from the book folder `fromFolder` ("" or "css/").
std::string RelativePath(const std::string &fromFolder, const std::string &to) {
    auto split = [](const std::string &path) {
        std::vector<std::string> parts;
        size_t start = 0;
        while (start < path.size()) {
            size_t slash = path.find('/', start);
            if (slash == std::string::npos) slash = path.size();
            if (slash > start) parts.push_back(path.substr(start, slash - start));
            start = slash + 1;
        }
        return parts;
    };
    const std::vector<std::string> from = split(fromFolder), target = split(to);
    size_t common = 0;
    while (common < from.size() && common + 1 < target.size() && from[common] == target[common]) ++common;
    std::string out;
    for (size_t k = common; k < from.size(); ++k) out += "../";
    for (size_t k = common; k < target.size(); ++k) out += (k > common ? "/" : "") + target[k];
    return out;
}

bool IsRasterPicture(const std::string &type) {
    return type == "image/png" || type == "image/jpeg" || type == "image/gif";
}
bool IsPictureType(const std::string &type) { return type.rfind("image/", 0) == 0; }
bool IsFontType(const std::string &type) { return type.rfind("font/", 0) == 0; }

// ---- Pages of an EPUB 3 book ---------------------------------------------------------------------

// Elements HTML5 no longer has, and what takes their place.
const std::unordered_map<std::string, const char *> kHtml5Renamed = {
    {"acronym", "abbr"}, {"big", "span"}, {"tt", "code"}, {"strike", "s"},
    {"center", "div"},   {"font", "span"}, {"dir", "ul"},  {"basefont", "span"}};
// Presentational attributes HTML5 no longer has.
const std::set<std::string> kHtml5Obsolete = {"align",  "valign", "bgcolor", "border",   "cellspacing", "cellpadding",
                                             "summary", "frame", "rules",   "char",     "charoff",     "axis",
                                             "nowrap", "hspace", "vspace",  "clear",    "noshade",     "background",
                                             "longdesc", "link", "vlink",   "alink",    "compact",     "scheme"};

bool AllDigits(const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

void Html5Elements(xmlNode *n, std::set<std::string> &ids, const std::string &title) {
    while (n) {
        xmlNode *next = n->next;
        if (n->type != XML_ELEMENT_NODE) {
            n = next;
            continue;
        }
        std::string name = Name(n);
        // The charset comes from the XML declaration; HTML5 allows no other content type here.
        if (name == "meta" && xmlHasProp(n, BAD_CAST "http-equiv")) {
            xmlUnlinkNode(n);
            xmlFreeNode(n);
            n = next;
            continue;
        }
        if (auto r = kHtml5Renamed.find(name); r != kHtml5Renamed.end()) {
            xmlNodeSetName(n, BAD_CAST r->second);
            name = r->second;
        }
        xmlAttr *a = n->properties;
        while (a) {
            xmlAttr *following = a->next;
            const std::string an = a->name ? reinterpret_cast<const char *>(a->name) : "";
            const std::string value = a->ns ? std::string() : Attribute(n, an.c_str());
            bool drop = false;
            if (!a->ns) {
                if (kHtml5Obsolete.count(an) || (an == "size" && name == "hr") || (an == "abbr" && name == "td") ||
                    (an == "type" && name == "ul") || (an == "language" && name == "script"))
                    drop = true;
                // Widths and heights are whole pixels, on pictures only.
                if ((an == "width" || an == "height") && (name != "img" || !AllDigits(value))) drop = true;
                if (an == "name" && name == "a") {
                    if (!xmlHasProp(n, BAD_CAST "id") && EpubBuilder::IsXmlId(value) && ids.insert(value).second)
                        xmlSetProp(n, BAD_CAST "id", BAD_CAST value.c_str());
                    drop = true;
                }
            }
            if (drop) xmlRemoveProp(a);
            a = following;
        }
        if (name == "title" && TextContent(n).find_first_not_of(" \t\r\n") == std::string::npos)
            xmlNodeSetContent(n, BAD_CAST XmlChars(title.empty() ? std::string("Page") : title).c_str());
        Html5Elements(n->children, ids, title);
        n = next;
    }
}

void CollectIds(xmlNode *n, std::set<std::string> &ids) {
    for (; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (xmlHasProp(n, BAD_CAST "id")) ids.insert(Attribute(n, "id"));
        CollectIds(n->children, ids);
    }
}

// A well-formed XHTML page in the XHTML form of HTML5, as EPUB 3 readers and checkers expect it:
// the short document type, a language on the root, a title that says something, and no element
// or attribute that HTML5 dropped (old-style anchors become ids).
void AsHtml5(xmlDoc *doc, const std::string &title) {
    if (xmlDtd *dtd = xmlGetIntSubset(doc)) {
        xmlUnlinkNode(reinterpret_cast<xmlNode *>(dtd));
        xmlFreeDtd(dtd);
    }
    xmlCreateIntSubset(doc, BAD_CAST "html", nullptr, nullptr);
    xmlNode *root = xmlDocGetRootElement(doc);
    if (!root) return;
    xmlChar *lang = xmlNodeGetLang(root);
    const std::string tag = lang ? reinterpret_cast<const char *>(lang) : kDefaultBookLanguage;
    xmlFree(lang);
    if (!xmlHasNsProp(root, BAD_CAST "lang", XML_XML_NAMESPACE)) xmlNodeSetLang(root, BAD_CAST tag.c_str());
    if (!xmlHasNsProp(root, BAD_CAST "lang", nullptr)) xmlSetProp(root, BAD_CAST "lang", BAD_CAST tag.c_str());
    std::set<std::string> ids;
    CollectIds(root, ids);
    Html5Elements(root, ids, title);
}

// Stylesheets importing stylesheets: deeper than this is left out.
constexpr int kMaxImportDepth = 16;

// The files of one book: where each goes inside the book, and the references between them.
class BookAssembly {
public:
    BookAssembly(UserPrompt &prompt, std::string stagingFolder) : prompt_(prompt), staging_(std::move(stagingFolder)) {
        Claim("content.opf");
        Claim("toc.ncx");
    }

    // The file that refers to others.
    struct Origin {
        std::string sourcePath;  // on disk
        std::string bookPath;    // in the book
        int depth = 0;           // stylesheets imported on the way to it
    };

    // A line for the user, told once.
    void Tell(const std::string &line) {
        if (told_.insert(line).second) prompt_.Message(line);
    }
    void Refuse(const std::string &path, const std::string &reason, std::vector<std::string> *refusals) {
        const std::string line = path + ": left out of the book: " + reason + ".";
        Tell(line);
        if (refusals) refusals->push_back(line);
    }

    bool IsFree(const std::string &path) const {
        const std::string key = AsciiLower(path);
        if (files_.count(key) || folders_.count(key)) return false;
        for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
            if (files_.count(key.substr(0, slash))) return false;
        return true;
    }
    void Claim(const std::string &path) {
        const std::string key = AsciiLower(path);
        files_.insert(key);
        for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
            folders_.insert(key.substr(0, slash));
    }
    // `wanted`, or the first free "name-2.ext", "name-3.ext" … beside it; claimed. When one of
    // its folders is the name of a file already, the name goes beside the documents instead.
    std::string ClaimNear(const std::string &wanted) {
        std::string path = wanted;
        const std::string key = AsciiLower(wanted);
        for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
            if (files_.count(key.substr(0, slash))) path = FileNamePart(wanted);
        const std::string folder = FolderPart(path), name = FileNamePart(path);
        const size_t dot = name.rfind('.');
        const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
        const std::string ext = stem.size() == name.size() ? std::string() : name.substr(dot);
        for (int k = 2; !IsFree(path); ++k) path = folder + stem + "-" + std::to_string(k) + ext;
        Claim(path);
        return path;
    }

    void Place(const std::string &realPath, const std::string &bookPath) { placed_.emplace(realPath, bookPath); }
    void Reject(const std::string &realPath, const std::string &reason) { refused_.emplace(realPath, reason); }

    // Writes a file of the book that the builder made (a converted or rewritten one) into the
    // staging folder; its path there, "" on failure.
    std::string Stage(const std::string &bookPath, const std::string &content) {
        const std::string folder = WithTrailingSlash(staging_) + "converted/";
        if (!FolderExists(folder) && !CreateFolder(folder)) return std::string();
        const std::string path = folder + std::to_string(++staged_) + "-" + FileNamePart(bookPath);
        if (!WriteFile(path, content)) {
            LogError("cannot write '" + path + "'");
            return std::string();
        }
        return path;
    }

    ReferenceResolver ResolverFor(const Origin &origin) {
        return [this, origin](const std::string &address, ReferenceKind kind) { return Resolve(origin, address, kind); };
    }

    // A stylesheet with its references resolved: the file that goes into the book (the original
    // when nothing changed), "" when it cannot be read.
    std::string Stylesheet(const std::string &sourcePath, const std::string &bookPath, int depth) {
        std::string css;
        if (!ReadFile(sourcePath, css)) return std::string();
        const std::string out = RewriteCssReferences(css, ResolverFor(Origin{sourcePath, bookPath, depth}));
        return out == css ? sourcePath : Stage(bookPath, out);
    }

    // A well-formed XHTML document with its references resolved, in UTF-8; unchanged (byte for
    // byte) when it is UTF-8 and every reference could stay as it is.
    std::string Xhtml(const std::string &content, const Origin &origin) {
        if (content.size() > static_cast<size_t>(INT32_MAX)) return content;
        xmlDoc *doc = xmlReadMemory(content.data(), static_cast<int>(content.size()), nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        if (!doc) return content;
        // The pages of a book are UTF-8: a document in another encoding is written anew.
        bool changed = !IsUtf8(content) ||
                       (doc->encoding && xmlStrcasecmp(doc->encoding, BAD_CAST "UTF-8") != 0);
        const ReferenceResolver resolve = ResolverFor(origin);
        ResolveXhtml(xmlDocGetRootElement(doc), resolve, changed);
        std::string out = content;
        if (changed) {
            xmlChar *mem = nullptr;
            int size = 0;
            xmlDocDumpMemoryEnc(doc, &mem, &size, "UTF-8");
            if (mem && size > 0) out.assign(reinterpret_cast<const char *>(mem), static_cast<size_t>(size));
            xmlFree(mem);
        }
        xmlFreeDoc(doc);
        return out;
    }

    const std::vector<ManifestItem> &Resources() const { return resources_; }

    // A document page of the book before it is staged.
    struct Page {
        std::string sourcePath;  // the listed file (named in messages)
        std::string bookPath;    // its name in the book
        std::string content;     // the page as it goes into the book
        std::string title;       // its navigation title
    };

    // The pages' last pass. Links into the book's own documents that name a place (an id) the
    // target document does not have: the link keeps its document and loses the fragment; a link to a missing place in
    // its own document is no link any more (its text stays). Each page is parsed once; the ids of
    // every page are collected first, so a link may point forwards. Pages change only where a
    // link was mended.
    // For an EPUB 3 book (`html5`) every page is first brought into the XHTML form of HTML5.
    // Returns, per page, whether it was changed.
    std::vector<bool> FinishPages(std::vector<Page> &pages, bool html5) {
        struct Parsed {
            xmlDoc *doc = nullptr;
            ~Parsed() { xmlFreeDoc(doc); }
        };
        std::vector<Parsed> parsed(pages.size());
        std::vector<bool> mended(pages.size(), false);
        std::unordered_map<std::string, std::set<std::string>> ids;  // book path -> ids
        for (size_t i = 0; i < pages.size(); ++i) {
            const std::string &c = pages[i].content;
            if (c.size() > static_cast<size_t>(INT32_MAX)) continue;
            parsed[i].doc = xmlReadMemory(c.data(), static_cast<int>(c.size()), nullptr, nullptr,
                                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
            if (!parsed[i].doc) continue;
            if (html5) AsHtml5(parsed[i].doc, pages[i].title);
            std::set<std::string> &own = ids[pages[i].bookPath];
            CollectIds(xmlDocGetRootElement(parsed[i].doc), own);
        }
        for (size_t i = 0; i < pages.size(); ++i) {
            if (!parsed[i].doc) continue;
            bool changed = html5;
            MendLinks(xmlDocGetRootElement(parsed[i].doc), pages[i], ids, changed);
            if (!changed) continue;
            mended[i] = true;
            xmlChar *mem = nullptr;
            int size = 0;
            xmlDocDumpMemoryEnc(parsed[i].doc, &mem, &size, "UTF-8");
            if (mem && size > 0) pages[i].content.assign(reinterpret_cast<const char *>(mem), static_cast<size_t>(size));
            xmlFree(mem);
        }
        return mended;
    }

private:
    std::string Drop(const Origin &from, const std::string &address, const std::string &reason) {
        Tell(from.sourcePath + ": reference \"" + address + "\" left out of the book: " + reason + ".");
        return std::string();
    }

    std::string Resolve(const Origin &from, const std::string &address, ReferenceKind kind) {
        size_t first = address.find_first_not_of(" \t\r\n\f");
        if (first == std::string::npos) return std::string();
        const std::string uri = address.substr(first, address.find_last_not_of(" \t\r\n\f") - first + 1);
        const bool fragmentAllowed = kind == ReferenceKind::Link || kind == ReferenceKind::CssResource;
        // A link to a place in the same document; whether the place exists is checked once
        // every document of the book is known.
        if (uri[0] == '#') {
            if (kind == ReferenceKind::Link) return UrlEncoded(uri);
            return fragmentAllowed ? address : Drop(from, address, "it names no file");
        }
        if (HasUriScheme(uri)) {
            if (kind == ReferenceKind::Link) return UrlEncoded(uri);  // a web address, as a valid URL
            if (kind == ReferenceKind::CssResource && HasWordAt(uri, 0, "data:")) return address;
            return Drop(from, address, "a book holds no web addresses, only its own files");
        }
        const size_t cut = uri.find_first_of("?#");
        const size_t hash = uri.find('#');
        const std::string fragment = hash == std::string::npos ? std::string() : uri.substr(hash);
        const bool query = cut != std::string::npos && uri[cut] == '?';
        const std::string rel = PercentDecode(uri.substr(0, cut));
        if (rel.empty()) return Drop(from, address, "it names no file");
        const std::string real = RealPath(rel[0] == '/' ? rel : FolderPart(from.sourcePath) + rel);
        if (real.empty() || !FileExists(real)) return Drop(from, address, "the file was not found");
        if (auto bad = refused_.find(real); bad != refused_.end()) return Drop(from, address, bad->second);

        const std::string type = EpubBuilder::MediaType(real);
        std::string target;
        if (auto it = placed_.find(real); it != placed_.end()) {
            target = it->second;
            const std::string placedType = EpubBuilder::MediaType(target);
            if (!Fits(kind, placedType, true)) return Drop(from, address, WrongKind(kind));
        } else {
            if (kind == ReferenceKind::Link) return Drop(from, address, "the file is not part of the book");
            if (!Fits(kind, type, false)) return Drop(from, address, WrongKind(kind));
            if (kind == ReferenceKind::Stylesheet && from.depth >= kMaxImportDepth)
                return Drop(from, address, "stylesheets import each other too deeply");
            std::string problem = IsRasterPicture(type) ? PictureProblem(real)
                                  : FileSize(real) <= 0 ? std::string("the file is empty")
                                                        : std::string();
            if (!problem.empty()) {
                Reject(real, problem);
                return Drop(from, address, problem);
            }
            // The same relative path as on disk when it stays inside the book, else beside the
            // documents.
            std::string wanted = rel[0] == '/' ? std::string() : NormalizeRelative(FolderPart(from.bookPath) + rel);
            if (wanted.empty() || wanted.rfind("../", 0) == 0) wanted = FileNamePart(real);
            target = ClaimNear(wanted);
            Place(real, target);
            std::string source = real;
            if (kind == ReferenceKind::Stylesheet) {
                source = Stylesheet(real, target, from.depth + 1);
                if (source.empty()) {
                    placed_.erase(real);
                    Reject(real, "the file cannot be read");
                    return Drop(from, address, "the file cannot be read");
                }
            }
            resources_.push_back(ManifestItem{source, StemToLastDot(FileNamePart(target)), target});
        }
        const std::string relative = RelativePath(FolderPart(from.bookPath), target);
        if (!query && relative == NormalizeRelative(rel)) return UrlEncoded(uri);  // as written
        return UrlEncoded(EpubBuilder::UriPath(relative) + (fragmentAllowed ? fragment : std::string()));
    }

    static bool Fits(ReferenceKind kind, const std::string &type, bool listed) {
        switch (kind) {
        case ReferenceKind::Link: return true;
        case ReferenceKind::Picture: return listed ? IsPictureType(type) : IsRasterPicture(type);
        case ReferenceKind::Stylesheet: return type == "text/css";
        case ReferenceKind::CssResource:
            return IsFontType(type) || (listed ? IsPictureType(type) : IsRasterPicture(type));
        }
        return false;
    }
    static std::string WrongKind(ReferenceKind kind) {
        switch (kind) {
        case ReferenceKind::Picture: return "it is not a PNG, JPEG or GIF picture";
        case ReferenceKind::Stylesheet: return "it is not a stylesheet (.css)";
        case ReferenceKind::CssResource: return "it is not a picture or a font a book can hold";
        case ReferenceKind::Link: break;
        }
        return "it cannot go into a book";
    }

    // The references of an XHTML element tree: links, pictures, stylesheet links, <style> blocks
    // and style attributes. What cannot be resolved goes: a link keeps its text, a picture or a
    // stylesheet link goes as a whole.
    void ResolveXhtml(xmlNode *n, const ReferenceResolver &resolve, bool &changed) {
        while (n) {
            xmlNode *next = n->next;
            if (n->type == XML_ELEMENT_NODE && n->ns && n->ns->href &&
                std::strcmp(reinterpret_cast<const char *>(n->ns->href), kXhtmlNs) == 0) {
                const std::string name = Name(n);
                bool remove = false;
                auto attribute = [&](const char *attr, ReferenceKind kind, bool removeElement) {
                    if (!xmlHasProp(n, BAD_CAST attr)) return;
                    const std::string value = Attribute(n, attr);
                    const std::string target = resolve(value, kind);
                    if (target == value) return;
                    changed = true;
                    if (!target.empty())
                        xmlSetProp(n, BAD_CAST attr, BAD_CAST target.c_str());
                    else if (removeElement)
                        remove = true;
                    else
                        xmlUnsetProp(n, BAD_CAST attr);
                };
                if (name == "a" || name == "area") attribute("href", ReferenceKind::Link, false);
                if (name == "img") attribute("src", ReferenceKind::Picture, true);
                if (name == "link") attribute("href", IsStylesheetLink(n) ? ReferenceKind::Stylesheet : ReferenceKind::Link, true);
                if (!remove && xmlHasProp(n, BAD_CAST "style")) {
                    const std::string css = Attribute(n, "style");
                    const std::string out = RewriteCssReferences(css, resolve);
                    if (out != css) {
                        changed = true;
                        xmlSetProp(n, BAD_CAST "style", BAD_CAST out.c_str());
                    }
                }
                if (!remove && IsCssStyle(n)) {
                    const std::string css = TextContent(n);
                    const std::string out = RewriteCssReferences(css, resolve);
                    if (out != css) {
                        changed = true;
                        while (n->children) {
                            xmlNode *c = n->children;
                            xmlUnlinkNode(c);
                            xmlFreeNode(c);
                        }
                        xmlAddChild(n, xmlNewDocText(n->doc, BAD_CAST out.c_str()));
                    }
                }
                if (remove) {
                    xmlUnlinkNode(n);
                    xmlFreeNode(n);
                } else {
                    ResolveXhtml(n->children, resolve, changed);
                }
            }
            n = next;
        }
    }

    void MendLinks(xmlNode *n, const Page &page, const std::unordered_map<std::string, std::set<std::string>> &ids,
                   bool &changed) {
        for (; n; n = n->next) {
            if (n->type != XML_ELEMENT_NODE) continue;
            const std::string name = Name(n);
            if ((name == "a" || name == "area") && xmlHasProp(n, BAD_CAST "href")) {
                const std::string href = Attribute(n, "href");
                const size_t hash = href.find('#');
                if (hash != std::string::npos && hash + 1 < href.size() && !HasUriScheme(href)) {
                    const std::string path = href.substr(0, hash);
                    const std::string target =
                        path.empty() ? page.bookPath : NormalizeRelative(FolderPart(page.bookPath) + PercentDecode(path));
                    const std::string fragment = PercentDecode(href.substr(hash + 1));
                    auto known = ids.find(target);
                    if (known != ids.end() && !known->second.count(fragment)) {
                        changed = true;
                        if (path.empty()) {
                            Tell(page.sourcePath + ": link \"" + href + "\" left out of the book: the document has no place \"" +
                                 fragment + "\"; its text stays.");
                            xmlUnsetProp(n, BAD_CAST "href");
                        } else {
                            Tell(page.sourcePath + ": link \"" + href + "\" goes to the start of " + target +
                                 ": that document has no place \"" + fragment + "\".");
                            xmlSetProp(n, BAD_CAST "href", BAD_CAST path.c_str());
                        }
                    }
                }
            }
            MendLinks(n->children, page, ids, changed);
        }
    }

    UserPrompt &prompt_;
    std::string staging_;
    int staged_ = 0;
    std::set<std::string> told_;
    std::set<std::string> files_, folders_;                    // claimed book paths (lower case)
    std::unordered_map<std::string, std::string> placed_;      // real path -> book path
    std::unordered_map<std::string, std::string> refused_;     // real path -> why it is left out
    std::vector<ManifestItem> resources_;                      // files taken in for references
};

// A page showing every picture, for a book without any document.
std::string PicturesPage(const std::string &title, const std::vector<ManifestItem> &pictures) {
    std::string body = "<body>\n";
    for (const ManifestItem &p : pictures) {
        const std::string path = p.bookPath.empty() ? FileNamePart(p.sourcePath) : p.bookPath;
        body += "<div><img src=\"" + XmlEscape(EpubBuilder::UriPath(path)) + "\" alt=\"" +
                XmlEscape(StemToLastDot(FileNamePart(p.sourcePath))) + "\"/></div>\n";
    }
    return PageFrame(title) + body + "</body>\n</html>\n";
}

} // namespace

BookBuildResult BookBuilderWorker(const ConversionOptions &options, const BookBuildRequest &request, RunState &run,
                                  UserPrompt &prompt, std::atomic<bool> *done, std::vector<std::string> *refusals,
                                  std::string *failure) {
    if (!done) return BookBuildResult::NoDoneFlag;
    // Why no book was made, when the reason is the disk: told through the prompt and kept.
    std::string failed;
    auto Fail = [&](const std::string &line) {
        if (line.empty() || line == failed) return;
        failed = line;
        prompt.Message(line);
        if (failure) *failure = line;
    };
    const std::string destination = !request.destination.empty()
                                        ? request.destination
                                        : BuilderDestination(options, request.firstListedPath, request.firstListedName);

    // Staging folder: the run's work root for the content files of a PDF; otherwise a fresh
    // folder of its own (never the temporary folder itself).
    std::vector<std::string> placeholders;
    std::string staging;
    if (request.fromPdfRun) {
        staging = run.workRoot;
    } else {
        std::string stem = NewRunStem(placeholders);
        if (!stem.empty()) {
            staging = TempFolder() + stem;
            DeleteFolderTree(staging);
            if (!CreateFolder(staging)) staging.clear();
        }
        if (staging.empty()) Fail(TempFolderProblem(TempFolder()));
    }
    BookBuildResult result = BookBuildResult::NotMade;
    if (!staging.empty()) {
        PackageJob pkg;
        bool titlePage = false;
        if (request.fromPdfRun) {
            // The program's own content files go in as they are.
            bool firstDocument = true;
            for (const BookFile &f : request.files) {
                const std::string name = FileNamePart(f.path);
                if (firstDocument && EpubBuilder::IsDocument(name)) {
                    firstDocument = false;
                    // Only a title page the program itself wrote is marked as one.
                    titlePage = options.createCover && name == TitlePageName(run.lastBookEpub3);
                }
                pkg.items.push_back(ManifestItem{f.path, f.title});
            }
        } else {
            BookAssembly book(prompt, staging);
            // What each listed file becomes, and its name in the book.
            struct Planned {
                std::string real;     // real path of the listed file
                std::string content;  // documents: what was read
                int kind = 0;         // 0 as it is, 1 text, 2 HTML, 3 XHTML, 4 stylesheet, -1 left out
                std::string name;     // name in the book
            };
            std::vector<Planned> plan(request.files.size());
            std::set<std::string> listed;
            // First the files that keep their names, so converted copies and the files the
            // documents refer to never take one of them.
            for (size_t i = 0; i < request.files.size(); ++i) {
                const BookFile &f = request.files[i];
                Planned &p = plan[i];
                const std::string name = FileNamePart(f.path);
                p.real = RealPath(f.path);
                if (p.real.empty() || !FileExists(p.real)) {
                    book.Refuse(f.path, "the file cannot be read", refusals);
                    p.kind = -1;
                    continue;
                }
                if (!listed.insert(p.real).second) {
                    book.Tell(f.path + ": listed more than once; it goes into the book once.");
                    p.kind = -1;
                    continue;
                }
                const std::string type = EpubBuilder::MediaType(name);
                if (IsTextFileName(name) || IsHtmlFileName(name)) {
                    if (!ReadFile(f.path, p.content)) {
                        book.Refuse(f.path, "the file cannot be read", refusals);
                        p.kind = -1;
                        continue;
                    }
                    p.kind = IsTextFileName(name) ? 1 : IsWellFormedXhtml(p.content) ? 3 : 2;
                } else if (IsPictureType(type)) {
                    std::string problem = PictureProblem(f.path);
                    if (!problem.empty()) {
                        book.Refuse(f.path, problem, refusals);
                        book.Reject(p.real, problem);
                        p.kind = -1;
                        continue;
                    }
                } else if (type == "text/css") {
                    p.kind = 4;
                }
                if (p.kind == 1 || p.kind == 2) continue;
                p.name = book.ClaimNear(name);
                book.Place(p.real, p.name);
            }
            for (Planned &p : plan) {
                if (p.kind != 1 && p.kind != 2) continue;
                p.name = book.ClaimNear(StemToLastDot(FileNamePart(p.real)) + (request.epub3 ? ".xhtml" : ".html"));
                book.Place(p.real, p.name);
            }

            // Then the documents and stylesheets with their references, in the book's order.
            std::vector<ManifestItem> pictures;
            bool anyDocument = false;
            // Document pages wait until every page is known (their links are checked against
            // each other); `pageItems` holds the index of each one's item, `pageUnchanged`
            // whether it is the listed file byte for byte.
            std::vector<BookAssembly::Page> pages;
            std::vector<size_t> pageItems;
            std::vector<bool> pageUnchanged;
            for (size_t i = 0; i < request.files.size(); ++i) {
                const BookFile &f = request.files[i];
                Planned &p = plan[i];
                if (p.kind < 0) continue;
                const BookAssembly::Origin origin{f.path, p.name, 0};
                std::string source = f.path;
                if (p.kind >= 1 && p.kind <= 3) {
                    const std::string page = p.kind == 1   ? TextToXhtml(p.content, f.title)
                                             : p.kind == 2 ? HtmlToXhtml(p.content, f.title, book.ResolverFor(origin))
                                                           : book.Xhtml(p.content, origin);
                    // Whatever the document held, no page goes into the book that a reader
                    // would refuse.
                    if (!IsUtf8(page) || !IsWellFormedXhtml(page)) {
                        book.Refuse(f.path, "it could not be made into a well-formed UTF-8 XHTML page", refusals);
                        continue;
                    }
                    pages.push_back(BookAssembly::Page{f.path, p.name, page, f.title});
                    pageItems.push_back(pkg.items.size());
                    pageUnchanged.push_back(p.kind == 3 && page == p.content);
                } else if (p.kind == 4) {
                    source = book.Stylesheet(f.path, p.name, 0);
                }
                if (source.empty()) {
                    book.Refuse(f.path, "its copy for the book cannot be written", refusals);
                    Fail(TempFolderProblem(staging));
                    continue;
                }
                ManifestItem item{source, f.title, p.name};
                anyDocument = anyDocument || EpubBuilder::IsDocument(p.name);
                if (IsPictureType(EpubBuilder::MediaType(p.name))) pictures.push_back(item);
                pkg.items.push_back(std::move(item));
            }
            // The pages are staged once their links are mended; one that cannot be written
            // leaves the book.
            const std::vector<bool> mended = book.FinishPages(pages, request.epub3);
            std::vector<bool> unwritten(pkg.items.size(), false);
            for (size_t k = 0; k < pages.size(); ++k) {
                if (pageUnchanged[k] && !mended[k]) continue;  // the listed file goes in as it is
                const std::string staged = book.Stage(pages[k].bookPath, pages[k].content);
                if (staged.empty()) {
                    book.Refuse(pages[k].sourcePath, "its copy for the book cannot be written", refusals);
                    Fail(TempFolderProblem(staging));
                    unwritten[pageItems[k]] = true;
                    continue;
                }
                pkg.items[pageItems[k]].sourcePath = staged;
            }
            if (std::find(unwritten.begin(), unwritten.end(), true) != unwritten.end()) {
                std::vector<ManifestItem> kept;
                anyDocument = false;
                for (size_t k = 0; k < pkg.items.size(); ++k) {
                    if (unwritten[k]) continue;
                    anyDocument = anyDocument || EpubBuilder::IsDocument(pkg.items[k].bookPath);
                    kept.push_back(std::move(pkg.items[k]));
                }
                pkg.items = std::move(kept);
            }
            for (const ManifestItem &r : book.Resources()) pkg.items.push_back(r);

            // Without any document the reading order would be empty: a page shows the pictures.
            if (!anyDocument && !pictures.empty()) {
                const std::string title = request.metadata.title.empty() ? std::string("Pictures") : request.metadata.title;
                const std::string name = book.ClaimNear(request.epub3 ? "pictures.xhtml" : "pictures.html");
                std::vector<BookAssembly::Page> only{{std::string(), name, PicturesPage(title, pictures), title}};
                book.FinishPages(only, request.epub3);
                const std::string page = book.Stage(name, only.front().content);
                if (!page.empty()) {
                    pkg.items.insert(pkg.items.begin(), ManifestItem{page, title, name});
                    anyDocument = true;
                } else {
                    Fail(TempFolderProblem(staging));
                }
            }
            if (!anyDocument) {
                if (failed.empty())  // else the disk was named already
                    prompt.Message("No book was made: none of the files is a document or a picture a book can show.");
                pkg.items.clear();
            }
        }

        BookMetadata metadata = request.metadata;
        pkg.epubPath = destination;
        pkg.stagingFolder = staging;
        pkg.metadata = &metadata;
        pkg.deleteSources = request.fromPdfRun;
        pkg.titlePageFlag = titlePage ? 1 : 0;
        pkg.coverMeta = options.compatibleKindle != 0;
        pkg.useNavPointsFile = options.importBookmarksToToc != 0;
        pkg.navPointsFile = request.fromPdfRun ? run.lastNavPointsFile : std::string();
        // A converted PDF's files were written for their language and package version; the
        // user's own documents make an EPUB 2 book unless an EPUB 3 one was asked for.
        if (request.fromPdfRun) {
            pkg.language = run.lastBookLanguage;
            pkg.epub3 = run.lastBookEpub3;
        } else {
            pkg.epub3 = request.epub3;
        }

        const std::string staged = WithTrailingSlash(staging) + FileNamePart(destination);
        std::remove(staged.c_str());  // only a book built now may be placed
        EpubBuilder builder(prompt);
        const bool packed = !pkg.items.empty();
        const EpubBuildResult rc = packed ? builder.Build(&pkg, true) : EpubBuildResult::Ok;
        if (packed && rc == EpubBuildResult::Ok && FileExists(staged)) {
            // The finished book takes its name in one step, so the name never shows a
            // half-written book; an existing book of that name is replaced, as the builder always
            // did.
            int error = 0;
            if (PlaceFile(staged, destination, true, &error) == PlaceResult::kPlaced) {
                run.producedBooks.push_back(destination);
                run.successCount = 1;
                run.lastOutputPath = destination;
                result = BookBuildResult::Made;
            } else {
                Fail("The book could not be written to " + destination + ": " + SystemErrorText(error) + ".");
            }
        } else if (packed) {
            LogError("the book '" + destination + "' could not be built (" + std::to_string(static_cast<int>(rc)) +
                     ")");
            Fail(TempFolderProblem(staging));
        }
        DeleteFolderTree(staging);
    }
    for (const std::string &p : placeholders) std::remove(p.c_str());
    if (request.fromPdfRun && !run.lastNavPointsFile.empty()) std::remove(run.lastNavPointsFile.c_str());
    done->store(true);
    return result;
}

} // namespace qm
