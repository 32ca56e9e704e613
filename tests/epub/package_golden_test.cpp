// Package files of the book: content.opf and toc.ncx compared byte for byte with their templates
// (identifier and date masked), the archive's entries, and epubcheck on one book per configuration.
#include <gtest/gtest.h>

#include <set>

#include "book_fixture.h"
#include "epub/epub_builder.h"
#include "platform/paths.h"
#include "support/temp_dir.h"
#include "zip_reader.h"

namespace {

using qm::EpubBuilder;
using qm::PackageJob;
using namespace qmtest;

struct BuiltBook {
    qm::EpubBuildResult rc = qm::EpubBuildResult::Ok;
    std::string opf, ncx;    // as written in the staging folder
    ZipArchiveInfo archive;  // the .epub read back
    std::string epubPath;
    std::string Entry(const std::string &name) const {
        for (const auto &e : archive.entries)
            if (e.name == name) return e.data;
        return "<missing>";
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto &e : archive.entries) names.push_back(e.name);
        return names;
    }
};

// Labels as the batch worker makes them: the file name up to its last dot.
PackageJob JobFor(const TempDir &dir, const std::vector<std::string> &names, const qm::BookMetadata *meta) {
    PackageJob job;
    for (const std::string &name : names) {
        const std::string path = MakeContentFile(dir.Path(), name);
        job.items.push_back({path, name.substr(0, name.rfind('.'))});
    }
    job.epubPath = "/somewhere/else/Book.epub";
    job.stagingFolder = dir.Path();
    job.metadata = meta;
    return job;
}

BuiltBook Build(const TempDir &dir, const PackageJob &job, bool epubcheck) {
    BuiltBook book;
    RecordingPrompt prompt;
    EpubBuilder builder(prompt);
    book.rc = builder.Build(&job, true);
    EXPECT_TRUE(prompt.messages.empty());
    qm::ReadFile(dir.File("OPS/content.opf"), book.opf);
    qm::ReadFile(dir.File("OPS/toc.ncx"), book.ncx);
    book.epubPath = dir.File(qm::FileNamePart(job.epubPath));
    std::string bytes;
    EXPECT_TRUE(qm::ReadFile(book.epubPath, bytes));
    book.archive = ReadZipArchive(bytes);
    EXPECT_TRUE(book.archive.ok) << book.archive.error;
    // What was zipped is what was written.
    EXPECT_EQ(book.opf, book.Entry("OPS/content.opf"));
    EXPECT_EQ(book.ncx, book.Entry("OPS/toc.ncx"));
    if (epubcheck) {
        std::string report;
        EXPECT_TRUE(EpubCheck(book.epubPath, &report)) << report;
    }
    return book;
}

const char *const kOpfHead = R"X(<?xml version='1.0' encoding='utf-8'?>
<package xmlns="http://www.idpf.org/2007/opf" unique-identifier="EPB-UUID" version="2.0">
  <metadata xmlns:opf="http://www.idpf.org/2007/opf"  xmlns:dc="http://purl.org/dc/elements/1.1/">
)X";

const char *const kNcxHead = R"X(<?xml version='1.0' encoding='utf-8'?>
<!DOCTYPE ncx PUBLIC "-//NISO//DTD ncx 2005-1//EN" "http://www.daisy.org/z3986/2005/ncx-2005-1.dtd">
<ncx xmlns="http://www.daisy.org/z3986/2005/ncx/" version="2005-1" xml:lang="en-gb">
 <head>
\t\t<meta name="dtb:uid" content="UUID" />
\t\t<meta name="dtb:generator" content="(none)"/>
\t\t<meta name="dtb:depth" content="1" />
\t\t<meta name="dtb:totalPageCount" content="0" />
\t\t<meta name="dtb:maxPageNumber" content="0" />
 </head>
 <docTitle>
)X";

