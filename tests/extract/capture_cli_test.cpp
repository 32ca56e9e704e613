// The "inspect" command: what the program saw on a page, as users and scripts read it.
#include <gtest/gtest.h>

#include <string>

#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

TEST(InspectCommand, PrintsItemsInOrderAsTextAndJson) {
    qmtest::TempDir dir;
    qmtest::PdfBuilder b;
    b.AddPage(300, 200);
    int p = b.AddPage(300, 200);
    b.Text(p, 20, 150, "Hello  world", 12);
    b.FillRect(p, 20, 20, 50, 40, {0, 0, 1});
    ASSERT_TRUE(b.Save(dir.File("in.pdf")));
    std::string cli = qmtest::ShellQuote(QM_CLI_PATH);
    std::string file = qmtest::ShellQuote(dir.File("in.pdf"));

    std::string out;
    ASSERT_EQ(qmtest::RunCommand(cli + " inspect " + file + " --page 2 --dpi 144 --json", &out), 0) << out;
    EXPECT_NE(out.find("\"outputDpi\": 144"), std::string::npos) << out;
    // "Hello  world": the two blanks cut the run; the rectangle follows as a FillPath.
    size_t hello = out.find("\"text\": \"Hello\"");
    size_t world = out.find("\"text\": \"  world\"");
    size_t fill = out.find("\"kind\": \"FillPath\"");
    ASSERT_NE(hello, std::string::npos) << out;
    ASSERT_NE(world, std::string::npos) << out;
    ASSERT_NE(fill, std::string::npos) << out;
    EXPECT_LT(hello, world);
    EXPECT_LT(world, fill);
    // 50 x 40 points at (20, 200 - 60) at 144 dpi.
    EXPECT_NE(out.find("\"output\": [40, 280, 140, 360]"), std::string::npos) << out;

    ASSERT_EQ(qmtest::RunCommand(cli + " inspect " + file + " --page 2", &out), 0) << out;
    EXPECT_NE(out.find("FillText"), std::string::npos);
    EXPECT_NE(out.find("\"Hello\""), std::string::npos);

    EXPECT_EQ(qmtest::RunCommand(cli + " inspect " + file + " --page 3", &out), 1);
    EXPECT_EQ(qmtest::RunCommand(cli + " inspect " + qmtest::ShellQuote(dir.File("missing.pdf")), &out), 1);
}

} // namespace
