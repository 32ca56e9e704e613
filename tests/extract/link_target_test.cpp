// Links: which characters they cover, and the href each one writes.
#include <gtest/gtest.h>

#include "extract/links.h"
#include "extract/text_extract.h"
#include "options/conversion_job.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "text_support.h"

#include <fstream>

using qm::PageLink;

namespace {

std::string Target(const PageLink &link, int pageCount = 40, int perFile = 15) {
    std::string out;
    qm::WriteLinkTarget(out, link, pageCount, perFile);
    return out;
}

PageLink ToPage(int p) {
    PageLink l;
    l.kind = PageLink::InDocument;
    l.page = p;
    return l;
}

PageLink ToUri(const std::string &uri) {
    PageLink l;
    l.kind = PageLink::Uri;
    l.uri = uri;
    return l;
}

} // namespace

TEST(LinkTarget, PagesOfTheDocument) {
    EXPECT_EQ("page-16.html#page-17", Target(ToPage(17)));
    EXPECT_EQ("page-1.html#page-15", Target(ToPage(15)));
    EXPECT_EQ("page-16.html#page-16", Target(ToPage(16)));
    EXPECT_EQ("page-17.html#page-17", Target(ToPage(17), 40, 1));
    qm::ConversionJob job;
    job.parseMode = static_cast<int32_t>(qm::ParseMode::Imaging);
    EXPECT_EQ(1, qm::PagesPerFile(&job));
    job.parseMode = static_cast<int32_t>(qm::ParseMode::Strict);
    EXPECT_EQ(15, qm::PagesPerFile(&job));
    EXPECT_EQ(15, qm::PagesPerFile(nullptr));
    // Outside the document, or no page at all: an empty target.
    EXPECT_EQ("", Target(ToPage(41)));
    EXPECT_EQ("", Target(ToPage(0)));
    PageLink other;
    other.kind = PageLink::Other;
    EXPECT_EQ("", Target(other));
}

