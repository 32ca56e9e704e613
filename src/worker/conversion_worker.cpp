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
#include "xhtml/document_converter.h"
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
    ActiveDocument(ConversionRun &run, PdfDocument &doc) : run_(run) {
        std::lock_guard<std::mutex> g(run_.activeLock_);
        run_.activeDoc_ = &doc;
    }
    ~ActiveDocument() {
        std::lock_guard<std::mutex> g(run_.activeLock_);
        run_.activeDoc_ = nullptr;
    }
    ActiveDocument(const ActiveDocument &) = delete;
    ActiveDocument &operator=(const ActiveDocument &) = delete;

private:
    ConversionRun &run_;
};

void ConversionRun::Cancel() {
    runCancel_ = true;
    state_.cancelFlag = 1;
    // The page in progress stops too, instead of running to its end.
    std::lock_guard<std::mutex> g(activeLock_);
    if (activeDoc_) activeDoc_->CancelPageRun();
}

void ConversionRun::WatchPages() {
    const auto limit = std::chrono::duration<double>(pageTimeoutSeconds);
    // Checked often enough that a page is stopped soon after its time is up.
    const auto period = std::chrono::milliseconds(std::clamp<long long>(
        static_cast<long long>(pageTimeoutSeconds * 1000 / 10), 5, 50));
    uint64_t stopped = 0;
    std::unique_lock<std::mutex> g(activeLock_);
    while (!watchStop_) {
        watchWake_.wait_for(g, period);
        if (watchStop_ || !activeDoc_) continue;
        PdfDocument::PageRunInfo run = activeDoc_->CurrentPageRun();
        if (run.active && run.serial != stopped && std::chrono::steady_clock::now() - run.started > limit &&
            activeDoc_->StopSlowPageRun(run.serial, pageTimeoutSeconds))
            stopped = run.serial;
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

ConvertedDocument ConvertDocument(PdfDocument &doc, ConversionJob &job) {
    DocumentConverter converter(doc, job);
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

void ConversionRun::ReportTempFolderProblem(const std::string &workFolder) {
    const std::string problem = TempFolderProblem(workFolder);
    if (!problem.empty()) prompt_.Message(problem);
}

bool ConversionRun::Package(const ConversionJob &job, const std::vector<std::string> &files,
                            const std::string &destination, bool replace) {
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
            titlePage = job.createCover && name == "title_page.html";
        }
        pkg.items.push_back(ManifestItem{file, StemToLastDot(name)});
    }
    if (!seenDocument) {  // nothing to read: a book without pages is no book
        LogError("'" + job.sourcePath + "' gave no pages for a book");
        ReportTempFolderProblem(job.workFolder);
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
    pkg.useNavPointsFile = job.importBookmarksToToc;
    pkg.navPointsFile = job.navPointsFile;

    EpubBuilder builder(prompt_);
    const std::string staged = WithTrailingSlash(job.workFolder) + FileNamePart(destination);
    std::remove(staged.c_str());  // only a book built now may be placed
    const EpubBuildResult rc = builder.Build(&pkg, true);
    if (rc != EpubBuildResult::Ok || !FileExists(staged)) {
        LogError("the book for '" + job.sourcePath + "' could not be built (" + std::to_string(static_cast<int>(rc)) +
                 ")");
        ReportTempFolderProblem(job.workFolder);
        return false;
    }

    // The finished book takes its name in one step: never a half-written book under the name, and
    // a book that appeared there meanwhile (another run) is replaced only when the user says so.
    int error = 0;
    PlaceResult placed = PlaceFile(staged, destination, replace, &error);
    if (placed == PlaceResult::kNameTaken) {
        if (!prompt_.AskYesNo("The file: " + destination + " have exist. writeover it? ", kProductName)) return false;
        placed = PlaceFile(staged, destination, true, &error);
    }
    if (placed != PlaceResult::kPlaced) {
        prompt_.Message("The book could not be written to " + destination + ": " + SystemErrorText(error) + ".");
        return false;
    }
    return true;
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
    for (int i = 0; i < count; ++i) {
        if (runCancel_) {
            s.cancelled = true;
            break;
        }
        const std::string path = s.sourcePaths[i];
        const std::string name = s.sourceNames[i];
        const std::string workFolder = s.singleDocumentMode ? s.workRoot : s.workRoot + "/" + std::to_string(i);
        if (!s.singleDocumentMode) CreateFolder(workFolder);

        ConversionJob job = MakeConversionJob(options_);
        job.sourcePath = path;
        job.sourceName = name;
        job.workFolder = workFolder;
        job.scratchFolder = s.scratchFolder;
        s.cancelFlag = runCancel_ ? 1 : 0;
        s.percent = 0;
        job.cancelRequested = &s.cancelFlag;
        job.progressPercent = &s.percent;

        // The work folder of a document that yields no book goes at once.
        auto dropWorkFolder = [&] {
            if (!s.singleDocumentMode) DeleteFolderTree(workFolder);
        };

        observer_.DocumentStarted(i, count, name);
        const std::string destination = s.singleDocumentMode
                                            ? BuilderDestination(options_, s.sourcePaths[0], s.sourceNames[0])
                                            : destinations[i];
        if (!s.singleDocumentMode && renamedFrom[i] >= 0)
            prompt_.Message("Another document of this run (" + s.sourcePaths[renamedFrom[i]] + ") makes " +
                            BatchDestination(options_, path, name) + "; this book is named " + destination + ".");
        // A Yes lets the new book replace the old one once it is complete; the old book stays
        // until then, so a conversion that fails loses nothing.
        bool replace = options_.overwriteExisting != 0;
        if (!replace && FileExists(destination)) {
            if (!prompt_.AskYesNo("The file: " + destination + " have exist. writeover it? ", kProductName)) {
                dropWorkFolder();
                observer_.DocumentFinished(i, false);
                continue;
            }
            replace = true;
        }

        PdfDocument doc;
        ActiveDocument active(*this, doc);
        doc.SetPrompt(&prompt_);
        if (doc.Open(path, job.password, job.userPassword) != OpenResult::Opened) {
            prompt_.Message("Can't open the pdf file.");
            doc.Close();
            dropWorkFolder();
            observer_.DocumentFinished(i, false);
            continue;
        }
        s.documentPages[i] = doc.PageCount();

        if (options_.parseMode == static_cast<int32_t>(ParseMode::Strict)) {
            observer_.RunInteractiveConverter(doc, job);
            DeleteFolderTree(s.scratchFolder);
        }

        ConvertedDocument converted = converter_ ? converter_(doc, job) : ConvertDocument(doc, job);
        if (!job.navPointsFile.empty()) navPointsFiles_.push_back(job.navPointsFile);
        if (converted.result == ConvertResult::Cancelled) {
            doc.Close();
            dropWorkFolder();
            s.cancelled = true;
            observer_.DocumentFinished(i, false);
            break;
        }
        if (converted.result == ConvertResult::Failed) {
            // A content file could not be written (the converter said which): no book.
            doc.Close();
            ReportTempFolderProblem(workFolder);
            dropWorkFolder();
            observer_.DocumentFinished(i, false);
            continue;
        }

        s.sourceTitle = job.title;
        s.sourceAuthor = job.author;
        s.sourceSubject = job.subject;
        s.lastNavPointsFile = job.navPointsFile;

        if (s.singleDocumentMode) {
            s.producedFiles = std::move(converted.files);
            doc.Close();
            s.documentResults[i] = 1;
            observer_.DocumentFinished(i, true);
            continue;
        }

        doc.Close();  // the engine's memory goes before packaging
        if (Package(job, converted.files, destination, replace)) {
            s.producedBooks.push_back(destination);
            s.successCount += 1;
            s.lastOutputPath = destination;
            s.documentResults[i] = 1;
            s.documentBooks[i] = destination;
        }
        dropWorkFolder();
        if (!job.navPointsFile.empty()) {
            std::remove(job.navPointsFile.c_str());
            std::erase(navPointsFiles_, job.navPointsFile);
        }
        observer_.DocumentFinished(i, s.documentResults[i] == 1);
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
