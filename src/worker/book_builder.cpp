#include "worker/book_builder.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <unordered_map>

#include "platform/log.h"
#include "platform/paths.h"

namespace qm {
namespace {

constexpr const char *kXhtmlNs = "http://www.w3.org/1999/xhtml";

std::string LowerExtension(const std::string &name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return std::string();
    std::string ext = name.substr(dot + 1);
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

std::string StemToLastDot(const std::string &name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string PageFrame(const std::string &title) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE html  PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" \"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n<title>" +
           EpubBuilder::XmlEscape(title) +
           "</title>\n"
           "<meta http-equiv=\"Content-Type\" content=\"application/xhtml+xml; charset=utf-8\"/>\n"
           "</head>\n";
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
    const std::function<std::string(const std::string &, bool)> *resolve = nullptr;

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
            std::string value = v ? reinterpret_cast<const char *>(v) : "";
            xmlFree(v);
            bool keep = kCommonAttributes.count(an) || (own != kOwnAttributes.end() && own->second.count(an));
            if (an == "id" && !ValidId(value)) keep = false;
            if (an == "dir" && value != "ltr" && value != "rtl") keep = false;
            if (name == "a" && an == "name") anchorName = value;
            if (keep && (an == "href" || an == "src") && resolve && *resolve) {
                std::string target = (*resolve)(value, an == "src");
                if (target.empty())
                    keep = false;
                else if (target != value)
                    xmlSetProp(e, a->name, BAD_CAST target.c_str());
            }
            if (!keep) xmlRemoveProp(a);
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
            } else if (c->type != XML_TEXT_NODE && c->type != XML_CDATA_SECTION_NODE) {
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

bool HasUriScheme(const std::string &uri) {
    size_t colon = uri.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        char c = uri[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                  (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
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
    std::string text = input;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::string body;
    std::string paragraph;
    auto flush = [&] {
        if (!paragraph.empty()) body += "<p>" + EpubBuilder::XmlEscape(paragraph) + "</p>\n";
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

std::string HtmlToXhtml(const std::string &html, const std::string &title,
                        const std::function<std::string(const std::string &, bool)> &resolveLink) {
    xmlInitParser();
    std::string body = "<body>\n<p></p>\n</body>\n";
    htmlDocPtr doc = nullptr;
    if (html.size() < static_cast<size_t>(INT32_MAX))
        doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, nullptr,
                             HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (doc) {
        xmlNode *src = FindBody(xmlDocGetRootElement(doc));
        if (src) {
            Sanitizer s;
            s.resolve = &resolveLink;
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
    return PageFrame(title) + body + "</html>\n";
}

int BookBuilderWorker(const ConversionOptions &options, const BookBuildRequest &request, RunState &run,
                      UserPrompt &prompt, std::atomic<bool> *done) {
    if (!done) return -1;
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
    }
    int result = -1;
    if (!staging.empty()) {
        const std::string converted = staging + "/converted/";
        // Final file names in the book, so converted copies and pictures never take a name twice.
        std::set<std::string> usedNames;
        for (const BookFile &f : request.files) usedNames.insert(FileNamePart(f.path));
        auto uniqueName = [&](const std::string &wanted) {
            std::string name = wanted;
            for (int k = 2; usedNames.count(name); ++k)
                name = StemToLastDot(wanted) + "-" + std::to_string(k) + "." + LowerExtension(wanted);
            usedNames.insert(name);
            return name;
        };

        // First pass: what each document becomes, and its name in the book.
        struct Planned {
            std::string source;   // file that goes into the book
            std::string content;  // documents to convert
            int kind = 0;         // 0 as it is, 1 text, 2 HTML
            std::string name;     // name in the book
        };
        std::vector<Planned> plan(request.files.size());
        std::unordered_map<std::string, std::string> byRealPath;  // real path -> name in the book
        bool titlePage = false;
        bool firstDocument = true;
        for (size_t i = 0; i < request.files.size(); ++i) {
            const BookFile &f = request.files[i];
            const std::string name = FileNamePart(f.path);
            Planned &p = plan[i];
            p.source = f.path;
            p.name = name;
            const bool isText = IsTextFileName(name), isHtml = IsHtmlFileName(name);
            if (firstDocument && (isText || isHtml)) {
                firstDocument = false;
                // Only a title page the program itself wrote is marked as one.
                titlePage = request.fromPdfRun && options.createCover && name == "title_page.html";
            }
            if (!request.fromPdfRun && (isText || isHtml) && ReadFile(f.path, p.content)) {
                p.kind = isText ? 1 : (IsWellFormedXhtml(p.content) ? 0 : 2);
                if (p.kind != 0) {
                    usedNames.erase(name);
                    p.name = uniqueName(StemToLastDot(name) + ".html");
                }
            }
            if (p.kind == 0) p.content.clear();
            if (char *real = realpath(f.path.c_str(), nullptr)) {
                byRealPath.emplace(real, p.name);
                std::free(real);
            }
        }

        // Addresses in converted HTML: links to files of the book get their names in the book,
        // pictures the page shows are taken into the book, anything else local is dropped (it
        // would point nowhere inside the book).
        std::vector<ManifestItem> pictures;
        bool madeFolder = false;
        auto ensureFolder = [&] {
            if (!madeFolder) madeFolder = CreateFolder(converted) || FolderExists(converted);
            return madeFolder;
        };
        auto resolver = [&](const std::string &folder) {
            return [&, folder](const std::string &uri, bool picture) -> std::string {
                if (uri.empty() || uri[0] == '#') return uri;
                if (HasUriScheme(uri)) return picture ? std::string() : uri;
                size_t cut = uri.find_first_of("?#");
                std::string fragment = cut != std::string::npos && uri[cut] == '#' ? uri.substr(cut) : std::string();
                std::string rel = PercentDecode(uri.substr(0, cut));
                if (rel.empty()) return std::string();
                std::string full = rel[0] == '/' ? rel : folder + rel;
                char *real = realpath(full.c_str(), nullptr);
                if (!real) return std::string();
                std::string key = real;
                std::free(real);
                auto it = byRealPath.find(key);
                if (it != byRealPath.end()) return it->second + (picture ? std::string() : fragment);
                std::string ext = LowerExtension(key);
                if (!picture || !(ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "gif")) return std::string();
                if (!ensureFolder()) return std::string();
                std::string name = uniqueName(FileNamePart(key));
                if (!CopyFileReplacing(key, converted + name)) return std::string();
                pictures.push_back(ManifestItem{converted + name, StemToLastDot(name)});
                byRealPath.emplace(key, name);
                return name;
            };
        };

        PackageJob pkg;
        for (size_t i = 0; i < request.files.size(); ++i) {
            const BookFile &f = request.files[i];
            Planned &p = plan[i];
            if (p.kind != 0) {
                std::string page = p.kind == 1 ? TextToXhtml(p.content, f.title)
                                               : HtmlToXhtml(p.content, f.title, resolver(FolderPart(f.path)));
                p.source = converted + p.name;
                if (!ensureFolder() || !WriteFile(p.source, page)) {
                    LogError("cannot write '" + p.source + "'");
                    continue;
                }
            }
            pkg.items.push_back(ManifestItem{p.source, f.title});
        }
        for (ManifestItem &p : pictures) pkg.items.push_back(p);

        BookMetadata metadata = request.metadata;
        pkg.epubPath = destination;
        pkg.stagingFolder = staging;
        pkg.metadata = &metadata;
        pkg.deleteSources = request.fromPdfRun;
        pkg.titlePageFlag = titlePage ? 1 : 0;
        pkg.coverMeta = options.compatibleKindle != 0;
        pkg.useNavPointsFile = options.importBookmarksToToc != 0;
        pkg.navPointsFile = request.fromPdfRun ? run.lastNavPointsFile : std::string();

        const std::string staged = WithTrailingSlash(staging) + FileNamePart(destination);
        std::remove(staged.c_str());
        EpubBuilder builder(prompt);
        int rc = pkg.items.empty() ? -1 : builder.Build(&pkg, true);
        if (rc == EpubBuilder::kOk && FileExists(staged) && CopyFileReplacing(staged, destination)) {
            run.producedBooks.push_back(destination);
            run.successCount = 1;
            run.lastOutputPath = destination;
            result = 0;
        } else {
            LogError("the book '" + destination + "' could not be made");
        }
        DeleteFolderTree(staging);
    }
    for (const std::string &p : placeholders) std::remove(p.c_str());
    if (request.fromPdfRun && !run.lastNavPointsFile.empty()) std::remove(run.lastNavPointsFile.c_str());
    done->store(true);
    return result;
}

} // namespace qm
