// "convert": PDF files to EPUB books through the batch conversion run, with a progress line on a
// terminal and Ctrl-C as the Cancel button.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "options/conversion_options.h"
#include "options/page_edits.h"
#include "options/reading_options.h"
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
    std::string columns = "auto";
    bool noParagraphCheck = false, noAlignCheck = false, ignoreImages = false, ignoreVector = false;
    bool links = false, overwrite = false, quiet = false, verbose = false;
    std::string title, creator, subject;
    bool titleSet = false, creatorSet = false, subjectSet = false;
    double pageTimeout = 0;
    std::string report;
    std::string edits;
    bool keepRunningHeads = false, noHeadings = false, tocFromHeadings = false, noCode = false;
    bool keepContentsPages = false, epub3 = false;
    std::string language;
    int jobs = DefaultJobs();

    // As many documents at once as the machine has cores.
    static int DefaultJobs() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }
};

// What the report says about one document.
struct DocumentRecord {
    bool started = false, finished = false;
    std::chrono::steady_clock::time_point start;
    double seconds = 0;
    long peakMemoryKb = 0;
    std::string line;  // the line printed for the document, "" when none
};

long PeakMemoryKb() {
    struct rusage usage {};
    return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : 0;
}

// Progress of the current document (the first listed one of those in work) on stderr, and the
// messages of each document gathered into one line that names its file. The run hands over a
// document's messages right before its DocumentFinished.
class ConsoleFrontEnd : public qm::ConversionObserver, public qm::UserPrompt {
public:
    ConsoleFrontEnd(bool quiet, bool progress, size_t documents)
        : quiet_(quiet), progress_(progress), records_(documents) {}

