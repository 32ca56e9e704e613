// Writes the seed corpus of the fuzz targets into OUT/<target>/: PDFs made with the test fixture
// builder (text, links, outline, pictures and drawings, a Type3 font, an encrypted file, cut and
// damaged copies), each also as a copy with uncompressed streams so that the mutator can reach the
// page operators; settings files written by the settings saver; small HTML and text documents.
//
//   make_fuzz_seeds OUT
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <cstdio>
#include <string>
#include <vector>

#include "options/conversion_options.h"
#include "options/settings_file.h"
#include "pdf/engine.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"

namespace {

bool failed = false;

void Check(bool ok, const std::string &what) {
    if (!ok) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot write %s\n", what.c_str());
        failed = true;
    }
}

// A copy of a PDF with every stream decompressed.
bool Decompressed(const std::string &from, const std::string &to) {
    fz_context *ctx = qm::EngineContext();
    pdf_document *doc = nullptr;
    bool ok = true;
    fz_var(doc);
    fz_var(ok);
    fz_try(ctx) {
        doc = pdf_open_document(ctx, from.c_str());
        pdf_write_options opts = pdf_default_write_options;
        opts.do_decompress = 1;
        opts.do_garbage = 1;
        pdf_save_document(ctx, doc, to.c_str(), &opts);
    }
    fz_always(ctx) pdf_drop_document(ctx, doc);
    fz_catch(ctx) ok = false;
    return ok;
}

// The page target reads its options from the last byte; every PDF seed is kept with a few.
void AddPdfSeed(const std::string &folder, const std::string &name, const std::string &pdfPath) {
    std::string bytes;
    Check(qm::ReadFile(pdfPath, bytes), pdfPath);
    static const unsigned char kSelectors[] = {0x00, 0x02, 0x05, 0x19};
    for (unsigned char s : kSelectors) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "-%02x", s);
        Check(qm::WriteFile(folder + name + suffix, bytes + static_cast<char>(s)), name);
    }
}

// Saves the builder's document as a seed, plain and with uncompressed streams.
void Save(qmtest::PdfBuilder &b, const std::string &scratch, const std::string &folder, const std::string &name) {
    const std::string pdf = scratch + name + ".pdf";
    Check(b.Save(pdf), pdf);
    AddPdfSeed(folder, name, pdf);
    const std::string plain = scratch + name + "-d.pdf";
    Check(Decompressed(pdf, plain), plain);
    AddPdfSeed(folder, name + "-d", plain);
}

// A hand-written PDF with a Type3 font whose glyphs are filled squares and triangles, written
// without a cross-reference table (the engine rebuilds it, as for many damaged files).
std::string Type3Pdf() {
    return "%PDF-1.4\n"
           "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
           "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
           "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 4 0 R\n"
           "  /Resources << /Font << /T3 5 0 R >> >> >> endobj\n"
           "4 0 obj << >> stream\n"
           "BT /T3 12 Tf 20 150 Td (ABAB BA) Tj 0 -20 Td 2 Tr (AAB) Tj ET\n"
           "endstream endobj\n"
           "5 0 obj << /Type /Font /Subtype /Type3 /FontBBox [0 0 100 100] /FontMatrix [0.01 0 0 0.01 0 0]\n"
           "  /CharProcs << /sq 6 0 R /tri 7 0 R >> /Encoding << /Type /Encoding /Differences [65 /sq /tri] >>\n"
           "  /FirstChar 65 /LastChar 66 /Widths [100 100] /Resources << >> >> endobj\n"
           "6 0 obj << >> stream\n100 0 d0 10 10 80 80 re f\nendstream endobj\n"
           "7 0 obj << >> stream\n100 0 0 0 100 100 d1 0 0 m 100 0 l 50 100 l h f\nendstream endobj\n"
           "trailer << /Root 1 0 R >>\n%%EOF\n";
}

