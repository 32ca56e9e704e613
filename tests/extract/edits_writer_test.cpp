// A page model's edits written to an edits file and read back: the same marks, groups, excluded
// items, options and margins on freshly captured pages, the same book from the command line, and
// the groups no rectangle can recreate named instead of silently changed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "extract/page_model.h"
#include "extract/region_editor.h"
#include "options/page_edits.h"
#include "platform/paths.h"
#include "support/captured_document.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using qm::IntBox;

// Everything the user's edits change on a page, as text: options, margins, then per item its
// mark, exclusion and group (by creation index), then per group its mark, exclusion and members.
std::string Signature(const qm::PageModel &model, int pageNumber) {
    const qm::PageLayout *page = model.FindPageLayout(pageNumber);
    if (!page) return "no page";
    const qm::PageParseOptions &o = page->options;
    std::string s = "options " + std::to_string(o.columnMode) + std::to_string(o.noOutput) +
                    std::to_string(o.imageWholePage) + std::to_string(o.ignoreImages) +
                    std::to_string(o.ignoreVectorGraphics) + std::to_string(o.paragraphCheck) +
                    std::to_string(o.alignCheck) + " margins";
    for (int m : page->margins) s += " " + std::to_string(m);
    auto groupIndex = [&](const qm::ItemGroup *g) {
        for (size_t i = 0; i < page->groups.size(); ++i)
            if (page->groups[i].get() == g) return static_cast<int>(i);
        return -1;
    };
    for (const auto &item : page->items)
        if (item->mark || item->disabled || item->grouped)
            s += "\nitem " + std::to_string(item->seq) + " mark " + std::to_string(item->mark) + " disabled " +
                 std::to_string(item->disabled) + " group " + std::to_string(item->grouped ? groupIndex(item->group) : -1);
    for (const auto &group : page->groups) {
        s += "\ngroup mark " + std::to_string(group->mark) + " disabled " + std::to_string(group->disabled) + ":";
        for (const qm::PageItem *m : group->members) s += " " + std::to_string(m->seq);
    }
    return s;
}

// The view rectangle of a box given in PDF points from the bottom-left corner (as the fixture
// builder places things), grown by a few pixels.
IntBox ViewRect(const qm::PageModel &model, double x0, double y0, double x1, double y1, double pageHeight = 792) {
    const fz_rect r = fz_transform_rect(
        fz_make_rect(static_cast<float>(x0), static_cast<float>(pageHeight - y1), static_cast<float>(x1),
                     static_cast<float>(pageHeight - y0)),
        model.viewTransform);
    return IntBox{static_cast<int>(r.x0) - 2, static_cast<int>(r.y0) - 2, static_cast<int>(r.x1) + 2,
                  static_cast<int>(r.y1) + 2};
}

class EditsWriterTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;

    // Page 1: a heading, a ruled 2 x 2 grid with a word in each cell, a drawing with a label, a
    // remark and a page number. Page 2: a line of text and a page number.
    void WritePdf() {
        qmtest::PdfBuilder pdf;
        const int p = pdf.AddPage();
        pdf.Text(p, 72, 740, "Heading of the page", 14);
        pdf.RuledTable(p, 72, 560, {120, 120}, 30, {{"cell00", "cell01"}, {"cell10", "cell11"}});
        pdf.FillRect(p, 100, 250, 200, 120, qmtest::Rgb{0.2, 0.6, 0.9});
        pdf.Text(p, 120, 300, "Figure label", 12);
        pdf.Text(p, 72, 150, "A remark to leave out", 12);
        pdf.Text(p, 300, 30, "Folio 1", 10);
        const int q = pdf.AddPage();
        pdf.Text(q, 72, 600, "Second page text", 12);
        pdf.Text(q, 300, 30, "Folio 2", 10);
        ASSERT_TRUE(pdf.Save(dir.File("doc.pdf")));
    }

    // The user's clicks on page 1 and page 2, made through the editor.
    static void EditByHand(qmtest::CapturedDocument &cd) {
        ASSERT_EQ(cd.Draw(1), qm::CaptureResult::Captured);
        qm::PageModel &model = cd.model;
        qm::RegionEditor editor(model);
        editor.PlaceOnScreen(model.viewDeviceBox.x0, model.viewDeviceBox.y0);
        ASSERT_EQ(editor.SelectInRect(ViewRect(model, 70, 498, 314, 562)), 1);
        ASSERT_EQ(editor.SetMark(1), 2);  // the grid and its words: a table group
        ASSERT_EQ(editor.SelectInRect(ViewRect(model, 98, 248, 302, 372)), 1);
        ASSERT_EQ(editor.SetMark(2), 2);  // the drawing and its label: one picture
        ASSERT_EQ(editor.SelectInRect(ViewRect(model, 70, 140, 260, 165)), 1);
        ASSERT_EQ(editor.SetEnabled(0), 1);  // the remark, alone
        editor.PlaceOnScreen(model.viewDeviceBox.x0, model.viewDeviceBox.y0);
        ASSERT_EQ(editor.SelectInRect(ViewRect(model, 98, 248, 302, 372)), 2);
        ASSERT_EQ(editor.SetEnabled(0), 2);  // ... and the picture group excluded after all
        model.SetCurrentMargins({5, 12, 7, 30});
        model.Current()->options.columnMode = 2;
        model.Current()->options.paragraphCheck = 0;
        cd.doc.EndPageRun();
        ASSERT_EQ(cd.Draw(2), qm::CaptureResult::Captured);
        model.Current()->options.noOutput = 0;
        model.Current()->options.alignCheck = 0;
        model.SetCurrentMargins({0, 0, 0, 40});
        cd.doc.EndPageRun();
    }
};

