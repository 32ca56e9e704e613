#pragma once
// Synthetic text commands for the extraction tests: glyphs of a standard-14 font placed at chosen
// origins, with the engine's real metrics.
#include <mupdf/fitz.h>

#include <memory>
#include <string>
#include <vector>

#include "extract/page_model.h"
#include "pdf/engine.h"
#include "platform/prompt.h"
#include "support/recording_prompt.h"

namespace qmtest {


// One text command of `size` units in a standard-14 font, y up (identity transform).
class SyntheticText {
public:
    explicit SyntheticText(float size = 10, const char *font = "Helvetica") : size_(size) {
        fz_context *ctx = qm::EngineContext();
        font_ = fz_new_base14_font(ctx, font);
        command.kind = qm::CommandKind::FillText;
        command.text = std::make_unique<qm::CapturedText>();
        command.text->font = font_;
        command.text->matrix = fz_scale(size, size);
    }
    ~SyntheticText() { fz_drop_font(qm::EngineContext(), font_); }
    SyntheticText(const SyntheticText &) = delete;
    SyntheticText &operator=(const SyntheticText &) = delete;

    // Advance of a character in page units.
    float Advance(int unicode) const {
        fz_context *ctx = qm::EngineContext();
        return fz_advance_glyph(ctx, font_, fz_encode_character(ctx, font_, unicode), 0) * size_;
    }
    // Appends a glyph at (x, y); returns the pen position after it.
    float Put(int unicode, float x, float y = 100) {
        fz_context *ctx = qm::EngineContext();
        qm::GlyphRecord g;
        g.x = x;
        g.y = y;
        g.unicode = unicode;
        g.glyphId = unicode < 0 ? 0 : fz_encode_character(ctx, font_, unicode);
        command.text->glyphs.push_back(g);
        return x + Advance(unicode < 0 ? ' ' : unicode);
    }
    // A further character of the previous glyph (no glyph of its own).
    void PutExtra(int unicode) {
        qm::GlyphRecord g = command.text->glyphs.back();
        g.glyphId = -1;
        g.unicode = unicode;
        command.text->glyphs.push_back(g);
    }
    // Text set at the font's own advances, from x; returns the pen after it.
    float Word(const std::string &ascii, float x, float y = 100) {
        for (unsigned char c : ascii) x = Put(c, x, y);
        return x;
    }
    // An item covering every glyph.
    qm::PageItem Item() {
        qm::PageItem item;
        item.command = &command;
        item.firstGlyph = 0;
        item.glyphCount = static_cast<int>(command.text->glyphs.size());
        return item;
    }
    fz_font *Font() const { return font_; }
    qm::DrawCommand command;

private:
    float size_;
    fz_font *font_ = nullptr;
};

} // namespace qmtest
