#include "pdf/engine.h"

#include <cstdlib>
#include <mutex>

#include "platform/log.h"

// Debug builds of the engine's headers call these lock-debugging hooks, which the release library
// does not contain; empty definitions let our non-NDEBUG builds link.
#ifndef NDEBUG
extern "C" {
void fz_lock_debug_lock(fz_context *, int) {}
void fz_lock_debug_unlock(fz_context *, int) {}
}
#endif

namespace qm {
namespace {

std::mutex g_engineLocks[FZ_LOCK_MAX];

void LockEngine(void *, int lock) { g_engineLocks[lock].lock(); }
void UnlockEngine(void *, int lock) { g_engineLocks[lock].unlock(); }

void OnEngineError(void *, const char *message) { LogError(message ? message : ""); }
void OnEngineWarning(void *, const char *message) { LogWarning(message ? message : ""); }

fz_context *BaseContext() {
    // Created once and kept for the life of the process: clones refer to its shared state.
    static fz_context *base = [] {
        static fz_locks_context locks = {nullptr, LockEngine, UnlockEngine};
        fz_context *ctx = fz_new_context(nullptr, &locks, FZ_STORE_DEFAULT);
        if (!ctx) {
            LogError("cannot create the PDF engine's context");
            std::abort();
        }
        fz_set_error_callback(ctx, OnEngineError, nullptr);
        fz_set_warning_callback(ctx, OnEngineWarning, nullptr);
        fz_try(ctx) fz_register_document_handlers(ctx);
        fz_catch(ctx) LogError(fz_caught_message(ctx));
        return ctx;
    }();
    return base;
}

struct ThreadContext {
    fz_context *ctx = nullptr;
    ~ThreadContext() {
        if (ctx) fz_drop_context(ctx);
    }
};

} // namespace

fz_context *EngineContext() {
    thread_local ThreadContext local;
    if (!local.ctx) {
        fz_context *base = BaseContext();
        local.ctx = fz_clone_context(base);
        if (!local.ctx) {
            LogError("cannot create the PDF engine's context for this thread");
            std::abort();
        }
        fz_set_error_callback(local.ctx, OnEngineError, nullptr);
        fz_set_warning_callback(local.ctx, OnEngineWarning, nullptr);
    }
    return local.ctx;
}

std::unique_lock<std::recursive_mutex> LockStoreUpkeep() {
    static std::recursive_mutex upkeep;
    return std::unique_lock<std::recursive_mutex>(upkeep);
}

void DropEngineDocument(fz_document *doc) noexcept {
    if (!doc) return;
    auto upkeep = LockStoreUpkeep();
    fz_drop_document(EngineContext(), doc);
}

std::string EngineCaughtMessage(fz_context *ctx) {
    const char *m = fz_caught_message(ctx);
    return m ? std::string(m) : std::string();
}

void EngineErrorTrace(const std::string &text) { LogError(text); }

} // namespace qm
