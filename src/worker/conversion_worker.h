#pragma once
// A conversion run: PDFs turned into EPUB books on a thread of its own, one after the other or
// (`jobs` > 1) several at once, each on a thread of its own. The run talks to its front end (the
// wizard's converting page, or the command line) only through two interfaces: UserPrompt for
// messages and questions, and ConversionObserver for progress, labels and the end of the run.
// Both are called on the run's threads, never two calls at once, and documents are reported
// finished in list order; in a run of several documents at once, a document's messages reach the
// prompt together, right before its DocumentFinished.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "platform/prompt.h"
#include "xhtml/convert_result.h"

namespace qm {

class PdfDocument;
class StrictSession;

class ConversionObserver {
public:
    virtual ~ConversionObserver() = default;
    // Before a run in Automatic mode: the front end may let the user adjust the layout options.
    // Called on the caller's thread, inside StartConversion.
    virtual void OfferOptions(ConversionOptions &) {}
    // Document `index` (from 0) of `count` starts (before the overwrite question): its listed
    // name for the file label, and "index+1/count" for the count label.
    virtual void DocumentStarted(int /*index*/, int /*count*/, const std::string & /*name*/) {}
    // A document has been dealt with (packaged, skipped or failed): the status label is cleared.
    // `bookMade`: its book was built and put in place (in single-document mode: its content files).
    virtual void DocumentFinished(int /*index*/, bool /*bookMade*/) {}
    // Strict mode: the user works on the open document before it is converted. Called on the
    // worker thread, which waits until it returns; the document is then converted by the
    // session's converter, following the choices left in its page model and job.
    virtual void RunInteractiveConverter(StrictSession &) {}
    // The worker is done. `batch` false in single-document mode (the book builder follows).
    virtual void ConversionDone(bool /*batch*/) {}
};

// State of the current run, shared with the front end. Fields are written by the worker while it
// runs; read them after ConversionDone (or Wait). cancelFlag and percent are live. Results are in
// list order whatever order the documents ended in.
struct RunState {
    std::string runStem;
    std::string workRoot;        // temp folder + runStem, no trailing "/"
    std::string scratchFolder;   // temp folder + a second stem
    bool singleDocumentMode = false;
    std::vector<std::string> sourcePaths;
    std::vector<std::string> sourceNames;
    int successCount = 0;        // books built and put in place in this run
    std::string lastOutputPath;
    std::vector<std::string> producedBooks;
    std::string sourceTitle, sourceAuthor, sourceSubject;
    std::string lastNavPointsFile;
    // The language and package version the last converted document's files were written for.
    std::string lastBookLanguage;
    bool lastBookEpub3 = false;
    // Single-document mode: the content files the document gave, full paths in book order (they
    // stay in the work root for the book builder).
    std::vector<std::string> producedFiles;
    std::atomic<unsigned char> cancelFlag{0};
    // Progress of the current document; with several at once, of the first listed one in work.
    std::atomic<int> percent{0};
    // Per document, in list order: 1 book made, 0 not (failed, skipped, cancelled or not started).
    std::vector<int> documentResults;
    // Per document, in list order: its page count once it opened (-1 otherwise), and where its
    // book was put ("" when none was).
    std::vector<int> documentPages;
    std::vector<std::string> documentBooks;
    bool cancelled = false;      // a cancel dropped a document or kept one from starting
    std::vector<std::string> placeholders;  // unique-name placeholder files of the run
};

// Destination of document `name` (listed file name) at `path` in a batch: the stem is the name up
// to its last "." (the whole name without a dot).
std::string BatchDestination(const ConversionOptions &options, const std::string &path, const std::string &name);
// Destinations of a batch, one per document: BatchDestination, except that a document whose book
// name an earlier, different source of the list already has (a/x.pdf and b/x.pdf written to one
// folder, or x.pdf and x.PDF) gets the first free name "<stem>-2.epub", "<stem>-3.epub", ...
// that no document of the list has. The same file listed twice keeps one name.
// `firstOwner[i]` receives, for a renamed document, the index of the document that has its
// original name; -1 otherwise.
std::vector<std::string> BatchDestinations(const ConversionOptions &options, const std::vector<std::string> &paths,
                                           const std::vector<std::string> &names, std::vector<int> *firstOwner = nullptr);
// Destination the book builder writes for a list whose first entry is `firstName`/`firstPath`:
// the stem is the name up to its first ".".
std::string BuilderDestination(const ConversionOptions &options, const std::string &firstPath,
                               const std::string &firstName);
// Makes a unique run stem (placeholder file "qmrk_XXXXXX.tmp" in the temporary folder, recorded
// in `placeholders`); "" on failure.
std::string NewRunStem(std::vector<std::string> &placeholders);
// The line that tells why files cannot be written into `workFolder` (a folder of the temporary
// folder): "The temporary folder /tmp/ cannot be written: No space left on device."; "" when a
// book's files fit.
std::string TempFolderProblem(const std::string &workFolder);

// What a converter made of one document: how it ended, and the files of the book in book order.
struct ConvertedDocument {
    ConvertResult result = ConvertResult::Done;
    std::vector<std::string> files;
};
// The run's own converter: a DocumentConverter over the whole document, its pages worked on by
// `pageThreads` threads (each told to `pageDocuments` with its own opening of the document).
ConvertedDocument ConvertDocument(PdfDocument &doc, ConversionJob &job, int pageThreads = 1,
                                  const std::function<void(PdfDocument &, bool open)> &pageDocuments = nullptr);

// Whether a run started (ConversionRun::StartConversion).
enum class StartResult {
    Started,       // the worker thread runs the listed documents
    NoWorkFolder,  // the work root could not be created (the user was told): nothing runs
};

class ConversionRun {
public:
    // Converts a document (ConvertDocument unless replaced, for tests of the run itself). With
    // jobs > 1 it is called on several threads at once.
    using Converter = std::function<ConvertedDocument(PdfDocument &, ConversionJob &)>;

