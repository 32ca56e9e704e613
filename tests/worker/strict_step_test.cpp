// The Strict step of a run: the interactive converter's choices (made here by an observer that
// edits the page model as the window would) are what the document's conversion follows, and what
// the window did besides (views at other sizes, previews) leaves no trace in the book: it equals
// the book a run with the model's edits written down makes. Cancel while the window is open.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "extract/region_editor.h"
#include "options/conversion_options.h"
#include "options/page_edits.h"
#include "platform/paths.h"
#include "support/book_entries.h"
#include "support/pdf_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "worker/conversion_worker.h"
#include "xhtml/page_preview.h"
#include "xhtml/strict_session.h"

namespace {

struct WindowObserver : qm::ConversionObserver {
    std::function<void(qm::StrictSession &)> window;
    int windows = 0;
    void RunInteractiveConverter(qm::StrictSession &session) override {
        ++windows;
        if (window) window(session);
    }
};

// A rectangle given in points (from the page's top-left corner) in the view's pixels.
qm::IntBox ViewRect(const qm::PageModel &model, double x0, double y0, double x1, double y1) {
    const fz_rect r = fz_transform_rect(fz_make_rect(x0, y0, x1, y1), model.viewTransform);
    return qm::IntBox{static_cast<int>(r.x0), static_cast<int>(r.y0), static_cast<int>(r.x1) + 1,
                      static_cast<int>(r.y1) + 1};
}

std::string PageText(const std::map<std::string, std::string> &book) {
    std::string text;
    for (const auto &[name, data] : book)
        if (name.find("page-") != std::string::npos) text += data;
    return text;
}

class StrictStepTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;
    std::optional<qmtest::ScopedEnv> tmpEnv;
    qm::ConversionOptions options;
    qmtest::RecordingPrompt prompt;

    void SetUp() override {
        tmpEnv.emplace("TMPDIR", temp.Path().c_str());
        options.parseMode = static_cast<int32_t>(qm::ParseMode::Strict);
        options.overwriteExisting = 1;
        qm::CreateFolder(dir.File("window"));
        qm::CreateFolder(dir.File("edits"));
        // Three pages, each with a running head, a folio and body text; page 1 has a remark to
        // exclude, page 2 a drawing with a label in it, page 3 a line close below its running head.
        qmtest::PdfBuilder pdf;
        qmtest::DrawStrictBookPages(pdf);
        pdf.Text(2, 72, 730, "Near the top of page 3", 8);
        ASSERT_TRUE(pdf.Save(dir.File("book.pdf")));
    }

    // Converts book.pdf into `folder`; the run is finished (its temporary files gone).
    void Convert(qm::ConversionRun &run, const std::string &folder) {
        options.outputFolder = dir.File(folder + "/");
        run.retryDelayMs = 0;
        ASSERT_EQ(run.StartConversion({dir.File("book.pdf")}, {"book.pdf"}, false), qm::StartResult::Started);
        run.Wait();
    }
};