TEST_F(EditsWriterTest, SavedEditsLoadIntoAFreshModelAsMade) {
    WritePdf();
    qmtest::CapturedDocument edited;
    ASSERT_TRUE(edited.Open(dir.File("doc.pdf")));
    EditByHand(edited);
    const std::string page1 = Signature(edited.model, 1), page2 = Signature(edited.model, 2);
    ASSERT_NE(page1.find("group mark 1"), std::string::npos) << page1;
    ASSERT_NE(page1.find("group mark 2 disabled 1"), std::string::npos) << page1;

    std::vector<std::string> inexact;
    const qm::PageEdits edits = qm::EditsFromModel(edited.model, &inexact);
    EXPECT_TRUE(inexact.empty()) << inexact.front();
    std::string error;
    ASSERT_TRUE(qm::SavePageEdits(dir.File("edits.json"), edits, error)) << error;
    EXPECT_EQ(qmtest::ListFolder(dir.Path()).size(), 2u);  // the PDF and the edits, no leftovers

    qm::PageEdits loaded;
    ASSERT_TRUE(qm::LoadPageEdits(dir.File("edits.json"), loaded, error)) << error;
    qmtest::CapturedDocument fresh;
    ASSERT_TRUE(fresh.Open(dir.File("doc.pdf")));
    for (int page : {1, 2}) {
        ASSERT_EQ(fresh.Draw(page), qm::CaptureResult::Captured);
        qm::ApplyPageEdits(fresh.model, loaded);
        fresh.doc.EndPageRun();
    }
    EXPECT_EQ(Signature(fresh.model, 1), page1);
    EXPECT_EQ(Signature(fresh.model, 2), page2);

    // Saved again from the loaded model, the file says the same.
    EXPECT_EQ(qm::PageEditsToJson(qm::EditsFromModel(fresh.model)), qm::PageEditsToJson(edits));
}

TEST_F(EditsWriterTest, EditsMadeAtOneZoomSelectTheSameItemsAtAnother) {
    // Single items marked and excluded in windows of many sizes; their boxes at the conversion's
    // zoom round out differently, and must still fall inside the rectangles written for them.
    WritePdf();
    for (int height = 300; height <= 800; height += 25) {
        qmtest::CapturedDocument edited;
        ASSERT_TRUE(edited.Open(dir.File("doc.pdf")));
        ASSERT_EQ(edited.Draw(1, height, height), qm::CaptureResult::Captured);
        qm::PageModel &model = edited.model;
        qm::RegionEditor editor(model);
        editor.PlaceOnScreen(model.viewDeviceBox.x0, model.viewDeviceBox.y0);
        ASSERT_EQ(editor.SelectInRect(ViewRect(model, 70, 140, 260, 165)), 1);
        editor.SetEnabled(0);
        ASSERT_EQ(editor.SelectInRect(ViewRect(model, 298, 25, 350, 45)), 1);
        editor.SetMark(2);
        ASSERT_EQ(editor.SelectInRect(ViewRect(model, 70, 735, 260, 760)), 1);
        editor.SetMark(1);
        const std::string page1 = Signature(model, 1);
        const qm::PageEdits edits = qm::EditsFromModel(model);
        edited.doc.EndPageRun();

        qmtest::CapturedDocument fresh;
        ASSERT_TRUE(fresh.Open(dir.File("doc.pdf")));
        ASSERT_EQ(fresh.Draw(1), qm::CaptureResult::Captured);
        qm::ApplyPageEdits(fresh.model, edits);
        fresh.doc.EndPageRun();
        EXPECT_EQ(Signature(fresh.model, 1), page1) << height;
    }
}

