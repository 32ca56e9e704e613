// The book builder: reading order, naming, what happens to documents that are not XHTML, the
// title page mark, and clean-up.
#include <gtest/gtest.h>

#include <optional>
#include <libxml/parser.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <string>
#include <vector>

#include "epub/book_fixture.h"
#include "epub/zip_reader.h"
#include "options/conversion_options.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/utf8.h"
#include "support/pdf_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "worker/book_builder.h"
#include "worker/conversion_worker.h"

namespace {

using qmtest::ListFolder;

std::map<std::string, std::string> Entries(const std::string &epub) {
    std::map<std::string, std::string> out;
    std::string bytes;
    if (!qm::ReadFile(epub, bytes)) return out;
    for (auto &e : qmtest::ReadZipArchive(bytes).entries) out[e.name] = e.data;
    return out;
}

bool ParsesAsXml(const std::string &text) {
    xmlDoc *doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return false;
    xmlFreeDoc(doc);
    return true;
}

class BookBuilderTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;
    qm::ConversionOptions options;
    qm::ConsolePrompt prompt{false, true};

    std::optional<qmtest::ScopedEnv> tmpEnv;

    void SetUp() override {
        tmpEnv.emplace("TMPDIR", temp.Path().c_str());
        options.outputFolder = dir.File("out/");
        qm::CreateFolder(dir.File("out"));
    }
};

const char *kTagSoup =
    "<html><head><title>t</title><script>alert(1)</script><style>p{}</style></head>"
    "<body bgcolor=red>Loose text &amp; more<p>One<br>two&nbsp;<b>bold<p>Next <div>block in p</div>"
    "<font color=red>font</font><center>centred</center><li>stray item</li>"
    "<img src=\"pic.png\"><img src=\"gone.png\"><a href=\"b.xhtml#x\" name=\"here\" onclick=\"x()\">to b</a>"
    "<a href=\"elsewhere.html\">nowhere</a><a href=\"https://example.org/?a=1&b=2\">web</a>"
    "<ul>text in list<li>ok</li></ul><table><tr>cell text<td>c</td></tr></table><ul></ul>"
    "<p id=\"1bad\">bad id</p><p id=\"dup\">a</p><p id=\"dup\">b</p><!-- comment --></body></html>";

TEST_F(BookBuilderTest, DocumentsInTheGivenOrderNonXhtmlConvertedUserFilesUntouched) {
    const std::string xhtml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>B</title>"
        "</head><body><p id=\"x\">Well formed &amp; kept</p></body></html>\n";
    ASSERT_TRUE(qm::WriteFile(dir.File("a.html"), kTagSoup));
    ASSERT_TRUE(qm::WriteFile(dir.File("b.xhtml"), xhtml));
    ASSERT_TRUE(qm::WriteFile(dir.File("notes.txt"), "Fish & chips <today>\nsecond line\n\n\nNew paragraph\n"));
    // A picture the HTML shows but the list does not name.
    ASSERT_TRUE(qm::WriteFile(dir.File("pic.png"), qmtest::TinyPng()));

    qm::BookBuildRequest request;
    // The list was a, b, notes; b was moved up: the book is still named after a.
    request.files = {{dir.File("b.xhtml"), "Bee"}, {dir.File("a.html"), "A"}, {dir.File("notes.txt"), "Notes"}};
    request.firstListedPath = dir.File("a.html");
    request.firstListedName = "a.html";
    request.metadata = qm::BookMetadata{"Docs", "Me", ""};
    qm::RunState run;
    std::atomic<bool> done{false};
    ASSERT_EQ(qm::BookBuilderWorker(options, request, run, prompt, &done), qm::BookBuildResult::Made);
    EXPECT_TRUE(done);
    const std::string book = dir.File("out/a.epub");
    EXPECT_EQ(run.successCount, 1);
    EXPECT_EQ(run.producedBooks, (std::vector<std::string>{book}));

    auto entries = Entries(book);
    ASSERT_TRUE(entries.count("OPS/content.opf"));
    const std::string &opf = entries["OPS/content.opf"];
    size_t b = opf.find("<itemref idref=\"b\""), a = opf.find("<itemref idref=\"a\""), n = opf.find("<itemref idref=\"notes\"");
    ASSERT_NE(b, std::string::npos) << opf;
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(n, std::string::npos);
    EXPECT_LT(b, a);
    EXPECT_LT(a, n);
    EXPECT_EQ(opf.find("linear=\"no\""), std::string::npos);  // no title page of the program's own
    EXPECT_NE(opf.find("pic.png"), std::string::npos);         // the picture the page shows came along

    EXPECT_EQ(entries["OPS/b.xhtml"], xhtml);  // well-formed XHTML goes in unchanged
    ASSERT_TRUE(entries.count("OPS/a.html"));
    const std::string &a_html = entries["OPS/a.html"];
    EXPECT_TRUE(ParsesAsXml(a_html)) << a_html;
    EXPECT_EQ(a_html.find("script"), std::string::npos);
    EXPECT_EQ(a_html.find("onclick"), std::string::npos);
    EXPECT_EQ(a_html.find("gone.png"), std::string::npos);
    EXPECT_EQ(a_html.find("elsewhere.html"), std::string::npos);
    EXPECT_NE(a_html.find("href=\"b.xhtml#x\""), std::string::npos);
    EXPECT_NE(a_html.find("https://example.org/?a=1&amp;b=2"), std::string::npos);
    EXPECT_NE(a_html.find("Loose text &amp; more"), std::string::npos);
    ASSERT_TRUE(entries.count("OPS/notes.html"));
    const std::string &notes = entries["OPS/notes.html"];
    EXPECT_NE(notes.find("<p>Fish &amp; chips &lt;today&gt;\nsecond line</p>\n<p>New paragraph</p>"), std::string::npos)
        << notes;

    // The user's files are as they were, and the staging folder is gone.
    std::string original;
    ASSERT_TRUE(qm::ReadFile(dir.File("a.html"), original));
    EXPECT_EQ(original, kTagSoup);
    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"a.html", "b.xhtml", "notes.txt", "out", "pic.png"}));
    EXPECT_TRUE(ListFolder(temp.Path()).empty());

    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;
}