    void DocumentStarted(int index, int count, const std::string &name) override {
        std::lock_guard<std::mutex> g(m_);
        count_ = count;
        active_[index] = name;
        name_ = name;
        if (DocumentRecord *r = Record(index)) {
            r->started = true;
            r->start = std::chrono::steady_clock::now();
        }
    }
    void DocumentFinished(int index, bool bookMade) override {
        std::lock_guard<std::mutex> g(m_);
        auto it = active_.find(index);
        if (it != active_.end()) name_ = it->second;
        if (!bookMade && pending_.empty())
            pending_ = cancelled_ ? "cancelled, no book was made" : "no book was made (--verbose shows why)";
        if (DocumentRecord *r = Record(index)) {
            r->finished = true;
            r->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - r->start).count();
            r->peakMemoryKb = PeakMemoryKb();
            r->line = pending_.empty() ? std::string() : name_ + ": " + pending_;
        }
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
    // The run's worker has ended.
    void RunEnded() {
        std::lock_guard<std::mutex> g(m_);
        done_ = true;
        doneWake_.notify_all();
    }
    // Waits until the run has ended or `period` has passed; true when it has ended.
    bool WaitDone(std::chrono::milliseconds period) {
        std::unique_lock<std::mutex> g(m_);
        return doneWake_.wait_for(g, period, [this] { return done_; });
    }
    // From now on a document that gives no book says it was cancelled.
    void SetCancelled() {
        std::lock_guard<std::mutex> g(m_);
        cancelled_ = true;
    }
    // Prints what was said outside any document (the run could not start); the line printed.
    std::string FlushRunMessage() {
        std::lock_guard<std::mutex> g(m_);
        std::string line = pending_;
        if (!line.empty()) {
            ClearProgressLocked();
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        pending_.clear();
        return line;
    }
    std::vector<DocumentRecord> Records() {
        std::lock_guard<std::mutex> g(m_);
        return records_;
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

    DocumentRecord *Record(int index) {
        return index >= 0 && static_cast<size_t>(index) < records_.size() ? &records_[index] : nullptr;
    }

    std::mutex m_;
    std::condition_variable doneWake_;
    bool quiet_, progress_;
    bool shown_ = false, done_ = false, cancelled_ = false;
    std::vector<DocumentRecord> records_;
    int count_ = 0;
    std::map<int, std::string> active_;  // documents in work: index -> listed name
    std::string name_;                   // the document the pending messages belong to
    std::string pending_;
};

// The report of a run as JSON: one record per listed document, in list order.
std::string ReportJson(const std::vector<std::string> &inputs, const qm::RunState &state,
                       const std::vector<DocumentRecord> &records, const std::string &runLine) {
    nlohmann::ordered_json documents = nlohmann::ordered_json::array();
    for (size_t i = 0; i < inputs.size(); ++i) {
        const DocumentRecord r = i < records.size() ? records[i] : DocumentRecord();
        const bool made = i < state.documentResults.size() && state.documentResults[i] == 1;
        const int pages = i < state.documentPages.size() ? state.documentPages[i] : -1;
        nlohmann::ordered_json d;
        d["input"] = inputs[i];
        d["book"] = made && i < state.documentBooks.size() ? nlohmann::ordered_json(state.documentBooks[i]) : nullptr;
        d["pages"] = pages >= 0 ? nlohmann::ordered_json(pages) : nullptr;
        d["seconds"] = r.finished ? nlohmann::ordered_json(std::round(r.seconds * 1000) / 1000) : nullptr;
        d["peak_memory_kb"] = r.finished ? nlohmann::ordered_json(r.peakMemoryKb) : nullptr;
        // The line the user saw about a document without a book; one that never started was
        // dropped by a cancel, or the run itself could not start.
        std::string error = made ? std::string() : r.line;
        if (!made && !r.started) error = state.cancelled ? "Cancelled." : runLine;
        d["error"] = error.empty() ? nullptr : nlohmann::ordered_json(error);
        d["message"] = made && !r.line.empty() ? nlohmann::ordered_json(r.line) : nullptr;
        documents.push_back(std::move(d));
    }
    nlohmann::ordered_json report;
    report["cancelled"] = state.cancelled;
    report["documents"] = std::move(documents);
    return report.dump(2) + "\n";
}

// Writes the report under a temporary name next to `path` and then renames it, so that a reader
// never sees half a report; "" on success, else why it failed.
std::string WriteReport(const std::string &path, const std::string &text) {
    const std::string folder = qm::FolderPart(path);
    const std::string temp = qm::CreateUniqueTempFile(".qmrk_report_", folder.empty() ? "./" : folder);
    if (temp.empty()) return qm::SystemErrorText(errno);
    if (!qm::WriteFile(temp, text)) {
        const int error = errno;
        std::remove(temp.c_str());
        return qm::SystemErrorText(error);
    }
    int error = 0;
    if (qm::PlaceFile(temp, path, true, &error) != qm::PlaceResult::kPlaced) {
        std::remove(temp.c_str());
        return qm::SystemErrorText(error);
    }
    return std::string();
}

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
    if (!a.report.empty() && !qm::IsWritableFolder(qm::FolderPart(a.report).empty() ? "." : qm::FolderPart(a.report))) {
        std::fprintf(stderr, "%s: the report's folder does not exist or cannot be written\n", a.report.c_str());
        return 2;
    }
    // Strict mode without the window: the edits file (if any) stands for what the user would do
    // in it; without one the pages keep their default options.
    std::shared_ptr<qm::PageEdits> edits;
    if (!a.edits.empty()) {
        if (a.mode != "strict") {
            std::fprintf(stderr, "--edits needs --mode strict\n");
            return 2;
        }
        edits = std::make_shared<qm::PageEdits>();
        std::string problem;
        if (!qm::LoadPageEdits(a.edits, *edits, problem)) {
            std::fprintf(stderr, "%s: %s\n", a.edits.c_str(), problem.c_str());
            return 2;
        }
    }
    options.parseMode = a.mode == "imaging" ? 2 : a.mode == "strict" ? 1 : 0;
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
    options.columnMode = qm::ColumnModeFromName(a.columns).value_or(static_cast<int32_t>(qm::ColumnMode::AutoDetect));
    if (a.noParagraphCheck) options.paragraphCheck = 0;
    if (a.noAlignCheck) options.alignCheck = 0;
    if (a.ignoreImages) options.ignoreImages = 1;
    if (a.ignoreVector) options.ignoreVectorGraphics = 1;
    options.ignoreLinks = a.links ? 0 : 1;
    options.overwriteExisting = a.overwrite ? 1 : 0;
    options.reading.keepRunningHeads = a.keepRunningHeads;
    options.reading.headings = !a.noHeadings;
    options.reading.tocFromHeadings = a.tocFromHeadings;
    options.reading.codeBlocks = !a.noCode;
    options.reading.keepContentsPages = a.keepContentsPages;
    options.reading.language = a.language;
    options.reading.epub3 = a.epub3;
    // The cover's title page comes first: an outline page asked for first or second is not written.
    if (options.outputOutline && options.outlinePosition != 2 && options.createCover)
        std::fprintf(stderr, "--outline %s is ignored with %s: the book starts with the cover's title page\n",
                     a.outline.c_str(), a.cover ? "--cover" : "--kindle");

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
    ConsoleFrontEnd front(a.quiet, terminal, paths.size());
    qm::ConversionRun run(options, front, front);
    run.pageTimeoutSeconds = a.pageTimeout;
    if (a.titleSet) run.metadataOverride.title = a.title;
    if (a.creatorSet) run.metadataOverride.creator = a.creator;
    if (a.subjectSet) run.metadataOverride.subject = a.subject;

    // The report, once the run is over (also after Ctrl-C); false when it could not be written.
    auto report = [&](const std::string &runLine) {
        if (a.report.empty()) return true;
        const std::string problem = WriteReport(a.report, ReportJson(paths, run.State(), front.Records(), runLine));
        if (problem.empty()) return true;
        std::fprintf(stderr, "%s: the report could not be written: %s.\n", a.report.c_str(), problem.c_str());
        return false;
    };
    run.jobs = a.jobs;
    run.pageEdits = edits;

    InterruptGuard interrupt;
    if (run.StartConversion(paths, names, false) != qm::StartResult::Started) {
        const std::string line = front.FlushRunMessage();
        report(line);
        qm::SetLogSink(previous);
        return 1;
    }
    // Progress is redrawn every 100 ms, as the converting page's timer does, and Ctrl-C is the
    // Cancel button; the end of the run wakes the wait at once.
    std::thread waiter([&] {
        run.Wait();
        front.RunEnded();
    });
    bool cancelSent = false;
    while (!front.WaitDone(std::chrono::milliseconds(100))) {
        if (!cancelSent && interrupt.Interrupted()) {
            front.SetCancelled();
            run.Cancel();
            cancelSent = true;
        }
        front.Tick(run.State().percent.load());
    }
    waiter.join();
    front.ClearProgress();

    qm::RunState &s = run.State();
    if (!a.quiet)
        for (const std::string &book : s.producedBooks) std::printf("%s\n", book.c_str());
    int made = 0;
    for (int r : s.documentResults) made += r;
    if (s.cancelled && !a.quiet) std::fprintf(stderr, "Cancelled.\n");
    const bool reported = report(std::string());
    run.Finish();
    qm::SetLogSink(previous);
    return made == static_cast<int>(paths.size()) && !s.cancelled && reported ? 0 : 1;
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
    AddColumnsOption(*cmd, a->columns, "Column mode (auto: columns where a page is set in them)");
    cmd->add_flag("--keep-running-heads", a->keepRunningHeads,
                  "Keep running heads, running feet and page numbers in the text (default: left out)");
    cmd->add_flag("--no-headings", a->noHeadings, "Do not turn large or bold blocks into headings");
    cmd->add_flag("--toc-from-headings", a->tocFromHeadings,
                  "Build the table of contents from the headings even when the PDF has bookmarks");
    cmd->add_flag("--no-code", a->noCode, "Do not keep the lines of fixed-pitch text as code");
    cmd->add_flag("--keep-contents-pages", a->keepContentsPages,
                  "Keep the PDF's printed contents pages as they are (default: one linked line per entry)");
    cmd->add_option("--language", a->language, "The book's language, e.g. de or en-US (default: the PDF's, else en-gb)")
        ->check(CLI::Validator(
            [](std::string &tag) {
                return qm::IsLanguageTag(tag) ? std::string()
                                          : "'" + tag + "' is not a language tag (letters, digits and hyphens, such "
                                                        "as de, en-US or pt-BR)";
            },
            "TAG"));
    cmd->add_flag("--epub3", a->epub3, "Write an EPUB 3 book (default: EPUB 2)");
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
    cmd->add_option("--report", a->report,
                    "Write a JSON record of every document (book, pages, seconds, peak memory, error) to this "
                    "file when the run ends");
    cmd->add_option("--edits", a->edits,
                    "With --mode strict: a JSON file of per-page options, margins and region actions");
    cmd->add_option("-j,--jobs", a->jobs, "Threads: documents converted at the same time, and the pages of a document when there "
                    "are fewer documents (default: the number of cores)")
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
