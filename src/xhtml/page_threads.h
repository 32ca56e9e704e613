#pragma once
// The pages of one document worked on by several threads at once. Each thread opens the document
// for itself (the engine's documents are not shared between threads), captures and analyses the
// pages it takes, paints their pictures and writes their bodies, but keeps everything that
// depends on the pages before it for the book's own thread: picture numbers, the order of the
// style sheet's rules, the file list and its limits, the page files, messages. That thread takes
// the prepared pages in page order (DocumentConverter), so the book is the one a single thread
// makes. Only a few pages are prepared ahead of the one the book waits for.
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "options/conversion_job.h"
#include "pdf/pdf_document.h"
#include "xhtml/block_writer.h"
#include "xhtml/style_registry.h"

namespace qm {

class DocumentConverter;

// One page as a page thread made it.
struct PreparedPage {
    int page = 0;
    bool drawn = false;             // captured (its body below is the analysed page)
    PageStop stop = PageStop::None; // its run was stopped (cancel or time limit): nothing is kept
    double stopLimit = 0;           // the time limit it went beyond
    // It could not be made the way the book's thread would make it (a picture that could not be
    // written, a question asked): the book's thread converts it again itself.
    bool redo = false;
    // The body; the name of picture k is written as kPictureMark, k, kPictureMark.
    std::string body;
    std::vector<std::string> pictures;  // their files, under names of the thread's own
    std::vector<StyleRegistry::Rule> rules;  // the span rules the page uses, in order of first use
    std::vector<std::pair<std::string, std::string>> messages;  // text, caption
    std::vector<PageHeading> headings;  // the headings of its body
};
inline constexpr char kPictureMark = '\x01';  // never part of XHTML text (a control character)

class PageThreads {
public:
    // Starts `threads` threads over pages 1..`pageCount` of the document `owner` converts; `job`
    // is the owner's (copied: the threads never write to it).
    PageThreads(DocumentConverter &owner, const ConversionJob &job, int threads, int pageCount);
    // Stops the threads (their pages in work are stopped too), waits for them and deletes what
    // they prepared that was not taken.
    ~PageThreads();
    PageThreads(const PageThreads &) = delete;
    PageThreads &operator=(const PageThreads &) = delete;

    // Page `page`, once a thread has prepared it (pages are asked for in order, each once).
    // Empty when no thread will prepare it (none could open the document, or all have ended):
    // the caller converts it itself.
    std::optional<PreparedPage> Take(int page);
    // Deletes the pictures of a prepared page that is not used.
    static void Discard(PreparedPage &page);
    // Pages a thread may prepare ahead of the one the book waits for, per thread.
    static constexpr int kPagesAheadPerThread = 3;

private:
    void Run(int index);
    std::string Folder(int index) const;

    DocumentConverter &owner_;
    const ConversionJob job_;
    const std::string path_;
    const int pageCount_;
    const int window_;
    std::mutex lock_;
    std::condition_variable changed_;
    int nextPage_ = 1;   // the next page a thread takes up
    int wanted_ = 1;     // the page the book waits for
    int running_ = 0;    // threads still taking up pages
    bool stop_ = false;
    std::map<int, PreparedPage> ready_;
    std::vector<PdfDocument *> documents_;  // open documents of the threads, for stopping their pages
    std::vector<std::thread> threads_;
};

} // namespace qm