void PdfSeeds(const std::string &scratch, const std::string &folder) {
    {
        const std::string pdf = scratch + "text.pdf";
        Check(qmtest::WriteSimplePdf(pdf, 3), pdf);
        AddPdfSeed(folder, "text", pdf);
        // Cut and damaged copies of it.
        Check(qmtest::WriteTruncatedCopy(pdf, scratch + "cut.pdf", 700), "cut.pdf");
        AddPdfSeed(folder, "cut", scratch + "cut.pdf");
        std::string bytes;
        Check(qm::ReadFile(pdf, bytes), pdf);
        size_t xref = bytes.rfind("startxref");
        if (xref != std::string::npos) {
            std::string broken = bytes;
            broken.replace(xref, 9, "startxrex");  // no usable cross-reference: the file is repaired
            Check(qm::WriteFile(scratch + "noxref.pdf", broken), "noxref.pdf");
            AddPdfSeed(folder, "noxref", scratch + "noxref.pdf");
        }
    }
    {
        qmtest::PdfBuilder b;
        for (int i = 0; i < 2; ++i) {
            int p = b.AddPage();
            b.Text(p, 72, 720, "Heading " + std::to_string(i + 1), 20, "Times-Bold");
            b.Text(p, 72, 690, "A first line of body text that runs on,", 11, "Times-Roman");
            b.Text(p, 72, 676, "and a second line that ends here.", 11, "Times-Roman");
            b.Text(p, 320, 690, "Right column, italic.", 11, "Times-Italic", {0.6, 0.1, 0.1});
            b.GlyphByGlyph(p, 72, 640, "Spaced", 9, 12, "Courier");
        }
        b.SetInfo("Seed <Title> & more", "Author", "Subject");
        Save(b, scratch, folder, "styles");
    }
    {
        qmtest::PdfBuilder b;
        int p0 = b.AddPage();
        int p1 = b.AddPage();
        b.Text(p0, 72, 720, "Go to page two", 12);
        b.LinkToPage(p0, 70, 715, 200, 735, p1);
        b.Text(p0, 72, 690, "https://example.org/a?b=c&d=e", 12);
        b.LinkToUri(p0, 70, 685, 300, 705, "https://example.org/a?b=c&d=e");
        b.Text(p0, 72, 660, "someone@example.org", 12);
        b.LinkToUri(p0, 70, 655, 300, 675, "someone@example.org");
        b.Text(p0, 72, 630, "www.example.org", 12);
        b.LinkToUri(p0, 70, 625, 300, 645, "www.example.org");
        b.Text(p1, 72, 720, "Back to page one", 12);
        b.LinkToPage(p1, 70, 715, 200, 735, p0);
        Save(b, scratch, folder, "links");
    }
    {
        qmtest::PdfBuilder b;
        for (int i = 0; i < 3; ++i) b.Text(b.AddPage(), 72, 720, "Chapter " + std::to_string(i + 1), 16);
        int top = b.AddOutline("Part <one> & \"two\"", 0);
        b.AddOutline("Chapter 1", 0, top, 700);
        int sub = b.AddOutline("Chapter 2", 1, top);
        b.AddOutline("Section 2.1", 1, sub, 400);
        b.AddOutline("No destination", -1);
        b.AddOutline("Chapter 3", 2);
        Save(b, scratch, folder, "outline");
    }
    {
        qmtest::PdfBuilder b;
        int p = b.AddPage(400, 500);
        b.Text(p, 40, 460, "Figure 1: pictures and drawings", 12);
        b.Image(p, 40, 300, 150, 120, 16, 12);
        b.ShadeRect(p, 220, 300, 120, 120);
        b.FillRect(p, 40, 200, 100, 60, {0.2, 0.4, 0.8});
        b.StrokeRect(p, 160, 200, 100, 60, 3, {0.8, 0.2, 0.2});
        b.Line(p, 40, 180, 360, 180, 2);
        b.Text(p, 40, 160, "Caption under the drawing.", 10);
        int q = b.AddPage(500, 400, 90);
        b.Text(q, 40, 360, "Rotated page", 14);
        b.Image(q, 40, 100, 200, 200, 8, 8);
        Save(b, scratch, folder, "pictures");
    }
    {
        qmtest::PdfBuilder b;
        int p = b.AddPage();
        b.Text(p, 72, 720, "Encrypted text", 14);
        const std::string pdf = scratch + "encrypted.pdf";
        Check(b.SaveEncrypted(pdf, ""), pdf);
        AddPdfSeed(folder, "encrypted", pdf);
        Check(b.SaveEncrypted(scratch + "locked.pdf", "secret"), "locked.pdf");
        AddPdfSeed(folder, "locked", scratch + "locked.pdf");
    }
    Check(qm::WriteFile(scratch + "type3.pdf", Type3Pdf()), "type3.pdf");
    AddPdfSeed(folder, "type3", scratch + "type3.pdf");
}

