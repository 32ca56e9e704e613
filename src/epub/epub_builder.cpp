#include "epub/epub_builder.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <random>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "epub/zip_writer.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/utf8.h"
#include "platform/xml_text.h"
#include "options/reading_options.h"
#include "xhtml/book_names.h"

namespace qm {
namespace {

struct Entry {
    std::string name;      // file name in OPS/
    std::string source;    // where it comes from
    std::string label;     // navigation label
    std::string id;        // final manifest id
    std::string mediaType;
    bool document = false;
    bool titlePage = false;
};

// XML 1.0 (fifth edition) name characters, without the colon.
bool IsNameStart(uint32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}
bool IsNameChar(uint32_t c) {
    return IsNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

std::string Href(const std::string &name) { return XmlEscape(EpubBuilder::UriPath(name)); }

// The name of an item inside OPS: its book path, or its file name. A book path must stay inside
// OPS: no empty, "." or ".." parts and no leading "/"; "" when it does not.
std::string ItemName(const ManifestItem &item) {
    if (item.bookPath.empty()) return FileNamePart(item.sourcePath);
    size_t start = 0;
    while (true) {
        size_t slash = item.bookPath.find('/', start);
        std::string part = item.bookPath.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..") return std::string();
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return item.bookPath;
}

std::string TodayLocal() {
    time_t now = time(nullptr);
    struct tm tm;
    char buf[32] = "1980-01-01";
    if (localtime_r(&now, &tm)) std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
    return buf;
}

// The moment the package is written, in UTC, as an EPUB 3 modification time wants it.
std::string NowUtc() {
    time_t now = time(nullptr);
    struct tm tm;
    char buf[32] = "1980-01-01T00:00:00Z";
    if (gmtime_r(&now, &tm)) std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// One entry of the navigation document: its label, its target (already a URI reference) and the
// entries below it.
struct NavEntry {
    std::string label;
    std::string href;
    std::vector<NavEntry> children;
};

// Nesting deeper than this is left out of the navigation document (the outline writer stops far
// earlier; this only bounds the walk over a file it did not write).
constexpr int kMaxNavDepth = 64;

std::string NodeText(xmlNode *node) {
    xmlChar *text = xmlNodeGetContent(node);
    std::string out = text ? reinterpret_cast<const char *>(text) : "";
    xmlFree(text);
    return out;
}

xmlNode *ChildElement(xmlNode *parent, const char *name) {
    for (xmlNode *c = parent->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && xmlStrEqual(c->name, BAD_CAST name)) return c;
    return nullptr;
}

void ReadNavPoints(xmlNode *parent, std::vector<NavEntry> &out, int depth) {
    if (depth > kMaxNavDepth) return;
    for (xmlNode *c = parent->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE || !xmlStrEqual(c->name, BAD_CAST "navPoint")) continue;
        NavEntry e;
        xmlNode *label = ChildElement(c, "navLabel");
        xmlNode *text = label ? ChildElement(label, "text") : nullptr;
        if (text) e.label = NodeText(text);
        xmlNode *content = ChildElement(c, "content");
        xmlChar *src = content ? xmlGetProp(content, BAD_CAST "src") : nullptr;
        if (src) e.href = reinterpret_cast<const char *>(src);
        xmlFree(src);
        ReadNavPoints(c, e.children, depth + 1);
        // A point without a target says nothing a reader can follow; its children still count.
        if (e.href.empty()) {
            for (NavEntry &child : e.children) out.push_back(std::move(child));
            continue;
        }
        out.push_back(std::move(e));
    }
}

// The navPoint elements of a navigation points file as entries; empty when the text is not a
// well-formed sequence of them.
std::vector<NavEntry> ParseNavPoints(const std::string &fragment) {
    std::vector<NavEntry> out;
    const std::string doc = "<navMap>" + fragment + "</navMap>";
    if (doc.size() > static_cast<size_t>(INT32_MAX)) return out;
    xmlDoc *xml = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), "navpoints.xml", "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!xml) return out;
    if (xmlNode *root = xmlDocGetRootElement(xml)) ReadNavPoints(root, out, 0);
    xmlFreeDoc(xml);
    return out;
}

// A label a reader can show and select: the text itself, or the target's file name when the text
// is blank (an empty link is invalid in a navigation document).
std::string ShownLabel(const NavEntry &e) {
    if (e.label.find_first_not_of(" \t\r\n") != std::string::npos) return e.label;
    const size_t hash = e.href.find('#');
    return FileNamePart(e.href.substr(0, hash));
}

void WriteNavList(std::string &out, const std::vector<NavEntry> &entries, const std::string &indent) {
    out += indent + "<ol>\n";
    for (const NavEntry &e : entries) {
        out += indent + "  <li><a href=\"" + XmlEscape(e.href) + "\">" + XmlEscape(ShownLabel(e)) + "</a>";
        if (!e.children.empty()) {
            out += "\n";
            WriteNavList(out, e.children, indent + "    ");
            out += indent + "  ";
        }
        out += "</li>\n";
    }
    out += indent + "</ol>\n";
}

// The navigation document of an EPUB 3 book.
// `lang` and `title` are escaped already.
std::string NavDocument(const std::vector<NavEntry> &entries, const std::string &lang, const std::string &title) {
    std::string out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n";
    out += "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\" xml:lang=\"" +
           lang + "\" lang=\"" + lang + "\">\n";
    out += "<head>\n<title>" + (title.empty() ? std::string("Contents") : title) + "</title>\n</head>\n<body>\n";
    out += "<nav epub:type=\"toc\" id=\"toc\">\n<h1>Contents</h1>\n";
    WriteNavList(out, entries, "");
    out += "</nav>\n</body>\n</html>\n";
    return out;
}

// Writes a package file; carriage returns never reach it (line ends are line feeds only).
bool WritePackageFile(const std::string &path, std::string text) {
    if (text.find('\r') != std::string::npos) std::erase(text, '\r');
    return WriteFile(path, text);
}

bool SameFile(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Gives every entry a manifest id: the name before its first dot when that is a valid id not taken
// yet; otherwise a prefix (the name's own id, or "item") with the first free numeric suffix.
// "ncx" and "title" are reserved (and "nav" in an EPUB 3 book); the title page gets "title".
void AssignIds(std::vector<Entry> &entries, const std::vector<std::string> &rawIds, bool reserveNav) {
    std::set<std::string> used = {"ncx", "title"};
    if (reserveNav) used.insert("nav");
    std::set<std::string> wanted(rawIds.begin(), rawIds.end()); // not handed out as derived ids
    for (size_t i = 0; i < entries.size(); ++i) {
        Entry &e = entries[i];
        if (e.titlePage) {
            e.id = "title";
            continue;
        }
        const std::string &raw = rawIds[i];
        const bool valid = EpubBuilder::IsXmlId(raw);
        if (valid && used.insert(raw).second) {
            e.id = raw;
            continue;
        }
        const std::string prefix = valid ? raw + "-" : std::string("item-");
        for (unsigned n = 1;; ++n) {
            std::string candidate = prefix + std::to_string(n);
            if (!used.count(candidate) && !wanted.count(candidate)) {
                used.insert(candidate);
                e.id = candidate;
                break;
            }
        }
    }
}

} // namespace

std::string EpubBuilder::UriPath(const std::string &path) {
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        const bool plain = c >= 0x80 || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           std::string_view("-._~!$&'()*+,;=@/").find(static_cast<char>(c)) != std::string_view::npos;
        if (plain)
            out += static_cast<char>(c);
        else
            AppendPercentEscape(out, c);
    }
    return out;
}

std::string EpubBuilder::MediaType(const std::string &fileName) {
    const std::string ext = LowerExtension(fileName);
    if (ext == "html" || ext == "htm" || ext == "xml" || ext == "xhtml" || ext == "txt") return "application/xhtml+xml";
    if (ext == "jpeg" || ext == "jpg") return "image/jpeg";
    if (ext == "gif") return "image/gif";
    if (ext == "png") return "image/png";
    if (ext == "css") return "text/css";
    if (ext == "svg") return "image/svg+xml";
    if (ext == "ttf") return "font/ttf";
    if (ext == "otf") return "font/otf";
    if (ext == "woff") return "font/woff";
    if (ext == "woff2") return "font/woff2";
    if (ext == "js") return "text/javascript";
    if (ext == "xpgt") return "application/vnd.adobe-page-template+xml";
    return "application/octet-stream";
}

bool EpubBuilder::IsDocument(const std::string &fileName) {
    const std::string ext = LowerExtension(fileName);
    return ext == "html" || ext == "htm" || ext == "xml" || ext == "xhtml" || ext == "txt";
}

bool EpubBuilder::IsXmlId(const std::string &id) {
    if (id.empty()) return false;
    for (size_t i = 0; i < id.size();) {
        uint32_t cp;
        size_t len = DecodeUtf8(id, i, cp);
        if (len == 0) return false;
        if (i == 0 ? !IsNameStart(cp) : !IsNameChar(cp)) return false;
        i += len;
    }
    return true;
}

std::string EpubBuilder::NewIdentifier() {
    std::random_device rd;
    unsigned char b[16];
    for (int i = 0; i < 16; i += 4) {
        uint32_t r = rd();
        for (int k = 0; k < 4; ++k) b[i + k] = static_cast<unsigned char>(r >> (8 * k));
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40); // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80); // RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return std::string("urn:uuid:") + text;
}

EpubBuildResult EpubBuilder::Build(const PackageJob *job, bool createZip) {
    if (!job) return EpubBuildResult::Ok;
    static const BookMetadata kNoMetadata;
    const BookMetadata &meta = job->metadata ? *job->metadata : kNoMetadata;
    const std::string staging = WithTrailingSlash(job->stagingFolder);
    const std::string ops = staging + "OPS/";

    // 1, 2. Staging folder and mimetype.
    if (staging.empty() || !CreateFolders(staging) ||
        !WritePackageFile(staging + "mimetype", "application/epub+zip")) {
        LogError("Cannot write the book's mimetype file in \"" + staging + "\"");
        return EpubBuildResult::MimetypeFailed;
    }

    // 3. META-INF/container.xml.
    CreateFolder(staging + "META-INF");
    if (!WritePackageFile(staging + "META-INF/container.xml",
                          "<?xml version='1.0' encoding='utf-8'?>\n"
                          "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
                          "  <rootfiles>\n"
                          " <rootfile full-path=\"OPS/content.opf\" media-type=\"application/oebps-package+xml\"/>\n"
                          "  </rootfiles>\n"
                          "</container>\n")) {
        LogError("Cannot write META-INF/container.xml in \"" + staging + "\"");
        return EpubBuildResult::ContainerFailed;
    }

    // The items, once per file name (a name listed again adds nothing: its file would only
    // overwrite the first one and repeat a manifest entry).
    std::vector<Entry> entries;
    std::vector<std::string> rawIds;
    std::set<std::string> names;
    bool titleTaken = false;
    for (const ManifestItem &item : job->items) {
        Entry e;
        e.name = ItemName(item);
        if (e.name.empty() && !item.bookPath.empty()) {
            LogError("\"" + item.bookPath + "\" is not a path inside the book");
            return EpubBuildResult::CopyFailed;
        }
        if (!names.insert(e.name).second) {
            LogWarning("\"" + item.sourcePath + "\" has the name of an earlier file of the book and is left out");
            continue;
        }
        e.source = item.sourcePath;
        e.label = item.label;
        e.document = IsDocument(e.name);
        e.mediaType = MediaType(e.name);
        if (job->titlePageFlag == 1 && e.document && !titleTaken) e.titlePage = titleTaken = true;
        const std::string fileName = FileNamePart(e.name);
        size_t dot = fileName.find('.');
        rawIds.push_back(dot == std::string::npos ? std::string() : fileName.substr(0, dot));
        entries.push_back(std::move(e));
    }

    // 4. Copy the content files into OPS.
    CreateFolder(ops);
    for (const Entry &e : entries) {
        const std::string target = ops + e.name;
        if (e.name.empty() || !FileExists(e.source)) {
            LogError("Cannot copy \"" + e.source + "\" into the book: the file does not exist");
            return EpubBuildResult::CopyFailed;
        }
        if (SameFile(e.source, target)) continue;
        if (!CreateFolders(FolderPart(target))) {
            LogError("Cannot copy \"" + e.source + "\" into \"" + ops + "\"");
            return EpubBuildResult::CopyFailed;
        }
        // A source that goes once the package exists is moved when it can be (the same file
        // system): the book's files are then not written twice.
        if (job->deleteSources && rename(e.source.c_str(), target.c_str()) == 0) continue;
        if (!CopyFileReplacing(e.source, target)) {
            LogError("Cannot copy \"" + e.source + "\" into \"" + ops + "\"");
            return EpubBuildResult::CopyFailed;
        }
    }

    AssignIds(entries, rawIds, job->epub3);
    const std::string identifier = NewIdentifier();
    const std::string title = XmlEscape(meta.title);
    const std::string creator = XmlEscape(meta.creator);
    const std::string subject = XmlEscape(meta.subject);

    const std::string language = XmlEscape(job->language.empty() ? std::string(kDefaultBookLanguage) : job->language);

    // The cover picture is the item first named "cover" (a picture rather than a page when both
    // exist).
    const Entry *cover = nullptr;
    for (size_t i = 0; i < entries.size() && !cover; ++i)
        if (rawIds[i] == "cover" && !entries[i].document) cover = &entries[i];
    for (size_t i = 0; i < entries.size() && !cover; ++i)
        if (rawIds[i] == "cover") cover = &entries[i];

    // The navigation document of an EPUB 3 book gets a name no content file has.
    std::string navName;
    if (job->epub3) {
        navName = "nav.xhtml";
        for (int n = 2; names.count(navName); ++n) navName = "nav-" + std::to_string(n) + ".xhtml";
    }
    std::string navPoints;
    if (job->useNavPointsFile && !job->navPointsFile.empty()) ReadFile(job->navPointsFile, navPoints);

    // 5. content.opf.
    std::string opf;
    opf.reserve(2048 + entries.size() * 128);
    opf += "<?xml version='1.0' encoding='utf-8'?>\n";
    if (job->epub3) {
        opf += "<package xmlns=\"http://www.idpf.org/2007/opf\" unique-identifier=\"EPB-UUID\" version=\"3.0\">\n";
        opf += "  <metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n";
        opf += "    <dc:title>" + (title.empty() ? std::string("none") : title) + "</dc:title>\n";
        // An empty creator element is invalid here: without a creator there is none.
        if (!creator.empty()) {
            opf += "    <dc:creator id=\"creator\">" + creator + "</dc:creator>\n";
            opf += "    <meta refines=\"#creator\" property=\"role\" scheme=\"marc:relators\">aut</meta>\n";
            opf += "    <meta refines=\"#creator\" property=\"file-as\">" + creator + "</meta>\n";
        }
        opf += "    <dc:subject>" + (subject.empty() ? std::string("none") : subject) + "</dc:subject>\n";
        opf += "    <dc:contributor id=\"contributor\">" + (title.empty() ? std::string("none") : title) +
               "</dc:contributor>\n";
        opf += "    <meta refines=\"#contributor\" property=\"role\" scheme=\"marc:relators\">bkp</meta>\n";
        opf += "    <dc:language>" + language + "</dc:language>\n";
        opf += "    <dc:identifier id=\"EPB-UUID\">" + identifier + "</dc:identifier>\n";
        opf += "    <dc:date>" + TodayLocal() + "</dc:date>\n";
        opf += "    <meta property=\"dcterms:modified\">" + NowUtc() + "</meta>\n";
        if (job->coverMeta && cover) opf += "    <meta name=\"cover\" content=\"" + XmlEscape(cover->id) + "\" />\n";
        opf += "  </metadata>\n";
        opf += "  <manifest>\n";
        opf += "    <item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\" />\n";
        opf += "    <item id=\"nav\" href=\"" + Href(navName) + "\" media-type=\"application/xhtml+xml\" properties=\"nav\" />\n";
        for (const Entry &e : entries) {
            opf += "    <item id=\"" + e.id + "\" href=\"" + Href(e.name) + "\" media-type=\"" + e.mediaType + "\"";
            if (&e == cover && e.mediaType.starts_with("image/")) opf += " properties=\"cover-image\"";
            opf += " />\n";
        }
        opf += "  </manifest>\n";
    } else {
        opf += "<package xmlns=\"http://www.idpf.org/2007/opf\" unique-identifier=\"EPB-UUID\" version=\"2.0\">\n";
        opf += "  <metadata xmlns:opf=\"http://www.idpf.org/2007/opf\"  xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n";
        opf += "    <dc:title>" + (title.empty() ? std::string("none") : title) + "</dc:title>\n";
        opf += "    <dc:creator opf:role=\"aut\" opf:file-as=\"";
        opf += creator.empty() ? std::string("none") : creator;
        opf += "\">";
        opf += creator;
        opf += "</dc:creator>\n";
        opf += "    <dc:subject>" + (subject.empty() ? std::string("none") : subject) + "</dc:subject>\n";
        opf += "    <dc:contributor opf:role=\"bkp\">" + (title.empty() ? std::string("none") : title) + "</dc:contributor>\n";
        opf += "    <dc:language>" + language + "</dc:language>\n";
        opf += "    <dc:identifier id=\"EPB-UUID\">" + identifier + "</dc:identifier>\n";
        opf += "    <dc:date opf:event=\"original-publication\">" + TodayLocal() + "</dc:date>\n";
        // The meta names the cover's manifest id, whatever id it ended up with.
        if (job->coverMeta) opf += "    <meta name=\"cover\" content=\"" + XmlEscape(cover ? cover->id : std::string("cover")) + "\" />\n";
        opf += "   </metadata>\n";
        opf += "   <manifest>\n";
        opf += "   <item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\" />\n";
        for (const Entry &e : entries)
            opf += "  <item id=\"" + e.id + "\" href=\"" + Href(e.name) + "\" media-type=\"" + e.mediaType + "\" />\n ";
        opf += " </manifest>\n";
    }
    opf += " <spine toc=\"ncx\">\n";
    const Entry *titlePage = nullptr;
    for (const Entry &e : entries) {
        if (!e.document) continue;
        if (e.titlePage) {
            titlePage = &e;
            opf += "  <itemref idref=\"" + e.id + "\" linear=\"no\" />\n ";
        } else {
            opf += "   <itemref idref=\"" + e.id + "\" linear=\"yes\" />\n ";
        }
    }
    opf += "   </spine>\n";
    // Without a document there is no title page to point to, and an empty reference is invalid.
    if (titlePage) {
        opf += "   <guide>\n";
        opf += "   <reference href=\"" + Href(titlePage->name) + "\" type=\"cover\" title=\"title\" />\n ";
        opf += " </guide>\n";
    }
    opf += "</package>\n";
    if (!WritePackageFile(ops + "content.opf", opf)) {
        LogError("Cannot write OPS/content.opf in \"" + staging + "\"");
        return EpubBuildResult::OpfFailed;
    }

    // 6. toc.ncx.
    std::string ncx;
    ncx.reserve(1024 + entries.size() * 160);
    ncx += "<?xml version='1.0' encoding='utf-8'?>\n";
    // EPUB 3 readers refuse a document type with external identifiers; the NCX there has none.
    if (!job->epub3)
        ncx += "<!DOCTYPE ncx PUBLIC \"-//NISO//DTD ncx 2005-1//EN\" \"http://www.daisy.org/z3986/2005/ncx-2005-1.dtd\">\n";
    ncx += "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" xml:lang=\"" + language + "\">\n";
    ncx += " <head>\n";
    ncx += "\t\t<meta name=\"dtb:uid\" content=\"" + identifier + "\" />\n";
    ncx += "\t\t<meta name=\"dtb:generator\" content=\"(none)\"/>\n";
    ncx += "\t\t<meta name=\"dtb:depth\" content=\"1\" />\n";
    ncx += "\t\t<meta name=\"dtb:totalPageCount\" content=\"0\" />\n";
    ncx += "\t\t<meta name=\"dtb:maxPageNumber\" content=\"0\" />\n";
    ncx += " </head>\n";
    ncx += " <docTitle>\n";
    ncx += "\t\t<text>" + title + "</text>\n";
    ncx += " </docTitle>\n";
    ncx += " <navMap>\n";
    if (!navPoints.empty()) {
        ncx += navPoints;
    } else {
        int n = 0;
        for (const Entry &e : entries) {
            if (!e.document) continue;
            ++n;
            ncx += "\t\t<navPoint id=\"navPoint-" + std::to_string(n) + "\" playOrder=\"" + std::to_string(n) + "\">\n";
            ncx += " \t\t\t<navLabel>\n\t\t\t\t<text>" + XmlEscape(e.label) + "</text>\n\t\t\t</navLabel>\n";
            ncx += "\t\t\t<content src=\"" + Href(e.name) + "\" />\n\t\t</navPoint>\n";
        }
    }
    ncx += " </navMap>\n";
    ncx += "</ncx>\n";
    if (!WritePackageFile(ops + "toc.ncx", ncx)) {
        LogError("Cannot write OPS/toc.ncx in \"" + staging + "\"");
        return EpubBuildResult::NcxFailed;
    }

    // 6b. The navigation document: the NCX's points, or one per document as the NCX has them.
    if (job->epub3) {
        std::vector<NavEntry> nav = navPoints.empty() ? std::vector<NavEntry>() : ParseNavPoints(navPoints);
        if (nav.empty()) {
            for (const Entry &e : entries)
                if (e.document) nav.push_back(NavEntry{e.label, UriPath(e.name), {}});
        }
        if (!WritePackageFile(ops + navName, NavDocument(nav, language, title))) {
            LogError("Cannot write OPS/" + navName + " in \"" + staging + "\"");
            return EpubBuildResult::NcxFailed;
        }
    }

    // 7. Remove the sources, never the copies inside OPS.
    if (job->deleteSources) {
        for (const ManifestItem &item : job->items) {
            const std::string target = ops + ItemName(item);
            if (SameFile(item.sourcePath, target)) continue;
            if (unlink(item.sourcePath.c_str()) != 0 && errno != ENOENT) {
                LogError("Cannot delete \"" + item.sourcePath + "\"");
                return EpubBuildResult::DeleteFailed;
            }
        }
    }

    // 8. Names in the archive are relative to the staging folder.
    if (!FolderExists(staging) || access(staging.c_str(), X_OK) != 0) {
        LogError("The staging folder \"" + staging + "\" cannot be used");
        return EpubBuildResult::NcxFailed;
    }
    if (!createZip) return EpubBuildResult::Ok;

    // 9. The container: mimetype first and stored, everything else deflated at level 8.
    ZipWriter zip;
    const std::string bookName = FileNamePart(job->epubPath);
    int rc = bookName.empty() ? ZipWriter::kCreateFailed : zip.Create(bookName, staging);
    if (rc == ZipWriter::kOk) {
        rc = zip.AddFile("mimetype", 0);
        if (rc >= 0) rc = zip.AddFile("META-INF/container.xml", 8);
        if (rc >= 0) rc = zip.AddFile("OPS/content.opf", 8);
        if (rc >= 0) rc = zip.AddFile("OPS/toc.ncx", 8);
        if (rc >= 0 && !navName.empty()) rc = zip.AddFile("OPS/" + navName, 8);
        for (size_t i = 0; i < entries.size() && rc >= 0; ++i) rc = zip.AddFile("OPS/" + entries[i].name, 8);
        rc = rc >= 0 ? zip.Close() : rc;
    }
    if (rc < 0) {
        zip.Discard();
        LogError("Cannot write the book \"" + staging + bookName + "\" (ZIP error " + std::to_string(rc) + ")");
        prompt_.Message("Create Zip file failed");
        return EpubBuildResult::ZipFailed;
    }
    return EpubBuildResult::Ok;
}

} // namespace qm
