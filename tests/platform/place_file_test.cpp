// Putting a finished file at its destination: a taken name is never replaced unless asked, racing
// writers get exactly one winner, and a failure (full or read-only file system) leaves neither a
// partial file nor a temporary one behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "support/scoped_tmpfs.h"
#include "support/temp_dir.h"

namespace {

using Placer = qm::PlaceResult (*)(const std::string &, const std::string &, bool, int *);
using qm::PlaceResult;
using qmtest::ListFolder;

std::string Read(const std::string &path) {
    std::string text;
    qm::ReadFile(path, text);
    return text;
}

class PlaceFileTest : public ::testing::TestWithParam<Placer> {
protected:
    qmtest::TempDir dir;
    Placer place = GetParam();
};

TEST_P(PlaceFileTest, ClaimsAFreeNameAndReplacesOnlyWhenAsked) {
    ASSERT_TRUE(qm::WriteFile(dir.File("new"), "new book"));
    EXPECT_EQ(place(dir.File("new"), dir.File("book.epub"), false, nullptr), PlaceResult::kPlaced);
    EXPECT_EQ(Read(dir.File("book.epub")), "new book");
    EXPECT_FALSE(qm::FileExists(dir.File("new")));

    ASSERT_TRUE(qm::WriteFile(dir.File("second"), "second book"));
    EXPECT_EQ(place(dir.File("second"), dir.File("book.epub"), false, nullptr), PlaceResult::kNameTaken);
    EXPECT_EQ(Read(dir.File("book.epub")), "new book");
    EXPECT_TRUE(qm::FileExists(dir.File("second")));
    // A dangling link holds the name as well.
    ASSERT_EQ(symlink(dir.File("nowhere").c_str(), dir.File("link.epub").c_str()), 0);
    EXPECT_EQ(place(dir.File("second"), dir.File("link.epub"), false, nullptr), PlaceResult::kNameTaken);

    EXPECT_EQ(place(dir.File("second"), dir.File("book.epub"), true, nullptr), PlaceResult::kPlaced);
    EXPECT_EQ(Read(dir.File("book.epub")), "second book");

    int error = 0;
    EXPECT_EQ(place(dir.File("gone"), dir.File("book.epub"), true, &error), PlaceResult::kFailed);
    EXPECT_EQ(error, ENOENT);
    ASSERT_TRUE(qm::WriteFile(dir.File("third"), "x"));
    EXPECT_EQ(place(dir.File("third"), dir.File("missing/book.epub"), false, &error), PlaceResult::kFailed);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(Read(dir.File("book.epub")), "second book");
    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"book.epub", "link.epub", "third"}));
}

TEST_P(PlaceFileTest, RacingWritersGetExactlyOneWinner) {
    constexpr int kWriters = 8;
    for (int round = 0; round < 20; ++round) {
        const std::string target = dir.File("race" + std::to_string(round) + ".epub");
        for (int w = 0; w < kWriters; ++w) ASSERT_TRUE(qm::WriteFile(dir.File("w" + std::to_string(w)), std::to_string(w)));
        std::vector<PlaceResult> results(kWriters);
        std::vector<std::thread> threads;
        for (int w = 0; w < kWriters; ++w)
            threads.emplace_back([&, w] { results[w] = place(dir.File("w" + std::to_string(w)), target, false, nullptr); });
        for (auto &t : threads) t.join();
        int winner = -1;
        for (int w = 0; w < kWriters; ++w) {
            if (results[w] == PlaceResult::kPlaced) {
                EXPECT_EQ(winner, -1) << "two writers placed " << target;
                winner = w;
            } else {
                EXPECT_EQ(results[w], PlaceResult::kNameTaken);
            }
        }
        ASSERT_GE(winner, 0);
        EXPECT_EQ(Read(target), std::to_string(winner));
    }
}

// Into another file system: the file is copied there first; a full or read-only one gets its
// reason, and the destination folder is left exactly as it was.
TEST_P(PlaceFileTest, AcrossFileSystemsFailuresLeaveNothingBehind) {
    qmtest::ScopedTmpfs small("16k");
    if (!small.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    std::string big(64 * 1024, 'x');
    ASSERT_TRUE(qm::WriteFile(dir.File("small"), "small book"));
    ASSERT_TRUE(qm::WriteFile(dir.File("big"), big));

    EXPECT_EQ(place(dir.File("small"), small.File("a.epub"), false, nullptr), PlaceResult::kPlaced);
    EXPECT_EQ(Read(small.File("a.epub")), "small book");
    int error = 0;
    EXPECT_EQ(place(dir.File("big"), small.File("b.epub"), false, &error), PlaceResult::kFailed);
    EXPECT_EQ(error, ENOSPC);
    EXPECT_EQ(place(dir.File("big"), small.File("a.epub"), true, &error), PlaceResult::kFailed);
    EXPECT_EQ(error, ENOSPC);
    EXPECT_EQ(Read(small.File("a.epub")), "small book");  // the old file survives a failed replacement
    EXPECT_EQ(ListFolder(small.Path()), (std::vector<std::string>{"a.epub"}));
    EXPECT_TRUE(qm::FileExists(dir.File("big")));
    EXPECT_EQ(qm::FolderWriteError(small.Path(), 64 * 1024), ENOSPC);
    EXPECT_EQ(qm::FolderWriteError(dir.Path(), 64 * 1024), 0);
    EXPECT_EQ(qm::FolderWriteError(dir.File("missing"), 1), ENOENT);

    ASSERT_TRUE(small.MakeReadOnly());
    ASSERT_TRUE(qm::WriteFile(dir.File("small"), "small book"));
    EXPECT_EQ(place(dir.File("small"), small.File("c.epub"), false, &error), PlaceResult::kFailed);
    EXPECT_EQ(error, EROFS);
    EXPECT_EQ(qm::SystemErrorText(EROFS), "Read-only file system");
    EXPECT_EQ(ListFolder(small.Path()), (std::vector<std::string>{"a.epub"}));
}

INSTANTIATE_TEST_SUITE_P(RenameOrLink, PlaceFileTest, ::testing::Values(&qm::PlaceFile, &qm::PlaceFileByLink));

} // namespace
