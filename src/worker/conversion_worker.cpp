#include "worker/conversion_worker.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>

#include "epub/epub_builder.h"
#include "pdf/pdf_document.h"
#include "extract/region_editor.h"
#include "xhtml/book_names.h"
#include "xhtml/document_converter.h"
#include "xhtml/strict_session.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace qm {
namespace {

constexpr const char *kProductName = "Quillmark";

std::string StemToLastDot(const std::string &name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string StemToFirstDot(const std::string &name) {
    size_t dot = name.find('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string DestinationFolder(const ConversionOptions &options, const std::string &path) {
    if (options.sameAsSource) return FolderPart(path);
    return WithTrailingSlash(options.outputFolder);
}

void SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The folder as the system resolves it (links, "." and ".."), so that two spellings of one folder
// compare equal; the text itself when it cannot be resolved.
std::string ResolvedFolder(const std::string &folder) {
    char *real = realpath(folder.empty() ? "." : folder.c_str(), nullptr);
    if (!real) return folder;
    std::string resolved = WithTrailingSlash(real);
    std::free(real);
    return resolved;
}

// Identity of a source file: its device and inode, or its path when it cannot be looked at.
std::string SourceIdentity(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    return "path:" + path;
}

// A probe of this size that cannot be written shows a folder too full to hold a book's files.
constexpr int64_t kTempProbeBytes = 64 * 1024;

// After the interactive converter: the pages were drawn at the window's zoom, the book's pages are
// drawn at the conversion's. Margins kept in view pixels would reach that zoom through repeated
// scaling and rounding, a pixel off here and there, so the margins and page options are handed to
// the conversion in points, as an edits file gives them: each page then gets them at its own
// zoom, exactly as a conversion with those edits does. The marked, grouped and excluded items
// stay in the model. A model the window never filled leaves the job as it is (a run's own edits
// included).
void KeepViewedLayout(const PageModel &model, ConversionJob &job) {
    if (model.RecordedPages().empty()) return;
    PageEdits layout = EditsFromModel(model);
    if (layout.entries.empty()) return;
    for (PageEdits::Entry &entry : layout.entries) entry.regions.clear();
    job.pageEdits = std::make_shared<const PageEdits>(std::move(layout));
}

} // namespace

std::string BatchDestination(const ConversionOptions &options, const std::string &path, const std::string &name) {
    return DestinationFolder(options, path) + StemToLastDot(name) + ".epub";
}

std::vector<std::string> BatchDestinations(const ConversionOptions &options, const std::vector<std::string> &paths,
                                           const std::vector<std::string> &names, std::vector<int> *firstOwner) {
    const size_t count = paths.size();
    std::map<std::string, std::string> resolved;  // folder as written -> as resolved
    auto key = [&](const std::string &destination) {
        const std::string folder = FolderPart(destination);
        auto it = resolved.find(folder);
        if (it == resolved.end()) it = resolved.emplace(folder, ResolvedFolder(folder)).first;
        return it->second + FileNamePart(destination);
    };
    std::vector<std::string> destinations(count);
    std::set<std::string> listed;  // every name a document of the list has before renaming
    for (size_t i = 0; i < count; ++i) {
        destinations[i] = BatchDestination(options, paths[i], i < names.size() ? names[i] : FileNamePart(paths[i]));
        listed.insert(key(destinations[i]));
    }
    if (firstOwner) firstOwner->assign(count, -1);
    std::map<std::string, size_t> owner;          // name -> the document that has it
    std::map<std::string, size_t> firstOfSource;  // source -> its first document
    for (size_t i = 0; i < count; ++i) {
        auto [same, isNew] = firstOfSource.emplace(SourceIdentity(paths[i]), i);
        if (!isNew) {
            destinations[i] = destinations[same->second];
            continue;
        }
        auto taken = owner.find(key(destinations[i]));
        if (taken == owner.end()) {
            owner.emplace(key(destinations[i]), i);
            continue;
        }
        if (firstOwner) (*firstOwner)[i] = static_cast<int>(taken->second);
        const std::string stem = destinations[i].substr(0, destinations[i].size() - 5);  // without ".epub"
        for (unsigned n = 2;; ++n) {
            std::string candidate = stem + "-" + std::to_string(n) + ".epub";
            std::string candidateKey = key(candidate);
            if (owner.count(candidateKey) || listed.count(candidateKey)) continue;
            destinations[i] = candidate;
            owner.emplace(candidateKey, i);
            break;
        }
    }
    return destinations;
}

std::string BuilderDestination(const ConversionOptions &options, const std::string &firstPath,
                               const std::string &firstName) {
    return DestinationFolder(options, firstPath) + StemToFirstDot(firstName) + ".epub";
}

std::string NewRunStem(std::vector<std::string> &placeholders) {
    std::string placeholder = CreateUniqueTempFile("qmrk_");
    if (placeholder.empty()) return std::string();
    placeholders.push_back(placeholder);
    std::string name = FileNamePart(placeholder);
    return name.size() > 4 ? name.substr(0, name.size() - 4) : name;
}

ConversionRun::ConversionRun(ConversionOptions &options, UserPrompt &prompt, ConversionObserver &observer)
    : options_(options), prompt_(prompt), observer_(observer) {}

ConversionRun::~ConversionRun() { Finish(); }

StartResult ConversionRun::StartConversion(const std::vector<std::string> &paths,
                                           const std::vector<std::string> &names, bool singleDocumentMode) {
    Finish();  // whatever an earlier run left behind
    if (options_.parseMode == static_cast<int32_t>(ParseMode::Automatic)) observer_.OfferOptions(options_);

    state_.cancelFlag = 0;
    state_.percent = 0;
    runCancel_ = false;
    state_.successCount = 0;
    state_.producedBooks.clear();
    state_.documentResults.assign(paths.size(), 0);
    state_.documentPages.assign(paths.size(), -1);
    state_.documentBooks.assign(paths.size(), std::string());
    state_.cancelled = false;
    state_.lastOutputPath.clear();
    state_.lastNavPointsFile.clear();
    state_.lastBookLanguage.clear();
    state_.lastBookEpub3 = false;
    state_.sourceTitle.clear();
    state_.sourceAuthor.clear();
    state_.sourceSubject.clear();
    state_.sourcePaths = paths;
    state_.sourceNames = names;
    state_.sourceNames.resize(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        if (state_.sourceNames[i].empty()) state_.sourceNames[i] = FileNamePart(paths[i]);
    state_.singleDocumentMode = singleDocumentMode;

    const std::string temp = TempFolder();
    state_.runStem = NewRunStem(state_.placeholders);
    std::string scratchStem = NewRunStem(state_.placeholders);
    state_.workRoot = state_.runStem.empty() ? std::string() : temp + state_.runStem;
    state_.scratchFolder = scratchStem.empty() ? std::string() : temp + scratchStem;

    // A failed attempt is retried after a pause (something may still hold the folder); the first
    // attempt does not wait.
    bool created = false;
    for (int attempt = 0; attempt < 50 && !state_.workRoot.empty(); ++attempt) {
        if (attempt > 0) SleepMs(retryDelayMs);
        DeleteFolderTree(state_.workRoot);
        if (CreateFolder(state_.workRoot)) {
            created = true;
            break;
        }
    }
    if (!created) {
        prompt_.Message("Create output tmp folder error! You can try to close this program and run again.");
        return StartResult::NoWorkFolder;
    }
    thread_ = std::thread([this] { Worker(); });
    return StartResult::Started;
}

// Makes a document reachable from Cancel and the watchdog while it is converted.
class ConversionRun::ActiveDocument {
public:
    ActiveDocument(ConversionRun &run, PdfDocument &doc) : run_(run), doc_(doc) {
        std::lock_guard<std::mutex> g(run_.activeLock_);
        run_.activeDocs_.push_back(&doc_);
    }
    ~ActiveDocument() {
        std::lock_guard<std::mutex> g(run_.activeLock_);
        std::erase(run_.activeDocs_, &doc_);
    }
    ActiveDocument(const ActiveDocument &) = delete;
    ActiveDocument &operator=(const ActiveDocument &) = delete;

private:
    ConversionRun &run_;
    PdfDocument &doc_;
};

// The front end as one document sees it. Every call goes through the run's report lock, so the
// front end never has two calls at once, and documents are reported finished in list order
// whatever order they end in: a document that ends before an earlier one leaves its report to be
// given when the earlier one's has been. With `holdMessages` (documents converted side by side)
// a document's messages wait and go out with its report, so that a front end that names the
// document on its messages names the right one and lists them in the order -j 1 would. A
// question waits for the reports of all earlier documents, goes out after the messages held so
// far, and keeps the lock until the document is finished or Release is called: nothing of another
// document comes between a question and its outcome.
class ConversionRun::DocumentPrompt : public UserPrompt {
public:
    DocumentPrompt(ConversionRun &run, int index, bool holdMessages) : run_(run), index_(index), hold_(holdMessages) {}
    DocumentPrompt(const DocumentPrompt &) = delete;
    DocumentPrompt &operator=(const DocumentPrompt &) = delete;

    void Message(const std::string &text, const std::string &caption = std::string()) override {
        if (lock_.owns_lock()) {
            run_.prompt_.Message(text, caption);
        } else if (hold_) {
            held_.emplace_back(text, caption);
        } else {
            std::lock_guard<std::mutex> g(run_.reportLock_);
            run_.prompt_.Message(text, caption);
        }
    }
    bool AskYesNo(const std::string &text, const std::string &caption = std::string()) override {
        if (!lock_.owns_lock()) {
            lock_ = std::unique_lock<std::mutex>(run_.reportLock_);
            run_.reportTurn_.wait(lock_, [this] { return run_.nextReport_ >= index_; });
        }
        for (const auto &[heldText, heldCaption] : held_) run_.prompt_.Message(heldText, heldCaption);
        held_.clear();
        return run_.prompt_.AskYesNo(text, caption);
    }
    void Started(int count, const std::string &name) {
        std::lock_guard<std::mutex> g(run_.reportLock_);
        run_.observer_.DocumentStarted(index_, count, name);
    }
    // The document is dealt with: its report, and those of later documents that were waiting for
    // it, go to the front end.
    void Finished(bool bookMade) {
        if (!lock_.owns_lock()) lock_ = std::unique_lock<std::mutex>(run_.reportLock_);
        Report &mine = run_.reports_[index_];
        mine.ready = true;
        mine.bookMade = bookMade;
        mine.messages = std::move(held_);
        held_.clear();
        bool gave = false;
        while (run_.nextReport_ < static_cast<int>(run_.reports_.size()) && run_.reports_[run_.nextReport_].ready) {
            Report &next = run_.reports_[run_.nextReport_];
            for (const auto &[text, caption] : next.messages) run_.prompt_.Message(text, caption);
            next.messages.clear();
            run_.observer_.DocumentFinished(run_.nextReport_, next.bookMade);
            ++run_.nextReport_;
            gave = true;
        }
        Release();
        if (gave) run_.reportTurn_.notify_all();
    }
    // Lets other documents reach the front end again after a question.
    void Release() {
        if (lock_.owns_lock()) lock_.unlock();
    }

private:
    ConversionRun &run_;
    const int index_;
    const bool hold_;
    std::unique_lock<std::mutex> lock_;
    std::vector<std::pair<std::string, std::string>> held_;
};

void ConversionRun::Cancel() {
    runCancel_ = true;
    state_.cancelFlag = 1;
    // The pages in progress stop too, instead of running to their end.
    std::lock_guard<std::mutex> g(activeLock_);
    for (PdfDocument *doc : activeDocs_) doc->CancelPageRun();
    slotFree_.notify_all();
}

void ConversionRun::WatchPages() {
    const auto limit = std::chrono::duration<double>(pageTimeoutSeconds);
    // Checked often enough that a page is stopped soon after its time is up.
    const auto period = std::chrono::milliseconds(std::clamp<long long>(
        static_cast<long long>(pageTimeoutSeconds * 1000 / 10), 5, 50));
    std::map<PdfDocument *, uint64_t> stopped;  // per document in work: the page run last stopped
    std::unique_lock<std::mutex> g(activeLock_);
    while (!watchStop_) {
        watchWake_.wait_for(g, period);
        if (watchStop_) continue;
        std::erase_if(stopped, [&](const auto &entry) {
            return std::find(activeDocs_.begin(), activeDocs_.end(), entry.first) == activeDocs_.end();
        });
        for (PdfDocument *doc : activeDocs_) {
            PdfDocument::PageRunInfo run = doc->CurrentPageRun();
            auto it = stopped.find(doc);
            if (run.active && (it == stopped.end() || run.serial != it->second) &&
                std::chrono::steady_clock::now() - run.started > limit &&
                doc->StopSlowPageRun(run.serial, pageTimeoutSeconds))
                stopped[doc] = run.serial;
        }
    }
}

void ConversionRun::Wait() {
    if (thread_.joinable()) thread_.join();
}

void ConversionRun::Finish() {
    Wait();
    DeleteFolderTree(state_.scratchFolder);
    DeleteFolderTree(state_.workRoot);
    for (const std::string &nav : navPointsFiles_) std::remove(nav.c_str());
    navPointsFiles_.clear();
    for (const std::string &p : state_.placeholders) std::remove(p.c_str());
    state_.placeholders.clear();
}

ConvertedDocument ConvertDocument(PdfDocument &doc, ConversionJob &job, int pageThreads,
                                  const std::function<void(PdfDocument &, bool open)> &pageDocuments) {
    DocumentConverter converter(doc, job);
    converter.pageThreads = pageThreads;
    converter.pageDocuments = pageDocuments;
    ConvertedDocument converted;
    converted.result = converter.Convert();
    converted.files = converter.TakeProducedFiles();
    return converted;
}

std::string TempFolderProblem(const std::string &workFolder) {
    if (int error = FolderWriteError(workFolder, kTempProbeBytes))
        return "The temporary folder " + TempFolder() + " cannot be written: " + SystemErrorText(error) + ".";
    return std::string();
}

void ConversionRun::ReportTempFolderProblem(const std::string &workFolder, UserPrompt &prompt) {
    const std::string problem = TempFolderProblem(workFolder);
    if (!problem.empty()) prompt.Message(problem);
}

bool ConversionRun::Package(const ConversionJob &job, const std::vector<std::string> &files,
                            const std::string &destination, bool replace, UserPrompt &prompt) {
    PackageJob pkg;
    bool titlePage = false;
    bool seenDocument = false;
    for (const std::string &file : files) {
        if (file.empty()) continue;
        std::string name = FileNamePart(file);
        // The first document of the book is marked as its title page only when the driver made
        // one (cover on); otherwise it is the first page file, which must stay in the reading order.
        if (!seenDocument && EpubBuilder::IsDocument(name)) {
            seenDocument = true;
            titlePage = job.createCover && name == TitlePageName(XhtmlFileNames(&job));
        }
        pkg.items.push_back(ManifestItem{file, StemToLastDot(name)});
    }
    if (!seenDocument) {  // nothing to read: a book without pages is no book
        LogError("'" + job.sourcePath + "' gave no pages for a book");
        ReportTempFolderProblem(job.workFolder, prompt);
        return false;
    }

    BookMetadata metadata;
    if (job.useSourceMetadata)
        metadata = BookMetadata{job.title, job.author, job.subject};
    else
        metadata = BookMetadata{job.bookTitle, job.bookCreator, job.bookSubject};
    if (metadataOverride.title) metadata.title = *metadataOverride.title;
    if (metadataOverride.creator) metadata.creator = *metadataOverride.creator;
    if (metadataOverride.subject) metadata.subject = *metadataOverride.subject;
    pkg.epubPath = destination;
    pkg.stagingFolder = job.workFolder;
    pkg.metadata = &metadata;
    pkg.deleteSources = job.deleteSources;
    pkg.titlePageFlag = titlePage ? 1 : 0;
    pkg.coverMeta = job.compatibleKindle;
    // A navigation points file is made for bookmarks when asked for, and from the headings.
    pkg.useNavPointsFile = job.importBookmarksToToc || !job.navPointsFile.empty();
    pkg.navPointsFile = job.navPointsFile;
    pkg.language = job.bookLanguage;
    pkg.epub3 = job.reading.epub3;

    EpubBuilder builder(prompt);
    const std::string staged = WithTrailingSlash(job.workFolder) + FileNamePart(destination);
    std::remove(staged.c_str());  // only a book built now may be placed
    const EpubBuildResult rc = builder.Build(&pkg, true);
    if (rc != EpubBuildResult::Ok || !FileExists(staged)) {
        LogError("the book for '" + job.sourcePath + "' could not be built (" + std::to_string(static_cast<int>(rc)) +
                 ")");
        ReportTempFolderProblem(job.workFolder, prompt);
        return false;
    }

    // The finished book takes its name in one step: never a half-written book under the name, and
    // a book that appeared there meanwhile (another run) is replaced only when the user says so.
    int error = 0;
    PlaceResult placed = PlaceFile(staged, destination, replace, &error);
    if (placed == PlaceResult::kNameTaken) {
        if (!prompt.AskYesNo("The file: " + destination + " have exist. writeover it? ", kProductName)) return false;
        placed = PlaceFile(staged, destination, true, &error);
    }
    if (placed != PlaceResult::kPlaced) {
        prompt.Message("The book could not be written to " + destination + ": " + SystemErrorText(error) + ".");
        return false;
    }
    return true;
}

void ConversionRun::ConvertOne(int i, const std::string &destination, bool replace, DocumentPrompt &prompt,
                               std::atomic<int> &percent, int pageThreads) {
    RunState &s = state_;
    DocumentOutcome &outcome = outcomes_[i];  // this thread's alone until the run ends
    const std::string &path = s.sourcePaths[i];
    const std::string workFolder = s.singleDocumentMode ? s.workRoot : s.workRoot + "/" + std::to_string(i);
    if (!s.singleDocumentMode) CreateFolder(workFolder);

    ConversionJob job = MakeConversionJob(options_);
    job.sourcePath = path;
    job.sourceName = s.sourceNames[i];
    job.workFolder = workFolder;
    job.scratchFolder = s.scratchFolder;
    job.pageEdits = pageEdits;
    percent = 0;
    job.cancelRequested = &s.cancelFlag;
    job.progressPercent = &percent;

    // The work folder of a document that yields no book goes at once.
    auto dropWorkFolder = [&] {
        if (!s.singleDocumentMode) DeleteFolderTree(workFolder);
    };

    PdfDocument doc;
    ActiveDocument active(*this, doc);
    doc.SetPrompt(&prompt);
    if (doc.Open(path, job.password, job.userPassword) != OpenResult::Opened) {
        prompt.Message("Can't open the pdf file.");
        doc.Close();
        dropWorkFolder();
        prompt.Finished(false);
        return;
    }
    s.documentPages[i] = doc.PageCount();  // this document's own slot: no other thread writes it

    // The page threads' openings of the document are reached by Cancel and the watchdog too.
    auto pageDocuments = [this](PdfDocument &pages, bool open) {
        std::lock_guard<std::mutex> g(activeLock_);
        if (open) {
            activeDocs_.push_back(&pages);
            if (runCancel_) pages.CancelPageRun();
        } else {
            std::erase(activeDocs_, &pages);
        }
    };
    ConvertedDocument converted;
    if (options_.parseMode == static_cast<int32_t>(ParseMode::Strict)) {
        // The window works on the converter that converts the document afterwards, so that the
        // choices in its page model and job are the ones the book follows. The converter goes
        // before the document closes (its page model holds the document's fonts and images).
        DocumentConverter converter(doc, job);
        converter.pageThreads = pageThreads;
        converter.pageDocuments = pageDocuments;
        StrictSession session(converter);
        observer_.RunInteractiveConverter(session);
        DeleteFolderTree(s.scratchFolder);
        KeepViewedLayout(converter.Model(), job);
        if (converter_) {
            converted = converter_(doc, job);
        } else {
            converted.result = converter.Convert();
            converted.files = converter.TakeProducedFiles();
        }
    } else {
        converted = converter_ ? converter_(doc, job) : ConvertDocument(doc, job, pageThreads, pageDocuments);
    }
    if (!job.navPointsFile.empty()) {
        std::lock_guard<std::mutex> g(outcomeLock_);
        navPointsFiles_.push_back(job.navPointsFile);
    }
    if (converted.result == ConvertResult::Cancelled) {
        doc.Close();
        dropWorkFolder();
        outcome.cancelled = true;
        prompt.Finished(false);
        return;
    }
    if (converted.result == ConvertResult::Failed) {
        // A content file could not be written (the converter said which): no book.
        doc.Close();
        ReportTempFolderProblem(workFolder, prompt);
        dropWorkFolder();
        prompt.Finished(false);
        return;
    }

    outcome.converted = true;
    outcome.title = job.title;
    outcome.author = job.author;
    outcome.subject = job.subject;
    outcome.navPointsFile = job.navPointsFile;
    outcome.bookLanguage = job.bookLanguage;
    outcome.epub3 = job.reading.epub3;

    if (s.singleDocumentMode) {
        outcome.files = std::move(converted.files);
        doc.Close();
        outcome.made = true;
        prompt.Finished(true);
        return;
    }

    doc.Close();  // the engine's memory goes before packaging
    outcome.made = Package(job, converted.files, destination, replace, prompt);
    dropWorkFolder();
    if (!job.navPointsFile.empty()) {
        std::remove(job.navPointsFile.c_str());
        std::lock_guard<std::mutex> g(outcomeLock_);
        std::erase(navPointsFiles_, job.navPointsFile);
    }
    prompt.Finished(outcome.made);
}

void ConversionRun::Worker() {
    RunState &s = state_;
    s.successCount = 0;
    std::thread watchdog;
    if (pageTimeoutSeconds > 0) {
        watchStop_ = false;
        watchdog = std::thread([this] { WatchPages(); });
    }
    const int count = static_cast<int>(s.sourcePaths.size());
    std::vector<int> renamedFrom;
    const std::vector<std::string> destinations =
        s.singleDocumentMode ? std::vector<std::string>()
                             : BatchDestinations(options_, s.sourcePaths, s.sourceNames, &renamedFrom);
    // The interactive converter works on one document at a time, and the book builder follows a
    // single document.
    const bool oneAtATime = jobs <= 1 || count <= 1 || s.singleDocumentMode ||
                            options_.parseMode == static_cast<int32_t>(ParseMode::Strict);
    const size_t slots = oneAtATime ? 1 : static_cast<size_t>(std::min(jobs, count));
    // Threads not needed for documents work on pages; the interactive converter's pages stay on
    // its own thread.
    const int pageThreads = options_.parseMode == static_cast<int32_t>(ParseMode::Strict)
                                ? 1
                                : std::max(1, jobs / static_cast<int>(slots));
    outcomes_.assign(count, DocumentOutcome{});
    {
        std::lock_guard<std::mutex> g(reportLock_);
        reports_.assign(count, Report{});
        nextReport_ = 0;
    }
    inFlight_.clear();
    std::vector<std::atomic<int>> percents(oneAtATime ? 0 : count);
    std::vector<std::thread> threads;

    // Waits until `done` holds, showing the progress of the first listed document in work.
    auto waitFor = [&](auto done) {
        std::unique_lock<std::mutex> g(outcomeLock_);
        while (!done()) {
            if (!inFlight_.empty()) s.percent = percents[*std::min_element(inFlight_.begin(), inFlight_.end())].load();
            slotFree_.wait_for(g, std::chrono::milliseconds(100));
        }
    };

    // Documents start in list order; each is announced, and asked about, before its work starts.
    for (int i = 0; i < count; ++i) {
        if (!oneAtATime) waitFor([&] { return inFlight_.size() < slots || runCancel_; });
        if (runCancel_) {
            s.cancelled = true;
            break;
        }
        const std::string &path = s.sourcePaths[i];
        const std::string &name = s.sourceNames[i];
        auto prompt = std::make_unique<DocumentPrompt>(*this, i, !oneAtATime);
        prompt->Started(count, name);
        const std::string destination = s.singleDocumentMode
                                            ? BuilderDestination(options_, s.sourcePaths[0], s.sourceNames[0])
                                            : destinations[i];
        if (!s.singleDocumentMode && renamedFrom[i] >= 0)
            prompt->Message("Another document of this run (" + s.sourcePaths[renamedFrom[i]] + ") makes " +
                            BatchDestination(options_, path, name) + "; this book is named " + destination + ".");
        // A Yes lets the new book replace the old one once it is complete; the old book stays
        // until then, so a conversion that fails loses nothing.
        bool replace = options_.overwriteExisting != 0;
        if (!replace && FileExists(destination)) {
            if (!prompt->AskYesNo("The file: " + destination + " have exist. writeover it? ", kProductName)) {
                prompt->Finished(false);
                continue;
            }
            prompt->Release();
            replace = true;
        }

        if (oneAtATime) {
            s.percent = 0;
            ConvertOne(i, destination, replace, *prompt, s.percent, pageThreads);
            if (outcomes_[i].cancelled) break;
            continue;
        }
        {
            std::lock_guard<std::mutex> g(outcomeLock_);
            inFlight_.push_back(i);
        }
        threads.emplace_back([this, i, destination, replace, pageThreads, &percents, p = std::move(prompt)]() mutable {
            ConvertOne(i, destination, replace, *p, percents[i], pageThreads);
            p.reset();
            {
                std::lock_guard<std::mutex> g(outcomeLock_);
                std::erase(inFlight_, i);
            }
            slotFree_.notify_all();
        });
    }
    waitFor([&] { return inFlight_.empty(); });
    for (std::thread &t : threads) t.join();

    // Results in list order, whatever order the documents ended in.
    for (int i = 0; i < count; ++i) {
        DocumentOutcome &o = outcomes_[i];
        if (o.cancelled) s.cancelled = true;
        if (o.converted) {
            s.sourceTitle = o.title;
            s.sourceAuthor = o.author;
            s.sourceSubject = o.subject;
            s.lastNavPointsFile = o.navPointsFile;
            s.lastBookLanguage = o.bookLanguage;
            s.lastBookEpub3 = o.epub3;
        }
        if (!o.made) continue;
        s.documentResults[i] = 1;
        if (s.singleDocumentMode) {
            s.producedFiles = std::move(o.files);
        } else {
            s.producedBooks.push_back(destinations[i]);
            s.successCount += 1;
            s.lastOutputPath = destinations[i];
            s.documentBooks[i] = destinations[i];
        }
    }
    // A cancel that came after the last book was in place dropped nothing: the run is complete.
    if (watchdog.joinable()) {
        {
            std::lock_guard<std::mutex> g(activeLock_);
            watchStop_ = true;
        }
        watchWake_.notify_all();
        watchdog.join();
    }
    observer_.ConversionDone(!s.singleDocumentMode);
}

} // namespace qm