TEST_F(BookBuilderTest, SinglePdfRunTitlePageOnlyWithCover) {
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("my.book.pdf"), 3));
    for (int cover : {0, 1}) {
        options.createCover = cover;
        qm::ConversionObserver observer;
        qm::ConversionRun run(options, prompt, observer);
        run.retryDelayMs = 0;
        ASSERT_EQ(run.StartConversion({dir.File("my.book.pdf")}, {"my.book.pdf"}, true), qm::StartResult::Started);
        run.Wait();
        qm::RunState &s = run.State();
        ASSERT_FALSE(s.producedFiles.empty());
        qm::BookBuildRequest request;
        for (const std::string &path : s.producedFiles) {
            std::string name = qm::FileNamePart(path);
            request.files.push_back({path, name.substr(0, name.rfind('.'))});
        }
        request.firstListedPath = dir.File("my.book.pdf");
        request.firstListedName = "my.book.pdf";
        request.fromPdfRun = true;
        std::atomic<bool> done{false};
        ASSERT_EQ(qm::BookBuilderWorker(options, request, s, prompt, &done), qm::BookBuildResult::Made);
        const std::string book = dir.File("out/my.epub");  // first dot in the single-document case
        auto entries = Entries(book);
        const std::string &opf = entries["OPS/content.opf"];
        EXPECT_EQ(opf.find("linear=\"no\"") != std::string::npos, cover == 1) << opf;
        EXPECT_FALSE(qm::FolderExists(s.workRoot));
        run.Finish();
        EXPECT_TRUE(ListFolder(temp.Path()).empty());
        std::remove(book.c_str());
    }
}

TEST(HtmlToXhtmlTest, TagSoupBecomesWellFormedXhtml) {
    std::string page = qm::HtmlToXhtml(kTagSoup, "T & U");
    EXPECT_TRUE(qm::IsWellFormedXhtml(page)) << page;
    EXPECT_NE(page.find("<title>T &amp; U</title>"), std::string::npos);
    EXPECT_EQ(page.find("<ul/>"), std::string::npos);
    EXPECT_EQ(page.find("id=\"1bad\""), std::string::npos);
    EXPECT_EQ(page.find("id=\"dup\"", page.find("id=\"dup\"") + 1), std::string::npos);
    EXPECT_EQ(page.find("<center"), std::string::npos);
    EXPECT_NE(page.find("centred"), std::string::npos);
    // Nothing but blocks directly in the body; no block inside a paragraph.
    EXPECT_EQ(page.find("<body>Loose"), std::string::npos);
    EXPECT_EQ(page.find("<p>Next <div>"), std::string::npos);
    EXPECT_TRUE(qm::IsWellFormedXhtml(qm::HtmlToXhtml("", "")));
    EXPECT_TRUE(qm::IsWellFormedXhtml(qm::HtmlToXhtml(std::string("\0\xff\xfe<<<", 6), "")));
    EXPECT_FALSE(qm::IsWellFormedXhtml("<html><body><p>unclosed</body></html>"));
    EXPECT_FALSE(qm::IsWellFormedXhtml("<html><body/></html>"));  // no XHTML namespace
}

TEST(TextToXhtmlTest, EscapesAndSplitsAtBlankLines) {
    std::string page = qm::TextToXhtml("\xEF\xBB\xBFOne\r\ntwo\r\n \r\n<three> & \"four\"\n", "Title");
    EXPECT_TRUE(qm::IsWellFormedXhtml(page)) << page;
    EXPECT_NE(page.find("<body>\n<p>One\ntwo</p>\n<p>&lt;three&gt; &amp; &quot;four&quot;</p>\n</body>"), std::string::npos)
        << page;
    EXPECT_TRUE(qm::IsWellFormedXhtml(qm::TextToXhtml("", "")));
}

// ---- Encodings and characters XML cannot hold ---------------------------------------------------

std::string Body(const std::string &page) {
    const size_t start = page.find("<body>"), end = page.rfind("</html>");
    return start == std::string::npos || end < start ? page : page.substr(start, end - start);
}

