// Folder rules of the platform layer: temporary names, tree removal, the user's folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/log.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace {

using qmtest::ScopedEnv;

TEST(Paths, UniqueTempFilesAreDistinctPlaceholders) {
    qmtest::TempDir dir;
    std::string a = qm::CreateUniqueTempFile("qmrk_", dir.Path());
    std::string b = qm::CreateUniqueTempFile("qmrk_", dir.Path());
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(qm::FileNamePart(a).rfind("qmrk_", 0), 0u);
    EXPECT_EQ(a.substr(a.size() - 4), ".tmp");
    EXPECT_EQ(qm::FileSize(a), 0);
    EXPECT_EQ(qm::CreateUniqueTempFile("qmrk_", dir.File("missing/")), "");
}

TEST(Paths, DeleteFolderTreeRemovesNestedReadOnlyContentButNeverFollowsLinks) {
    qmtest::TempDir dir;
    qmtest::TempDir outside;
    ASSERT_TRUE(qm::WriteFile(outside.File("keep.txt"), "keep"));
    std::string root = dir.File("tree");
    ASSERT_TRUE(qm::CreateFolders(root + "/a/b/c"));
    ASSERT_TRUE(qm::WriteFile(root + "/a/b/c/file.txt", "x"));
    ASSERT_TRUE(qm::WriteFile(root + "/top.txt", "y"));
    chmod((root + "/a/b/c/file.txt").c_str(), 0444);
    chmod((root + "/a/b").c_str(), 0555);
    ASSERT_EQ(symlink(outside.Path().c_str(), (root + "/link").c_str()), 0);

    qm::DeleteFolderTree(root + "/");
    EXPECT_FALSE(qm::FolderExists(root));
    EXPECT_TRUE(qm::FileExists(outside.File("keep.txt")));

    // Empty paths, files and missing folders delete nothing and do not fail.
    qm::DeleteFolderTree("");
    ASSERT_TRUE(qm::WriteFile(dir.File("plain.txt"), "z"));
    qm::DeleteFolderTree(dir.File("plain.txt"));
    EXPECT_TRUE(qm::FileExists(dir.File("plain.txt")));
    qm::DeleteFolderTree(dir.File("nothing-here"));
}

TEST(Paths, UserFoldersFollowXdgAndTmpdir) {
    qmtest::TempDir dir;
    {
        ScopedEnv tmp("TMPDIR", dir.Path().c_str());
        EXPECT_EQ(qm::TempFolder(), dir.Path());
    }
    {
        ScopedEnv tmp("TMPDIR", "/no/such/folder");
        EXPECT_EQ(qm::TempFolder(), "/tmp/");
    }
    {
        ScopedEnv cfg("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(qm::ConfigFolder(), "/cfg/quillmark/");
    }
    {
        ScopedEnv cfg("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(qm::ConfigFolder(), "/home/someone/.config/quillmark/");
        EXPECT_EQ(qm::HomeFolder(), "/home/someone/");
    }
    {
        ScopedEnv docs("XDG_DOCUMENTS_DIR", dir.Path().c_str());
        EXPECT_EQ(qm::DocumentsFolder(), dir.Path());
    }
    {
        ScopedEnv docs("XDG_DOCUMENTS_DIR", nullptr);
        ScopedEnv home("HOME", dir.Path().c_str());
        EXPECT_EQ(qm::DocumentsFolder(), dir.Path());  // no Documents folder: home
        ASSERT_TRUE(qm::CreateFolder(dir.File("Documents")));
        EXPECT_EQ(qm::DocumentsFolder(), dir.File("Documents/"));
    }
    EXPECT_EQ(qm::ProgramFolder().back(), '/');
}

TEST(Paths, CopyReplacesAtomicallyAndFailsWithoutTouchingTheDestination) {
    qmtest::TempDir dir;
    ASSERT_TRUE(qm::WriteFile(dir.File("src.bin"), std::string(200000, 'q')));
    ASSERT_TRUE(qm::WriteFile(dir.File("dst.bin"), "old"));
    ASSERT_TRUE(qm::CopyFileReplacing(dir.File("src.bin"), dir.File("dst.bin")));
    EXPECT_EQ(qm::FileSize(dir.File("dst.bin")), 200000);

    ASSERT_TRUE(qm::WriteFile(dir.File("keep.bin"), "keep"));
    EXPECT_FALSE(qm::CopyFileReplacing(dir.File("missing.bin"), dir.File("keep.bin")));
    EXPECT_FALSE(qm::CopyFileReplacing(dir.File("src.bin"), dir.File("no/folder/x.bin")));
    std::string text;
    ASSERT_TRUE(qm::ReadFile(dir.File("keep.bin"), text));
    EXPECT_EQ(text, "keep");
}

TEST(Paths, NameParts) {
    EXPECT_EQ(qm::FileNamePart("/a/b/c.pdf"), "c.pdf");
    EXPECT_EQ(qm::FileNamePart("c.pdf"), "c.pdf");
    EXPECT_EQ(qm::FolderPart("/a/b/c.pdf"), "/a/b/");
    EXPECT_EQ(qm::FolderPart("c.pdf"), "");
    EXPECT_EQ(qm::WithTrailingSlash("/a"), "/a/");
    EXPECT_EQ(qm::WithTrailingSlash("/a/"), "/a/");
    EXPECT_EQ(qm::WithTrailingSlash(""), "");
}

TEST(Log, CaptureCollectsLinesAndRestoresTheSink) {
    std::string outer;
    qm::LogSink old = qm::SetLogSink([&](qm::LogLevel, const std::string &t) { outer += t; });
    {
        qm::LogCapture capture;
        qm::LogError("first");
        qm::LogWarning("second");
        EXPECT_EQ(capture.Text(), "first\nsecond\n");
    }
    qm::LogError("after");
    EXPECT_EQ(outer, "after");
    qm::SetLogSink(old);
}

} // namespace
