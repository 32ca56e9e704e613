#include "xhtml/style_registry.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "extract/page_capture.h"
#include "extract/page_model.h"
#include "options/conversion_job.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "platform/log.h"

namespace qm {

namespace {

const char *const kFixedRules =
    "p{margin: 0.25em 0; padding: 0.25em; text-align: justify; text-indent: 0.75em;}\n"
    ".imgdiv{width:100%;text-align:center;}\n"
    ".imgbase{max-width:100%;height:auto;}\n"
    "p.txtcenter{text-align:center;}\n"
    "p.txtright{text-align:right;}\n"
    "td{vertical-align:top;}\n"
    "span.italic{font-style: italic;}\n"
    "span.bold{font-weight: bold;}\n";

bool WriteToSheet(const std::string &path, const std::string &text) {
    std::FILE *f = std::fopen(path.c_str(), "ab+");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) LogWarning("could not write to style sheet '" + path + "'");
    return true;  // the sheet was opened; a short write is only logged
}

// Fill colour as DeviceRGB bytes; black when there is no colour space or the conversion fails.
void ColourBytes(const DrawCommand &cmd, int rgbOut[3]) {
    rgbOut[0] = rgbOut[1] = rgbOut[2] = 0;
    float rgb[3] = {0, 0, 0};
    std::string error;
    if (!CommandColourRgb(cmd, rgb, error)) {
        LogWarning("cannot convert text colour: " + error);
        return;
    }
    for (int i = 0; i < 3; ++i) {
        double v = std::trunc(static_cast<double>(rgb[i]) * 255.0);
        if (!(v >= 0)) v = 0;  // also NaN
        if (v > 255) v = 255;
        rgbOut[i] = static_cast<int>(v);
    }
}

// Whether text in this font is set at a fixed pitch: the engine's flag (from the font file or the
// PDF's font descriptor), or a name of the common fixed-pitch families for fonts that lack the
// flag. `upperName` is the font's name in capitals.
bool IsFixedPitch(fz_font *font, const std::string &upperName) {
    if (fz_font_is_monospaced(EngineContext(), font)) return true;
    if (upperName.find("COURIER") != std::string::npos || upperName.find("CONSOLAS") != std::string::npos)
        return true;
    // "Mono" names the fixed-pitch cut of a family (DejaVuSansMono, LiberationMono); "Monotype" is
    // a foundry of proportional faces.
    size_t at = upperName.find("MONO");
    return at != std::string::npos && upperName.compare(at, 8, "MONOTYPE") != 0;
}

} // namespace

StyleRegistry::~StyleRegistry() { ClearPageFontNames(); }

void StyleRegistry::ClearPageFontNames() {
    if (fullNames_.empty()) return;
    fz_context *ctx = EngineContext();
    for (auto &entry : fullNames_) fz_drop_font(ctx, entry.first);
    fullNames_.clear();
}

void StyleRegistry::SetFontName(fz_font *font, const std::string &name) {
    if (!font) return;
    auto it = fullNames_.find(font);
    if (it != fullNames_.end()) {
        it->second = name;
        return;
    }
    fullNames_.emplace(fz_keep_font(EngineContext(), font), name);
}

int StyleRegistry::LoadPageFontNames(PdfDocument &doc, int pageIndex) {
    ClearPageFontNames();
    doc.LoadPageFontNames(pageIndex, fullNames_);
    return static_cast<int>(fullNames_.size());
}

int StyleRegistry::BeginStyleSheet(const std::string &path) {
    emitted_.clear();
    path_ = path;
    return WriteToSheet(path_, kFixedRules) ? 0 : -1;
}

bool StyleRegistry::EmitRule(const std::string &name, const std::string &rule) {
    if (emitted_.count(name)) return true;
    if (recordOnly_) {
        recorded_.emplace_back(name, rule);
    } else if (!WriteToSheet(path_, rule)) {
        return false;
    }
    emitted_.insert(name);
    return true;
}

