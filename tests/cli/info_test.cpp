// quillmark-cli info: what a user sees of a PDF before converting it.
#include <gtest/gtest.h>

#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

TEST(CliInfo, PrintsPagesMetadataAndOutlineOfTheSample) {
    std::string out;
    int rc = qmtest::RunCommand(std::string(QM_CLI_PATH) + " info " +
                                    qmtest::ShellQuote(std::string(QM_SOURCE_DIR) + "/samples/sample.pdf"),
                                &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("Pages: 4\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Title: The Lighthouse Keeper's Almanac\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Author: Ada Marlowe\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    - Links (page 2)\n"), std::string::npos) << out;
}

TEST(CliInfo, UnreadableInputsFailWithStatusOne) {
    qmtest::TempDir dir;
    ASSERT_TRUE(qmtest::WriteGarbageFile(dir.File("bad.pdf")));
    std::string out;
    EXPECT_EQ(qmtest::RunCommand(std::string(QM_CLI_PATH) + " info " + qmtest::ShellQuote(dir.File("bad.pdf")), &out),
              1);
    EXPECT_NE(out.find("bad.pdf: Can't open the pdf file."), std::string::npos) << out;
    EXPECT_EQ(qmtest::RunCommand(std::string(QM_CLI_PATH) + " info", &out), 2) << out;
}

} // namespace