    ConversionRun(ConversionOptions &options, UserPrompt &prompt, ConversionObserver &observer);
    ~ConversionRun();  // waits for the worker and removes what the run left in the temporary folder
    ConversionRun(const ConversionRun &) = delete;
    ConversionRun &operator=(const ConversionRun &) = delete;

    // Starts a run over the listed PDFs (full paths and names as listed, in the same order).
    StartResult StartConversion(const std::vector<std::string> &paths, const std::vector<std::string> &names,
                                bool singleDocumentMode);
    // The Cancel button: the engine's work on the current page stops at once (the page is dropped),
    // the current document ends there and no further document starts.
    void Cancel();
    // Waits for the worker thread to end.
    void Wait();
    // Removes what the run keeps in the temporary folder: the scratch folder, the work root (in
    // single-document mode it holds the content files until the book builder is done), the
    // navigation-points file and the placeholder files. Waits for the worker first.
    void Finish();

    RunState &State() { return state_; }
    void SetConverter(Converter converter) { converter_ = std::move(converter); }

    // Pause after a failed attempt to create the work root (tests shorten it).
    int retryDelayMs = 200;
    // Book metadata given for the whole run, each field replacing only its own entry (whether
    // that comes from the PDF's Info or from the options' bookTitle, bookCreator, bookSubject).
    // Set before StartConversion.
    struct MetadataOverride {
        std::optional<std::string> title, creator, subject;
    };
    MetadataOverride metadataOverride;
    // A page whose capture, analysis and pictures take longer than this is stopped and skipped
    // with a message; the rest of the document goes on. 0: no limit. Set before StartConversion.
    double pageTimeoutSeconds = 0;
    // Threads of a run. Documents of a batch are converted at the same time, as many as there are
    // threads; when there are fewer documents than threads, the threads left over work on the
    // pages of each document (Automatic mode). 1: one document and page after the other.
    // Single-document and Strict runs always convert one document at a time (a single document
    // still gets all the threads for its pages). Set before StartConversion.
    int jobs = 1;
    // Strict mode without the window: edits applied to the pages of every document (a page the
    // document lacks fails that document). Set before StartConversion.
    std::shared_ptr<const PageEdits> pageEdits;

private:
    void Worker();
    class DocumentPrompt;
    // What became of one document, gathered into RunState in list order when the run ends.
    struct DocumentOutcome {
        bool converted = false;  // its pages were converted (title, author, subject known)
        bool made = false;       // its book is in place (single-document mode: its content files)
        bool cancelled = false;  // a cancel dropped it
        std::string title, author, subject, navPointsFile, bookLanguage;
        bool epub3 = false;
        std::vector<std::string> files;  // single-document mode
    };
    // Converts document `index` (already announced, its overwrite question answered) and ends
    // with its DocumentFinished.
    void ConvertOne(int index, const std::string &destination, bool replace, DocumentPrompt &prompt,
                    std::atomic<int> &percent, int pageThreads);
    // Watchdog thread of a run with a page time limit: stops the current page once it has run
    // for longer than pageTimeoutSeconds.
    void WatchPages();
    class ActiveDocument;
    // Packages one converted document and puts the book at `destination` (replacing a book there
    // only when `replace`); true when the book is in place.
    bool Package(const ConversionJob &job, const std::vector<std::string> &files, const std::string &destination,
                 bool replace, UserPrompt &prompt);
    // After a document gave no book: tells the user when its work folder cannot be written to
    // (a full or read-only temporary folder), which is then the likely reason.
    void ReportTempFolderProblem(const std::string &workFolder, UserPrompt &prompt);

    ConversionOptions &options_;
    UserPrompt &prompt_;
    ConversionObserver &observer_;
    RunState state_;
    Converter converter_;
    std::thread thread_;
    std::atomic<bool> runCancel_{false};
    // The documents being converted, for Cancel and the watchdog (other threads).
    std::mutex activeLock_;
    std::vector<PdfDocument *> activeDocs_;
    std::condition_variable watchWake_;
    bool watchStop_ = false;
    // Calls to the front end: one at a time, documents reported finished in list order.
    struct Report {
        bool ready = false;
        bool bookMade = false;
        std::vector<std::pair<std::string, std::string>> messages;  // text, caption
    };
    std::mutex reportLock_;
    std::condition_variable reportTurn_;
    std::vector<Report> reports_;
    int nextReport_ = 0;
    // Documents in work, their outcomes and the navigation-points files to remove.
    std::mutex outcomeLock_;
    std::condition_variable slotFree_;
    std::vector<int> inFlight_;
    std::vector<DocumentOutcome> outcomes_;
    std::vector<std::string> navPointsFiles_;
};

} // namespace qm
