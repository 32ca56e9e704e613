// Page file names, link targets and the one rule that turns an address from the PDF into an href,
// for page links and outline entries alike.
#include <gtest/gtest.h>

#include <map>

#include "extract/links.h"
#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "pdf/engine.h"
#include "support/page_links.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "xhtml/book_names.h"

using qm::PageLink;
using qmtest::ToPage;
using qmtest::ToUri;

namespace {

std::string Href(const PageLink &link, int pageCount = 40, int perFile = 15) {
    return qm::LinkHref(link, pageCount, perFile);
}

} // namespace

namespace {

// Converts dir/NAME.pdf with `options` into dir/NAME.epub, checks the book with epubcheck and
// gives its first page file ("" when anything failed, with a test failure).
std::string ConvertAndReadFirstPage(const qmtest::TempDir &dir, const std::string &name, const std::string &options) {
    std::string out;
    EXPECT_EQ(0, qmtest::RunCommand(qmtest::ShellQuote(QM_CLI_PATH) + " convert " + options + " " +
                                        qmtest::ShellQuote(dir.File(name + ".pdf")) + " -o " +
                                        qmtest::ShellQuote(dir.Path()),
                                    &out))
        << out;
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File(name + ".epub"), &report)) << report;
    std::string page1;
    EXPECT_EQ(0, qmtest::RunCommand("unzip -p " + qmtest::ShellQuote(dir.File(name + ".epub")) + " OPS/page-1.html",
                                    &page1));
    return page1;
}

// A line of page 1 under a link to `uri` (empty: to the document's last page), with a bookmark to
// the same place, and the href both should get ("" for none).
struct AddressCase {
    const char *label;
    const char *uri;
    const char *href;
};

// Writes dir/NAME.pdf with `pages` pages and one line per case, converts it with `options` (also
// checked by epubcheck) and gives, per label, the hrefs of the anchors around it in the first page
// file, which `page1` receives.
std::map<std::string, std::vector<std::string>> ConvertAddressCases(const qmtest::TempDir &dir, const std::string &name,
                                                                    const std::vector<AddressCase> &cases, int pages,
                                                                    const std::string &options, std::string &page1) {
    qmtest::PdfBuilder pdf;
    for (int i = 0; i < pages; ++i) pdf.AddPage();
    double y = 720;
    for (const AddressCase &c : cases) {
        pdf.Text(0, 72, y, c.label, 12);
        if (*c.uri) {
            pdf.LinkToUri(0, 70, y - 4, 200, y + 12, c.uri);
            pdf.AddOutlineToUri(c.label, c.uri);
        } else {
            pdf.LinkToPage(0, 70, y - 4, 200, y + 12, pages - 1);
            pdf.AddOutline(c.label, pages - 1);
        }
        y -= 40;
    }
    EXPECT_TRUE(pdf.Save(dir.File(name + ".pdf")));
    page1 = ConvertAndReadFirstPage(dir, name, options);
    std::map<std::string, std::vector<std::string>> hrefs;
    for (size_t at = page1.find("<a href=\""); at != std::string::npos; at = page1.find("<a href=\"", at + 1)) {
        const size_t hrefEnd = page1.find("\">", at + 9);
        const size_t labelEnd = page1.find("</a>", hrefEnd);
        if (hrefEnd == std::string::npos || labelEnd == std::string::npos) break;
        hrefs[page1.substr(hrefEnd + 2, labelEnd - hrefEnd - 2)].push_back(page1.substr(at + 9, hrefEnd - at - 9));
    }
    return hrefs;
}

} // namespace

TEST(BookNames, PageFilesAndTargets) {
    qm::ConversionJob job;
    job.parseMode = static_cast<int32_t>(qm::ParseMode::Imaging);
    EXPECT_EQ(1, qm::PagesPerFile(&job));
    job.parseMode = static_cast<int32_t>(qm::ParseMode::Strict);
    EXPECT_EQ(15, qm::PagesPerFile(&job));
    EXPECT_EQ(15, qm::PagesPerFile(nullptr));
    EXPECT_EQ(1, qm::FirstPageOfFile(15, 15));
    EXPECT_EQ(16, qm::FirstPageOfFile(16, 15));
    EXPECT_EQ(31, qm::FirstPageOfFile(31, 15));
    EXPECT_EQ(30, qm::FirstPageOfFile(30, 1));
    EXPECT_EQ("page-16.html", qm::PageFileName(16));
    EXPECT_EQ("page-16.html#page-17", Href(ToPage(17)));
    EXPECT_EQ("page-1.html#page-15", Href(ToPage(15)));
    EXPECT_EQ("page-16.html#page-16", Href(ToPage(16)));
    EXPECT_EQ("page-17.html#page-17", Href(ToPage(17), 40, 1));
    // Outside the document, or no page at all: an empty target.
    EXPECT_EQ("", Href(ToPage(41)));
    EXPECT_EQ("", Href(ToPage(0)));
    EXPECT_EQ("", qm::PageLinkTarget(-3, 40, 15));
    PageLink other;
    other.kind = PageLink::Other;
    EXPECT_EQ("", Href(other));
}

