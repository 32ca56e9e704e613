#pragma once
// Shared by the three parts of page capture (recording device, replay, box pass); not for use
// outside them.
#include <mupdf/fitz.h>

#include <cstddef>
#include <vector>

#include "extract/page_model.h"

namespace qm::capture_internal {

// DrawCommand::flags bits.
constexpr int kEvenOdd = 1;       // paths: even-odd rule
constexpr int kIsolated = 1;      // groups
constexpr int kKnockout = 2;      // groups
constexpr int kHasColor = 0x100;  // a colour array was given (begin_mask may pass none)

// A new engine text holding span `index` of `text` alone (empty when there is no such span).
// Throws engine errors.
fz_text *SpanText(fz_context *ctx, const fz_text *text, int index);

// Replays one command. Returns 1 when a tile start was answered "cached" by the device (the
// caller then skips to the matching tile end), else 0. Throws engine errors.
int ReplayOne(fz_context *ctx, const DrawCommand &c, fz_device *dev);

// Index of the EndTile matching the BeginTile at `i` (or the list size when there is none).
size_t MatchingEndTile(const std::vector<DrawCommand> &cmds, size_t i);

} // namespace qm::capture_internal