// Pages the fuzzer found not well-formed or not UTF-8, and the encodings a document may come in.
TEST(HtmlToXhtmlTest, EveryPageIsWellFormedUtf8WhateverTheBytes) {
    const qm::ReferenceResolver keep = [](const std::string &address, qm::ReferenceKind) { return address; };
    auto check = [](const std::string &page) {
        EXPECT_TRUE(qm::IsUtf8(page)) << page;
        EXPECT_TRUE(qm::IsWellFormedXhtml(page)) << page;
        return Body(page);
    };
    // A control character in an attribute value goes, with or without a resolver, in every
    // attribute that is kept.
    for (const qm::ReferenceResolver &resolve : {qm::ReferenceResolver(), keep}) {
        EXPECT_EQ(check(qm::HtmlToXhtml("<a href=\"x\x03y\">t</a>", "", resolve)),
                  "<body><p><a href=\"xy\">t</a></p></body>\n");
        EXPECT_EQ(check(qm::HtmlToXhtml("<p title=\"a\x01\x1F\" class=\"\x0B"
                                        "c\" style=\"color:\x02red\"><img src=\"p.png\" alt=\"\x7F\x08\"></p>",
                                        "", resolve)),
                  "<body><p title=\"a\" class=\"c\" style=\"color:red\"><img src=\"p.png\" alt=\"\x7F\"/></p></body>\n");
    }
    // "&" before a byte that is not UTF-8: the document is read as windows-1252 from the start.
    EXPECT_EQ(check(qm::HtmlToXhtml("&\xF8", "")), "<body><p>&amp;\xC3\xB8</p></body>\n");
    EXPECT_EQ(check(qm::HtmlToXhtml("<p>caf\xE9 \x80 \x93q\x94 &\x81</p>", "")),
              "<body><p>caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D &amp;\xC2\x81</p></body>\n");
    // Valid UTF-8 stays UTF-8 whatever the document declares.
    EXPECT_EQ(check(qm::HtmlToXhtml("<meta charset=\"iso-8859-1\"><p>caf\xC3\xA9</p>", "")),
              "<body><p>caf\xC3\xA9</p></body>\n");
    // Otherwise a declared charset is honoured; Latin-1 means windows-1252, a declared UTF-8 that
    // is not UTF-8 is not believed.
    EXPECT_EQ(check(qm::HtmlToXhtml("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-7\">"
                                    "<p>\xE1\xE2</p>",
                                    "")),
              "<body><p>\xCE\xB1\xCE\xB2</p></body>\n");
    EXPECT_EQ(check(qm::HtmlToXhtml("<meta charset=latin1><p>\x93q\x94</p>", "")),
              "<body><p>\xE2\x80\x9Cq\xE2\x80\x9D</p></body>\n");
    EXPECT_EQ(check(qm::HtmlToXhtml("<meta charset='utf-8'><p>\xE9t\xE9</p>", "")),
              "<body><p>\xC3\xA9t\xC3\xA9</p></body>\n");
    EXPECT_EQ(check(qm::HtmlToXhtml("<meta charset=no-such-charset><p>\xE9</p>", "")), "<body><p>\xC3\xA9</p></body>\n");
    // A byte order mark names the encoding.
    EXPECT_EQ(check(qm::HtmlToXhtml(std::string("\xFF\xFE<\0p\0>\0\xE9\0", 10), "")), "<body><p>\xC3\xA9</p></body>\n");
    // Plain text: UTF-8 or windows-1252.
    EXPECT_NE(check(qm::TextToXhtml("caf\xE9 \x85", "")).find("<p>caf\xC3\xA9 \xE2\x80\xA6</p>"), std::string::npos);
    EXPECT_NE(check(qm::TextToXhtml("caf\xC3\xA9", "")).find("<p>caf\xC3\xA9</p>"), std::string::npos);
    // A title with bytes that are not UTF-8 still gives a UTF-8 page.
    check(qm::HtmlToXhtml("<p>x</p>", "t\xFF\x01"));
}

// ---- Pictures, pages of pictures, stylesheets ---------------------------------------------------

// A 1 x 1 GIF.
std::string TinyGif() {
    static const unsigned char kGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                                         0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04,
                                         0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01,
                                         0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    return std::string(reinterpret_cast<const char *>(kGif), sizeof kGif);
}

bool Contains(const std::vector<std::string> &lines, const std::string &part) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string &l) { return l.find(part) != std::string::npos; });
}

TEST(PictureProblemTest, EmptyDamagedAndMislabelledPicturesAreFound) {
    qmtest::TempDir dir;
    auto problem = [&](const std::string &name, const std::string &bytes) {
        EXPECT_TRUE(qm::WriteFile(dir.File(name), bytes));
        return qm::PictureProblem(dir.File(name));
    };
    const std::string png = qmtest::TinyPng();
    const std::string damaged = "the picture cannot be read (damaged, or not a ";
    EXPECT_EQ(problem("ok.png", png), "");
    EXPECT_EQ(problem("ok.GIF", TinyGif()), "");
    EXPECT_EQ(problem("ok.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1\" height=\"1\"/>"), "");
    EXPECT_EQ(problem("empty.png", ""), "the picture is empty");
    EXPECT_EQ(problem("empty.jpeg", ""), "the picture is empty");
    EXPECT_EQ(problem("text.png", "not a picture at all"), damaged + "PNG file)");
    EXPECT_EQ(problem("gif.png", TinyGif()), damaged + "PNG file)");  // another kind under the name
    EXPECT_EQ(problem("png.jpg", png), damaged + "JPEG file)");
    EXPECT_EQ(problem("cut.png", png.substr(0, 50)), damaged + "PNG file)");  // ends inside a chunk
    EXPECT_EQ(problem("noheader.png", png.substr(0, 8) + std::string(30, '\0')), damaged + "PNG file)");
    EXPECT_EQ(problem("head.jpg", std::string("\xFF\xD8\xFF\xE0", 4) + std::string(40, '\0')), damaged + "JPEG file)");
    EXPECT_EQ(problem("bad.svg", "<svg><g>"), damaged + "SVG file)");
    EXPECT_EQ(problem("notes.css", ""), "");  // not a picture: not judged here
    EXPECT_EQ(qm::PictureProblem(dir.File("missing.png")), "the file cannot be read");
}