TEST(LinkTarget, AddressesGetASchemeOnlyWhenTheyHaveNone) {
    EXPECT_EQ("http://www.example.com", Target(ToUri("www.example.com")));
    EXPECT_EQ("mailto:someone@example.com", Target(ToUri("someone@example.com")));
    EXPECT_EQ("HTTP://Example.com/a?b=1&amp;c=2", Target(ToUri("HTTP://Example.com/a?b=1&c=2")));
    EXPECT_EQ("https://example.com/x", Target(ToUri("https://example.com/x")));
    EXPECT_EQ("mailto:a@b.org", Target(ToUri("mailto:a@b.org")));
    EXPECT_EQ("MAILTO:a@b.org", Target(ToUri("MAILTO:a@b.org")));
    EXPECT_EQ("ftp://files.example.com/", Target(ToUri("ftp://files.example.com/")));
    // A host with a port is not a scheme.
    EXPECT_EQ("http://www.example.com:8080/", Target(ToUri("www.example.com:8080/")));
    // Without a dot nothing is added.
    EXPECT_EQ("intranet", Target(ToUri("intranet")));
    // Blanks and non-ASCII bytes cannot stand in an href as they are.
    EXPECT_EQ("http://example.com/a%20b%C3%A9&lt;&quot;", Target(ToUri("example.com/a b\xC3\xA9<\"")));
}

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
    std::string out;
    qm::RunTextOutput output;
    output.file = &out;
    output.links = &links;
    output.pageCount = 20;
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
    auto write = [&](const qm::IntBox &area) {
        links[0].area = area;
        std::string out;
        qm::RunTextOutput output;
        output.file = &out;
        output.links = &links;
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
    ASSERT_EQ(2, qm::LoadPageLinks(ctx, doc, page, links));
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

TEST(LinkTarget, AddressesStoredWithoutSchemeReachTheTarget) {
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
    ASSERT_EQ(3, qm::LoadPageLinks(ctx, doc, page, links));
    std::vector<std::string> targets;
    for (const PageLink &l : links) targets.push_back(Target(l));
    std::sort(targets.begin(), targets.end());
    EXPECT_EQ((std::vector<std::string>{"file:///tmp/x.pdf", "http://www.example.org", "mailto:someone@example.org"}),
              targets);
    fz_drop_page(ctx, page);
    fz_drop_document(ctx, doc);
}

TEST(LinkTarget, OnlyAddressesThatLeadSomewhereAreUsable) {
    for (const char *good : {"https://example.com/", "HTTP://Example.com/a?b=1&c=2", "www.example.org",
                              "someone@example.org", "mailto:a@b.org", "mailto:?subject=x", "tel:+4930123",
                              "file:///tmp/x.pdf", "file://host/x", "ftp://files.example.com/",
                              "http://user@host.com:8080/x", "http://[::1]/", "www.example.com:8080/",
                              "example.com/a b"})
        EXPECT_TRUE(qm::IsUsableAddress(good)) << good;
    // Empty, a scheme alone (what the engine reports for a /URI that is not a string is
    // "file://"), a web address without a plain host, and a bare name that would point into
    // the book at a file that does not exist.
    for (const char *bad : {"", "file://", "http://", "https://", "HTTP://", "mailto:", "emailto:", "x:", "ftp:",
                            "http:///", "http://?x", "http://#top", "http://:80/", "http://@/", "http:x",
                            "http:/x", "http://host.com:abc/", "http://b\xC3\xBC" "cher.de/", " .x", "intranet",
                            "   "})
        EXPECT_FALSE(qm::IsUsableAddress(bad)) << bad;
}

// Links whose /URI is not a string, is empty, or holds a scheme alone: no anchor, the text under
// them stays, and the converted book is valid.
TEST(LinkTarget, UnusableTargetsGiveNoAnchorAndTheBookStaysValid) {
    using Form = qmtest::PdfBuilder::UriForm;
    struct Case {
        Form form;
        const char *uri;
        const char *word;
    };
    const Case cases[] = {
        {Form::Array, "https://example.com/array", "Arrayed"}, {Form::Number, "", "Numbered"},
        {Form::Missing, "", "Missing"},                       {Form::String, "", "Emptied"},
        {Form::String, "file://", "Filed"},                   {Form::String, "http://", "Schemed"},
        {Form::String, "mailto:", "Mailed"},                  {Form::String, "intranet", "Named"},
        {Form::String, "https://example.com/ok", "Working"},
    };
    qmtest::TempDir dir;
    qmtest::PdfBuilder pdf;
    pdf.AddPage();
    double y = 720;
    for (const Case &c : cases) {
        pdf.Text(0, 72, y, c.word, 12);
        pdf.LinkToUriObject(0, 70, y - 4, 200, y + 12, c.form, c.uri);
        y -= 40;
    }
    ASSERT_TRUE(pdf.Save(dir.File("links.pdf")));

    fz_context *ctx = qm::EngineContext();
    fz_document *doc = fz_open_document(ctx, dir.File("links.pdf").c_str());
    fz_page *page = fz_load_page(ctx, doc, 0);
    std::vector<PageLink> links;
    EXPECT_EQ(1, qm::LoadPageLinks(ctx, doc, page, links));
    ASSERT_EQ(1u, links.size());
    EXPECT_EQ("https://example.com/ok", links[0].uri);
    fz_drop_page(ctx, page);
    fz_drop_document(ctx, doc);

    std::string out;
    ASSERT_EQ(0, qmtest::RunCommand(qmtest::ShellQuote(QM_CLI_PATH) + " convert --links " +
                                        qmtest::ShellQuote(dir.File("links.pdf")) + " -o " +
                                        qmtest::ShellQuote(dir.Path()),
                                    &out))
        << out;
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File("links.epub"), &report)) << report;
    std::string page1;
    ASSERT_EQ(0, qmtest::RunCommand("unzip -p " + qmtest::ShellQuote(dir.File("links.epub")) + " OPS/page-1.html",
                                    &page1));
    // Every word is in the book; only the working link is an anchor, one around the whole word.
    std::string text;
    for (size_t i = 0; i < page1.size(); ++i) {
        if (page1[i] == '<') {
            i = page1.find('>', i);
            if (i == std::string::npos) break;
            continue;
        }
        text += page1[i];
    }
    for (const Case &c : cases) EXPECT_NE(text.find(c.word), std::string::npos) << c.word << "\n" << page1;
    size_t anchors = 0;
    for (size_t at = page1.find("<a href="); at != std::string::npos; at = page1.find("<a href=", at + 1)) {
        EXPECT_EQ(page1.compare(at, 32, "<a href=\"https://example.com/ok\""), 0) << page1.substr(at, 40);
        ++anchors;
    }
    EXPECT_EQ(anchors, 1u);
}
