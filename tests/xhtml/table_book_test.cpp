// Books with tables: ruled tables on a generated page, grouped and marked "to Table" in the page
// model the way the interactive converter leaves them, converted and packaged; the page file holds
// the tables' cells and the book passes epubcheck.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <memory>

#include "options/conversion_job.h"
#include "pdf/pdf_document.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "writer_support.h"
#include "xhtml/document_converter.h"

namespace {

// Nodes of an XHTML file matching `xpath` (prefix "h"), -1 when the file is not well-formed.
int FileCount(const std::string &path, const std::string &xpath) {
    xmlDocPtr d = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!d) return -1;
    xmlXPathContextPtr c = xmlXPathNewContext(d);
    xmlXPathRegisterNs(c, BAD_CAST "h", BAD_CAST "http://www.w3.org/1999/xhtml");
    xmlXPathObjectPtr r = xmlXPathEvalExpression(BAD_CAST xpath.c_str(), c);
    int n = (r && r->nodesetval) ? r->nodesetval->nodeNr : 0;
    xmlXPathFreeObject(r);
    xmlXPathFreeContext(c);
    xmlFreeDoc(d);
    return n;
}

// Groups the items of the current page that lie inside `pageRect` (points, top-left origin) and
// marks the group "to Table". Returns the number of members.
size_t MarkTable(qm::PageModel &model, fz_rect pageRect) {
    qm::PageLayout *page = model.Current();
    if (!page) return 0;
    fz_rect v = fz_transform_rect(pageRect, model.viewTransform);
    auto group = std::make_unique<qm::ItemGroup>();
    group->mark = 1;
    for (auto &item : page->items) {
        const qm::IntBox &b = item->viewBox;
        if (item->grouped || b.x0 < v.x0 || b.y0 < v.y0 || b.x1 > v.x1 || b.y1 > v.y1) continue;
        group->viewBox = group->members.empty() ? b : qm::Union(group->viewBox, b);
        group->members.push_back(item.get());
        item->grouped = true;
        item->group = group.get();
    }
    size_t n = group->members.size();
    page->groups.push_back(std::move(group));
    return n;
}

// Points of a rectangle given in the builder's space (y up) on a page 792 high.
fz_rect Around(double x0, double yTop, double x1, double yBottom) {
    return fz_make_rect(static_cast<float>(x0 - 3), static_cast<float>(792 - yTop - 3), static_cast<float>(x1 + 3),
                        static_cast<float>(792 - yBottom + 3));
}

const char *kInner = "//h:table/h:tr/h:td/h:table";

} // namespace

TEST(TableBook, MarkedTablesPassEpubcheck) {
    qmtest::TempDir dir;
    qmtest::PdfBuilder b;
    int p = b.AddPage();
    b.Text(p, 72, 740, "Price list", 16);
    // A 3 x 4 table with one empty cell.
    b.RuledTable(p, 72, 700, {100, 100, 100, 100}, 24,
                 {{"Item", "Size", "Colour", "Price"}, {"Shirt", "M", "", "20"}, {"Coat", "L", "Grey", "90"}});
    // A second table whose middle row has a remark running over two columns, and a picture in a cell.
    b.RuledTable(p, 72, 560, {130, 130, 130}, 24,
                 {{"Name", "Town", "Mark"}, {"A remark that runs over two columns", "", "yes"}, {"Ann", "", ""}});
    b.Image(p, 72 + 260 + 10, 560 - 72 + 4, 16, 16);
    b.Text(p, 72, 440, "Prices include tax.", 11);
    // A frame with nothing in it.
    b.RuledTable(p, 72, 400, {200, 200}, 30, {{"", ""}});
    ASSERT_TRUE(b.Save(dir.File("tables.pdf")));

    qmtest::RecordingPrompt prompt;
    qm::PdfDocument doc;
    doc.SetPrompt(&prompt);
    ASSERT_EQ(qm::OpenResult::Opened, doc.Open(dir.File("tables.pdf"), "", ""));
    qm::ConversionJob job;
    job.workFolder = dir.File("work/");
    job.scratchFolder = dir.File("scratch/");
    qm::CreateFolder(job.workFolder);
    std::vector<std::string> produced;
    {
        qm::DocumentConverter converter(doc, job);
        ASSERT_EQ(qm::CaptureResult::Captured, converter.CapturePage(1));
        EXPECT_GT(MarkTable(converter.Model(), Around(72, 700, 472, 628)), 11u);
        EXPECT_GT(MarkTable(converter.Model(), Around(72, 560, 462, 488)), 7u);
        EXPECT_EQ(5u, MarkTable(converter.Model(), Around(72, 400, 472, 370)));
        ASSERT_EQ(qm::ConvertResult::Done, converter.Convert());
        produced = converter.TakeProducedFiles();
    }
    const std::string page = job.workFolder + "page-1.html";
    const std::string file = qmtest::ReadAll(page);

    // The first table: one inner table of 3 rows of 4 cells, the empty cell empty.
    ASSERT_EQ(3, FileCount(page, "/h:html/h:body/h:table")) << file;
    EXPECT_NE(std::string::npos, file.find("<table width=\"100%\" border=\"1\">\n\t<tr>\n\t\t\t<td>\n\t\t<table width="));
    const std::string first = "/h:html/h:body/h:table[1]";
    EXPECT_EQ(1, FileCount(page, first + "/h:tr/h:td/h:table")) << file;
    EXPECT_EQ(3, FileCount(page, first + "/h:tr/h:td/h:table/h:tr")) << file;
    EXPECT_EQ(12, FileCount(page, first + "/h:tr/h:td/h:table/h:tr/h:td")) << file;
    EXPECT_EQ(1, FileCount(page, first + "/h:tr/h:td/h:table/h:tr[2]/h:td[3][not(*)]")) << file;
    EXPECT_EQ(1, FileCount(page, first + "/h:tr/h:td/h:table/h:tr[3]/h:td[4][contains(., '90')]")) << file;
    // The second: the remark over two columns starts another inner table, which holds the picture.
    const std::string second = "/h:html/h:body/h:table[2]";
    EXPECT_EQ(2, FileCount(page, second + "/h:tr/h:td/h:table")) << file;
    EXPECT_EQ(1, FileCount(page, second + "/h:tr[2]/h:td/h:table/h:tr[1]/h:td[1][contains(., 'remark')]")) << file;
    EXPECT_EQ(1, FileCount(page, second + "/h:tr[2]//h:td/h:div/h:img")) << file;
    // The text around the tables stays outside them, once (the larger title as a heading).
    EXPECT_EQ(1, FileCount(page, "/h:html/h:body/h:h2[contains(., 'Price list')]")) << file;
    EXPECT_EQ(1, FileCount(page, "/h:html/h:body/h:p[contains(., 'include tax')]")) << file;
    EXPECT_EQ(0, FileCount(page, std::string(kInner) + "//h:table")) << file;
    // The empty frame is a table without cells of content.
    EXPECT_EQ(1, FileCount(page, "/h:html/h:body/h:table[3]/h:tr/h:td/h:table")) << file;
    EXPECT_EQ(0, FileCount(page, "/h:html/h:body/h:table[3]/h:tr/h:td/h:table//h:td[*]")) << file;
    EXPECT_TRUE(prompt.messages.empty());

    std::string report;
    EXPECT_TRUE(qmtest::PackagedBookPasses(produced, dir.File("stage/"), "Tables", &report)) << report << file;
}