TEST(RewriteCssReferencesTest, AddressesAreFoundOnlyWhereCssHasThem) {
    std::vector<std::pair<std::string, qm::ReferenceKind>> seen;
    qm::ReferenceResolver resolve = [&](const std::string &address, qm::ReferenceKind kind) -> std::string {
        seen.emplace_back(address, kind);
        if (address.find("gone") != std::string::npos) return "";
        if (address == "move me.png") return "img/moved.png";
        return address;
    };
    const std::string css =
        "/* url(comment.png) @import \"comment.css\"; */\n"
        "@import \"a.css\" screen;\n"
        "@IMPORT url( 'gone.css' );\n"
        "p::before { content: \"url(string.png)\"; }\n"
        "body { background: URL(\"move me.png\") no-repeat; color: red }\n"
        "h1 { color: blue; background: url(\"gone.png\"), url(keep.png); margin: 0 }\n"
        "h2 { x: myurl(not.png); y: url(esc\\61 pe.png) }\n";
    EXPECT_EQ(qm::RewriteCssReferences(css, resolve),
              "/* url(comment.png) @import \"comment.css\"; */\n"
              "@import \"a.css\" screen;\n"
              "\n"
              "p::before { content: \"url(string.png)\"; }\n"
              "body { background: url(\"img/moved.png\") no-repeat; color: red }\n"
              "h1 { color: blue; margin: 0 }\n"
              "h2 { x: myurl(not.png); y: url(esc\\61 pe.png) }\n");
    using K = qm::ReferenceKind;
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, K>>{{"a.css", K::Stylesheet},
                                                             {"gone.css", K::Stylesheet},
                                                             {"move me.png", K::CssResource},
                                                             {"gone.png", K::CssResource},
                                                             {"keep.png", K::CssResource},
                                                             {"escape.png", K::CssResource}}));
    // A style attribute is a list of declarations; broken text is left as it is.
    EXPECT_EQ(qm::RewriteCssReferences("color: red; background: url(gone.png)", resolve), "color: red;");
    for (const char *broken : {"a { b: url(", "@import", "@import url(x", "a { content: \"open", "/* open"})
        EXPECT_EQ(qm::RewriteCssReferences(broken, resolve), broken);
}

TEST(HtmlToXhtmlTest, StylesheetLinksAndStyleBlocksGoIntoTheHead) {
    const std::string page = qm::HtmlToXhtml(
        "<html><head><link rel=\"Alternate Stylesheet\" href=\"a.css\" media=\"screen\"><link rel=\"icon\" href=\"i.png\">"
        "<style>p > b { color: red } p::after { content: \"a & b ]]> </x>\" }</style>"
        "<style type=\"text/less\">@x: 1;</style></head><body><p>T</p><style>em { color: blue }</style></body></html>",
        "T");
    EXPECT_TRUE(qm::IsWellFormedXhtml(page)) << page;
    const size_t head = page.find("</head>");
    const size_t link = page.find("<link rel=\"stylesheet\" type=\"text/css\" href=\"a.css\" media=\"screen\"/>");
    const size_t style = page.find("<style type=\"text/css\">\np &gt; b { color: red } p::after { content: &quot;a &amp; b ]]&gt; ");
    const size_t second = page.find("em { color: blue }");
    ASSERT_NE(link, std::string::npos) << page;
    ASSERT_NE(style, std::string::npos) << page;
    EXPECT_LT(link, style);
    EXPECT_LT(style, second);  // in the document's order
    EXPECT_LT(second, head);   // a style block of the body moves to the head
    EXPECT_EQ(page.find("i.png"), std::string::npos);
    EXPECT_EQ(page.find("@x"), std::string::npos);
}

