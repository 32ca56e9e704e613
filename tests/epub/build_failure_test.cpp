// Every way a book build can fail: the code it returns, what the user and the log are told, and
// that no .epub (whole or partial) is left in the staging folder.
#include <gtest/gtest.h>

#include <dirent.h>
#include <functional>

#include "book_fixture.h"
#include "epub/epub_builder.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace {

using qm::EpubBuilder;
using qm::PackageJob;
using namespace qmtest;

bool HoldsArchive(const std::string &folder) {
    bool found = false;
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.find(".epub") != std::string::npos && qm::FileExists(qm::WithTrailingSlash(folder) + name))
                found = true;
        }
        closedir(d);
    }
    return found;
}

struct FailureCase {
    const char *what;
    qm::EpubBuildResult code;
    std::function<void(const TempDir &, PackageJob &)> arrange;
    bool createZip = true;
};

TEST(EpubBuildFailures, EachCodeIsReachedAndLeavesNoBook) {
    const qm::BookMetadata meta{"T", "C", "S"};
    const std::vector<FailureCase> cases = {
        {"staging folder below a regular file", qm::EpubBuildResult::MimetypeFailed,
         [](const TempDir &dir, PackageJob &job) {
             qm::WriteFile(dir.File("plain"), "x");
             job.stagingFolder = dir.File("plain/stage");
         }},
        {"empty staging folder", qm::EpubBuildResult::MimetypeFailed,
         [](const TempDir &, PackageJob &job) { job.stagingFolder.clear(); }},
        {"container.xml taken by a folder", qm::EpubBuildResult::ContainerFailed,
         [](const TempDir &dir, PackageJob &) { qm::CreateFolders(dir.File("META-INF/container.xml")); }},
        {"missing source", qm::EpubBuildResult::CopyFailed,
         [](const TempDir &dir, PackageJob &job) { job.items.push_back({dir.File("gone.html"), "gone"}); }},
        {"source is a folder", qm::EpubBuildResult::CopyFailed,
         [](const TempDir &dir, PackageJob &job) {
             qm::CreateFolders(dir.File("folder.html"));
             job.items.push_back({dir.File("folder.html"), "folder"});
         }},
        {"OPS cannot hold the copy", qm::EpubBuildResult::CopyFailed,
         [](const TempDir &dir, PackageJob &) { qm::WriteFile(dir.File("OPS"), "not a folder"); }},
        {"content.opf taken by a folder", qm::EpubBuildResult::OpfFailed,
         [](const TempDir &dir, PackageJob &) { qm::CreateFolders(dir.File("OPS/content.opf")); }},
        {"toc.ncx taken by a folder", qm::EpubBuildResult::NcxFailed,
         [](const TempDir &dir, PackageJob &) { qm::CreateFolders(dir.File("OPS/toc.ncx")); }},
        // Even root cannot delete from /proc.
        {"undeletable source", qm::EpubBuildResult::DeleteFailed,
         [](const TempDir &, PackageJob &job) {
             job.items.push_back({"/proc/version", "version"});
             job.deleteSources = true;
         }},
        {"book name taken by a folder", qm::EpubBuildResult::ZipFailed,
         [](const TempDir &dir, PackageJob &job) { qm::CreateFolders(dir.File(qm::FileNamePart(job.epubPath))); }},
        {"book path without a file name", qm::EpubBuildResult::ZipFailed,
         [](const TempDir &dir, PackageJob &job) { job.epubPath = dir.File("out/"); }},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        PackageJob job;
        job.stagingFolder = dir.Path();
        job.epubPath = "/dest/Book.epub";
        job.metadata = &meta;
        job.titlePageFlag = 1;
        job.items.push_back({MakeContentFile(dir.Path(), "page-1.html"), "page-1"});
        c.arrange(dir, job);
        RecordingPrompt prompt;
        qm::LogCapture log;
        EXPECT_EQ(c.code, EpubBuilder(prompt).Build(&job, c.createZip));
        if (c.code == qm::EpubBuildResult::ZipFailed) {
            EXPECT_EQ(std::vector<std::string>{"Create Zip file failed"}, prompt.messages);
        } else {
            EXPECT_TRUE(prompt.messages.empty());
        }
        EXPECT_FALSE(log.Text().empty()) << "a failure is logged for diagnosis";
        EXPECT_FALSE(HoldsArchive(dir.Path()));
        EXPECT_FALSE(HoldsArchive(dir.File("OPS")));
    }
}

TEST(EpubBuildFailures, NullJobAndNoZip) {
    RecordingPrompt prompt;
    EXPECT_EQ(qm::EpubBuildResult::Ok, EpubBuilder(prompt).Build(nullptr, true));

    // Without the container the package files are laid out and nothing is zipped.
    TempDir dir;
    PackageJob job;
    job.stagingFolder = dir.File("new/stage"); // made as needed
    job.epubPath = "Book.epub";
    job.items.push_back({MakeContentFile(dir.Path(), "page-1.html"), "page-1"});
    EXPECT_EQ(qm::EpubBuildResult::Ok, EpubBuilder(prompt).Build(&job, false));
    EXPECT_TRUE(qm::FileExists(dir.File("new/stage/mimetype")));
    EXPECT_TRUE(qm::FileExists(dir.File("new/stage/OPS/page-1.html")));
    EXPECT_TRUE(qm::FileExists(dir.File("new/stage/OPS/toc.ncx")));
    EXPECT_FALSE(qm::FileExists(dir.File("new/stage/Book.epub")));
    EXPECT_TRUE(prompt.messages.empty());
}

TEST(EpubBuildFailures, ExistingBookIsReplaced) {
    TempDir dir;
    qm::WriteFile(dir.File("Book.epub"), std::string(100000, 'x'));
    PackageJob job;
    job.stagingFolder = dir.Path();
    job.epubPath = "Book.epub";
    job.items.push_back({MakeContentFile(dir.Path(), "page-1.html"), "page-1"});
    RecordingPrompt prompt;
    ASSERT_EQ(qm::EpubBuildResult::Ok, EpubBuilder(prompt).Build(&job, true));
    std::string bytes;
    ASSERT_TRUE(qm::ReadFile(dir.File("Book.epub"), bytes));
    EXPECT_EQ("PK\x03\x04", bytes.substr(0, 4));
    EXPECT_LT(bytes.size(), 5000u);
}

} // namespace
