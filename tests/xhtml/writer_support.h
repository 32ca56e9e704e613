#pragma once
// Synthetic page content for the block writer tests: text runs with chosen view boxes (identity
// view transform, so view pixels equal page units), blocks made from them, a writer over them, XML
// checks of the written body, and packaging a converted document for epubcheck.
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <mupdf/fitz.h>

#include <cmath>
#include <deque>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "epub/epub_builder.h"
#include "extract/layout.h"
#include "extract/page_model.h"
#include "options/conversion_job.h"
#include "pdf/engine.h"
#include "platform/paths.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "xhtml/block_writer.h"

namespace qmtest {

// The page frame every XHTML file of the book gets, around a body.
inline std::string PageFrame(const std::string &body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html  PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
           "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n<html xmlns=\"http://www.w3.org/1999/xhtml\">\n"
           "<head>\n<title></title>\n<link rel=\"stylesheet\" href=\"styles.css\" type=\"text/css\"/>\n"
           "<meta http-equiv=\"Content-Type\" content=\"application/xhtml+xml; charset=utf-8\"/>\n</head>\n<body>\n" +
           body + "</body>\n</html>\n";
}

// Parses the framed body; -1 when it is not well-formed, else the number of nodes matching
// `xpath` (namespace prefix "h" for XHTML).
inline int XmlCount(const std::string &body, const std::string &xpath) {
    std::string doc = PageFrame(body);
    xmlDocPtr d = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), "page.html", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!d) return -1;
    int n = 0;
    xmlXPathContextPtr c = xmlXPathNewContext(d);
    xmlXPathRegisterNs(c, BAD_CAST "h", BAD_CAST "http://www.w3.org/1999/xhtml");
    xmlXPathObjectPtr r = xmlXPathEvalExpression(BAD_CAST xpath.c_str(), c);
    if (r && r->nodesetval) n = r->nodesetval->nodeNr;
    xmlXPathFreeObject(r);
    xmlXPathFreeContext(c);
    xmlFreeDoc(d);
    return n;
}

// Text content of the framed body (every text node, in order), or "<not xml>".
inline std::string XmlText(const std::string &body) {
    std::string doc = PageFrame(body);
    xmlDocPtr d = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), "page.html", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!d) return "<not xml>";
    xmlNodePtr root = xmlDocGetRootElement(d);
    xmlChar *t = xmlNodeGetContent(root);
    std::string s = t ? reinterpret_cast<const char *>(t) : "";
    xmlFree(t);
    xmlFreeDoc(d);
    return s;
}

// Text runs of size 10 (Helvetica) whose view boxes are set by hand.
class SyntheticPage {
public:
    SyntheticPage() {
        fz_context *ctx = qm::EngineContext();
        font_ = fz_new_base14_font(ctx, "Helvetica");
        page.items = &items;
        page.cropRect = qm::IntBox{0, 0, 600, 800};
        page.viewPageBox = qm::IntBox{0, 0, 600, 800};
        page.viewTransform = fz_identity;
        blocks.reserve(64);  // blocks are referenced while more are added
    }
    ~SyntheticPage() { fz_drop_font(qm::EngineContext(), font_); }
    SyntheticPage(const SyntheticPage &) = delete;
    SyntheticPage &operator=(const SyntheticPage &) = delete;