TEST_F(BookBuilderTest, PicturesOnlyListGetsAPageAndBadPicturesAreLeftOut) {
    qm::CreateFolder(dir.File("a"));
    qm::CreateFolder(dir.File("b"));
    ASSERT_TRUE(qm::WriteFile(dir.File("a/x.png"), qmtest::TinyPng()));
    ASSERT_TRUE(qm::WriteFile(dir.File("b/x.png"), qmtest::TinyPng()));  // same name, another picture
    ASSERT_TRUE(qm::WriteFile(dir.File("c&d.gif"), TinyGif()));
    ASSERT_TRUE(qm::WriteFile(dir.File("empty.png"), ""));
    ASSERT_TRUE(qm::WriteFile(dir.File("bad.gif"), TinyGif().substr(0, 38) + "\xFF\xFF"));  // its pixels cut short
    qmtest::RecordingPrompt recorder;
    qm::BookBuildRequest request;
    for (const char *f : {"empty.png", "a/x.png", "bad.gif", "b/x.png", "c&d.gif"})
        request.files.push_back({dir.File(f), f});
    request.destination = dir.File("pictures.epub");
    request.metadata.title = "Holiday <2024>";
    qm::RunState run;
    std::atomic<bool> done{false};
    std::vector<std::string> refusals;
    ASSERT_EQ(qm::BookBuilderWorker(options, request, run, recorder, &done, &refusals), qm::BookBuildResult::Made);
    EXPECT_EQ(refusals, (std::vector<std::string>{dir.File("empty.png") + ": left out of the book: the picture is empty.",
                                                  dir.File("bad.gif") +
                                                      ": left out of the book: the picture cannot be read (damaged, "
                                                      "or not a GIF file)."}));
    EXPECT_EQ(recorder.messages, refusals);

    auto entries = Entries(dir.File("pictures.epub"));
    EXPECT_FALSE(entries.count("OPS/empty.png"));
    EXPECT_FALSE(entries.count("OPS/bad.gif"));
    EXPECT_EQ(entries["OPS/x.png"], qmtest::TinyPng());
    EXPECT_EQ(entries["OPS/x-2.png"], qmtest::TinyPng());
    EXPECT_EQ(entries["OPS/c&d.gif"], TinyGif());
    const std::string &page = entries["OPS/pictures.html"];
    EXPECT_TRUE(qm::IsWellFormedXhtml(page)) << page;
    EXPECT_NE(page.find("<title>Holiday &lt;2024&gt;</title>"), std::string::npos);
    const size_t first = page.find("<img src=\"x.png\" alt=\"x\"/>"), second = page.find("<img src=\"x-2.png\" alt=\"x\"/>"),
                 third = page.find("<img src=\"c&amp;d.gif\" alt=\"c&amp;d\"/>");
    ASSERT_NE(first, std::string::npos) << page;
    ASSERT_NE(second, std::string::npos) << page;
    ASSERT_NE(third, std::string::npos) << page;
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_NE(entries["OPS/content.opf"].find("<itemref idref=\"pictures\" linear=\"yes\" />"), std::string::npos);
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File("pictures.epub"), &report)) << report;

    // Nothing left to show: no book, and a line that says so.
    recorder.messages.clear();
    refusals.clear();
    request.files = {{dir.File("empty.png"), "empty"}, {dir.File("bad.gif"), "bad"}};
    request.destination = dir.File("nothing.epub");
    qm::RunState run2;
    EXPECT_EQ(qm::BookBuilderWorker(options, request, run2, recorder, &done, &refusals), qm::BookBuildResult::NotMade);
    EXPECT_EQ(refusals.size(), 2u);
    EXPECT_TRUE(Contains(recorder.messages, "No book was made"));
    EXPECT_FALSE(qm::FileExists(dir.File("nothing.epub")));
    EXPECT_EQ(run2.successCount, 0);
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

// A folder of the user's own: a document linking a stylesheet that imports another and refers to
// a font and a picture, with references to files that do not exist.
class StyledBookTest : public BookBuilderTest {
protected:
    std::map<std::string, std::string> files;
    qmtest::RecordingPrompt recorder;

    void Write(const std::string &name, const std::string &bytes) {
        std::string folder = qm::FolderPart(name);
        if (!folder.empty()) qm::CreateFolders(dir.File(folder));
        ASSERT_TRUE(qm::WriteFile(dir.File(name), bytes));
        files[name] = bytes;
    }
    // Builds the listed files into book.epub; its entries.
    std::map<std::string, std::string> Build(const std::vector<std::string> &listed, bool epub3 = false) {
        qm::BookBuildRequest request;
        request.epub3 = epub3;
        for (const std::string &f : listed) request.files.push_back({dir.File(f), f});
        request.destination = dir.File("book.epub");
        qm::RunState run;
        std::atomic<bool> done{false};
        EXPECT_EQ(qm::BookBuilderWorker(options, request, run, recorder, &done), qm::BookBuildResult::Made);
        std::string report;
        EXPECT_TRUE(qmtest::EpubCheck(dir.File("book.epub"), &report)) << report;
        // The user's files are as they were.
        for (const auto &[name, bytes] : files) {
            std::string now;
            EXPECT_TRUE(qm::ReadFile(dir.File(name), now) && now == bytes) << name;
        }
        EXPECT_TRUE(ListFolder(temp.Path()).empty());
        return Entries(dir.File("book.epub"));
    }
    static std::string Xhtml(const std::string &head, const std::string &body) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" \"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n"
               "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title>" +
               head + "</head>\n<body>" + body + "</body></html>\n";
    }
};