std::string NavPoint(int n, const std::string &label, const std::string &src) {
    return Tabs("\\t\\t<navPoint id=\"navPoint-" + std::to_string(n) + "\" playOrder=\"" + std::to_string(n) +
                "\">\n \\t\\t\\t<navLabel>\n\\t\\t\\t\\t<text>" + label +
                "</text>\n\\t\\t\\t</navLabel>\n\\t\\t\\t<content src=\"" + src + "\" />\n\\t\\t</navPoint>\n");
}

const qm::BookMetadata kMoby{"Moby Dick", "Herman Melville", "Whales"};

TEST(EpubPackageFiles, PdfBookWithCover) {
    TempDir dir;
    PackageJob job = JobFor(dir,
                            {"styles.css", "cover.png", "title_page.html", "image-1.png", "page-1.html", "image-2.png",
                             "page-16.html"},
                            &kMoby);
    job.titlePageFlag = 1;
    job.coverMeta = true;
    job.deleteSources = true;
    BuiltBook book = Build(dir, job, true);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book.rc);

    EXPECT_EQ(std::string(kOpfHead) + R"X(    <dc:title>Moby Dick</dc:title>
    <dc:creator opf:role="aut" opf:file-as="Herman Melville">Herman Melville</dc:creator>
    <dc:subject>Whales</dc:subject>
    <dc:contributor opf:role="bkp">Moby Dick</dc:contributor>
    <dc:language>en-gb</dc:language>
    <dc:identifier id="EPB-UUID">UUID</dc:identifier>
    <dc:date opf:event="original-publication">DATE</dc:date>
    <meta name="cover" content="cover" />
   </metadata>
   <manifest>
   <item id="ncx" href="toc.ncx" media-type="application/x-dtbncx+xml" />
  <item id="styles" href="styles.css" media-type="text/css" />
   <item id="cover" href="cover.png" media-type="image/png" />
   <item id="title" href="title_page.html" media-type="application/xhtml+xml" />
   <item id="image-1" href="image-1.png" media-type="image/png" />
   <item id="page-1" href="page-1.html" media-type="application/xhtml+xml" />
   <item id="image-2" href="image-2.png" media-type="image/png" />
   <item id="page-16" href="page-16.html" media-type="application/xhtml+xml" />
  </manifest>
 <spine toc="ncx">
  <itemref idref="title" linear="no" />
    <itemref idref="page-1" linear="yes" />
    <itemref idref="page-16" linear="yes" />
    </spine>
   <guide>
   <reference href="title_page.html" type="cover" title="title" />
  </guide>
</package>
)X",
              MaskVolatile(book.opf));

    EXPECT_EQ(Tabs(kNcxHead) + Tabs("\\t\\t<text>Moby Dick</text>\n") + " </docTitle>\n <navMap>\n" +
                  NavPoint(1, "title_page", "title_page.html") + NavPoint(2, "page-1", "page-1.html") +
                  NavPoint(3, "page-16", "page-16.html") + " </navMap>\n</ncx>\n",
              MaskVolatile(book.ncx));

    // The identifier is a fresh version 4 UUID, the same in both files.
    const size_t at = book.opf.find("urn:uuid:");
    ASSERT_NE(std::string::npos, at);
    const std::string uuid = book.opf.substr(at, 45);
    EXPECT_NE(std::string::npos, book.ncx.find("content=\"" + uuid + "\""));

    // mimetype first and stored, then the package files, then the items in order.
    EXPECT_EQ((std::vector<std::string>{"mimetype", "META-INF/container.xml", "OPS/content.opf", "OPS/toc.ncx",
                                        "OPS/styles.css", "OPS/cover.png", "OPS/title_page.html", "OPS/image-1.png",
                                        "OPS/page-1.html", "OPS/image-2.png", "OPS/page-16.html"}),
              book.Names());
    EXPECT_EQ(0, book.archive.entries[0].method);
    EXPECT_EQ("application/epub+zip", book.Entry("mimetype"));
    EXPECT_EQ(R"(<?xml version='1.0' encoding='utf-8'?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
  <rootfiles>
 <rootfile full-path="OPS/content.opf" media-type="application/oebps-package+xml"/>
  </rootfiles>
</container>
)",
              book.Entry("META-INF/container.xml"));
    EXPECT_EQ(TinyPng(), book.Entry("OPS/cover.png"));

    // deleteSources removed the produced files, not the copies in OPS.
    for (const auto &item : job.items) {
        EXPECT_FALSE(qm::FileExists(item.sourcePath)) << item.sourcePath;
        EXPECT_TRUE(qm::FileExists(dir.File("OPS/" + qm::FileNamePart(item.sourcePath))));
    }

    // A second build of the same book gets another identifier.
    TempDir again;
    PackageJob job2 = JobFor(again, {"page-1.html"}, &kMoby);
    BuiltBook book2 = Build(again, job2, false);
    EXPECT_EQ(std::string::npos, book2.opf.find(uuid));
}

