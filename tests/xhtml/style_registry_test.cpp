// Span classes and the style sheet they extend.
#include <gtest/gtest.h>
#include <mupdf/pdf.h>

#include <fstream>
#include <sstream>

#include "extract/page_model.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "support/captured_document.h"
#include "support/temp_dir.h"
#include "xhtml/style_registry.h"

namespace {

const char *const kFixed =
    "p{margin: 0.25em 0; padding: 0.25em; text-align: justify; text-indent: 0.75em;}\n"
    ".imgdiv{width:100%;text-align:center;}\n"
    ".imgbase{max-width:100%;height:auto;}\n"
    "p.txtcenter{text-align:center;}\n"
    "p.txtright{text-align:right;}\n"
    "td{vertical-align:top;}\n"
    "span.italic{font-style: italic;}\n"
    "span.bold{font-weight: bold;}\n";

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A text command with a font of the given name (the Helvetica outlines under any name), size and
// colour. Owns its engine references.
class TextCommand {
public:
    explicit TextCommand(const std::string &fontName, float size = 12, std::vector<float> colour = {0, 0, 0},
                         fz_colorspace *cs = nullptr) {
        fz_context *ctx = qm::EngineContext();
        int len = 0;
        const unsigned char *data = fz_lookup_base14_font(ctx, "Helvetica", &len);
        cmd.text = std::make_unique<qm::CapturedText>();
        cmd.text->font = fz_new_font_from_memory(ctx, fontName.c_str(), data, len, 0, 0);
        cmd.text->matrix = fz_scale(size, size);
        cmd.kind = qm::CommandKind::FillText;
        cmd.colorspace = fz_keep_colorspace(ctx, cs ? cs : fz_device_rgb(ctx));
        for (size_t i = 0; i < colour.size(); ++i) cmd.color[i] = colour[i];
    }
    ~TextCommand() {
        fz_context *ctx = qm::EngineContext();
        fz_drop_font(ctx, cmd.text->font);
        fz_drop_colorspace(ctx, cmd.colorspace);
    }
    qm::DrawCommand cmd;
};

std::string Classes(qm::StyleRegistry &reg, const qm::DrawCommand &cmd, double scale = 1.0, int *rc = nullptr) {
    std::string out;
    int r = reg.GetSpanClasses(cmd, out, scale);
    if (rc) *rc = r;
    return r == 0 ? out : "rc" + std::to_string(r);
}

} // namespace

TEST(StyleRegistry, SheetStartsWithTheFixedRulesAndGrowsInFirstUseOrder) {
    qmtest::TempDir dir;
    qm::StyleRegistry reg;
    std::string sheet = dir.File("styles.css");
    ASSERT_EQ(reg.BeginStyleSheet(sheet), 0);
    EXPECT_EQ(ReadFile(sheet), kFixed);

    TextCommand black("Helvetica");
    TextCommand red("Helvetica", 12, {1, 0, 0});
    EXPECT_EQ(Classes(reg, black.cmd), "font12");  // black: no colour class
    EXPECT_EQ(Classes(reg, red.cmd), "font12 Cff0000");
    for (int i = 0; i < 3; ++i) {
        Classes(reg, red.cmd);
        Classes(reg, black.cmd);
    }
    EXPECT_EQ(ReadFile(sheet), std::string(kFixed) + "span.font12{font-size:1.2em;}\n" + "span.Cff0000{color:#ff0000;}\n");

    // A second document starts afresh: fixed rules again, and its classes are written again.
    std::string second = dir.File("second.css");
    ASSERT_EQ(reg.BeginStyleSheet(second), 0);
    EXPECT_EQ(Classes(reg, red.cmd), "font12 Cff0000");
    EXPECT_EQ(ReadFile(second), std::string(kFixed) + "span.font12{font-size:1.2em;}\n" + "span.Cff0000{color:#ff0000;}\n");
}