void SettingsSeeds(const std::string &folder) {
    qm::ConversionOptions defaults;
    Check(qm::SettingsFile::Save(defaults, folder + "defaults.dat") == qm::SettingsSave::Saved, "defaults.dat");

    qm::ConversionOptions changed;
    changed.outputFolder = "/home/user/B\xC3\xBC" "cher/";
    changed.pdfPassword = "p\xC3\xA4ss";
    changed.fontScaleText = "1.5";
    changed.imageDpiText = "150";
    changed.bookTitle = "Title \xE2\x80\x94 with a dash";
    changed.bookCreator = std::string(300, 'c');  // longer than the one-byte length form
    changed.bookSubject = "\xF0\x9F\x93\x96";      // a character outside the basic plane
    changed.parseMode = 2;
    changed.createCover = 1;
    changed.compatibleKindle = 1;
    changed.outputOutline = 1;
    changed.outlinePosition = 2;
    changed.columnMode = 2;
    changed.ignoreLinks = 0;
    changed.previewWidth = 640;
    changed.previewHeight = 480;
    changed.reserved30to38 = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Check(qm::SettingsFile::Save(changed, folder + "changed.dat") == qm::SettingsSave::Saved, "changed.dat");

    std::string bytes = qm::SettingsFile::Encode(changed);
    Check(qm::WriteFile(folder + "cut.dat", bytes.substr(0, bytes.size() / 2)), "cut.dat");
}

void DocumentSeeds(const std::string &folder) {
    // Byte 0: bit 0 HTML, bits 1-2 the address resolver; then the title line; then the document.
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"text-plain", std::string("\x00", 1) + "A title\nFirst paragraph,\nstill the first.\n\nSecond <one> & done.\n"},
        {"text-crlf", std::string("\x00", 1) + "Windows\r\n\xEF\xBB\xBFLine one\r\n\r\n\tLine \xC3\xA9t\xC3\xA9\r\n"},
        {"html-basic", "\x01" "Basic\n<html><head><title>T</title><style>p{color:red}</style></head><body>"
                       "<h1>Head</h1><p>Some <b>bold</b> and <i>italic</i> text.<br>Next line&nbsp;&amp;</p>"
                       "<ul><li>one</li><li>two</li></ul></body></html>"},
        {"html-links", "\x03Links\n<p><a href=\"other.html#x\">other</a> <a href=\"http://example.org\">web</a> "
                       "<img src=\"pic.png\" alt=\"p\"> <a name=\"x\" id=\"x\">anchor</a></p>"},
        {"html-rewrite", "\x05Rewrite\n<body><div><p>para <img src=\"a b.jpg\"><table><tr><td>cell</td></tr></table>"
                         "</p></div><script>var x = '<p>';</script></body>"},
        {"html-drop", "\x07" "Drop\n<body><a href=\"../up.html\">up</a><font color=red>red</font><center>c</center>"
                      "<p style=\"x\" onclick=\"y\" lang=\"en\">styled</p></body>"},
        {"html-broken", "\x01\n<p><b>unclosed <i>nesting</b> text</i><p>second<div>block in p</p></div>&#0;&#xD800;"},
    };
    for (const auto &[name, bytes] : seeds) Check(qm::WriteFile(folder + name, bytes), name);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds OUT\n");
        return 2;
    }
    const std::string out = qm::WithTrailingSlash(argv[1]);
    const std::string scratch = out + "scratch/";
    for (const char *sub : {"", "scratch/", "fuzz_page/", "fuzz_settings/", "fuzz_documents/"})
        qm::CreateFolders(out + sub);
    PdfSeeds(scratch, out + "fuzz_page/");
    SettingsSeeds(out + "fuzz_settings/");
    DocumentSeeds(out + "fuzz_documents/");
    qm::DeleteFolderTree(scratch);
    return failed ? 1 : 0;
}