TEST(EpubPackageFiles, PdfBookWithoutCoverMakesTheFirstPageTheTitlePage) {
    TempDir dir;
    PackageJob job = JobFor(dir, {"styles.css", "image-1.png", "page-1.html", "page-16.html"}, &kMoby);
    job.titlePageFlag = 1;
    BuiltBook book = Build(dir, job, true);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book.rc);
    const std::string opf = MaskVolatile(book.opf);
    const std::string tail = R"X(    <dc:date opf:event="original-publication">DATE</dc:date>
   </metadata>
   <manifest>
   <item id="ncx" href="toc.ncx" media-type="application/x-dtbncx+xml" />
  <item id="styles" href="styles.css" media-type="text/css" />
   <item id="image-1" href="image-1.png" media-type="image/png" />
   <item id="title" href="page-1.html" media-type="application/xhtml+xml" />
   <item id="page-16" href="page-16.html" media-type="application/xhtml+xml" />
  </manifest>
 <spine toc="ncx">
  <itemref idref="title" linear="no" />
    <itemref idref="page-16" linear="yes" />
    </spine>
   <guide>
   <reference href="page-1.html" type="cover" title="title" />
  </guide>
</package>
)X";
    ASSERT_GE(opf.size(), tail.size());
    EXPECT_EQ(tail, opf.substr(opf.size() - tail.size()));
    // The title page is numbered like every other document.
    EXPECT_NE(std::string::npos, book.ncx.find(NavPoint(1, "page-1", "page-1.html") + NavPoint(2, "page-16", "page-16.html") +
                                               " </navMap>\n"));
}

TEST(EpubPackageFiles, WithoutTitlePageNoDocumentIsTreatedAsOne) {
    TempDir dir;
    PackageJob job = JobFor(dir, {"styles.css", "chapter1.html", "chapter2.html"}, &kMoby);
    job.titlePageFlag = 0;
    BuiltBook book = Build(dir, job, true);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book.rc);
    const std::string opf = MaskVolatile(book.opf);
    const std::string tail = R"X(   <manifest>
   <item id="ncx" href="toc.ncx" media-type="application/x-dtbncx+xml" />
  <item id="styles" href="styles.css" media-type="text/css" />
   <item id="chapter1" href="chapter1.html" media-type="application/xhtml+xml" />
   <item id="chapter2" href="chapter2.html" media-type="application/xhtml+xml" />
  </manifest>
 <spine toc="ncx">
   <itemref idref="chapter1" linear="yes" />
    <itemref idref="chapter2" linear="yes" />
    </spine>
</package>
)X";
    ASSERT_GE(opf.size(), tail.size());
    EXPECT_EQ(tail, opf.substr(opf.size() - tail.size()));
}

