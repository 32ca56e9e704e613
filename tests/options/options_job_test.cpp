// The job snapshot's number parsing and the rules that link option fields.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <locale>
#include <string>

#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "support/temp_dir.h"

namespace {

using qm::ConversionOptions;

double FontScaleOf(const std::string &text) {
    ConversionOptions o;
    o.fontScaleText = text;
    return qm::MakeConversionJob(o).fontScale;
}

TEST(ConversionJob, NumbersAreReadFromTheOptionTexts) {
    EXPECT_EQ(FontScaleOf("abc"), 0.0);
    EXPECT_EQ(FontScaleOf(""), 0.0);
    EXPECT_EQ(FontScaleOf("1.5"), 1.5);
    EXPECT_EQ(FontScaleOf(" 2.5 "), 2.5);
    EXPECT_EQ(FontScaleOf("+.5"), 0.5);
    EXPECT_EQ(FontScaleOf("3x"), 3.0);       // a number followed by text: the number
    EXPECT_EQ(FontScaleOf("1,5"), 1.0);      // "." is the only decimal point
    EXPECT_EQ(FontScaleOf("+-1"), 0.0);
    EXPECT_EQ(FontScaleOf("nan"), 0.0);      // not finite: no usable number
    EXPECT_EQ(FontScaleOf("inf"), 0.0);
    EXPECT_EQ(FontScaleOf("1e999"), 0.0);
    EXPECT_EQ(FontScaleOf("0x10"), 0.0);     // hexadecimal is not decimal: the "0" only

    ConversionOptions o;
    o.imageDpiText = "96.7";
    EXPECT_DOUBLE_EQ(qm::MakeConversionJob(o).imageDpi, 96.7);
    EXPECT_EQ(qm::MakeConversionJob(ConversionOptions()).imageDpi, 72.0);
    EXPECT_EQ(qm::MakeConversionJob(ConversionOptions()).fontScale, 1.0);
}

TEST(ConversionJob, DecimalPointDoesNotDependOnTheLocale) {
    // A user whose locale writes "1,0" must still get 1.0 from the default "1.0". When no such
    // locale is installed, one is compiled into a temporary folder.
    const std::string old = std::setlocale(LC_ALL, nullptr);
    qmtest::TempDir dir;
    bool set = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    if (!set && qmtest::RunCommand("localedef -i de_DE -f UTF-8 " + qmtest::ShellQuote(dir.File("de_DE.UTF-8"))) == 0) {
        setenv("LOCPATH", dir.Path().c_str(), 1);
        set = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        unsetenv("LOCPATH");
    }
    if (!set) GTEST_SKIP() << "no locale with a decimal comma available";
    ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");
    const double scale = FontScaleOf("1.5");
    const double fallback = FontScaleOf("1,5");
    std::setlocale(LC_ALL, old.c_str());
    EXPECT_EQ(scale, 1.5);
    EXPECT_EQ(fallback, 1.0);
}

TEST(ConversionJob, PageDefaultsNeverStartAsWholePageImages) {
    ConversionOptions o;
    qm::PageParseOptions page;
    page.columnMode = 2;
    page.imageWholePage = 1;  // "Set to Default Setting" on a page shown as one picture
    page.alignCheck = 0;
    o.SetPageDefaults(page);
    qm::ConversionJob job = qm::MakeConversionJob(o);
    page.imageWholePage = 0;
    EXPECT_EQ(job.pageDefaults, page);

    // Hooks: absent ones are harmless, present ones are seen.
    EXPECT_FALSE(job.CancelRequested());
    job.ReportProgress(50);
    std::atomic<unsigned char> cancel{1};
    job.cancelRequested = &cancel;
    EXPECT_TRUE(job.CancelRequested());
}

TEST(ConversionOptions, CoverAndKindleFollowEachOther) {
    ConversionOptions o;
    o.compatibleKindle = 1;  // as a settings file may leave it, with the cover on
    o.createCover = 1;
    o.SetCreateCover(false);
    EXPECT_EQ(o.compatibleKindle, 0);
    o.SetCompatibleKindle(true);
    EXPECT_EQ(o.createCover, 1);
    o.SetCompatibleKindle(false);
    EXPECT_EQ(o.createCover, 1);  // the cover stays
    o.SetCreateCover(true);
    EXPECT_EQ(o.compatibleKindle, 0);
}

} // namespace
