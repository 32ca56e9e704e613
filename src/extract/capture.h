#pragma once
// Page capture: the recording device that turns one interpretation of a page into our own
// command list, the geometric pass that gives every command and glyph its painted box in a
// device space without painting anything, and the replay of a command list into a raster.
//
// Text objects that hold several spans are recorded as one command per span (FillText,
// StrokeText, IgnoreText), so that every text command has exactly one font, size and writing
// mode; the split is deterministic, so the same page always gives the same command indexes.
// Text clips are never split: a text clip is the union of all its glyphs.
#include <mupdf/fitz.h>

#include <atomic>

#include "extract/page_model.h"

namespace qm {

// Interprets `page` with the identity transform into `list` (which is emptied first).
// 0 on success, -1 when the engine failed or `cookie` (optional) was aborted: the list is then
// emptied, since an interrupted recording is not the page.
int RecordPage(fz_context *ctx, fz_page *page, CommandList &list, fz_cookie *cookie = nullptr);

// The device box of a render with transform `transform`: the page bounds transformed and
// rounded outwards.
fz_irect DeviceBoxFor(fz_context *ctx, fz_page *page, fz_matrix transform);

// Gives every command of `list` its box in the device space of `transform` (device box
// `deviceBox`) by the last-painted-box rules, and every glyph of the text kinds its glyph box.
// Writes viewBox always and outputBox too when `outputBoxes` is set. When `target` is given,
// every command is also replayed into it (the eager form of the same pass, used by tests to
// check that boxes taken while painting equal the geometric ones). FillText/StrokeText commands
// get their page-space bounds here.
void ComputeBoxes(fz_context *ctx, CommandList &list, fz_matrix transform, fz_irect deviceBox, bool outputBoxes,
                  fz_device *target = nullptr);

// Both passes of a capture in one walk: output boxes in the space of `outputTransform`, view
// boxes in that of `viewTransform`. Also sets the page-space bounds of the text commands.
// false when `cookie` (optional) was aborted before every command had its boxes.
bool ComputeOutputAndViewBoxes(fz_context *ctx, CommandList &list, fz_matrix outputTransform, fz_irect outputBox,
                               fz_matrix viewTransform, fz_irect viewBox, const fz_cookie *cookie = nullptr);

// Replays every command into `dev` (commands carry page-space transforms; the device applies its
// own). Throws engine errors (call inside fz_try). `skip` (optional) is a command index that is
// left out, for tests that find the pixels one command paints. Stops early when `cookie`
// (optional) is aborted; false then.
bool ReplayCommands(fz_context *ctx, const CommandList &list, fz_device *dev, int skip = -1,
                    const fz_cookie *cookie = nullptr);

// A raster of the device box with alpha, cleared to opaque white, with the list drawn into it.
// `bgr` selects blue-green-red channel order. Null when the engine failed or `cookie` (optional)
// was aborted while drawing: a half-painted raster is never handed out.
fz_pixmap *RenderCommands(fz_context *ctx, const CommandList &list, fz_matrix transform, fz_irect deviceBox, bool bgr,
                          int skip = -1, const fz_cookie *cookie = nullptr);

// Whether the engine work that `cookie` (optional) belongs to was told to stop (another thread
// sets the flag; it is read atomically here).
inline bool Aborted(const fz_cookie *cookie) {
    return cookie && std::atomic_ref<int>(const_cast<int &>(cookie->abort)).load(std::memory_order_relaxed) != 0;
}

} // namespace qm