TEST_F(StyledBookTest, XhtmlStylesheetComesWithWhatItImportsAndReferences) {
    const std::string look = "@import \"base.css\";\n"
                             "@import url(missing.css);\n"
                             "@font-face { font-family: \"F\"; src: url(../fonts/f.ttf) format(\"truetype\"); }\n"
                             "body { font-family: F; background: url('../img/bg.png') no-repeat; }\n"
                             "p.x { background-image: url(../img/nothere.png); color: red }\n"
                             "h1 { background: url(https://example.org/x.png) }\n";
    Write("css/look.css", look);
    Write("css/base.css", "p { margin: 0; }\n");
    Write("fonts/f.ttf", "font bytes");
    Write("img/bg.png", qmtest::TinyPng());
    Write("img/pic.png", qmtest::TinyPng());
    Write("doc.xhtml", Xhtml("<link rel=\"stylesheet\" type=\"text/css\" href=\"css/look.css\"/>",
                             "<p class=\"x\">Hi</p><p><img src=\"img/pic.png\" alt=\"p\"/></p>"));
    auto entries = Build({"doc.xhtml"});

    // Everything resolves at its own relative path: the document goes in unchanged.
    EXPECT_EQ(entries["OPS/doc.xhtml"], files["doc.xhtml"]);
    EXPECT_EQ(entries["OPS/css/base.css"], files["css/base.css"]);
    EXPECT_EQ(entries["OPS/fonts/f.ttf"], "font bytes");
    EXPECT_EQ(entries["OPS/img/bg.png"], qmtest::TinyPng());
    EXPECT_EQ(entries["OPS/img/pic.png"], qmtest::TinyPng());
    // The stylesheet loses only what cannot be in a book.
    EXPECT_EQ(entries["OPS/css/look.css"], "@import \"base.css\";\n\n"
                                           "@font-face { font-family: \"F\"; src: url(../fonts/f.ttf) format(\"truetype\"); }\n"
                                           "body { font-family: F; background: url('../img/bg.png') no-repeat; }\n"
                                           "p.x { color: red }\n"
                                           "h1 {}\n");
    const std::string &opf = entries["OPS/content.opf"];
    EXPECT_NE(opf.find("href=\"css/look.css\" media-type=\"text/css\""), std::string::npos) << opf;
    EXPECT_NE(opf.find("href=\"fonts/f.ttf\" media-type=\"font/ttf\""), std::string::npos) << opf;
    EXPECT_EQ(recorder.messages.size(), 3u);
    EXPECT_TRUE(Contains(recorder.messages, "reference \"missing.css\" left out of the book: the file was not found."));
    EXPECT_TRUE(Contains(recorder.messages, "reference \"../img/nothere.png\" left out"));
    EXPECT_TRUE(Contains(recorder.messages, "reference \"https://example.org/x.png\" left out"));
}

