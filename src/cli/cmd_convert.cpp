// "convert": PDF files to EPUB books through the batch conversion run, with a progress line on a
// terminal and Ctrl-C as the Cancel button.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "options/conversion_options.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "worker/conversion_worker.h"

namespace qmcli {
namespace {

struct ConvertArgs {
    std::vector<std::string> files;
    std::string output;
    std::string mode = "automatic";
    std::string fontScale = qm::ConversionOptions().fontScaleText;
    std::string dpi = qm::ConversionOptions().imageDpiText;
    bool cover = false, kindle = false;
    std::string password;
    std::string outline;
    bool bookmarksToc = false;
    std::string columns = "single";
    bool noParagraphCheck = false, noAlignCheck = false, ignoreImages = false, ignoreVector = false;
    bool links = false, overwrite = false, quiet = false, verbose = false;
    std::string title, creator, subject;
    bool titleSet = false, creatorSet = false, subjectSet = false;
    double pageTimeout = 0;
    int jobs = DefaultJobs();

    // As many documents at once as the machine has cores.
    static int DefaultJobs() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }
};

// Progress of the current document (the first listed one of those in work) on stderr, and the
// messages of each document gathered into one line that names its file. The run hands over a
// document's messages right before its DocumentFinished.
class ConsoleFrontEnd : public qm::ConversionObserver, public qm::UserPrompt {
public:
    ConsoleFrontEnd(bool quiet, bool progress) : quiet_(quiet), progress_(progress) {}

    void DocumentStarted(int index, int count, const std::string &name) override {
        std::lock_guard<std::mutex> g(m_);
        count_ = count;
        active_[index] = name;
        name_ = name;
    }
    void DocumentFinished(int index, bool bookMade) override {
        std::lock_guard<std::mutex> g(m_);
        auto it = active_.find(index);
        if (it != active_.end()) name_ = it->second;
        if (!bookMade && pending_.empty()) pending_ = "no book was made (--verbose shows why)";
        FlushLocked();
        active_.erase(index);
    }
    void ConversionDone(bool) override {
        std::lock_guard<std::mutex> g(m_);
        FlushLocked();
        active_.clear();
    }
    void Message(const std::string &text, const std::string &) override {
        std::lock_guard<std::mutex> g(m_);
        pending_ += pending_.empty() ? text : " " + text;
    }
    bool AskYesNo(const std::string &text, const std::string &) override {
        std::lock_guard<std::mutex> g(m_);
        pending_ += (pending_.empty() ? "" : " ") + text + "No: not replaced (--overwrite replaces existing books).";
        return false;
    }
    // Redraws the progress line (called every 100 ms while the run goes on).
    void Tick(int percent) {
        std::lock_guard<std::mutex> g(m_);
        if (!progress_ || quiet_ || active_.empty()) return;
        const auto &[index, name] = *active_.begin();
        std::string line = "[" + std::to_string(index + 1) + "/" + std::to_string(count_) + "] " + name + "  " +
                           std::to_string(percent) + "%";
        if (active_.size() > 1) line += " (+" + std::to_string(active_.size() - 1) + " more)";
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void ClearProgress() {
        std::lock_guard<std::mutex> g(m_);
        ClearProgressLocked();
    }

private:
    void ClearProgressLocked() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }
    void FlushLocked() {
        if (pending_.empty()) return;
        ClearProgressLocked();
        std::fprintf(stderr, "%s: %s\n", name_.c_str(), pending_.c_str());
        pending_.clear();
    }