    // A run of `text` whose glyphs share the view box (x0, y0, x0 + width, y0 + 10) evenly.
    // Each run gets a command of its own unless `sameCommandAsPrevious`. The glyphs stand at
    // their own advances from x0 whatever the width; only with the width NaturalWidth(text) does
    // the box end where the pen does.
    qm::PageItem *Run(const std::string &text, int x0, int y0, int width, bool sameCommandAsPrevious = false) {
        fz_context *ctx = qm::EngineContext();
        if (!sameCommandAsPrevious || commands.empty()) {
            auto c = std::make_unique<qm::DrawCommand>();
            c->kind = qm::CommandKind::FillText;
            c->text = std::make_unique<qm::CapturedText>();
            c->text->font = font_;
            c->text->matrix = fz_scale(10, 10);
            commands.push_back(std::move(c));
        }
        qm::DrawCommand *cmd = commands.back().get();
        auto item = std::make_unique<qm::PageItem>();
        item->command = cmd;
        item->firstGlyph = static_cast<int>(cmd->text->glyphs.size());
        item->glyphCount = static_cast<int>(text.size());
        float pen = static_cast<float>(x0);
        int n = static_cast<int>(text.size());
        for (int i = 0; i < n; ++i) {
            qm::GlyphRecord g;
            g.x = pen;
            g.y = static_cast<float>(800 - y0 - 8);
            g.unicode = static_cast<unsigned char>(text[static_cast<size_t>(i)]);
            g.glyphId = fz_encode_character(ctx, font_, g.unicode);
            pen += fz_advance_glyph(ctx, font_, g.glyphId, 0) * 10;
            g.viewBox = qm::IntBox{x0 + width * i / n, y0, x0 + width * (i + 1) / n, y0 + 10};
            g.outputBox = g.viewBox;
            cmd->text->glyphs.push_back(g);
        }
        item->viewBox = qm::IntBox{x0, y0, x0 + width, y0 + 10};
        item->outputBox = item->viewBox;
        item->seq = static_cast<int>(items.size());
        items.push_back(std::move(item));
        return items.back().get();
    }
    // Width of a run at its own advances, rounded up to whole pixels.
    int NaturalWidth(const std::string &text) const {
        fz_context *ctx = qm::EngineContext();
        float w = 0;
        for (unsigned char c : text) w += fz_advance_glyph(ctx, font_, fz_encode_character(ctx, font_, c), 0) * 10;
        return static_cast<int>(std::ceil(w));
    }
    // A picture item with the given view box.
    qm::PageItem *Picture(int x0, int y0, int x1, int y1) {
        auto c = std::make_unique<qm::DrawCommand>();
        c->kind = qm::CommandKind::FillImage;
        commands.push_back(std::move(c));
        auto item = std::make_unique<qm::PageItem>();
        item->command = commands.back().get();
        item->viewBox = qm::IntBox{x0, y0, x1, y1};
        item->outputBox = item->viewBox;
        items.push_back(std::move(item));
        return items.back().get();
    }
    // A group of the given items with `mark`, and a block holding it.
    qm::TextBlock &GroupBlock(std::vector<qm::PageItem *> members, int mark) {
        auto g = std::make_unique<qm::ItemGroup>();
        g->mark = mark;
        for (size_t i = 0; i < members.size(); ++i) {
            members[i]->grouped = true;
            members[i]->group = g.get();
            g->members.push_back(members[i]);
            g->viewBox = i == 0 ? members[i]->viewBox : qm::Union(g->viewBox, members[i]->viewBox);
        }
        groups.push_back(std::move(g));
        memberStore.push_back(qm::BlockMember{true, nullptr, groups.back().get(), nullptr});
        qm::TextBlock b;
        b.index = static_cast<int>(blocks.size());
        b.first = b.last = &memberStore.back();
        b.box = groups.back()->viewBox;
        blocks.push_back(b);
        return blocks.back();
    }
    // A block of the given items, in that order.
    qm::TextBlock &Block(std::vector<qm::PageItem *> members) {
        qm::TextBlock b;
        b.index = static_cast<int>(blocks.size());
        for (qm::PageItem *it : members) {
            memberStore.push_back(qm::BlockMember{false, it, nullptr, nullptr});
            qm::BlockMember *m = &memberStore.back();
            if (b.last)
                b.last->next = m;
            else
                b.first = m;
            b.last = m;
        }
        b.box = qm::BlockBox(b);
        blocks.push_back(b);
        return blocks.back();
    }

    qm::LayoutPage page;
    std::vector<std::unique_ptr<qm::PageItem>> items;
    std::vector<std::unique_ptr<qm::ItemGroup>> groups;
    std::vector<std::unique_ptr<qm::DrawCommand>> commands;
    std::deque<qm::BlockMember> memberStore;
    std::vector<qm::TextBlock> blocks;

private:
    fz_font *font_ = nullptr;
};

// A block writer over a synthetic page: span classes "font10", pictures named in turn, messages
// kept in `prompt`.
struct WriterHarness {
    explicit WriterHarness(SyntheticPage &p) : page(p) {
        setup.job = &job;
        setup.prompt = &prompt;
        setup.spanClasses = [](const qm::DrawCommand &, std::string &classes) {
            classes = "font10";
            return 0;
        };
        setup.savePicture = [this](const qm::IntBox *, std::string &name) {
            name = "image-" + std::to_string(++pictures) + ".png";
            return qm::PngResult::Written;
        };
    }
    // Writes all of the page's blocks in order as one page body.
    std::string WriteAll() {
        std::string out;
        qm::BlockWriter writer(out, setup);
        writer.SetPage(page.page);
        writer.BeginPage();
        int n = static_cast<int>(page.blocks.size());
        for (int i = 0; i < n; ++i)
            writer.WriteBlock(page.page, page.blocks, i, n, i > 0 ? &page.blocks[static_cast<size_t>(i - 1)] : nullptr,
                              i + 1 < n ? &page.blocks[static_cast<size_t>(i + 1)] : nullptr);
        writer.EndPage();
        return out;
    }
    SyntheticPage &page;
    qm::ConversionJob job;
    RecordingPrompt prompt;
    qm::BlockWriterSetup setup;
    int pictures = 0;
};

inline std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Packages the produced files as `stagingFolder`/book.epub and runs epubcheck on it: true when it
// reports nothing; its report goes to `report`.
inline bool PackagedBookPasses(const std::vector<std::string> &produced, const std::string &stagingFolder,
                               const std::string &title, std::string *report) {
    qm::PackageJob pkg;
    for (const std::string &line : produced) pkg.items.push_back(qm::ManifestItem{line, qm::FileNamePart(line)});
    qm::BookMetadata meta{title, "Quillmark tests", ""};
    pkg.metadata = &meta;
    pkg.epubPath = "book.epub";
    pkg.stagingFolder = stagingFolder;
    qm::CreateFolder(pkg.stagingFolder);
    qm::EpubBuilder builder;
    if (builder.Build(&pkg, true) != qm::EpubBuildResult::Ok) return false;
    return EpubCheck(pkg.stagingFolder + "book.epub", report);
}

} // namespace qmtest