TEST(BookNames, AddressesGetASchemeOnlyWhenTheyHaveNone) {
    EXPECT_EQ("http://www.example.com", Href(ToUri("www.example.com")));
    EXPECT_EQ("mailto:someone@example.com", Href(ToUri("someone@example.com")));
    EXPECT_EQ("HTTP://Example.com/a?b=1&amp;c=2", Href(ToUri("HTTP://Example.com/a?b=1&c=2")));
    EXPECT_EQ("https://example.com/x", Href(ToUri("https://example.com/x")));
    EXPECT_EQ("MAILTO:a@b.org", Href(ToUri("MAILTO:a@b.org")));
    EXPECT_EQ("ftp://files.example.com/", Href(ToUri("ftp://files.example.com/")));
    // A host with a port is not a scheme.
    EXPECT_EQ("http://www.example.com:8080/", Href(ToUri("www.example.com:8080/")));
    EXPECT_EQ("http://localhost.test:8080", Href(ToUri("localhost.test:8080")));
    EXPECT_EQ("", Href(ToUri("localhost:8080/a")));  // a host with a port, but no dot: a bare name
    // A reference in a document is absolute by the scheme alone, dots and digits included.
    EXPECT_TRUE(qm::HasUriScheme("vnd.example+x-1:abc"));
    EXPECT_TRUE(qm::HasUriScheme("localhost:8080/a"));
    EXPECT_FALSE(qm::HasUriScheme("1a:b"));
    EXPECT_FALSE(qm::HasUriScheme(":b"));
    EXPECT_FALSE(qm::HasUriScheme("a b:c"));
    EXPECT_FALSE(qm::HasUriScheme("page.html#x:y"));
    // Blanks, non-ASCII bytes and characters a URL may not hold cannot stand in an href as they
    // are; an "&" is escaped for the attribute.
    EXPECT_EQ("http://example.com/a%20b%C3%A9%3C%22?a&amp;b", Href(ToUri("example.com/a b\xC3\xA9<\"?a&b")));
    // The engine's "file://" before an address stored without a scheme is undone; a file URI
    // with a path is kept.
    EXPECT_EQ("http://www.example.org", Href(ToUri("file://www.example.org")));
    EXPECT_EQ("mailto:someone@example.org", Href(ToUri("file://someone@example.org")));
    EXPECT_EQ("file:///tmp/x.pdf", Href(ToUri("file:///tmp/x.pdf")));
}

// Addresses become valid URLs; what is valid already stays byte for byte, so encoding twice
// changes nothing.
TEST(BookNames, UrlEncodedEscapesOnlyWhatAUrlCannotHold) {
    EXPECT_EQ("https://example.com/a%20b?x=1&y=2#top", qm::UrlEncoded("https://example.com/a b?x=1&y=2#top"));
    EXPECT_EQ("a%22%3C%3E%5C%5E%60%7B%7C%7D", qm::UrlEncoded("a\"<>\\^`{|}"));
    EXPECT_EQ("%09%0A%7F%C3%A9", qm::UrlEncoded("\t\n\x7F\xC3\xA9"));
    EXPECT_EQ("x%20y%2fz", qm::UrlEncoded("x%20y%2fz"));             // escapes already there stay
    EXPECT_EQ("100%25%20off%25zz%25", qm::UrlEncoded("100% off%zz%"));  // a "%" that starts none
    EXPECT_EQ("a#b%23c", qm::UrlEncoded("a#b#c"));                     // one fragment only
    const std::string kept = "mailto:a@b.org?subject=x;y/z:w[1]!$'()*+,=~_.-";
    EXPECT_EQ(kept, qm::UrlEncoded(kept));
    for (const std::string text : {"a b", "caf\xC3\xA9 %41 % #x#y", "\"{}\""})
        EXPECT_EQ(qm::UrlEncoded(text), qm::UrlEncoded(qm::UrlEncoded(text))) << text;
}

TEST(BookNames, OnlyAddressesThatLeadSomewhereGetAnHref) {
    for (const char *good : {"https://example.com/", "HTTP://Example.com/a?b=1&c=2", "www.example.org",
                              "someone@example.org", "mailto:a@b.org", "mailto:?subject=x", "tel:+4930123",
                              "file:///tmp/x.pdf", "ftp://files.example.com/",
                              "http://user@host.com:8080/x", "http://[::1]/", "www.example.com:8080/",
                              "example.com/a b", "example.com/docs/x.pdf", "www.example.org#top", "file.pdf"})
        EXPECT_NE("", qm::AddressHref(good)) << good;
    // Empty, a scheme alone (what the engine reports for a /URI that is not a string is
    // "file://"), a web address without a plain host, and a bare name that would point into
    // the book at a file that does not exist. "file://" before a name without a slash is the
    // engine's prefix, so "file://host/x" is the bare name "host/x".
    for (const char *bad : {"", "file://", "http://", "https://", "HTTP://", "mailto:", "emailto:", "x:", "ftp:",
                            "http:///", "http://?x", "http://#top", "http://:80/", "http://@/", "http:x",
                            "http:/x", "http://host.com:abc/", "http://b\xC3\xBC" "cher.de/", " .x", "intranet",
                            "file://intranet", "file://host/x", "   ", "docs/x.pdf", "file://docs/x.pdf",
                            "../a.html", "./a.html", "a/b.c", "#x.y", "javascript:alert(1)", "VBScript:x",
                            "http://../a", "http://.example.com/", "http://a..b/"})
        EXPECT_EQ("", qm::AddressHref(bad)) << bad;
}