TEST(EpubPackageFiles, BookWithoutDocumentsGetsNoEmptyGuideReference) {
    TempDir dir;
    const qm::BookMetadata meta{"Two\r\nLines", "", ""};
    PackageJob job = JobFor(dir, {"image-1.png"}, &meta);
    job.titlePageFlag = 1;
    BuiltBook book = Build(dir, job, false);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book.rc);
    EXPECT_EQ(" <spine toc=\"ncx\">\n   </spine>\n</package>\n", book.opf.substr(book.opf.find(" <spine")));
    // Package files hold line feeds only.
    EXPECT_NE(std::string::npos, book.opf.find("<dc:title>Two\nLines</dc:title>"));
    EXPECT_EQ(std::string::npos, book.ncx.find('\r'));
}

TEST(EpubPackageFiles, MetadataIsEscapedOnceAndEmptyValuesFollowTheirRules) {
    // An empty title and creator (no metadata at all), then "A & B" with markup characters.
    TempDir empty;
    PackageJob job = JobFor(empty, {"page-1.html"}, nullptr);
    job.titlePageFlag = 1;
    BuiltBook book = Build(empty, job, false);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book.rc);
    EXPECT_EQ(std::string(kOpfHead) + R"X(    <dc:title>none</dc:title>
    <dc:creator opf:role="aut" opf:file-as="none"></dc:creator>
    <dc:subject>none</dc:subject>
    <dc:contributor opf:role="bkp">none</dc:contributor>
    <dc:language>en-gb</dc:language>
)X",
              book.opf.substr(0, book.opf.find("    <dc:identifier")));
    EXPECT_NE(std::string::npos, book.ncx.find(Tabs(" <docTitle>\n\\t\\t<text></text>\n </docTitle>\n")));

    TempDir dir;
    const qm::BookMetadata meta{"A & B", "Smith <\"Jr\">", "x>y"};
    PackageJob job2 = JobFor(dir, {"page-1.html", "page-16.html"}, &meta);
    job2.items[1].label = "Tom & Jerry"; // a title the user typed for the table of contents
    job2.titlePageFlag = 1;
    BuiltBook book2 = Build(dir, job2, true);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book2.rc);
    EXPECT_EQ(std::string(kOpfHead) + R"X(    <dc:title>A &amp; B</dc:title>
    <dc:creator opf:role="aut" opf:file-as="Smith &lt;&quot;Jr&quot;&gt;">Smith &lt;&quot;Jr&quot;&gt;</dc:creator>
    <dc:subject>x&gt;y</dc:subject>
    <dc:contributor opf:role="bkp">A &amp; B</dc:contributor>
    <dc:language>en-gb</dc:language>
)X",
              book2.opf.substr(0, book2.opf.find("    <dc:identifier")));
    EXPECT_NE(std::string::npos, book2.ncx.find(Tabs("\\t\\t<text>A &amp; B</text>\n")));
    EXPECT_NE(std::string::npos, book2.ncx.find(NavPoint(2, "Tom &amp; Jerry", "page-16.html")));
}

