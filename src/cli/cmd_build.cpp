// "build": the user's documents and pictures, in the order given, into one EPUB book.
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "options/conversion_options.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "worker/book_builder.h"

namespace qmcli {
namespace {

struct BuildArgs {
    std::vector<std::string> files;
    std::string output;
    std::string title, creator, subject;
    bool quiet = false, verbose = false;
    bool epub3 = false;
};

std::string StemToFirstDot(const std::string &name) {
    size_t dot = name.find('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

int RunBuild(const BuildArgs &a) {
    std::string out = a.output;
    if (qm::FileNamePart(out).empty()) {
        std::fprintf(stderr, "%s: give the book's file name, e.g. book.epub\n", out.c_str());
        return 2;
    }
    if (!qm::FolderPart(out).empty() && !qm::FolderExists(qm::FolderPart(out))) {
        std::fprintf(stderr, "%s: the folder does not exist\n", qm::FolderPart(out).c_str());
        return 2;
    }
    if (qm::FolderPart(out).empty()) out = "./" + out;

    qm::LogSink previous = qm::SetLogSink(a.verbose ? qm::LogSink([](qm::LogLevel level, const std::string &text) {
        std::fprintf(stderr, "%s: %s\n", level == qm::LogLevel::Error ? "error" : "warning", text.c_str());
    })
                                                    : qm::LogSink());

    qm::BookBuildRequest request;
    int missing = 0;
    for (const std::string &f : a.files) {
        if (!qm::FileExists(f)) {
            std::fprintf(stderr, "%s: no such file\n", f.c_str());
            ++missing;
            continue;
        }
        request.files.push_back(qm::BookFile{f, StemToFirstDot(qm::FileNamePart(f))});
    }
    if (request.files.empty()) {
        qm::SetLogSink(previous);
        std::fprintf(stderr, "%s: no book made: none of the files could be read\n", a.output.c_str());
        return 1;
    }
    request.firstListedPath = request.files.front().path;
    request.firstListedName = qm::FileNamePart(request.files.front().path);
    request.destination = out;
    std::string bookName = qm::FileNamePart(out);
    size_t dot = bookName.rfind('.');
    request.metadata.title = a.title.empty() ? (dot == std::string::npos ? bookName : bookName.substr(0, dot)) : a.title;
    request.metadata.creator = a.creator;
    request.metadata.subject = a.subject;
    request.epub3 = a.epub3;

    qm::ConversionOptions options;
    options.taskKind = static_cast<int32_t>(qm::TaskKind::DocumentsToEpub);
    qm::RunState state;
    qm::ConsolePrompt prompt(false, a.quiet);
    std::atomic<bool> done{false};
    InterruptGuard interrupt;  // the build is short: a Ctrl-C waits for it so its files are removed
    std::vector<std::string> refusals;  // listed files left out, each told through the prompt
    std::string failure;                // why the disk kept the book from being made
    const qm::BookBuildResult rc = qm::BookBuilderWorker(options, request, state, prompt, &done, &refusals, &failure);
    qm::SetLogSink(previous);
    // The prompt is silent with --quiet; a file left out and the reason a book was not made are
    // errors and are always printed.
    if (a.quiet) {
        for (const std::string &line : refusals) std::fprintf(stderr, "%s\n", line.c_str());
        if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str());
    }
    if (rc != qm::BookBuildResult::Made) {
        std::fprintf(stderr, "%s: the book could not be made\n", a.output.c_str());
        return 1;
    }
    if (!a.quiet) std::printf("%s\n", a.output.c_str());
    // A Ctrl-C during the build waited for it, and the book is in place: it counts as made.
    return missing == 0 && refusals.empty() ? 0 : 1;
}

} // namespace

void RegisterBuildCommand(CLI::App &app, Runner &run) {
    auto a = std::make_shared<BuildArgs>();
    CLI::App *cmd = app.add_subcommand("build", "Make one EPUB book of HTML, XHTML, text and picture files");
    cmd->add_option("files", a->files, "Files in reading order")->required();
    cmd->add_option("-o,--output", a->output, "The book to write (BOOK.epub)")->required();
    cmd->add_option("--title", a->title, "Book title (default: the book's file name)");
    cmd->add_option("--creator", a->creator, "Book creator");
    cmd->add_option("--subject", a->subject, "Book subject");
    cmd->add_flag("--epub3", a->epub3, "Write an EPUB 3 book (default: EPUB 2)");
    cmd->add_flag("-q,--quiet", a->quiet, "Print nothing but errors");
    cmd->add_flag("-v,--verbose", a->verbose, "Show the diagnostic trace");
    cmd->callback([a, &run] { run = [a] { return RunBuild(*a); }; });
}

} // namespace qmcli