TEST(BookNames, AnchorsOnlyForLinksThatLeadSomewhere) {
    std::vector<PageLink> links{ToUri("http://"), ToPage(99), ToUri("intranet"), ToUri("www.example.org"), ToPage(2)};
    qm::LinkAnchors anchors = qm::AnchorsForLinks(links, 10, 15);
    ASSERT_EQ(3u, anchors.links.size());
    ASSERT_EQ(3u, anchors.hrefs.size());
    // A link to a page the document lacks keeps its place (with an empty href): its area still
    // takes the characters it covers from links further down the list.
    EXPECT_EQ(99, anchors.links[0].page);
    EXPECT_EQ("", anchors.hrefs[0]);
    EXPECT_EQ("www.example.org", anchors.links[1].uri);
    EXPECT_EQ("http://www.example.org", anchors.hrefs[1]);
    EXPECT_EQ("page-1.html#page-2", anchors.hrefs[2]);
}

// A bookmark and a page link to the same address give the same href, whatever form the PDF
// stores it in, and the book passes epubcheck.
TEST(BookNames, BookmarksAndPageLinksShareOneAddressRule) {
    const std::vector<AddressCase> cases = {
        {"Web", "www.example.net", "http://www.example.net"},
        {"Mail", "user@example.org", "mailto:user@example.org"},
        {"Spaced", "www.x.org/a b", "http://www.x.org/a%20b"},
        {"Secure", "https://x", "https://x"},
        // A relative name with a dot reads as a host, as it always has for page links.
        {"Relative", "file.pdf", "http://file.pdf"},
        {"Third", "", "page-1.html#page-3"},
    };
    qmtest::TempDir dir;
    std::string page1;
    auto hrefs = ConvertAddressCases(dir, "uris", cases, 3, "--links --outline first", page1);
    ASSERT_NE(page1.find("<h1>Document Outline</h1>"), std::string::npos) << page1;
    // Every label stands twice as an anchor: once in the outline page, once on the page.
    for (const AddressCase &c : cases)
        EXPECT_EQ(hrefs[c.label], (std::vector<std::string>{c.href, c.href})) << c.label << "\n" << page1;
}

// Links whose /URI is not a string, is empty, or holds a scheme alone: no anchor, the text under
// them stays, and the converted book is valid.
TEST(BookNames, UnusableTargetsGiveNoAnchorAndTheBookStaysValid) {
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
    EXPECT_EQ(qm::LinksRead::Read, qm::LoadPageLinks(ctx, doc, page, links));
    qm::LinkAnchors usable = qm::AnchorsForLinks(links, 1, 15);
    ASSERT_EQ(1u, usable.links.size());
    EXPECT_EQ("https://example.com/ok", usable.hrefs[0]);
    fz_drop_page(ctx, page);
    fz_drop_document(ctx, doc);

    const std::string page1 = ConvertAndReadFirstPage(dir, "links", "--links");
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

// Addresses that name neither a page nor a place outside the book (a bare name, a script, a path
// relative to the PDF) give no anchor on the page and no target in the outline page; the text
// stays and the book passes epubcheck with every option that writes links.
TEST(BookNames, RelativeAndScriptAddressesGiveNoAnchorUnderEveryLinkOption) {
    const std::vector<AddressCase> cases = {
        {"Bare", "nodothere", ""},
        {"Script", "javascript:alert(1)", ""},
        {"Shouting", "JavaScript:void(0)", ""},
        {"Nested", "docs/x.pdf", ""},
        {"Parent", "../a.html", ""},
        {"Dotted", "./a.html", ""},
        {"Anchor", "#chapter", ""},
        {"Web", "www.example.net", "http://www.example.net"},
        {"Mail", "user@example.org", "mailto:user@example.org"},
        {"Hosted", "example.com/docs/x.pdf", "http://example.com/docs/x.pdf"},
        {"Second", "", "page-1.html#page-2"},
    };
    qmtest::TempDir dir;
    std::string page1;
    auto hrefs =
        ConvertAddressCases(dir, "relative", cases, 2, "--links --outline last --bookmarks-toc --cover", page1);
    ASSERT_NE(page1.find("<h1>Document Outline</h1>"), std::string::npos) << page1;
    for (const AddressCase &c : cases) {
        EXPECT_NE(page1.find(c.label), std::string::npos) << c.label;
        // On the page an address that leads nowhere has no anchor; in the outline page its entry
        // keeps an anchor with an empty href (the entry itself stays listed).
        const std::vector<std::string> expected =
            *c.href ? std::vector<std::string>{c.href, c.href} : std::vector<std::string>{""};
        EXPECT_EQ(hrefs[c.label], expected) << c.label << "\n" << page1;
    }
}