std::vector<StyleRegistry::Rule> StyleRegistry::TakeRecordedRules() {
    emitted_.clear();
    return std::exchange(recorded_, {});
}

bool StyleRegistry::AddRules(const std::vector<Rule> &rules) {
    for (const Rule &rule : rules)
        if (!EmitRule(rule.first, rule.second)) return false;
    return true;
}

int StyleRegistry::GetSpanClasses(const DrawCommand &cmd, std::string &classes, const ConversionJob *job) {
    const bool markMono = job && job->reading.codeBlocks &&
                          job->parseMode == static_cast<int32_t>(ParseMode::Automatic);
    return GetSpanClasses(cmd, classes, job ? job->fontScale : 1.0, markMono);
}

std::string StyleRegistry::UpperFontName(fz_font *font) const {
    std::string name;
    auto known = fullNames_.find(font);
    if (known != fullNames_.end()) name = known->second;
    if (name.empty()) {
        const char *engineName = fz_font_name(EngineContext(), font);
        if (engineName) name = engineName;
    }
    if (name.size() > 49) name.resize(49);
    for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

bool StyleRegistry::StyleOf(const DrawCommand &cmd, TextStyle &style, bool *italic) {
    if (!cmd.text || !cmd.text->font) return false;
    // Bold and italic from the font name only.
    const std::string name = UpperFontName(cmd.text->font);
    style.bold = name.find("BOLD") != std::string::npos;
    if (italic) *italic = name.find("ITALIC") != std::string::npos || name.find("OBLIQUE") != std::string::npos;

    // Size in points of the page's space.
    fz_matrix m = fz_concat(cmd.text->matrix, cmd.transform);
    double expansion = std::sqrt(std::fabs(static_cast<double>(m.a) * m.d - static_cast<double>(m.b) * m.c));
    if (!(expansion < 1e6)) expansion = 0;
    style.size = expansion;
    return true;
}

int StyleRegistry::GetSpanClasses(const DrawCommand &cmd, std::string &classes, double fontScale, bool markMono) {
    TextStyle style;
    bool italic = false;
    if (!StyleOf(cmd, style, &italic)) return -1;
    const bool bold = style.bold;
    // Truncated to whole points, then scaled and truncated again.
    int size = static_cast<int>(style.size);
    double scaled = static_cast<double>(size) * fontScale;
    if (!(scaled >= 0 && scaled < 1e6)) scaled = 0;
    int n = static_cast<int>(scaled);

    int rgb[3];
    ColourBytes(cmd, rgb);

    char buf[96];
    std::snprintf(buf, sizeof buf, "font%d", n);
    std::string sizeClass = buf;
    if (!emitted_.count(sizeClass)) {
        std::snprintf(buf, sizeof buf, "span.font%d{font-size:%d.%dem;}\n", n, n / 10, n % 10);
        if (!EmitRule(sizeClass, buf)) return -2;
    }
    classes += sizeClass;

    if (rgb[0] != 0 || rgb[1] != 0 || rgb[2] != 0) {
        std::snprintf(buf, sizeof buf, "C%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
        std::string colourClass = buf;
        if (!emitted_.count(colourClass)) {
            std::snprintf(buf, sizeof buf, "span.C%02x%02x%02x{color:#%02x%02x%02x;}\n", rgb[0], rgb[1], rgb[2],
                          rgb[0], rgb[1], rgb[2]);
            if (!EmitRule(colourClass, buf)) return -2;
        }
        classes += " " + colourClass;
    }
    if (bold) classes += " bold";
    if (italic) classes += " italic";
    if (markMono && IsFixedPitch(cmd.text->font, UpperFontName(cmd.text->font))) {
        if (!EmitRule("mono", "span.mono{font-family:monospace;}\n")) return -2;
        classes += " mono";
    }
    return 0;
}

} // namespace qm
