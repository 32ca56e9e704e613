#pragma once
// The PDF engine's contexts. MuPDF contexts must not be shared between threads: one base context
// is made with lock callbacks, and every thread works on its own clone of it, made on first use
// and dropped when the thread ends. Clones share the resource store, the glyph cache and fonts.
// The engine's error and warning trace goes to the program's log (platform/log.h).
#include <mupdf/fitz.h>

#include <string>

namespace qm {

// This thread's engine context (never null; the process aborts only if the engine cannot start).
fz_context *EngineContext();

// Text of the error caught by the innermost fz_catch of this thread's context.
std::string EngineCaughtMessage(fz_context *ctx);

// Adds a line to the engine's error trace (the program's log), as the engine's own errors are.
void EngineErrorTrace(const std::string &text);

} // namespace qm
