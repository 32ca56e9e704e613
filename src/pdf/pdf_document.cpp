#include "pdf/pdf_document.h"

#include <cstdio>

#include "options/conversion_job.h"
#include "pdf/engine.h"
#include "platform/paths.h"
#include "platform/prompt.h"

namespace qm {

PdfDocument::PdfDocument() = default;

PdfDocument::~PdfDocument() { Close(); }

void PdfDocument::SetPrompt(UserPrompt *prompt) { prompt_ = prompt; }

UserPrompt &PdfDocument::Prompt() const { return prompt_ ? *prompt_ : DefaultPrompt(); }

void PdfDocument::Reset() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    Close();
    state_ = DocumentState();
    state_.viewWidth = 640;
    state_.viewHeight = 480;
    state_.resolution = 72;
    pagesSinceFlush = 0;
}

int PdfDocument::Open(const std::string &path, const std::string &password, const std::string &userPassword) {
    (void)userPassword;  // reserved: kept in the job, never used to open
    std::lock_guard<std::recursive_mutex> g(lock_);
    fz_context *ctx = EngineContext();
    state_.path = path;
    state_.glyphCache = true;

    // Step 1-2: open the file as a stream and the PDF document on it.
    fz_stream *stm = nullptr;
    fz_document *doc = nullptr;
    fz_var(stm);
    fz_var(doc);
    fz_try(ctx) {
        stm = fz_open_file(ctx, path.c_str());
        doc = fz_open_document_with_stream(ctx, "application/pdf", stm);
    }
    fz_catch(ctx) {
        doc = nullptr;
    }
    if (!doc) {
        EngineErrorTrace("cannot open document '" + path + "'");
        fz_drop_stream(ctx, stm);
        return -1;
    }
    state_.document = doc;

    // Step 3: password.
    int needsPassword = 0;
    int authenticated = 0;
    fz_var(needsPassword);
    fz_var(authenticated);
    fz_try(ctx) {
        needsPassword = fz_needs_password(ctx, doc);
        if (needsPassword) authenticated = fz_authenticate_password(ctx, doc, password.c_str());
    }
    fz_catch(ctx) {
        needsPassword = 1;
        authenticated = 0;
    }
    if (needsPassword && !authenticated) {
        fz_drop_stream(ctx, stm);
        Prompt().Message("Invalid password.");
        return -1;
    }

    // Step 4: outline (none is not an error; a broken one is treated as none).
    fz_outline *outline = nullptr;
    fz_var(outline);
    fz_try(ctx) outline = fz_load_outline(ctx, doc);
    fz_catch(ctx) outline = nullptr;
    state_.outline = outline;

    // Step 5: Info Title.
    bool hasTitle = false;
    const char *titleText = nullptr;
    fz_var(hasTitle);
    fz_var(titleText);
    fz_try(ctx) {
        pdf_document *pdf = pdf_specifics(ctx, doc);
        if (pdf) {
            pdf_obj *info = pdf_dict_get(ctx, pdf_trailer(ctx, pdf), PDF_NAME(Info));
            pdf_obj *title = info ? pdf_dict_get(ctx, info, PDF_NAME(Title)) : nullptr;
            if (info && title) {
                hasTitle = true;
                titleText = pdf_to_text_string(ctx, title);
            }
        }
    }
    fz_catch(ctx) hasTitle = false;
    if (hasTitle) state_.title = std::string(titleText ? titleText : "");

    // Step 6: page tree.
    // Counting walks the page tree. The engine's page map (pdf_load_page_tree) is not used: while
    // it is loaded every page load leaves objects behind, even after it is dropped again.
    int count = -1;
    fz_var(count);
    fz_try(ctx) count = fz_count_pages(ctx, doc);
    fz_catch(ctx) count = -1;
    if (count < 0) {
        EngineErrorTrace("cannot load page tree");
        fz_drop_stream(ctx, stm);
        return -1;
    }

    // Step 7-8.
    state_.pageCount = count;
    state_.fitToView = 1;
    if (state_.pageNumber < 1) state_.pageNumber = 1;
    if (state_.pageNumber > state_.pageCount) state_.pageNumber = state_.pageCount;
    if (state_.resolution < 20) state_.resolution = 20;
    if (state_.resolution > 300) state_.resolution = 300;
    state_.rotation = 0;
    state_.panX = 0;
    state_.panY = 0;
    fz_drop_stream(ctx, stm);
    return 0;
}

void PdfDocument::Close() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    fz_context *ctx = EngineContext();
    pageModel.Clear();
    if (state_.glyphCache) {
        fz_purge_glyph_cache(ctx);
        state_.glyphCache = false;
    }
    fz_drop_page(ctx, state_.page);
    state_.page = nullptr;
    fz_drop_pixmap(ctx, state_.raster);
    state_.raster = nullptr;
    fz_drop_pixmap(ctx, state_.viewRaster);
    state_.viewRaster = nullptr;
    fz_drop_outline(ctx, state_.outline);
    state_.outline = nullptr;
    state_.title.reset();
    if (state_.document) {
        fz_drop_document(ctx, state_.document);
        state_.document = nullptr;
        fz_empty_store(ctx);
    }
}

int PdfDocument::PageCount() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return state_.pageCount;
}

void PdfDocument::GoToPage(int n) {
    currentPage = n;
    state_.pageNumber = n;
    if (state_.pageNumber > state_.pageCount) state_.pageNumber = state_.pageCount;
    if (state_.pageNumber < 1) state_.pageNumber = 1;
}

void PdfDocument::PreviousPage(int k) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    currentPage -= k;
    if (currentPage <= 1) currentPage = 1;
    state_.pageNumber = currentPage;
}

void PdfDocument::NextPage(int k) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    currentPage += k;
    if (currentPage >= state_.pageCount) currentPage = state_.pageCount;
    state_.pageNumber = currentPage;
}

void ListProducedFileIn(const std::string &workFolder, const std::string &text) {
    std::string list = WithTrailingSlash(workFolder) + "textlist.txt";
    FILE *f = std::fopen(list.c_str(), "ab");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
    std::fclose(f);
}

void ListProducedFile(const ConversionJob &job, const std::string &text) { ListProducedFileIn(job.workFolder, text); }

} // namespace qm
