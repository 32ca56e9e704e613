// Page threads: each opens the document, takes up pages in page order within a window ahead of
// the book, and leaves its prepared pages for the book's thread.
#include "xhtml/page_threads.h"

#include <algorithm>
#include <cstdio>

#include "platform/paths.h"
#include "platform/prompt.h"
#include "xhtml/document_converter.h"

namespace qm {
namespace {

// Keeps what a page thread's document says, to be said by the book's thread in page order. A
// question cannot wait for that: it is answered No and the page is marked to be made again by
// the book's thread, which asks it properly.
class HeldPrompt : public UserPrompt {
public:
    void Message(const std::string &text, const std::string &caption) override { held_.emplace_back(text, caption); }
    bool AskYesNo(const std::string &, const std::string &) override {
        asked_ = true;
        return false;
    }
    // Hands the page's messages to `page` and starts afresh.
    void HandOver(PreparedPage &page) {
        page.messages = std::move(held_);
        held_.clear();
        if (asked_) page.redo = true;
        asked_ = false;
    }

private:
    std::vector<std::pair<std::string, std::string>> held_;
    bool asked_ = false;
};

} // namespace

PageThreads::PageThreads(DocumentConverter &owner, const ConversionJob &job, int threads, int pageCount)
    : owner_(owner), job_(job), path_(owner.Document().Path()), pageCount_(pageCount),
      window_(std::max(1, threads) * kPagesAheadPerThread) {
    running_ = threads;
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this, i] { Run(i); });
}

PageThreads::~PageThreads() {
    {
        std::lock_guard<std::mutex> g(lock_);
        stop_ = true;
        // Pages in work are no longer wanted.
        for (PdfDocument *doc : documents_) doc->CancelPageRun();
    }
    changed_.notify_all();
    for (std::thread &t : threads_) t.join();
    for (auto &entry : ready_) Discard(entry.second);
    for (size_t i = 0; i < threads_.size(); ++i) DeleteFolderTree(Folder(static_cast<int>(i)));
}

std::string PageThreads::Folder(int index) const {
    return WithTrailingSlash(job_.workFolder) + "pages-" + std::to_string(index + 1);
}

void PageThreads::Discard(PreparedPage &page) {
    for (const std::string &path : page.pictures) std::remove(path.c_str());
    page.pictures.clear();
}

std::optional<PreparedPage> PageThreads::Take(int page) {
    std::unique_lock<std::mutex> g(lock_);
    wanted_ = page;
    changed_.notify_all();
    for (;;) {
        auto it = ready_.find(page);
        if (it != ready_.end()) {
            PreparedPage prepared = std::move(it->second);
            ready_.erase(it);
            return prepared;
        }
        if (page >= nextPage_ && running_ == 0) {
            nextPage_ = page + 1;
            return std::nullopt;
        }
        changed_.wait(g);
    }
}

void PageThreads::Run(int index) {
    HeldPrompt prompt;
    PdfDocument doc;
    doc.SetPrompt(&prompt);
    ConversionJob job = job_;
    job.workFolder = Folder(index);
    // A document that does not open here as it did for the book (or changed meanwhile) leaves its
    // pages to the others.
    const bool usable = CreateFolder(job.workFolder) &&
                        doc.Open(path_, job.password, job.userPassword) == OpenResult::Opened &&
                        doc.PageCount() == pageCount_;
    if (usable) {
        {
            std::lock_guard<std::mutex> g(lock_);
            documents_.push_back(&doc);
            if (stop_) doc.CancelPageRun();
        }
        if (owner_.pageDocuments) owner_.pageDocuments(doc, true);
        {
            DocumentConverter pages(doc, job);
            pages.StartPreparing();
            pages.runningHeads_ = owner_.runningHeads_;
            std::unique_lock<std::mutex> g(lock_);
            for (;;) {
                changed_.wait(g, [&] { return stop_ || nextPage_ > pageCount_ || nextPage_ < wanted_ + window_; });
                if (stop_ || nextPage_ > pageCount_ || job.CancelRequested()) break;
                const int page = nextPage_++;
                g.unlock();
                PreparedPage prepared = pages.PreparePage(page);
                prompt.HandOver(prepared);
                g.lock();
                ready_.emplace(page, std::move(prepared));
                changed_.notify_all();
            }
        }
        if (owner_.pageDocuments) owner_.pageDocuments(doc, false);
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        std::erase(documents_, &doc);
        --running_;
    }
    changed_.notify_all();
    doc.Close();
}

} // namespace qm