TEST_F(StrictStepTest, TheBookFollowsTheWindowsChoicesAndEqualsTheBookOfItsEdits) {
    WindowObserver observer;
    qm::PageEdits written;
    std::vector<std::string> inexact;
    observer.window = [&](qm::StrictSession &session) {
        qm::PageModel &model = session.Model();
        qm::RegionEditor editor(model);
        // Page 1 at full size: the remark is excluded, and the top-left and bottom-right crop
        // handles are dragged in by 50 points to crop the running head and the folio off, on
        // this and the following pages (page 3 is never shown).
        ASSERT_EQ(session.DrawPage(1, 700, 900), qm::CaptureResult::Captured);
        editor.PlaceOnScreen(0, 0);
        ASSERT_GT(editor.SelectInRect(ViewRect(model, 60, 380, 300, 400)), 0);
        editor.SetEnabled(0);
        const double scale = fz_matrix_expansion(model.viewTransform);
        const auto handles = editor.HandleScreenRects();
        auto drag = [&](const qm::IntBox &handle, int dy) {
            const int x = (handle.x0 + handle.x1) / 2, y = (handle.y0 + handle.y1) / 2;
            ASSERT_EQ(editor.HandleHit(x, y), 1);
            editor.StartDrag(x, y);
            editor.DragHandle(x, y + dy);
            editor.EndDrag();
        };
        drag(handles[0], static_cast<int>(50 * scale));
        drag(handles[3], -static_cast<int>(50 * scale));
        editor.ApplyMarginsToFollowingPages();
        // Page 2 in a smaller window: the drawing with its label becomes a picture, and a
        // preview writes a page with that picture and its styles into the scratch folder.
        ASSERT_EQ(session.DrawPage(2, 640, 500), qm::CaptureResult::Captured);
        editor.PlaceOnScreen(0, 0);
        ASSERT_GT(editor.SelectInRect(ViewRect(model, 90, 430, 310, 600)), 0);
        editor.SetMark(2);
        EXPECT_TRUE(qm::WritePagePreview(session.Converter()).Showable());
        written = qm::EditsFromModel(model, &inexact);
    };
    {
        qm::ConversionRun run(options, prompt, observer);
        Convert(run, "window");
        EXPECT_EQ(run.State().successCount, 1);
        run.Finish();
    }
    EXPECT_EQ(observer.windows, 1);
    EXPECT_TRUE(inexact.empty());
    EXPECT_TRUE(qmtest::ListFolder(temp.Path()).empty());
    const auto book = qmtest::BookEntries(dir.File("window/book.epub"));
    const std::string pages = PageText(book);
    for (int i = 1; i <= 3; ++i)
        EXPECT_NE(pages.find("Body text of page " + std::to_string(i)), std::string::npos) << i;
    EXPECT_NE(pages.find("Near the top of page 3"), std::string::npos);
    for (const char *gone : {"Running Head", "Folio", "Secret remark", "Diagram label"})
        EXPECT_EQ(pages.find(gone), std::string::npos) << gone;
    // The preview's picture did not use up the book's first number.
    EXPECT_TRUE(book.count("OPS/image-1.png")) << pages;

    // The same edits given to a run without a window make the same book.
    WindowObserver none;
    qm::ConversionRun replay(options, prompt, none);
    replay.pageEdits = std::make_shared<const qm::PageEdits>(written);
    Convert(replay, "edits");
    EXPECT_EQ(none.windows, 1);
    EXPECT_EQ(qmtest::BookEntries(dir.File("edits/book.epub")), book);
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(StrictStepTest, ACancelWhileTheWindowIsOpenEndsTheRunWithoutABook) {
    WindowObserver observer;
    std::optional<qm::ConversionRun> run;
    observer.window = [&](qm::StrictSession &session) {
        ASSERT_EQ(session.DrawPage(1, 640, 500), qm::CaptureResult::Captured);
        run->Cancel();
    };
    run.emplace(options, prompt, observer);
    Convert(*run, "window");
    EXPECT_EQ(observer.windows, 1);
    EXPECT_TRUE(run->State().cancelled);
    EXPECT_EQ(run->State().successCount, 0);
    EXPECT_FALSE(qm::FileExists(dir.File("window/book.epub")));
    run->Finish();
    EXPECT_TRUE(qmtest::ListFolder(temp.Path()).empty());
}

TEST_F(StrictStepTest, AReplacedConverterStillRunsAfterTheWindow) {
    WindowObserver observer;
    std::vector<std::string> order;
    observer.window = [&](qm::StrictSession &) { order.push_back("window"); };
    qm::ConversionRun run(options, prompt, observer);
    run.SetConverter([&](qm::PdfDocument &doc, qm::ConversionJob &job) {
        order.push_back("converter");
        return qm::ConvertDocument(doc, job);
    });
    Convert(run, "window");
    EXPECT_EQ(order, (std::vector<std::string>{"window", "converter"}));
    EXPECT_EQ(run.State().successCount, 1);
}

} // namespace
