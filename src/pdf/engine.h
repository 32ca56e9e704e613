#pragma once
// The PDF engine's contexts. MuPDF contexts must not be shared between threads: one base context
// is made with lock callbacks, and every thread works on its own clone of it, made on first use
// and dropped when the thread ends. Clones share the resource store, the glyph cache and fonts.
// The engine's error and warning trace goes to the program's log (platform/log.h).
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace qm {

// This thread's engine context (never null; the process aborts only if the engine cannot start).
fz_context *EngineContext();

// Text of the error caught by the innermost fz_catch of this thread's context.
std::string EngineCaughtMessage(fz_context *ctx);

// Adds a line to the engine's error trace (the program's log), as the engine's own errors are.
void EngineErrorTrace(const std::string &text);

// ---- the shared store's upkeep ----
// The engine's trimming pass (fz_shrink_store) walks the store with the lock let go while it
// frees each item, holding a reference on the next item so that no other trimming pass frees it
// meanwhile. The passes that evict without looking at references (fz_empty_store, and the purge
// of a document's items that dropping the document runs) do not honour that reference: run at
// the same time on another thread they free the item the trimming pass goes on with, and the
// heap is corrupted. Every trimming or emptying of the store and every drop of a document holds
// this lock (recursive: a drop may happen inside an upkeep call of the same thread).
std::unique_lock<std::recursive_mutex> LockStoreUpkeep();

// Drops a reference to a document under the store's upkeep lock.
void DropEngineDocument(fz_document *doc) noexcept;

// ---- ownership of engine objects ----
// EngineRef<T> owns one reference to an engine object and drops it with this thread's context
// (contexts of one process share their allocator and store, so any thread may drop).
template <class T> struct EngineDropper;
#define QM_ENGINE_DROPPER(T, drop)                                       \
    template <> struct EngineDropper<T> {                                \
        void operator()(T *p) const noexcept { drop(EngineContext(), p); } \
    };
template <> struct EngineDropper<fz_document> {
    void operator()(fz_document *p) const noexcept { DropEngineDocument(p); }
};
QM_ENGINE_DROPPER(fz_page, fz_drop_page)
QM_ENGINE_DROPPER(fz_display_list, fz_drop_display_list)
QM_ENGINE_DROPPER(fz_pixmap, fz_drop_pixmap)
QM_ENGINE_DROPPER(fz_device, fz_drop_device)
QM_ENGINE_DROPPER(fz_buffer, fz_drop_buffer)
QM_ENGINE_DROPPER(fz_stream, fz_drop_stream)
QM_ENGINE_DROPPER(fz_outline, fz_drop_outline)
QM_ENGINE_DROPPER(fz_outline_iterator, fz_drop_outline_iterator)
QM_ENGINE_DROPPER(fz_link, fz_drop_link)
QM_ENGINE_DROPPER(fz_image, fz_drop_image)
QM_ENGINE_DROPPER(fz_font, fz_drop_font)
QM_ENGINE_DROPPER(fz_text, fz_drop_text)
QM_ENGINE_DROPPER(fz_path, fz_drop_path)
QM_ENGINE_DROPPER(fz_shade, fz_drop_shade)
QM_ENGINE_DROPPER(fz_colorspace, fz_drop_colorspace)
QM_ENGINE_DROPPER(fz_stroke_state, fz_drop_stroke_state)
QM_ENGINE_DROPPER(fz_default_colorspaces, fz_drop_default_colorspaces)
QM_ENGINE_DROPPER(fz_stext_page, fz_drop_stext_page)
QM_ENGINE_DROPPER(pdf_obj, pdf_drop_obj)
#undef QM_ENGINE_DROPPER

template <class T> using EngineRef = std::unique_ptr<T, EngineDropper<T>>;

// Takes ownership of a reference the caller already holds (from an fz_new_/fz_load_/fz_keep_ call).
template <class T> EngineRef<T> Adopt(T *p) { return EngineRef<T>(p); }

// ---- engine errors at the boundary ----
// Outcome of a piece of engine work: the error code of the engine (FZ_ERROR_NONE when it went
// through) and its message.
struct EngineStatus {
    int code = FZ_ERROR_NONE;
    std::string message;
    bool Ok() const { return code == FZ_ERROR_NONE; }
    // The work was stopped through its cookie (a cancel or a time limit), not by a fault.
    bool Aborted() const { return code == FZ_ERROR_ABORT; }
    explicit operator bool() const { return Ok(); }
};

// Runs `body(ctx)` inside fz_try and turns an engine error into an EngineStatus. The engine
// unwinds with longjmp, which skips destructors: `body` may hold only trivially destructible
// locals and must not let a C++ exception out. Results go out through references the body
// captured (objects that live in the caller's frame); EngineRef holders belong there too, filled
// once the engine call has returned (`holder.reset(fz_new_...(ctx, ...))`).
template <class Body> EngineStatus EngineTry(fz_context *ctx, Body &&body) {
    EngineStatus status;
    int code = FZ_ERROR_NONE;
    fz_var(code);
    fz_try(ctx) { std::forward<Body>(body)(ctx); }
    fz_catch(ctx) { code = fz_caught(ctx); }
    if (code != FZ_ERROR_NONE) {
        status.code = code;
        status.message = EngineCaughtMessage(ctx);
    }
    return status;
}

} // namespace qm
