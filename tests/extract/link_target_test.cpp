// Links of a page as data (kind, page, address, area), which characters they cover, and the
// anchors written around those characters.
#include <gtest/gtest.h>

#include "extract/links.h"
#include "extract/text_extract.h"
#include "options/conversion_job.h"
#include "support/page_links.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "text_support.h"

#include <fstream>

using qm::PageLink;
using qmtest::ToPage;
using qmtest::ToUri;

TEST(LinkTarget, CharactersInLinkAreas) {
    std::vector<PageLink> links{ToUri("a.example"), ToUri("b.example")};
    links[0].area = qm::IntBox{10, 10, 20, 20};
    links[1].area = qm::IntBox{0, 0, 100, 100};
    EXPECT_EQ(&links[0], qm::FindLinkForChar(links, qm::IntBox{12, 12, 15, 15}));   // inside
    EXPECT_EQ(&links[0], qm::FindLinkForChar(links, qm::IntBox{5, 5, 30, 30}));     // around
    EXPECT_EQ(&links[0], qm::FindLinkForChar(links, qm::IntBox{18, 18, 25, 25}));   // 2 units of overlap
    // One unit of overlap is not enough; the first link does not take it, the second does.
    EXPECT_EQ(&links[1], qm::FindLinkForChar(links, qm::IntBox{19, 12, 25, 15}));
    links.pop_back();
    EXPECT_EQ(nullptr, qm::FindLinkForChar(links, qm::IntBox{19, 12, 25, 15}));
    EXPECT_EQ(nullptr, qm::FindLinkForChar(links, qm::IntBox{12, 19, 15, 25}));
}

TEST(LinkTarget, OneAnchorAroundEachStretchOfOneLink) {
    qmtest::SyntheticText t(10);
    t.Word("xabcx", 0, 100);
    qm::PageItem item = t.Item();
    const auto &g = t.command.text->glyphs;
    // The first area covers the glyphs "a" and "b", the second one "c".
    std::vector<PageLink> links{ToPage(17), ToUri("https://example.org/")};
    links[0].area = qm::IntBox{static_cast<int>(g[1].x), 90, static_cast<int>(g[3].x), 115};
    links[1].area = qm::IntBox{static_cast<int>(g[3].x), 90, static_cast<int>(g[4].x), 115};
    std::vector<std::string> hrefs{"page-16.html#page-17", "https://example.org/"};
    std::string out;
    qm::RunTextOutput output;
    output.file = &out;
    output.links = &links;
    output.hrefs = &hrefs;
    qm::WriteRunText(output, item, 0, false);
    EXPECT_EQ("x<a href=\"page-16.html#page-17\">ab</a><a href=\"https://example.org/\">c</a>x", out);

    // Links switched off: plain text.
    out.clear();
    output.links = nullptr;
    qm::WriteRunText(output, item, 0, false);
    EXPECT_EQ("xabcx", out);

    // Blanks inside a link stay in its anchor; blanks at its edges, or alone in a link area, get
    // none.
    qmtest::SyntheticText words(20);
    words.Word("x a b x y", 0, 100);
    const auto &w = words.command.text->glyphs;
    auto at = [&](int i) { return static_cast<int>(w[static_cast<size_t>(i)].x); };
    links.resize(2);
    links[0].area = qm::IntBox{at(1) + 1, 80, at(6) - 1, 130};  // " a b "
    links[1].area = qm::IntBox{at(7), 80, at(8), 130};          // " "
    out.clear();
    output.links = &links;
    item = words.Item();
    qm::WriteRunText(output, item, 0, false);
    EXPECT_EQ("x <a href=\"page-16.html#page-17\">a b</a> x y", out);
}