TEST(EpubPackageFiles, NavigationPointsFile) {
    TempDir dir;
    const std::string points = Tabs(
        "\\t\\t<navPoint id=\"navPoint-1\" playOrder=\"1\">\n\\t\\t\\t<navLabel>\n\\t\\t\\t\\t<text>Chapter &amp; "
        "One</text>\n\\t\\t\\t</navLabel>\n\\t\\t\\t<content src=\"page-1.html#page-1\"/>\n"
        "\\t\\t<navPoint id=\"navPoint-2\" playOrder=\"2\">\n\\t\\t\\t<navLabel>\n\\t\\t\\t\\t<text>Part</text>\n"
        "\\t\\t\\t</navLabel>\n\\t\\t\\t<content src=\"page-16.html#page-20\"/>\n\\t\\t</navPoint>\n\\t\\t</navPoint>\n");
    ASSERT_TRUE(qm::WriteFile(dir.File("nav.tmp"), points));
    PackageJob job;
    job.stagingFolder = dir.File("stage");
    job.epubPath = "Nav.epub";
    job.metadata = &kMoby;
    job.titlePageFlag = 1;
    job.useNavPointsFile = true;
    job.navPointsFile = dir.File("nav.tmp");
    ASSERT_TRUE(qm::CreateFolders(dir.File("src")));
    qm::WriteFile(dir.File("src/page-1.html"), XhtmlPage("page-1"));
    qm::WriteFile(dir.File("src/page-16.html"), XhtmlPage("page-20"));
    job.items = {{dir.File("src/page-1.html"), "page-1"}, {dir.File("src/page-16.html"), "page-16"}};

    RecordingPrompt prompt;
    ASSERT_EQ(qm::EpubBuildResult::Ok, EpubBuilder(prompt).Build(&job, true));
    std::string ncx;
    ASSERT_TRUE(qm::ReadFile(dir.File("stage/OPS/toc.ncx"), ncx));
    EXPECT_EQ(Tabs(kNcxHead) + Tabs("\\t\\t<text>Moby Dick</text>\n") + " </docTitle>\n <navMap>\n" + points +
                  " </navMap>\n</ncx>\n",
              MaskVolatile(ncx));
    // The sources were not asked to be deleted.
    EXPECT_TRUE(qm::FileExists(dir.File("src/page-1.html")));
    std::string report;
    EXPECT_TRUE(EpubCheck(dir.File("stage/Nav.epub"), &report)) << report;

    // An empty file, a missing one, or the switch off: one point per document.
    const std::string fallback = NavPoint(1, "page-1", "page-1.html") + NavPoint(2, "page-16", "page-16.html");
    qm::WriteFile(dir.File("empty.tmp"), "");
    for (const std::string &navFile : {dir.File("empty.tmp"), dir.File("missing.tmp"), dir.File("nav.tmp")}) {
        job.navPointsFile = navFile;
        job.useNavPointsFile = navFile != dir.File("nav.tmp");
        ASSERT_EQ(qm::EpubBuildResult::Ok, EpubBuilder(prompt).Build(&job, false));
        ASSERT_TRUE(qm::ReadFile(dir.File("stage/OPS/toc.ncx"), ncx));
        EXPECT_NE(std::string::npos, ncx.find(" <navMap>\n" + fallback + " </navMap>\n")) << navFile;
    }
}