TEST_F(StyledBookTest, HtmlKeepsItsStylesheetLinksAndStyleBlocks) {
    Write("style/look.css", "p { color: green; }\n");
    Write("bg.png", qmtest::TinyPng());
    Write("page.html",
          "<html><head><title>P</title><link rel=\"stylesheet\" href=\"style/look.css\" media=\"screen\">"
          "<link rel=stylesheet href=\"gone.css\"><style>p > b { color: red } p::after { content: \"a & b </x>\" }\n"
          "body { background: url(bg.png) }</style></head>"
          "<body><p style=\"background: url(bg.png); color: blue\">x <b>y</b></p>"
          "<p style=\"background: url(nothere.png)\">z</p></body></html>");
    auto entries = Build({"page.html"});
    const std::string &page = entries["OPS/page.html"];
    EXPECT_TRUE(ParsesAsXml(page)) << page;
    EXPECT_NE(page.find("<link rel=\"stylesheet\" type=\"text/css\" href=\"style/look.css\" media=\"screen\"/>"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("p &gt; b { color: red } p::after { content: &quot;a &amp; b &lt;/x&gt;&quot; }\n"
                        "body { background: url(bg.png) }"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("style=\"background: url(bg.png); color: blue\""), std::string::npos) << page;
    EXPECT_EQ(page.find("gone.css"), std::string::npos);
    EXPECT_EQ(page.find("nothere.png"), std::string::npos);
    EXPECT_EQ(entries["OPS/style/look.css"], files["style/look.css"]);
    EXPECT_EQ(entries["OPS/bg.png"], qmtest::TinyPng());
    EXPECT_TRUE(Contains(recorder.messages, "reference \"gone.css\" left out of the book: the file was not found."));
    EXPECT_TRUE(Contains(recorder.messages, "reference \"nothere.png\" left out"));
}

TEST_F(StyledBookTest, ReferencesThatCannotStayAsWrittenAreMovedOrDropped) {
    // Two documents of one name in two folders; one links a stylesheet beside its folder, the
    // other one of the same name in its own folder, a missing one and one on the web.
    Write("shared/look.css", "p { color: red; }\n");
    Write("other/look.css", "p { color: blue; }\n");
    Write("text/ch.xhtml", Xhtml("<link rel=\"stylesheet\" type=\"text/css\" href=\"../shared/look.css\"/>"
                                 "<link rel=\"stylesheet\" type=\"text/css\" href=\"missing.css\"/>",
                                 "<p id=\"top\">One <img src=\"sub/pic.png\" alt=\"\"/></p>"));
    // A listed file takes the name of the picture's folder: the picture goes beside the documents.
    Write("text/sub/pic.png", qmtest::TinyPng());
    Write("misc/sub", "plain");
    Write("other/ch.xhtml", Xhtml("<link rel=\"stylesheet\" type=\"text/css\" href=\"look.css\"/>"
                                  "<link rel=\"stylesheet\" type=\"text/css\" href=\"http://example.org/x.css\"/>",
                                  "<p><a href=\"../text/ch.xhtml#top\">back</a> <a href=\"nowhere.xhtml\">gone</a></p>"));
    auto entries = Build({"text/ch.xhtml", "other/ch.xhtml", "misc/sub"});
    const std::string &first = entries["OPS/ch.xhtml"], &second = entries["OPS/ch-2.xhtml"];
    EXPECT_TRUE(qm::IsWellFormedXhtml(first)) << first;
    EXPECT_TRUE(qm::IsWellFormedXhtml(second)) << second;
    EXPECT_NE(first.find("href=\"look.css\""), std::string::npos) << first;
    EXPECT_EQ(first.find("missing.css"), std::string::npos) << first;
    EXPECT_NE(first.find("<img src=\"pic.png\" alt=\"\"/>"), std::string::npos) << first;
    EXPECT_EQ(entries["OPS/pic.png"], qmtest::TinyPng());
    EXPECT_EQ(entries["OPS/sub"], "plain");
    EXPECT_NE(second.find("href=\"look-2.css\""), std::string::npos) << second;
    EXPECT_EQ(second.find("example.org"), std::string::npos) << second;
    EXPECT_NE(second.find("<a href=\"ch.xhtml#top\">back</a>"), std::string::npos) << second;
    EXPECT_NE(second.find("<a>gone</a>"), std::string::npos) << second;
    EXPECT_EQ(entries["OPS/look.css"], files["shared/look.css"]);
    EXPECT_EQ(entries["OPS/look-2.css"], files["other/look.css"]);
    EXPECT_TRUE(Contains(recorder.messages, "reference \"missing.css\" left out of the book: the file was not found."));
    EXPECT_TRUE(Contains(recorder.messages, "reference \"http://example.org/x.css\" left out"));
    EXPECT_TRUE(Contains(recorder.messages, "reference \"nowhere.xhtml\" left out"));
}

// Documents in other encodings are UTF-8 in the book, and the book stays valid.
TEST_F(StyledBookTest, DocumentsInOtherEncodingsGoInAsUtf8) {
    Write("latin.xhtml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                         "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title></head>"
                         "<body><p>caf\xE9</p></body></html>\n");
    Write("soup.html", "<p><a href=\"https://ex\x03" "ample.org/\" title=\"\x01\">&\xF8</a></p>");
    Write("notes.txt", "na\xEFve\n");
    auto entries = Build({"latin.xhtml", "soup.html", "notes.txt"});
    const std::string &latin = entries["OPS/latin.xhtml"];
    EXPECT_NE(latin.find("encoding=\"UTF-8\""), std::string::npos) << latin;
    EXPECT_NE(latin.find("<p>caf\xC3\xA9</p>"), std::string::npos) << latin;
    EXPECT_NE(entries["OPS/soup.html"].find("<a href=\"https://example.org/\" title=\"\">&amp;\xC3\xB8</a>"), std::string::npos)
        << entries["OPS/soup.html"];
    EXPECT_NE(entries["OPS/notes.html"].find("<p>na\xC3\xAFve</p>"), std::string::npos) << entries["OPS/notes.html"];
}

// The documents task's own sample: a web address with a blank, a link to a place another
// document does not have, a page in a legacy encoding, text, a stylesheet and a picture.
TEST_F(StyledBookTest, DocumentsSampleGivesAValidBookWithMendedLinks) {
    Write("one.html",
          "<html><head><title>One</title><link rel=\"stylesheet\" href=\"look.css\"></head><body>\n"
          "<h1>Chapter &amp; one</h1><p>See <a href=\"www.example.net\">the site</a>, "
          "<a href=\"user@example.org\">mail</a>,\n<a href=\"https://example.com/a b?x=1&amp;y=2\">a query</a>, "
          "<a href=\"two.html#s\">the next page</a>.</p>\n<p><img src=\"dot.png\" alt=\"dot\"></p></body></html>\n");
    Write("two.html", "<html><head><meta charset=\"windows-1252\"></head><body><p>caf\xe9 \x93quoted\x94</p></body></html>\n");
    Write("three.txt", "Plain text\nwith <angle> & ampersand\n");
    Write("look.css", "p { color: #333; }\n");
    Write("dot.png", qmtest::TinyPng());
    auto entries = Build({"one.html", "two.html", "three.txt", "dot.png"});  // epubcheck: no errors, no warnings
    const std::string &one = entries["OPS/one.html"];
    EXPECT_NE(one.find("<a href=\"https://example.com/a%20b?x=1&amp;y=2\">a query</a>"), std::string::npos) << one;
    EXPECT_NE(one.find("<a href=\"two.html\">the next page</a>"), std::string::npos) << one;
    EXPECT_EQ(std::count_if(recorder.messages.begin(), recorder.messages.end(),
                            [](const std::string &m) { return m.find("\"two.html#s\"") != std::string::npos; }),
              1)
        << "one line about the place that two.html does not have";
}

// Places that exist are kept, also when the link points forwards; places that do not are
// dropped (a link within its own document entirely, its text kept); addresses are valid URLs
// and escapes already there are not escaped again.
TEST_F(StyledBookTest, LinksKeepOnlyPlacesTheirDocumentHas) {
    Write("a.xhtml", Xhtml("", "<p id=\"top\"><a href=\"b.html#here\">there</a> <a href=\"b.html#gone\">lost</a> "
                               "<a href=\"#top\">up</a> <a href=\"#nowhere\">stay</a> <a href=\"#caf%C3%A9\">cafe</a> "
                               "<a href=\"http://example.org/x%20y\">kept</a> "
                               "<a href=\"http://example.org/caf\xC3\xA9?q=&quot;{a|b}&quot;\">encoded</a></p>"
                               "<p id=\"caf\xC3\xA9\"><img src=\"caf\xC3\xA9.png\" alt=\"\"/></p>"));
    Write("b.html", "<p><a name=\"here\">Here</a> <a href=\"a.xhtml#top\">back</a> <a href=\"a.xhtml#none\">no</a></p>");
    Write("caf\xC3\xA9.png", qmtest::TinyPng());
    auto entries = Build({"a.xhtml", "b.html"});
    const std::string &a = entries["OPS/a.xhtml"], &b = entries["OPS/b.html"];
    EXPECT_NE(a.find("<a href=\"b.html#here\">there</a>"), std::string::npos) << a;
    EXPECT_NE(a.find("<a href=\"b.html\">lost</a>"), std::string::npos) << a;
    EXPECT_NE(a.find("<a href=\"#top\">up</a>"), std::string::npos) << a;
    EXPECT_NE(a.find("<a>stay</a>"), std::string::npos) << a;
    EXPECT_NE(a.find("<a href=\"#caf%C3%A9\">cafe</a>"), std::string::npos) << a;
    EXPECT_NE(a.find("href=\"http://example.org/x%20y\""), std::string::npos) << a;
    EXPECT_NE(a.find("href=\"http://example.org/caf%C3%A9?q=%22%7Ba%7Cb%7D%22\""), std::string::npos) << a;
    EXPECT_NE(a.find("src=\"caf%C3%A9.png\""), std::string::npos) << a;
    EXPECT_NE(b.find("<a href=\"a.xhtml#top\">back</a>"), std::string::npos) << b;
    EXPECT_NE(b.find("<a href=\"a.xhtml\">no</a>"), std::string::npos) << b;
    EXPECT_TRUE(Contains(recorder.messages, "link \"#nowhere\" left out of the book"));
    EXPECT_TRUE(Contains(recorder.messages, "link \"b.html#gone\" goes to the start of b.html"));
    EXPECT_FALSE(Contains(recorder.messages, "#here"));
    EXPECT_FALSE(Contains(recorder.messages, "#top"));
}

// An EPUB 3 book of the user's documents: tag soup, an XHTML 1.1 document with what HTML5 dropped,
// and text become pages in the XHTML form of HTML5, with a navigation document.
TEST_F(StyledBookTest, Epub3BookOfDocumentsPassesEpubcheck) {
    Write("soup.html", kTagSoup);
    Write("pic.png", qmtest::TinyPng());
    Write("b.xhtml", Xhtml("<meta http-equiv=\"Content-Type\" content=\"application/xhtml+xml; charset=utf-8\"/>",
                           "<p><a name=\"x\">x</a> <acronym title=\"t\">T</acronym> <tt>code</tt> <big>big</big></p>"
                           "<table summary=\"s\" border=\"1\" width=\"50%\"><tr><td align=\"left\" width=\"3\">c</td></tr></table>"
                           "<p><img src=\"pic.png\" alt=\"\" width=\"50%\" height=\"4\"/></p>"));
    Write("notes.txt", "Fish & chips\n");
    auto entries = Build({"soup.html", "b.xhtml", "notes.txt"}, true);  // epubcheck: no errors, no warnings
    ASSERT_TRUE(entries.count("OPS/nav.xhtml"));
    EXPECT_NE(entries["OPS/content.opf"].find("version=\"3.0\""), std::string::npos);
    const std::string &soup = entries["OPS/soup.xhtml"], &b = entries["OPS/b.xhtml"];
    EXPECT_TRUE(entries.count("OPS/notes.xhtml"));
    for (const std::string *page : std::vector<const std::string *>{&soup, &b, &entries["OPS/notes.xhtml"]}) {
        EXPECT_NE(page->find("<!DOCTYPE html>\n"), std::string::npos) << *page;
        EXPECT_EQ(page->find("http-equiv"), std::string::npos) << *page;
    }
    EXPECT_NE(soup.find("href=\"b.xhtml#x\""), std::string::npos) << soup;  // the old-style anchor became an id
    EXPECT_NE(b.find("<a id=\"x\">x</a>"), std::string::npos) << b;
    EXPECT_NE(b.find("<abbr title=\"t\">T</abbr>"), std::string::npos) << b;
    EXPECT_NE(b.find("<img src=\"pic.png\" alt=\"\" height=\"4\"/>"), std::string::npos) << b;
    EXPECT_EQ(b.find("summary"), std::string::npos) << b;
}

TEST_F(BookBuilderTest, NoDoneFlagDoesNothing) {
    qm::BookBuildRequest request;
    qm::RunState run;
    EXPECT_EQ(qm::BookBuilderWorker(options, request, run, prompt, nullptr), qm::BookBuildResult::NoDoneFlag);
    EXPECT_EQ(run.successCount, 0);
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

} // namespace