TEST(LinkTarget, AnAnchorGoesOnIntoTheNextRunOnlyWhileItsLinkDoes) {
    // "ab" and "cd" are two runs written one after the other; a line end inside the second run
    // ends "cd" and starts "ef" a line lower.
    qmtest::SyntheticText first(10), second(10);
    float pen = first.Word("ab", 0, 100);
    second.Word("cd", pen + 3, 100);
    second.Word("ef", 0, 80);
    qm::PageItem a = first.Item(), b = second.Item();
    std::vector<PageLink> links{ToUri("https://example.org/")};
    std::vector<std::string> hrefs{"https://example.org/"};
    auto write = [&](const qm::IntBox &area) {
        links[0].area = area;
        std::string out;
        qm::RunTextOutput output;
        output.file = &out;
        output.links = &links;
        output.hrefs = &hrefs;
        output.continueAnchors = true;
        qm::WriteRunText(output, a, 0, false);
        qm::WriteRunGap(output, true);
        qm::WriteRunGap(output, false);
        qm::WriteRunText(output, b, 0, false);
        qm::CloseRunAnchor(output);
        return out;
    };
    // The link covers all: one anchor, separators and the line end inside it.
    EXPECT_EQ("<a href=\"https://example.org/\">ab &#160;cd ef</a>", write(qm::IntBox{-5, 60, 60, 120}));
    // Only the first run and the first line of the second: the separators stay inside, the line
    // end goes after the anchor.
    EXPECT_EQ("<a href=\"https://example.org/\">ab &#160;cd</a> ef", write(qm::IntBox{-5, 90, 60, 120}));
    // Only the first run: the separators wait and follow the anchor.
    EXPECT_EQ("<a href=\"https://example.org/\">ab</a> &#160;cd ef",
              write(qm::IntBox{-5, 90, static_cast<int>(pen) + 1, 120}));
}

TEST(LinkTarget, LinksReadFromAPage) {
    qmtest::TempDir dir;
    qmtest::PdfBuilder pdf;
    pdf.AddPage();
    pdf.AddPage();
    pdf.LinkToPage(0, 72, 700, 200, 720, 1);
    pdf.LinkToUri(0, 72, 600, 200, 620, "https://example.com/");
    ASSERT_TRUE(pdf.Save(dir.File("links.pdf")));

    fz_context *ctx = qm::EngineContext();
    fz_document *doc = fz_open_document(ctx, dir.File("links.pdf").c_str());
    fz_page *page = fz_load_page(ctx, doc, 0);
    std::vector<PageLink> links;
    ASSERT_EQ(qm::LinksRead::Read, qm::LoadPageLinks(ctx, doc, page, links));
    ASSERT_EQ(2u, links.size());
    int pageLinks = 0, uriLinks = 0;
    for (const PageLink &l : links) {
        if (l.kind == PageLink::InDocument) {
            ++pageLinks;
            EXPECT_EQ(2, l.page);
            // Page space runs downwards from the top of the 792-point page.
            EXPECT_EQ((qm::IntBox{72, 72, 200, 92}), l.area);
        } else if (l.kind == PageLink::Uri) {
            ++uriLinks;
            EXPECT_EQ("https://example.com/", l.uri);
        }
    }
    EXPECT_EQ(1, pageLinks);
    EXPECT_EQ(1, uriLinks);
    fz_drop_page(ctx, page);
    fz_drop_document(ctx, doc);
}

TEST(LinkTarget, AddressesAreKeptAsTheEngineReportsThem) {
    // A hand-written page whose link actions hold a bare host and a bare mail address, as many
    // producers write them.
    const char *objs[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R 5 0 R 6 0 R] >>",
        "<< /Type /Annot /Subtype /Link /Rect [72 700 200 720] /A << /S /URI /URI (www.example.org) >> >>",
        "<< /Type /Annot /Subtype /Link /Rect [72 600 200 620] /A << /S /URI /URI (someone@example.org) >> >>",
        "<< /Type /Annot /Subtype /Link /Rect [72 500 200 520] /A << /S /URI /URI (file:///tmp/x.pdf) >> >>"};
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < 6; ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
    }
    size_t xref = pdf.size();
    pdf += "xref\n0 7\n0000000000 65535 f \n";
    for (size_t o : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
        pdf += line;
    }
    pdf += "trailer\n<< /Size 7 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    qmtest::TempDir dir;
    std::ofstream(dir.File("bare.pdf"), std::ios::binary) << pdf;

    fz_context *ctx = qm::EngineContext();
    fz_document *doc = fz_open_document(ctx, dir.File("bare.pdf").c_str());
    fz_page *page = fz_load_page(ctx, doc, 0);
    std::vector<PageLink> links;
    ASSERT_EQ(qm::LinksRead::Read, qm::LoadPageLinks(ctx, doc, page, links));
    std::vector<std::string> addresses;
    for (const PageLink &l : links) {
        EXPECT_EQ(PageLink::Uri, l.kind);
        addresses.push_back(l.uri);
    }
    std::sort(addresses.begin(), addresses.end());
    // The engine reads an address without a scheme as relative to "file://"; the page writer
    // undoes that (xhtml/book_names).
    EXPECT_EQ((std::vector<std::string>{"file:///tmp/x.pdf", "file://someone@example.org", "file://www.example.org"}),
              addresses);
    fz_drop_page(ctx, page);
    fz_drop_document(ctx, doc);
}