TEST(EpubPackageFiles, IdsMediaTypesAndOddNames) {
    TempDir dir;
    const std::vector<std::string> names = {
        "title_page.html", "chapter.final.html", "a.html",    "a.png",       "a-1.html",   "1page.html",
        "ncx.html",        "title.png",          "noext",     "\xC3\xA9t\xC3\xA9.html",    "drawing.svg", "font.ttf",
        "font.otf",        "font.woff",          "font.woff2", "page.xpgt",  "data.bin",
        "Odd&Name.html"};
    PackageJob job = JobFor(dir, names, &kMoby);
    job.titlePageFlag = 1;
    BuiltBook book = Build(dir, job, true);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book.rc);
    const std::string opf = book.opf;
    const size_t from = opf.find("   <manifest>\n");
    ASSERT_NE(std::string::npos, from);
    EXPECT_EQ(R"X(   <manifest>
   <item id="ncx" href="toc.ncx" media-type="application/x-dtbncx+xml" />
  <item id="title" href="title_page.html" media-type="application/xhtml+xml" />
   <item id="chapter" href="chapter.final.html" media-type="application/xhtml+xml" />
   <item id="a" href="a.html" media-type="application/xhtml+xml" />
   <item id="a-2" href="a.png" media-type="image/png" />
   <item id="a-1" href="a-1.html" media-type="application/xhtml+xml" />
   <item id="item-1" href="1page.html" media-type="application/xhtml+xml" />
   <item id="ncx-1" href="ncx.html" media-type="application/xhtml+xml" />
   <item id="title-1" href="title.png" media-type="image/png" />
   <item id="item-2" href="noext" media-type="application/octet-stream" />
   <item id="été" href="été.html" media-type="application/xhtml+xml" />
   <item id="drawing" href="drawing.svg" media-type="image/svg+xml" />
   <item id="font" href="font.ttf" media-type="font/ttf" />
   <item id="font-1" href="font.otf" media-type="font/otf" />
   <item id="font-2" href="font.woff" media-type="font/woff" />
   <item id="font-3" href="font.woff2" media-type="font/woff2" />
   <item id="page" href="page.xpgt" media-type="application/vnd.adobe-page-template+xml" />
   <item id="data" href="data.bin" media-type="application/octet-stream" />
   <item id="item-3" href="Odd&amp;Name.html" media-type="application/xhtml+xml" />
  </manifest>
 <spine toc="ncx">
  <itemref idref="title" linear="no" />
    <itemref idref="chapter" linear="yes" />
    <itemref idref="a" linear="yes" />
    <itemref idref="a-1" linear="yes" />
    <itemref idref="item-1" linear="yes" />
    <itemref idref="ncx-1" linear="yes" />
    <itemref idref="été" linear="yes" />
    <itemref idref="item-3" linear="yes" />
    </spine>
)X",
              opf.substr(from, opf.find("   <guide>") - from));
    // Every id is unique and a valid XML name.
    std::set<std::string> ids;
    for (size_t p = 0; (p = opf.find("<item id=\"", p)) != std::string::npos; p += 10) {
        std::string id = opf.substr(p + 10, opf.find('"', p + 10) - p - 10);
        EXPECT_TRUE(ids.insert(id).second) << id;
    }
    // Only documents are in the NCX, in item order.
    int points = 0;
    for (size_t p = 0; (p = book.ncx.find("<navPoint ", p)) != std::string::npos; ++p) ++points;
    EXPECT_EQ(8, points);
    EXPECT_NE(std::string::npos, book.ncx.find(NavPoint(8, "Odd&amp;Name", "Odd&amp;Name.html")));
    EXPECT_EQ(std::string::npos, book.ncx.find("drawing.svg"));
    // Every item is in the archive under its own name, the non-ASCII one with the UTF-8 flag.
    EXPECT_EQ(4 + names.size(), book.archive.entries.size());
    for (const auto &e : book.archive.entries)
        EXPECT_EQ(e.name == "OPS/\xC3\xA9t\xC3\xA9.html", (e.flags & 0x0800) != 0) << e.name;
}

TEST(EpubPackageFiles, CoverMetaNamesTheCoverPicturesFinalId) {
    TempDir dir;
    // A page named cover.html comes first and takes the id "cover"; the picture gets another one.
    PackageJob job = JobFor(dir, {"cover.html", "styles.css", "cover.png", "page-1.html"}, &kMoby);
    job.titlePageFlag = 0;
    job.coverMeta = true;
    BuiltBook book = Build(dir, job, true);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book.rc);
    EXPECT_NE(std::string::npos, book.opf.find("    <meta name=\"cover\" content=\"cover-1\" />\n   </metadata>\n"));
    EXPECT_NE(std::string::npos, book.opf.find("<item id=\"cover-1\" href=\"cover.png\" media-type=\"image/png\" />"));
}

TEST(EpubPackageFiles, HrefsArePercentEncodedWhereAUriNeedsIt) {
    TempDir dir;
    PackageJob job = JobFor(dir, {"my page#1.html", "100%.png"}, &kMoby);
    job.titlePageFlag = 1;
    BuiltBook book = Build(dir, job, false);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book.rc);
    EXPECT_NE(std::string::npos,
              book.opf.find("<item id=\"title\" href=\"my%20page%231.html\" media-type=\"application/xhtml+xml\" />"));
    EXPECT_NE(std::string::npos, book.opf.find("<item id=\"item-1\" href=\"100%25.png\" media-type=\"image/png\" />"));
    EXPECT_NE(std::string::npos, book.ncx.find("<content src=\"my%20page%231.html\" />"));
    EXPECT_EQ(TinyPng(), book.Entry("OPS/100%.png"));
    // Scripts are no EPUB 2 content, but a file of that kind still gets its registered type.
    EXPECT_EQ("text/javascript", EpubBuilder::MediaType("x.JS"));
    EXPECT_EQ("application/xhtml+xml", EpubBuilder::MediaType("x.XHTML"));
    EXPECT_FALSE(EpubBuilder::IsDocument("x.css"));
}

