// Packaging speed: builds a generated book of about 50 MB (XHTML pages of word text plus
// incompressible pictures, like a converted PDF) with EpubBuilder, times the ZIP writer alone on
// the staged tree, and Info-ZIP's "zip -X -8" on the same tree in the same run.
// Usage: bench_epub_pack [megabytes]   (default 50)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "epub/epub_builder.h"
#include "epub/zip_writer.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

std::string PageText(std::mt19937 &gen, size_t bytes, int page) {
    static const char *kWords[] = {"the",    "whale",  "sea",   "ship",    "captain", "harpoon", "of",    "and",
                                   "a",      "to",     "in",    "was",     "that",    "his",     "with",  "for",
                                   "ocean",  "white",  "voyage", "sailor", "deck",    "mast",    "wind",  "storm",
                                   "long",   "through", "upon", "across",  "water",   "night",   "light", "boat"};
    std::string s = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
                    "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n<html xmlns=\"http://www.w3.org/1999/xhtml\">"
                    "<head><title>page</title><link href=\"styles.css\" type=\"text/css\" rel=\"stylesheet\"/></head>\n"
                    "<body>\n<p><a id=\"page-" +
                    std::to_string(page) + "\"></a></p>\n";
    std::uniform_int_distribution<int> word(0, 31), cls(0, 9);
    while (s.size() < bytes) {
        s += "<p class=\"p" + std::to_string(cls(gen)) + "\"><span class=\"s" + std::to_string(cls(gen)) + "\">";
        for (int w = 0; w < 60; ++w) {
            s += kWords[word(gen)];
            s += ' ';
        }
        s += "</span></p>\n";
    }
    return s + "</body></html>\n";
}

} // namespace

int main(int argc, char **argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 50.0;
    const size_t total = static_cast<size_t>(megabytes * 1024 * 1024);
    qmtest::TempDir dir;
    const std::string src = dir.File("src/");
    qm::CreateFolders(src);

    // 60% text in pages of ~150 KB, 40% pictures of ~200 KB.
    std::mt19937 gen(42);
    qm::PackageJob job;
    size_t written = 0;
    qm::WriteFile(src + "styles.css", "p { margin: 0; }\n");
    job.items.push_back({src + "styles.css", "styles"});
    int page = 0, image = 0;
    while (written < total) {
        const bool picture = (page + image) % 5 >= 3;
        std::string name, body;
        if (picture) {
            body.resize(200 * 1024);
            for (char &c : body) c = static_cast<char>(gen() & 0xFF);
            name = "image-" + std::to_string(++image) + ".png";
        } else {
            ++page;
            body = PageText(gen, 150 * 1024, page);
            name = "page-" + std::to_string(page) + ".html";
        }
        qm::WriteFile(src + name, body);
        written += body.size();
        job.items.push_back({src + name, name.substr(0, name.rfind('.'))});
    }
    const qm::BookMetadata meta{"Bench Book", "Bench", "Packaging"};
    job.metadata = &meta;
    job.titlePageFlag = 1;
    job.epubPath = "bench.epub";
    const std::string stage = dir.File("stage/");
    job.stagingFolder = stage;

    std::printf("book: %d pages, %d pictures, %zu files, %.1f MB of content\n", page, image, job.items.size(),
                static_cast<double>(written) / (1024 * 1024));

    const int runs = 3;
    double buildBest = 1e9, zipBest = 1e9, infoBest = 1e9;
    int64_t buildSize = 0, zipSize = 0, infoSize = 0;
    for (int r = 0; r < runs; ++r) {
        // Whole build: staging layout, copies, package files, container.
        auto t0 = std::chrono::steady_clock::now();
        qm::EpubBuilder builder;
        if (builder.Build(&job, true) != qm::EpubBuildResult::Ok) {
            std::fprintf(stderr, "build failed\n");
            return 1;
        }
        buildBest = std::min(buildBest, Seconds(t0));
        buildSize = qm::FileSize(stage + "bench.epub");

        // The ZIP writer alone on the staged tree.
        t0 = std::chrono::steady_clock::now();
        qm::ZipWriter zip;
        int rc = zip.Create("again.epub", stage);
        if (rc == 0) rc = zip.AddFile("mimetype", 0);
        for (const char *name : {"META-INF/container.xml", "OPS/content.opf", "OPS/toc.ncx"})
            if (rc >= 0) rc = zip.AddFile(name, 8);
        for (const auto &item : job.items)
            if (rc >= 0) rc = zip.AddFile("OPS/" + qm::FileNamePart(item.sourcePath), 8);
        if (rc >= 0) rc = zip.Close();
        if (rc < 0) {
            std::fprintf(stderr, "zip writer failed: %d\n", rc);
            return 1;
        }
        zipBest = std::min(zipBest, Seconds(t0));
        zipSize = qm::FileSize(stage + "again.epub");

        // Info-ZIP on the same tree, same order of entries.
        std::string list;
        for (const auto &item : job.items) {
            list += ' ';
            list += qmtest::ShellQuote("OPS/" + qm::FileNamePart(item.sourcePath));
        }
        t0 = std::chrono::steady_clock::now();
        const std::string cmd = "cd " + qmtest::ShellQuote(stage) + " && rm -f info.epub && zip -q -X -0 info.epub mimetype" +
                                " && zip -q -X -8 info.epub META-INF/container.xml OPS/content.opf OPS/toc.ncx" + list;
        std::string out;
        if (qmtest::RunCommand(cmd, &out) != 0) {
            std::fprintf(stderr, "zip failed: %s\n", out.c_str());
            return 1;
        }
        infoBest = std::min(infoBest, Seconds(t0));
        infoSize = qm::FileSize(stage + "info.epub");
    }
    std::printf("best of %d runs\n", runs);
    std::printf("EpubBuilder::Build (copy + package files + zip): %7.3f s  %10lld bytes\n", buildBest,
                static_cast<long long>(buildSize));
    std::printf("ZipWriter alone on the staged tree:             %7.3f s  %10lld bytes\n", zipBest,
                static_cast<long long>(zipSize));
    std::printf("Info-ZIP zip -X -8 on the same tree:            %7.3f s  %10lld bytes\n", infoBest,
                static_cast<long long>(infoSize));
    std::printf("time ratio ZipWriter / zip: %.2f   whole build / zip: %.2f   size ratio ZipWriter / zip: %.4f\n",
                zipBest / infoBest, buildBest / infoBest, static_cast<double>(zipSize) / static_cast<double>(infoSize));
    return 0;
}