TEST_F(EditsWriterTest, TheSavedFileGivesTheBookOfTheEditsItWasMadeFrom) {
    WritePdf();
    const std::string handWritten = R"({"pages": [
      {"pages": "all", "margins": {"top": 20, "bottom": 50}},
      {"pages": "1", "options": {"columns": "multi"},
       "regions": [{"rect": [60, 225, 320, 300], "action": "table"},
                   {"rect": [90, 415, 310, 550], "action": "graphic"},
                   {"rect": [60, 630, 300, 650], "action": "disable"}]},
      {"pages": "2", "options": {"noOutput": true}}]})";
    ASSERT_TRUE(qm::WriteFile(dir.File("hand.json"), handWritten));
    qm::PageEdits edits;
    std::string error;
    ASSERT_TRUE(qm::LoadPageEdits(dir.File("hand.json"), edits, error)) << error;

    qmtest::CapturedDocument cd;
    ASSERT_TRUE(cd.Open(dir.File("doc.pdf")));
    for (int page : {1, 2}) {
        ASSERT_EQ(cd.Draw(page), qm::CaptureResult::Captured);
        qm::ApplyPageEdits(cd.model, edits);
        cd.doc.EndPageRun();
    }
    std::vector<std::string> inexact;
    ASSERT_TRUE(qm::SavePageEdits(dir.File("saved.json"), qm::EditsFromModel(cd.model, &inexact), error)) << error;
    EXPECT_TRUE(inexact.empty());

    std::string pages[2];
    const char *files[2] = {"hand.json", "saved.json"};
    for (int i = 0; i < 2; ++i) {
        const std::string out = dir.File("out" + std::to_string(i));
        ASSERT_TRUE(qm::CreateFolder(out));
        std::string log;
        ASSERT_EQ(qmtest::RunCommand(std::string(QM_CLI_PATH) + " convert --mode strict --edits " +
                                         qmtest::ShellQuote(dir.File(files[i])) + " " +
                                         qmtest::ShellQuote(dir.File("doc.pdf")) + " -o " + qmtest::ShellQuote(out) +
                                         " </dev/null",
                                     &log),
                  0)
            << log;
        ASSERT_EQ(qmtest::RunCommand("unzip -p " + qmtest::ShellQuote(out + "/doc.epub") + " 'OPS/*.html' 'OPS/*.css'",
                                     &pages[i]),
                  0);
    }
    EXPECT_EQ(pages[1], pages[0]);
    for (const char *gone : {"Folio", "remark", "Figure label", "Second page text"})
        EXPECT_EQ(pages[0].find(gone), std::string::npos) << gone;
    EXPECT_NE(pages[0].find("cell11"), std::string::npos);
    EXPECT_NE(pages[0].find("<img "), std::string::npos);
}

TEST_F(EditsWriterTest, GroupsNoRectangleCanRecreateAreNamed) {
    WritePdf();
    qmtest::CapturedDocument cd;
    ASSERT_TRUE(cd.Open(dir.File("doc.pdf")));
    ASSERT_EQ(cd.Draw(1), qm::CaptureResult::Captured);
    qm::PageModel &model = cd.model;
    qm::RegionEditor editor(model);
    editor.PlaceOnScreen(model.viewDeviceBox.x0, model.viewDeviceBox.y0);
    // The heading and the page number grouped: every item between them lies in the group's box.
    editor.ClearItemState();
    editor.HitTest(ViewRect(model, 72, 740, 80, 748).x0 + 4, ViewRect(model, 72, 740, 80, 748).y0 + 4);
    editor.CommitSelection(false);
    editor.HitTest(ViewRect(model, 300, 30, 310, 38).x0 + 4, ViewRect(model, 300, 30, 310, 38).y0 + 4);
    editor.CommitSelection(true);
    ASSERT_EQ(editor.SetMark(0), 2);
    ASSERT_EQ(model.Current()->groups.size(), 1u);
    ASSERT_EQ(model.Current()->groups[0]->members.size(), 2u);
    // A group of one item cannot come back as a group either.
    ASSERT_EQ(editor.SelectInRect(ViewRect(model, 70, 140, 260, 165)), 1);
    ASSERT_NE(editor.NewGroupFromSelection(), nullptr);
    cd.doc.EndPageRun();

    std::vector<std::string> inexact;
    const qm::PageEdits edits = qm::EditsFromModel(model, &inexact);
    ASSERT_EQ(inexact.size(), 2u);
    EXPECT_NE(inexact[0].find("page 1: a group of 2 items"), std::string::npos) << inexact[0];
    EXPECT_NE(inexact[1].find("a group of 1 items"), std::string::npos) << inexact[1];
    // Both are still written, in the order they were made.
    ASSERT_EQ(edits.entries.size(), 2u);
    EXPECT_EQ(edits.entries[1].regions.size(), 2u);
}

TEST_F(EditsWriterTest, AFailedSaveKeepsTheOldFileAndLeavesNothing) {
    qm::PageEdits edits;
    edits.entries.push_back({});
    edits.entries.back().pages = {{2, 4}};
    std::string error;
    EXPECT_FALSE(qm::SavePageEdits(dir.File("missing/edits.json"), edits, error));
    EXPECT_FALSE(error.empty());
    // A folder in the way of the file: the rename fails, the temporary file goes again.
    ASSERT_TRUE(qm::CreateFolder(dir.File("taken")));
    ASSERT_TRUE(qm::WriteFile(dir.File("taken/keep"), "x"));
    EXPECT_FALSE(qm::SavePageEdits(dir.File("taken"), edits, error));
    EXPECT_EQ(qmtest::ListFolder(dir.Path()).size(), 1u);
    ASSERT_TRUE(qm::SavePageEdits(dir.File("edits.json"), edits, error)) << error;
    std::string text;
    ASSERT_TRUE(qm::ReadFile(dir.File("edits.json"), text));
    EXPECT_NE(text.find("\"2-4\""), std::string::npos) << text;
}

} // namespace