TEST(EpubPackageFiles, ItemsGoToTheirPathsInsideTheBook) {
    TempDir dir;
    PackageJob job = JobFor(dir, {"doc.html", "look.css", "pic.png"}, &kMoby);
    job.items[1].bookPath = "css/look.css";
    job.items[2].bookPath = "img/sub/pic.png";
    job.titlePageFlag = 0;
    BuiltBook book = Build(dir, job, true);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book.rc);
    EXPECT_NE(std::string::npos, book.opf.find("<item id=\"look\" href=\"css/look.css\" media-type=\"text/css\" />"));
    EXPECT_NE(std::string::npos, book.opf.find("<item id=\"pic\" href=\"img/sub/pic.png\" media-type=\"image/png\" />"));
    EXPECT_EQ(TinyPng(), book.Entry("OPS/img/sub/pic.png"));
    EXPECT_EQ("p { margin: 0; }\n", book.Entry("OPS/css/look.css"));
    // A path that would leave OPS (or name nothing) fails the build instead of writing elsewhere.
    for (const char *bad : {"../escape.css", "css/../../x.css", "/abs.css", "css//x.css", "css/", "./x.css"}) {
        TempDir other;
        PackageJob badJob = JobFor(other, {"doc.html", "look.css"}, &kMoby);
        badJob.items[1].bookPath = bad;
        RecordingPrompt prompt;
        EXPECT_EQ(qm::EpubBuildResult::CopyFailed, EpubBuilder(prompt).Build(&badJob, true)) << bad;
        EXPECT_FALSE(qm::FileExists(other.File("escape.css"))) << bad;
    }
}

TEST(EpubPackageFiles, RepeatedAndInPlaceSourcesAreKeptSafe) {
    // The produced-file list may name a file twice, and a source may already be the copy in OPS:
    // neither may lose the file or repeat a manifest entry.
    TempDir dir;
    PackageJob job = JobFor(dir, {"page-1.html"}, &kMoby);
    job.items.push_back(job.items[0]);
    ASSERT_TRUE(qm::CreateFolders(dir.File("OPS")));
    qm::WriteFile(dir.File("OPS/inplace.html"), XhtmlPage());
    job.items.push_back({dir.File("OPS/inplace.html"), "inplace"});
    job.deleteSources = true;
    job.titlePageFlag = 1;
    BuiltBook book = Build(dir, job, false);
    ASSERT_EQ(qm::EpubBuildResult::Ok, book.rc);
    EXPECT_EQ(1u, [&] {
        size_t n = 0;
        for (size_t p = 0; (p = book.opf.find("href=\"page-1.html\" media-type", p)) != std::string::npos; ++p) ++n;
        return n;
    }());
    EXPECT_FALSE(qm::FileExists(dir.File("page-1.html")));
    EXPECT_TRUE(qm::FileExists(dir.File("OPS/inplace.html")));
    EXPECT_EQ(XhtmlPage(), book.Entry("OPS/inplace.html"));
    EXPECT_EQ(XhtmlPage(), book.Entry("OPS/page-1.html"));
}

TEST(EpubPackageFiles, IdentifierIsARandomVersion4Uuid) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string id = EpubBuilder::NewIdentifier();
        EXPECT_EQ("UUID", MaskVolatile(id)) << id;
        EXPECT_TRUE(seen.insert(id).second);
    }
}

} // namespace