TEST(StyleRegistry, AnExistingSheetIsExtended) {
    qmtest::TempDir dir;
    std::string sheet = dir.File("styles.css");
    std::ofstream(sheet) << "/* earlier */\n";
    qm::StyleRegistry reg;
    ASSERT_EQ(reg.BeginStyleSheet(sheet), 0);
    EXPECT_EQ(ReadFile(sheet), std::string("/* earlier */\n") + kFixed);
}

TEST(StyleRegistry, BoldAndItalicComeFromTheFontName) {
    qmtest::TempDir dir;
    qm::StyleRegistry reg;
    ASSERT_EQ(reg.BeginStyleSheet(dir.File("styles.css")), 0);
    EXPECT_EQ(Classes(reg, TextCommand("Arial-BoldItalicMT").cmd), "font12 bold italic");
    EXPECT_EQ(Classes(reg, TextCommand("Helvetica-Oblique").cmd), "font12 italic");
    EXPECT_EQ(Classes(reg, TextCommand("Times-Roman").cmd), "font12");
    EXPECT_EQ(Classes(reg, TextCommand("ABCDEF+Minion-bold").cmd), "font12 bold");

}

// The engine keeps 31 bytes of a font name; the full /BaseFont names of the page's fonts (also
// those of form XObjects) restore "Italic" cut off the end of a long subset name.
TEST(StyleRegistry, FullFontNamesComeFromThePageResources) {
    qmtest::TempDir dir;
    std::string path = dir.File("long-name.pdf");
    const char *longName = "ABCDEF+TimesNewRomanPS-BoldItalicMT";
    fz_context *ctx = qm::EngineContext();
    {
        pdf_document *doc = pdf_create_document(ctx);
        pdf_obj *font = pdf_add_new_dict(ctx, doc, 4);
        pdf_dict_put(ctx, font, PDF_NAME(Type), PDF_NAME(Font));
        pdf_dict_put(ctx, font, PDF_NAME(Subtype), PDF_NAME(Type1));
        pdf_dict_put_name(ctx, font, PDF_NAME(BaseFont), longName);
        pdf_dict_put(ctx, font, PDF_NAME(Encoding), PDF_NAME(WinAnsiEncoding));
        pdf_obj *res = pdf_new_dict(ctx, doc, 1);
        pdf_obj *fonts = pdf_dict_put_dict(ctx, res, PDF_NAME(Font), 1);
        pdf_dict_puts(ctx, fonts, "F1", font);
        fz_buffer *content = fz_new_buffer_from_copied_data(
            ctx, reinterpret_cast<const unsigned char *>("BT /F1 12 Tf 72 720 Td (Hello) Tj ET"), 36);
        pdf_obj *page = pdf_add_page(ctx, doc, fz_make_rect(0, 0, 612, 792), 0, res, content);
        pdf_insert_page(ctx, doc, -1, page);
        pdf_write_options opts = pdf_default_write_options;
        pdf_save_document(ctx, doc, path.c_str(), &opts);
        pdf_drop_obj(ctx, page);
        fz_drop_buffer(ctx, content);
        pdf_drop_obj(ctx, res);
        pdf_drop_obj(ctx, font);
        pdf_drop_document(ctx, doc);
    }
    qmtest::CapturedDocument captured;
    qm::PdfDocument &pdf = captured.doc;
    ASSERT_TRUE(captured.Open(path));
    auto lock = pdf.Lock();
    ASSERT_EQ(captured.Draw(1), qm::CaptureResult::Captured);
    const qm::DrawCommand *text = nullptr;
    for (const qm::DrawCommand &c : captured.model.commands->commands)
        if (c.kind == qm::CommandKind::FillText) text = &c;
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(std::string(fz_font_name(ctx, text->text->font)).size(), 31u);

    qm::StyleRegistry reg;
    ASSERT_EQ(reg.BeginStyleSheet(dir.File("styles.css")), 0);
    EXPECT_EQ(Classes(reg, *text), "font12 bold");  // "...BoldItal" as the engine has it
    EXPECT_EQ(reg.LoadPageFontNames(pdf, 0), 1);
    EXPECT_EQ(Classes(reg, *text), "font12 bold italic");
    reg.ClearPageFontNames();
    EXPECT_EQ(Classes(reg, *text), "font12 bold");
    reg.SetFontName(text->text->font, "Plain-Roman");
    EXPECT_EQ(Classes(reg, *text), "font12");
}

