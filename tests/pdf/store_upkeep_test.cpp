// Documents on several threads share the engine's store: one document trimming the store while
// others are closed (which purges their items and empties the store) must not corrupt it.
#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

const char *const kFonts[] = {"Helvetica",   "Helvetica-Bold", "Helvetica-Oblique", "Times-Roman",
                              "Times-Bold",  "Times-Italic",   "Courier",           "Courier-Bold",
                              "Courier-Oblique", "Times-BoldItalic"};

// Pages that each use every font.
bool WriteManyFontPages(const std::string &path, int pages) {
    qmtest::PdfBuilder pdf;
    for (int p = 0; p < pages; ++p) {
        int page = pdf.AddPage();
        double y = 700;
        for (const char *font : kFonts) {
            pdf.Text(page, 72, y, std::string("Line in ") + font, 11, font);
            y -= 20;
        }
    }
    return pdf.Save(path);
}

// Loads the fonts of a page and lets go of them at once: the store then holds them alone, and a
// trimming pass frees them. Returns how many were loaded.
int CacheFontsUnheld(PdfDocument &doc, int pageIndex) {
    auto lock = doc.Lock();
    int loaded = 0;
    fz_document *document = doc.Document();
    EngineTry(EngineContext(), [&](fz_context *c) {
        pdf_document *pdf = pdf_specifics(c, document);
        pdf_obj *res = pdf_dict_get_inheritable(c, pdf_lookup_page_obj(c, pdf, pageIndex), PDF_NAME(Resources));
        pdf_obj *fonts = pdf_dict_get(c, res, PDF_NAME(Font));
        for (int i = 0; i < pdf_dict_len(c, fonts); ++i) {
            pdf_drop_font(c, pdf_load_font(c, pdf, res, pdf_dict_get_val(c, fonts, i)));
            ++loaded;
        }
    });
    return loaded;
}

TEST(StoreUpkeep, TrimmingWhileOtherDocumentsCloseKeepsTheStoreSound) {
    // Freed memory is filled, so that an item the store frees under a trimming pass is noticed.
    mallopt(M_PERTURB, 0xa5);
    qmtest::TempDir dir;
    const std::string path = dir.File("fonts.pdf");
    ASSERT_TRUE(WriteManyFontPages(path, 6));

    constexpr int kRounds = 150;
    std::atomic<int> trims{0}, closes{0}, failures{0};
    auto trimmer = [&] {
        PdfDocument doc;
        if (doc.Open(path, "", "") != OpenResult::Opened) {
            ++failures;
            return;
        }
        for (int round = 0; round < kRounds; ++round) {
            if (CacheFontsUnheld(doc, round % doc.PageCount()) != static_cast<int>(std::size(kFonts))) ++failures;
            doc.TrimCaches();
            ++trims;
        }
    };
    auto closer = [&] {
        for (int round = 0; round < kRounds / 3; ++round) {
            PdfDocument doc;
            if (doc.Open(path, "", "") != OpenResult::Opened) {
                ++failures;
                continue;
            }
            for (int page = 0; page < 3; ++page) {
                std::map<fz_font *, std::string> names;
                doc.LoadPageFontNames(page, names);
                for (auto &entry : names) fz_drop_font(EngineContext(), entry.first);
            }
            doc.Close();
            ++closes;
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(trimmer);
    threads.emplace_back(trimmer);
    threads.emplace_back(closer);
    threads.emplace_back(closer);
    for (std::thread &t : threads) t.join();
    mallopt(M_PERTURB, 0);

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(trims.load(), 2 * kRounds);
    EXPECT_EQ(closes.load(), 2 * (kRounds / 3));
}

} // namespace
} // namespace qm