    std::mutex m_;
    bool quiet_, progress_;
    bool shown_ = false;
    int count_ = 0;
    std::map<int, std::string> active_;  // documents in work: index -> listed name
    std::string name_;                   // the document the pending messages belong to
    std::string pending_;
};

int RunConvert(const ConvertArgs &a) {
    qm::ConversionOptions options;
    options.useMyDocuments = 0;
    if (a.output.empty()) {
        options.sameAsSource = 1;
    } else {
        if (!qm::FolderExists(a.output)) {
            std::fprintf(stderr, "%s: the output folder does not exist\n", a.output.c_str());
            return 2;
        }
        options.sameAsSource = 0;
        options.outputFolder = qm::WithTrailingSlash(a.output);
    }
    if (a.mode == "strict") {
        std::fprintf(stderr, "--mode strict needs the desktop program (quillmark)\n");
        return 2;
    }
    options.parseMode = a.mode == "imaging" ? 2 : 0;
    if (!a.fontScale.empty()) options.fontScaleText = a.fontScale;
    if (!a.dpi.empty()) options.imageDpiText = a.dpi;
    if (a.cover) options.SetCreateCover(true);
    if (a.kindle) options.SetCompatibleKindle(true);
    options.pdfPassword = a.password;
    if (!a.outline.empty()) {
        options.outputOutline = 1;
        options.outlinePosition = a.outline == "first" ? 0 : a.outline == "second" ? 1 : 2;
    }
    options.importBookmarksToToc = a.bookmarksToc ? 1 : 0;
    options.columnMode = a.columns == "multi" ? 2 : 1;
    if (a.noParagraphCheck) options.paragraphCheck = 0;
    if (a.noAlignCheck) options.alignCheck = 0;
    if (a.ignoreImages) options.ignoreImages = 1;
    if (a.ignoreVector) options.ignoreVectorGraphics = 1;
    options.ignoreLinks = a.links ? 0 : 1;
    options.overwriteExisting = a.overwrite ? 1 : 0;
    if (a.titleSet || a.creatorSet || a.subjectSet) {
        options.useSourceMetadata = 0;
        options.bookTitle = a.title;
        options.bookCreator = a.creator;
        options.bookSubject = a.subject;
    }

    // The engine's trace is for diagnosis only.
    qm::LogSink previous = qm::SetLogSink(a.verbose ? qm::LogSink([](qm::LogLevel level, const std::string &text) {
        std::fprintf(stderr, "%s: %s\n", level == qm::LogLevel::Error ? "error" : "warning", text.c_str());
    })
                                                    : qm::LogSink());

    std::vector<std::string> paths, names;
    for (const std::string &f : a.files) {
        paths.push_back(f);
        names.push_back(qm::FileNamePart(f));
    }

    const bool terminal = isatty(STDERR_FILENO) != 0;
    ConsoleFrontEnd front(a.quiet, terminal);
    qm::ConversionRun run(options, front, front);
    run.pageTimeoutSeconds = a.pageTimeout;
    run.jobs = a.jobs;

    InterruptGuard interrupt;
    int rc = run.StartConversion(paths, names, false);
    if (rc != 0) {
        qm::SetLogSink(previous);
        return 1;
    }
    // Poll as the converting page's timer does: progress, and Ctrl-C as the Cancel button.
    std::atomic<bool> finished{false};
    std::thread waiter([&] {
        run.Wait();
        finished = true;
    });
    bool cancelSent = false;
    while (!finished) {
        if (!cancelSent && interrupt.Interrupted()) {
            run.Cancel();
            cancelSent = true;
        }
        front.Tick(run.State().percent.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    waiter.join();
    front.ClearProgress();

    qm::RunState &s = run.State();
    if (!a.quiet)
        for (const std::string &book : s.producedBooks) std::printf("%s\n", book.c_str());
    int made = 0;
    for (int r : s.documentResults) made += r;
    if (s.cancelled && !a.quiet) std::fprintf(stderr, "Cancelled.\n");
    run.Finish();
    qm::SetLogSink(previous);
    return made == static_cast<int>(paths.size()) && !s.cancelled ? 0 : 1;
}

} // namespace

void RegisterConvertCommand(CLI::App &app, Runner &run) {
    auto a = std::make_shared<ConvertArgs>();
    CLI::App *cmd = app.add_subcommand("convert", "Convert PDF files to EPUB books");
    cmd->add_option("files", a->files, "PDF files")->required();
    cmd->add_option("-o,--output", a->output, "Folder for the books (default: next to each PDF)");
    cmd->add_option("--mode", a->mode, "Parse mode")
        ->check(CLI::IsMember({"automatic", "imaging", "strict"}))
        ->capture_default_str();
    cmd->add_option("--font-scale", a->fontScale, "Font scale, kept within 0.5 to 3.0")->capture_default_str();
    cmd->add_option("--dpi", a->dpi, "Resolution of pictures in dpi")->capture_default_str();
    cmd->add_flag("--cover", a->cover, "Render the first page as cover image and title page");
    cmd->add_flag("--kindle", a->kindle, "Cover meta element for Kindle converters (implies --cover)");
    cmd->add_option("--password", a->password, "Password of encrypted PDFs");
    cmd->add_option("--outline", a->outline, "Write an outline page as first, second or last page (default: none)")
        ->check(CLI::IsMember({"first", "second", "last"}));
    cmd->add_flag("--bookmarks-toc", a->bookmarksToc, "Use the PDF bookmarks as the table of contents (default off)");
    cmd->add_option("--columns", a->columns, "Column mode")
        ->check(CLI::IsMember({"single", "multi"}))
        ->capture_default_str();
    cmd->add_flag("--no-paragraph-check", a->noParagraphCheck, "Do not join lines into paragraphs");
    cmd->add_flag("--no-align-check", a->noAlignCheck, "Do not detect paragraph alignment");
    cmd->add_flag("--ignore-images", a->ignoreImages, "Leave pictures out");
    cmd->add_flag("--ignore-vector", a->ignoreVector, "Leave vector drawings out");
    cmd->add_flag("--links", a->links, "Keep the PDF's links (default off)");
    cmd->add_flag("--overwrite", a->overwrite, "Replace existing books without asking (default off)");
    cmd->add_option("--title", a->title, "Book title instead of the PDF's");
    cmd->add_option("--creator", a->creator, "Book creator instead of the PDF's author");
    cmd->add_option("--subject", a->subject, "Book subject instead of the PDF's");
    cmd->add_option("--page-timeout", a->pageTimeout,
                    "Skip a page that takes longer than this many seconds (default: no limit)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("-j,--jobs", a->jobs, "Documents converted at the same time (default: the number of cores)")
        ->check(CLI::PositiveNumber);
    cmd->add_flag("-q,--quiet", a->quiet, "No progress line and no list of books");
    cmd->add_flag("-v,--verbose", a->verbose, "Show the PDF engine's error and warning trace");
    cmd->callback([a, cmd, &run] {
        a->titleSet = cmd->count("--title") > 0;
        a->creatorSet = cmd->count("--creator") > 0;
        a->subjectSet = cmd->count("--subject") > 0;
        run = [a] { return RunConvert(*a); };
    });
}

} // namespace qmcli