TEST(StyleRegistry, SizeIsTruncatedBeforeAndAfterScaling) {
    qmtest::TempDir dir;
    qm::StyleRegistry reg;
    std::string sheet = dir.File("styles.css");
    ASSERT_EQ(reg.BeginStyleSheet(sheet), 0);
    EXPECT_EQ(Classes(reg, TextCommand("Helvetica", 12).cmd, 0.5), "font6");
    EXPECT_EQ(Classes(reg, TextCommand("Helvetica", 12).cmd, 3.0), "font36");
    EXPECT_EQ(Classes(reg, TextCommand("Helvetica", 13.9f).cmd, 1.1), "font14");  // 13 x 1.1 = 14.3
    EXPECT_EQ(Classes(reg, TextCommand("Helvetica", 0.6f).cmd), "font0");
    TextCommand scaled("Helvetica", 6);
    scaled.cmd.transform = fz_scale(2, 2);  // the command's transform counts too
    EXPECT_EQ(Classes(reg, scaled.cmd), "font12");
    EXPECT_EQ(ReadFile(sheet), std::string(kFixed) +
                                   "span.font6{font-size:0.6em;}\n"
                                   "span.font36{font-size:3.6em;}\n"
                                   "span.font14{font-size:1.4em;}\n"
                                   "span.font0{font-size:0.0em;}\n"
                                   "span.font12{font-size:1.2em;}\n");
}

TEST(StyleRegistry, ColoursAreConvertedToRgbBytes) {
    qmtest::TempDir dir;
    qm::StyleRegistry reg;
    ASSERT_EQ(reg.BeginStyleSheet(dir.File("styles.css")), 0);
    fz_context *ctx = qm::EngineContext();
    EXPECT_EQ(Classes(reg, TextCommand("Helvetica", 12, {0.5f}, fz_device_gray(ctx)).cmd), "font12 C7f7f7f");
    EXPECT_EQ(Classes(reg, TextCommand("Helvetica", 12, {0, 1, 1, 0}, fz_device_cmyk(ctx)).cmd), "font12 Cff0000");
    EXPECT_EQ(Classes(reg, TextCommand("Helvetica", 12, {0, 0, 0, 1}, fz_device_cmyk(ctx)).cmd), "font12");
    EXPECT_EQ(Classes(reg, TextCommand("Helvetica", 12, {0.6f, 0, 0}).cmd), "font12 C990000");
}

TEST(StyleRegistry, FailuresReturnTheirCodes) {
    qmtest::TempDir dir;
    qm::StyleRegistry reg;
    // No font: -1 and nothing appended.
    qm::DrawCommand noFont;
    noFont.kind = qm::CommandKind::FillText;
    std::string out = "x";
    EXPECT_EQ(reg.GetSpanClasses(noFont, out, 1.0), -1);
    EXPECT_EQ(out, "x");

    // A sheet in a missing folder: -1 from the start, -2 for every new rule, and the class is not
    // remembered, so it is written once the sheet can be opened.
    std::string sheet = dir.File("missing/styles.css");
    EXPECT_EQ(reg.BeginStyleSheet(sheet), -1);
    EXPECT_EQ(reg.StyleSheetPath(), sheet);
    TextCommand red("Helvetica", 12, {1, 0, 0});
    int rc = 0;
    Classes(reg, red.cmd, 1.0, &rc);
    EXPECT_EQ(rc, -2);
    ASSERT_EQ(qmtest::RunCommand("mkdir " + qmtest::ShellQuote(dir.File("missing"))), 0);
    EXPECT_EQ(Classes(reg, red.cmd), "font12 Cff0000");
    EXPECT_EQ(ReadFile(sheet), "span.font12{font-size:1.2em;}\nspan.Cff0000{color:#ff0000;}\n");
}
