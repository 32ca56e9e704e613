#include "support/pdf_fixture.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "pdf/engine.h"
#include "platform/paths.h"

namespace qmtest {

struct PdfBuilder::Impl {
    fz_context *ctx = nullptr;
    pdf_document *doc = nullptr;
    bool built = false;
};

namespace {

const char *kUnicodeFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Decodes one UTF-8 sequence; returns the code point and advances i (invalid bytes give U+FFFD).
int NextCodePoint(const std::string &s, size_t &i) {
    unsigned char c = static_cast<unsigned char>(s[i++]);
    if (c < 0x80) return c;
    int extra = (c >= 0xF0) ? 3 : (c >= 0xE0) ? 2 : (c >= 0xC0) ? 1 : -1;
    if (extra < 0) return 0xFFFD;
    int cp = c & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    return cp;
}

// WinAnsi code of a code point, or '?' when it has none.
int WinAnsiCode(int cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return cp;
    static const struct {
        int cp, code;
    } table[] = {{0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84}, {0x2026, 0x85}, {0x2020, 0x86},
                 {0x2021, 0x87}, {0x02C6, 0x88}, {0x2030, 0x89}, {0x0160, 0x8A}, {0x2039, 0x8B}, {0x0152, 0x8C},
                 {0x017D, 0x8E}, {0x2018, 0x91}, {0x2019, 0x92}, {0x201C, 0x93}, {0x201D, 0x94}, {0x2022, 0x95},
                 {0x2013, 0x96}, {0x2014, 0x97}, {0x02DC, 0x98}, {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B},
                 {0x0153, 0x9C}, {0x017E, 0x9E}, {0x0178, 0x9F}};
    for (const auto &e : table)
        if (e.cp == cp) return e.code;
    return '?';
}

std::string PdfString(const std::string &utf8) {
    std::string out = "(";
    for (size_t i = 0; i < utf8.size();) {
        int code = WinAnsiCode(NextCodePoint(utf8, i));
        if (code == '(' || code == ')' || code == '\\') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (code < 32 || code > 126) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", code);
            out += buf;
        } else {
            out += static_cast<char>(code);
        }
    }
    return out + ")";
}

std::string Num(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4f", v);
    // Trim trailing zeros for compact operators.
    std::string s(buf);
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

// True for "scheme:..." addresses (letters, digits, "+", "-", "." before the colon).
bool HasUriScheme(const std::string &uri) {
    size_t colon = uri.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        char c = uri[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
}

std::string Colour(Rgb c, bool fill) {
    return Num(c.r) + " " + Num(c.g) + " " + Num(c.b) + (fill ? " rg " : " RG ");
}

} // namespace

PdfBuilder::PdfBuilder() : impl_(new Impl) { impl_->ctx = qm::EngineContext(); }

PdfBuilder::~PdfBuilder() {
    if (impl_->doc) pdf_drop_document(impl_->ctx, impl_->doc);
    delete impl_;
}

int PdfBuilder::AddPage(double width, double height, int rotate) {
    pages_.push_back(Page{width, height, rotate, std::string(), {}, {}, {}});
    return static_cast<int>(pages_.size()) - 1;
}

std::string PdfBuilder::FontResource(const std::string &font) {
    for (const auto &f : fonts_)
        if (f.first == font) return f.second;
    std::string name = "F" + std::to_string(fonts_.size() + 1);
    fonts_.emplace_back(font, name);
    return name;
}

void PdfBuilder::Text(int page, double x, double y, const std::string &text, double size, const std::string &font,
                      Rgb colour) {
    std::string res = FontResource(font);
    pages_[page].content += "BT " + Colour(colour, true) + "/" + res + " " + Num(size) + " Tf " + Num(x) + " " +
                            Num(y) + " Td " + PdfString(text) + " Tj ET\n";
}

void PdfBuilder::GlyphByGlyph(int page, double x, double y, const std::string &text, double advance, double size,
                              const std::string &font) {
    std::string res = FontResource(font);
    size_t i = 0;
    int k = 0;
    while (i < text.size()) {
        size_t start = i;
        NextCodePoint(text, i);
        pages_[page].content += "BT /" + res + " " + Num(size) + " Tf " + Num(x + k * advance) + " " + Num(y) +
                                " Td " + PdfString(text.substr(start, i - start)) + " Tj ET\n";
        ++k;
    }
}

void PdfBuilder::UnicodeText(int page, double x, double y, const std::string &utf8, double size) {
    usesUnicodeFont_ = true;
    // Glyph ids are looked up when the document is built; store the code points for now as a marker
    // operator sequence that Build() rewrites.
    std::string cps;
    for (size_t i = 0; i < utf8.size();) {
        cps += std::to_string(NextCodePoint(utf8, i));
        cps += ',';
    }
    pages_[page].content += "BT /FU " + Num(size) + " Tf " + Num(x) + " " + Num(y) + " Td %%U" + cps + "\n";
}

void PdfBuilder::TextLine(int page, double x, double y, const std::vector<TextPiece> &pieces, double charSpacing,
                          double wordSpacing) {
    std::string ops = "BT " + Num(charSpacing) + " Tc " + Num(wordSpacing) + " Tw " + Num(x) + " " + Num(y) + " Td";
    std::string font;
    double size = 0, rise = 0;
    for (const TextPiece &p : pieces) {
        if (p.font != font || p.size != size) {
            font = p.font;
            size = p.size;
            ops += " /" + FontResource(font) + " " + Num(size) + " Tf";
        }
        if (p.rise != rise) {
            rise = p.rise;
            ops += " " + Num(rise) + " Ts";
        }
        // A TJ number is in thousandths of the text size, and positive numbers move back.
        ops += " [" + Num(-p.gap * 1000 / size) + " " + PdfString(p.text) + "] TJ";
    }
    pages_[page].content += ops + " ET\n";
}

double PdfBuilder::TextWidth(const std::string &text, double size, const std::string &font) {
    fz_context *ctx = qm::EngineContext();
    fz_font *f = fz_new_base14_font(ctx, font.c_str());
    double w = 0;
    for (size_t i = 0; i < text.size();) {
        int cp = NextCodePoint(text, i);
        if (WinAnsiCode(cp) == '?') cp = '?';  // shown as "?", see PdfString
        w += fz_advance_glyph(ctx, f, fz_encode_character(ctx, f, cp), 0);
    }
    fz_drop_font(ctx, f);
    return w * size;
}

void PdfBuilder::FillRect(int page, double x, double y, double w, double h, Rgb colour) {
    pages_[page].content +=
        "q " + Colour(colour, true) + Num(x) + " " + Num(y) + " " + Num(w) + " " + Num(h) + " re f Q\n";
}

void PdfBuilder::StrokeRect(int page, double x, double y, double w, double h, double lineWidth, Rgb colour) {
    pages_[page].content += "q " + Colour(colour, false) + Num(lineWidth) + " w " + Num(x) + " " + Num(y) + " " +
                            Num(w) + " " + Num(h) + " re S Q\n";
}

void PdfBuilder::Line(int page, double x0, double y0, double x1, double y1, double lineWidth, Rgb colour) {
    pages_[page].content += "q " + Colour(colour, false) + Num(lineWidth) + " w " + Num(x0) + " " + Num(y0) + " m " +
                            Num(x1) + " " + Num(y1) + " l S Q\n";
}

void PdfBuilder::RuledTable(int page, double x, double top, const std::vector<double> &columnWidths, double rowHeight,
                            const std::vector<std::vector<std::string>> &cells, double size) {
    double width = 0;
    for (double w : columnWidths) width += w;
    const double rows = static_cast<double>(cells.size());
    for (size_t r = 0; r <= cells.size(); ++r) Line(page, x, top - rowHeight * r, x + width, top - rowHeight * r, 0.5);
    double edge = x;
    for (size_t c = 0; c <= columnWidths.size(); ++c) {
        Line(page, edge, top, edge, top - rowHeight * rows, 0.5);
        if (c < columnWidths.size()) edge += columnWidths[c];
    }
    for (size_t r = 0; r < cells.size(); ++r) {
        edge = x;
        for (size_t c = 0; c < columnWidths.size(); ++c) {
            if (c < cells[r].size() && !cells[r][c].empty())
                Text(page, edge + 4, top - rowHeight * r - rowHeight + (rowHeight - size) / 2 + 2, cells[r][c], size);
            edge += columnWidths[c];
        }
    }
}

void PdfBuilder::Image(int page, double x, double y, double w, double h, int pw, int ph) {
    std::string name = "Im" + std::to_string(images_.size() + 1);
    images_.push_back(ImageSpec{name, pw, ph});
    pages_[page].xobjects.push_back(name);
    pages_[page].content += "q " + Num(w) + " 0 0 " + Num(h) + " " + Num(x) + " " + Num(y) + " cm /" + name + " Do Q\n";
}

void PdfBuilder::ShadeRect(int page, double x, double y, double w, double h) {
    std::string name = "Sh" + std::to_string(shades_.size() + 1);
    shades_.push_back(ShadeSpec{name, x, y, x + w, y});
    pages_[page].shadings.push_back(name);
    pages_[page].content +=
        "q " + Num(x) + " " + Num(y) + " " + Num(w) + " " + Num(h) + " re W n /" + name + " sh Q\n";
}

void PdfBuilder::SlowStrokes(int page, int count) {
    const int h = static_cast<int>(pages_[page].height), w = static_cast<int>(pages_[page].width);
    std::string ops = "q 0.2 0.4 0.8 RG 40 w 1 J\n";
    for (int i = 0; i < count; ++i) {
        const int y = h > 0 ? i % h : 0;
        ops += "0 " + std::to_string(y) + " m " + std::to_string(w) + " " + std::to_string(h - y) + " l " +
               std::to_string(w / 2) + " 0 l 0 " + std::to_string(h) + " l S\n";
    }
    pages_[page].content += ops + "Q\n";
}

void PdfBuilder::Raw(int page, const std::string &operators) {
    pages_[page].content += operators;
    if (operators.empty() || operators.back() != '\n') pages_[page].content += '\n';
}

void PdfBuilder::SetInfo(const std::string &title, const std::string &author, const std::string &subject) {
    title_ = title;
    author_ = author;
    subject_ = subject;
    hasInfo_ = true;
}

int PdfBuilder::AddOutline(const std::string &title, int page, int parent, double y) {
    outline_.push_back(OutlineEntry{title, page, parent, y});
    return static_cast<int>(outline_.size()) - 1;
}

int PdfBuilder::AddOutlineToPageNumber(const std::string &title, int pageIndex, int parent) {
    outline_.push_back(OutlineEntry{title, pageIndex, parent, -1, true});
    return static_cast<int>(outline_.size()) - 1;
}

int PdfBuilder::AddOutlineToUri(const std::string &title, const std::string &uri, int parent) {
    outline_.push_back(OutlineEntry{title, -1, parent, -1, false, uri});
    return static_cast<int>(outline_.size()) - 1;
}

void PdfBuilder::SetPageTreeCount(double count) { pageTreeCount_ = count; }

void PdfBuilder::LinkToPage(int page, double x0, double y0, double x1, double y1, int targetPage) {
    links_.push_back(Link{page, x0, y0, x1, y1, targetPage, std::string()});
}

void PdfBuilder::LinkToUri(int page, double x0, double y0, double x1, double y1, const std::string &uri) {
    links_.push_back(Link{page, x0, y0, x1, y1, -1, uri});
}

void PdfBuilder::LinkToUriObject(int page, double x0, double y0, double x1, double y1, UriForm form,
                                 const std::string &uri) {
    links_.push_back(Link{page, x0, y0, x1, y1, -1, uri, static_cast<int>(form)});
}

bool PdfBuilder::Build() {
    if (impl_->built) return impl_->doc != nullptr;
    impl_->built = true;
    fz_context *ctx = impl_->ctx;
    pdf_document *doc = nullptr;
    fz_font *ufont = nullptr;
    pdf_obj *ufontRef = nullptr;
    bool ok = true;
    fz_var(doc);
    fz_var(ufont);
    fz_var(ufontRef);
    fz_var(ok);
    // Everything below is engine calls on plain data prepared before the try (no C++ objects with
    // destructors are created inside it, apart from strings whose lifetime ends within each step).
    std::vector<pdf_obj *> fontRefs(fonts_.size(), nullptr);
    std::vector<pdf_obj *> imageRefs(images_.size(), nullptr);
    std::vector<pdf_obj *> shadeRefs(shades_.size(), nullptr);
    std::vector<std::string> contents(pages_.size());
    fz_try(ctx) {
        doc = pdf_create_document(ctx);
        for (size_t i = 0; i < fonts_.size(); ++i) {
            pdf_obj *f = pdf_add_new_dict(ctx, doc, 4);
            pdf_dict_put(ctx, f, PDF_NAME(Type), PDF_NAME(Font));
            pdf_dict_put(ctx, f, PDF_NAME(Subtype), PDF_NAME(Type1));
            pdf_dict_put_name(ctx, f, PDF_NAME(BaseFont), fonts_[i].first.c_str());
            if (fonts_[i].first != "Symbol" && fonts_[i].first != "ZapfDingbats")
                pdf_dict_put(ctx, f, PDF_NAME(Encoding), PDF_NAME(WinAnsiEncoding));
            fontRefs[i] = f;
        }
        if (usesUnicodeFont_) {
            ufont = fz_new_font_from_file(ctx, "DejaVuSans", kUnicodeFontPath, 0, 0);
            ufontRef = pdf_add_cid_font(ctx, doc, ufont);
        }
        for (size_t i = 0; i < images_.size(); ++i) {
            fz_pixmap *pix = fz_new_pixmap(ctx, fz_device_rgb(ctx), images_[i].pw, images_[i].ph, nullptr, 0);
            unsigned char *s = fz_pixmap_samples(ctx, pix);
            int stride = fz_pixmap_stride(ctx, pix);
            for (int y = 0; y < images_[i].ph; ++y)
                for (int x = 0; x < images_[i].pw; ++x) {
                    unsigned char *p = s + y * stride + x * 3;
                    p[0] = static_cast<unsigned char>(x * 255 / (images_[i].pw > 1 ? images_[i].pw - 1 : 1));
                    p[1] = static_cast<unsigned char>(y * 255 / (images_[i].ph > 1 ? images_[i].ph - 1 : 1));
                    p[2] = static_cast<unsigned char>(((x / 4 + y / 4) & 1) ? 200 : 40);
                }
            fz_image *img = fz_new_image_from_pixmap(ctx, pix, nullptr);
            fz_drop_pixmap(ctx, pix);
            fz_try(ctx) imageRefs[i] = pdf_add_image(ctx, doc, img);
            fz_always(ctx) fz_drop_image(ctx, img);
            fz_catch(ctx) fz_rethrow(ctx);
        }
        for (size_t i = 0; i < shades_.size(); ++i) {
            pdf_obj *sh = pdf_add_new_dict(ctx, doc, 4);
            pdf_dict_put_int(ctx, sh, PDF_NAME(ShadingType), 2);
            pdf_dict_put(ctx, sh, PDF_NAME(ColorSpace), PDF_NAME(DeviceRGB));
            pdf_obj *coords = pdf_dict_put_array(ctx, sh, PDF_NAME(Coords), 4);
            pdf_array_push_real(ctx, coords, shades_[i].x0);
            pdf_array_push_real(ctx, coords, shades_[i].y0);
            pdf_array_push_real(ctx, coords, shades_[i].x1);
            pdf_array_push_real(ctx, coords, shades_[i].y1);
            pdf_obj *fn = pdf_dict_put_dict(ctx, sh, PDF_NAME(Function), 4);
            pdf_dict_put_int(ctx, fn, PDF_NAME(FunctionType), 2);
            pdf_obj *domain = pdf_dict_put_array(ctx, fn, PDF_NAME(Domain), 2);
            pdf_array_push_real(ctx, domain, 0);
            pdf_array_push_real(ctx, domain, 1);
            pdf_obj *c0 = pdf_dict_put_array(ctx, fn, PDF_NAME(C0), 3);
            pdf_array_push_real(ctx, c0, 1);
            pdf_array_push_real(ctx, c0, 0);
            pdf_array_push_real(ctx, c0, 0);
            pdf_obj *c1 = pdf_dict_put_array(ctx, fn, PDF_NAME(C1), 3);
            pdf_array_push_real(ctx, c1, 0);
            pdf_array_push_real(ctx, c1, 0);
            pdf_array_push_real(ctx, c1, 1);
            pdf_dict_put_int(ctx, fn, PDF_NAME(N), 1);
            pdf_obj *ext = pdf_dict_put_array(ctx, sh, PDF_NAME(Extend), 2);
            pdf_array_push_bool(ctx, ext, 1);
            pdf_array_push_bool(ctx, ext, 1);
            shadeRefs[i] = sh;
        }
    }
    fz_catch(ctx) ok = false;
    if (!ok) {
        fz_drop_font(ctx, ufont);
        pdf_drop_obj(ctx, ufontRef);
        if (doc) pdf_drop_document(ctx, doc);
        return false;
    }

    // Unicode runs become glyph-id strings of the embedded CID font.
    for (size_t p = 0; p < pages_.size(); ++p) {
        std::string out;
        const std::string &in = pages_[p].content;
        size_t pos = 0;
        for (;;) {
            size_t mark = in.find("%%U", pos);
            if (mark == std::string::npos) {
                out += in.substr(pos);
                break;
            }
            out += in.substr(pos, mark - pos);
            size_t end = in.find('\n', mark);
            std::string list = in.substr(mark + 3, end - mark - 3);
            std::string hex = "<";
            size_t q = 0;
            while (q < list.size()) {
                size_t comma = list.find(',', q);
                int cp = std::atoi(list.substr(q, comma - q).c_str());
                int gid = 0;
                fz_try(ctx) gid = fz_encode_character(ctx, ufont, cp);
                fz_catch(ctx) gid = 0;
                char buf[8];
                std::snprintf(buf, sizeof buf, "%04X", gid & 0xFFFF);
                hex += buf;
                q = comma + 1;
            }
            out += hex + "> Tj ET";
            pos = end;
        }
        contents[p] = out;
    }

    fz_try(ctx) {
        for (size_t p = 0; p < pages_.size(); ++p) {
            pdf_obj *res = pdf_new_dict(ctx, doc, 4);
            pdf_obj *fontDict = pdf_dict_put_dict(ctx, res, PDF_NAME(Font), 4);
            for (size_t i = 0; i < fonts_.size(); ++i) {
                if (fontsWhereUsed_ && pages_[p].content.find("/" + fonts_[i].second + " ") == std::string::npos)
                    continue;
                pdf_dict_puts(ctx, fontDict, fonts_[i].second.c_str(), fontRefs[i]);
            }
            if (ufontRef) pdf_dict_puts(ctx, fontDict, "FU", ufontRef);
            // A page lists only the pictures and shadings it draws ("Im<n>" is images_[n - 1]): listing
            // every one on every page would make long documents quadratic to read.
            pdf_obj *xobj = pdf_dict_put_dict(ctx, res, PDF_NAME(XObject), 4);
            for (const std::string &name : pages_[p].xobjects) {
                const size_t i = std::stoul(name.substr(2)) - 1;
                pdf_dict_puts(ctx, xobj, name.c_str(), imageRefs[i]);
            }
            pdf_obj *shd = pdf_dict_put_dict(ctx, res, PDF_NAME(Shading), 4);
            for (const std::string &name : pages_[p].shadings) {
                const size_t i = std::stoul(name.substr(2)) - 1;
                pdf_dict_puts(ctx, shd, name.c_str(), shadeRefs[i]);
            }
            fz_buffer *buf = fz_new_buffer_from_copied_data(
                ctx, reinterpret_cast<const unsigned char *>(contents[p].data()), contents[p].size());
            pdf_obj *pageObj = nullptr;
            fz_try(ctx) {
                pageObj = pdf_add_page(ctx, doc, fz_make_rect(0, 0, pages_[p].width, pages_[p].height),
                                       pages_[p].rotate, res, buf);
                pdf_insert_page(ctx, doc, -1, pageObj);
            }
            fz_always(ctx) {
                pdf_drop_obj(ctx, pageObj);
                fz_drop_buffer(ctx, buf);
                pdf_drop_obj(ctx, res);
            }
            fz_catch(ctx) fz_rethrow(ctx);
        }
        for (const Link &l : links_) {
            if (l.target < 0 && (l.form >= 0 || !HasUriScheme(l.uri))) {
                // The engine's link maker turns an address without scheme into a file link, so
                // such an annotation is written by hand, as PDF producers store bare addresses.
                pdf_obj *pageObj = pdf_lookup_page_obj(ctx, doc, l.page);
                pdf_obj *annot = pdf_add_new_dict(ctx, doc, 5);
                fz_try(ctx) {
                    pdf_dict_put(ctx, annot, PDF_NAME(Type), PDF_NAME(Annot));
                    pdf_dict_put(ctx, annot, PDF_NAME(Subtype), PDF_NAME(Link));
                    pdf_dict_put_rect(ctx, annot, PDF_NAME(Rect), fz_make_rect(l.x0, l.y0, l.x1, l.y1));
                    pdf_obj *action = pdf_dict_put_dict(ctx, annot, PDF_NAME(A), 2);
                    pdf_dict_put(ctx, action, PDF_NAME(S), PDF_NAME(URI));
                    switch (l.form) {
                    case static_cast<int>(UriForm::Array): {
                        pdf_obj *array = pdf_new_array(ctx, doc, 1);
                        pdf_dict_put_drop(ctx, action, PDF_NAME(URI), array);
                        pdf_array_push_string(ctx, array, l.uri.c_str(), l.uri.size());
                        break;
                    }
                    case static_cast<int>(UriForm::Number):
                        pdf_dict_put_int(ctx, action, PDF_NAME(URI), 7);
                        break;
                    case static_cast<int>(UriForm::Missing):
                        break;
                    default:
                        pdf_dict_put_string(ctx, action, PDF_NAME(URI), l.uri.c_str(), l.uri.size());
                        break;
                    }
                    pdf_obj *annots = pdf_dict_get(ctx, pageObj, PDF_NAME(Annots));
                    if (!pdf_is_array(ctx, annots)) annots = pdf_dict_put_array(ctx, pageObj, PDF_NAME(Annots), 1);
                    pdf_array_push(ctx, annots, annot);
                }
                fz_always(ctx) pdf_drop_obj(ctx, annot);
                fz_catch(ctx) fz_rethrow(ctx);
                continue;
            }
            pdf_page *page = pdf_load_page(ctx, doc, l.page);
            double h = pages_[l.page].height;
            fz_rect r = fz_make_rect(l.x0, h - l.y1, l.x1, h - l.y0);
            char uri[64];
            if (l.target >= 0) std::snprintf(uri, sizeof uri, "#page=%d", l.target + 1);
            fz_try(ctx) {
                fz_link *link = pdf_create_link(ctx, page, r, l.target >= 0 ? uri : l.uri.c_str());
                fz_drop_link(ctx, link);
            }
            fz_always(ctx) fz_drop_page(ctx, reinterpret_cast<fz_page *>(page));
            fz_catch(ctx) fz_rethrow(ctx);
        }
        if (!outline_.empty()) {
            pdf_obj *root = pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root));
            pdf_obj *outlines = pdf_add_new_dict(ctx, doc, 4);
            pdf_dict_put(ctx, outlines, PDF_NAME(Type), PDF_NAME(Outlines));
            std::vector<pdf_obj *> items(outline_.size(), nullptr);
            for (size_t i = 0; i < outline_.size(); ++i) {
                items[i] = pdf_add_new_dict(ctx, doc, 6);
                pdf_dict_put_text_string(ctx, items[i], PDF_NAME(Title), outline_[i].title.c_str());
                if (!outline_[i].uri.empty()) {
                    pdf_obj *action = pdf_dict_put_dict(ctx, items[i], PDF_NAME(A), 2);
                    pdf_dict_put(ctx, action, PDF_NAME(S), PDF_NAME(URI));
                    pdf_dict_put_string(ctx, action, PDF_NAME(URI), outline_[i].uri.c_str(), outline_[i].uri.size());
                } else if (outline_[i].byNumber) {
                    pdf_obj *dest = pdf_dict_put_array(ctx, items[i], PDF_NAME(Dest), 5);
                    pdf_array_push_int(ctx, dest, outline_[i].page);
                    pdf_array_push(ctx, dest, PDF_NAME(XYZ));
                    pdf_array_push_real(ctx, dest, 0);
                    pdf_array_push_real(ctx, dest, 0);
                    pdf_array_push_real(ctx, dest, 0);
                } else if (outline_[i].page >= 0 && outline_[i].page < static_cast<int>(pages_.size())) {
                    pdf_obj *dest = pdf_dict_put_array(ctx, items[i], PDF_NAME(Dest), 5);
                    pdf_array_push(ctx, dest, pdf_lookup_page_obj(ctx, doc, outline_[i].page));
                    pdf_array_push(ctx, dest, PDF_NAME(XYZ));
                    pdf_array_push_real(ctx, dest, 0);
                    pdf_array_push_real(ctx, dest,
                                        outline_[i].y >= 0 ? outline_[i].y : pages_[outline_[i].page].height);
                    pdf_array_push_real(ctx, dest, 0);
                }
            }
            // Link siblings and parents.
            for (size_t i = 0; i < outline_.size(); ++i) {
                pdf_obj *parent = outline_[i].parent >= 0 ? items[outline_[i].parent] : outlines;
                pdf_dict_put(ctx, items[i], PDF_NAME(Parent), parent);
                pdf_obj *last = pdf_dict_get(ctx, parent, PDF_NAME(Last));
                if (last) {
                    pdf_dict_put(ctx, last, PDF_NAME(Next), items[i]);
                    pdf_dict_put(ctx, items[i], PDF_NAME(Prev), last);
                } else {
                    pdf_dict_put(ctx, parent, PDF_NAME(First), items[i]);
                }
                pdf_dict_put(ctx, parent, PDF_NAME(Last), items[i]);
                pdf_dict_put_int(ctx, parent, PDF_NAME(Count), pdf_dict_get_int(ctx, parent, PDF_NAME(Count)) + 1);
            }
            pdf_dict_put(ctx, root, PDF_NAME(Outlines), outlines);
            for (pdf_obj *item : items) pdf_drop_obj(ctx, item);
            pdf_drop_obj(ctx, outlines);
        }
        if (pageTreeCount_ >= 0) {
            pdf_obj *tree = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages");
            if (pageTreeCount_ <= 2147483647.0)
                pdf_dict_put_int(ctx, tree, PDF_NAME(Count), static_cast<int64_t>(pageTreeCount_));
            else
                pdf_dict_put_real(ctx, tree, PDF_NAME(Count), pageTreeCount_);
        }
        if (hasInfo_) {
            pdf_obj *info = pdf_add_new_dict(ctx, doc, 3);
            if (!title_.empty()) pdf_dict_put_text_string(ctx, info, PDF_NAME(Title), title_.c_str());
            if (!author_.empty()) pdf_dict_put_text_string(ctx, info, PDF_NAME(Author), author_.c_str());
            if (!subject_.empty()) pdf_dict_put_text_string(ctx, info, PDF_NAME(Subject), subject_.c_str());
            pdf_dict_put_drop(ctx, pdf_trailer(ctx, doc), PDF_NAME(Info), info);
        }
    }
    fz_catch(ctx) ok = false;

    for (pdf_obj *o : fontRefs) pdf_drop_obj(ctx, o);
    for (pdf_obj *o : imageRefs) pdf_drop_obj(ctx, o);
    for (pdf_obj *o : shadeRefs) pdf_drop_obj(ctx, o);
    pdf_drop_obj(ctx, ufontRef);
    fz_drop_font(ctx, ufont);
    if (!ok) {
        pdf_drop_document(ctx, doc);
        return false;
    }
    impl_->doc = doc;
    return true;
}

bool PdfBuilder::WriteDocument(const std::string &path, bool encrypt, const std::string &user,
                               const std::string &owner) {
    if (!Build()) return false;
    fz_context *ctx = impl_->ctx;
    pdf_write_options opts = pdf_default_write_options;
    opts.do_compress = 1;
    opts.do_garbage = 1;
    if (encrypt) {
        opts.do_encrypt = PDF_ENCRYPT_AES_256;
        opts.permissions = PDF_PERM_PRINT | PDF_PERM_COPY | PDF_PERM_ANNOTATE;
        fz_strlcpy(opts.upwd_utf8, user.c_str(), sizeof opts.upwd_utf8);
        fz_strlcpy(opts.opwd_utf8, owner.c_str(), sizeof opts.opwd_utf8);
    }
    bool ok = true;
    fz_var(ok);
    fz_try(ctx) pdf_save_document(ctx, impl_->doc, path.c_str(), &opts);
    fz_catch(ctx) ok = false;
    return ok;
}

bool PdfBuilder::Save(const std::string &path) { return WriteDocument(path, false, "", ""); }

bool PdfBuilder::SaveEncrypted(const std::string &path, const std::string &userPassword,
                               const std::string &ownerPassword) {
    return WriteDocument(path, true, userPassword, ownerPassword);
}

bool WriteZeroByteFile(const std::string &path) { return qm::WriteFile(path, std::string()); }

bool WriteGarbageFile(const std::string &path, size_t bytes) {
    std::string data(bytes, '\0');
    unsigned v = 12345;
    for (char &c : data) {
        v = v * 1103515245u + 12345u;
        c = static_cast<char>(v >> 16);
    }
    return qm::WriteFile(path, data);
}

bool WriteTruncatedCopy(const std::string &from, const std::string &path, size_t keepBytes) {
    std::string data;
    if (!qm::ReadFile(from, data)) return false;
    if (keepBytes < data.size()) data.resize(keepBytes);
    return qm::WriteFile(path, data);
}

bool WriteSimplePdf(const std::string &path, int pages) {
    PdfBuilder b;
    for (int i = 0; i < pages; ++i) {
        int p = b.AddPage();
        b.Text(p, 72, 720, "Page " + std::to_string(i + 1), 18, "Helvetica-Bold");
        b.Text(p, 72, 690, "The quick brown fox jumps over the lazy dog.", 12);
        b.Text(p, 72, 675, "Pack my box with five dozen liquor jugs.", 12);
    }
    b.SetInfo("Fixture Title", "Fixture Author");
    return b.Save(path);
}

// ---- Catalog edits of a written PDF ----

// Opens the PDF at `path`, lets `edit` change its catalog (inside the engine's error handling),
// and saves it over the file through a temporary file beside it. false when a step fails.
bool RewriteCatalog(const std::string &path,
                    const std::function<void(fz_context *, pdf_document *, pdf_obj *root)> &edit) {
    fz_context *ctx = qm::EngineContext();
    const std::string temp = path + ".rewrite";
    pdf_document *doc = nullptr;
    const qm::EngineStatus status = qm::EngineTry(ctx, [&](fz_context *c) {
        doc = pdf_open_document(c, path.c_str());
        edit(c, doc, pdf_dict_get(c, pdf_trailer(c, doc), PDF_NAME(Root)));
        pdf_write_options opts = pdf_default_write_options;
        pdf_save_document(c, doc, temp.c_str(), &opts);
    });
    pdf_drop_document(ctx, doc);
    return status && std::rename(temp.c_str(), path.c_str()) == 0;
}

// ---- The document's language (catalog /Lang) ----

bool SetCatalogLanguage(const std::string &path, const std::string &lang, bool asName) {
    return RewriteCatalog(path, [&](fz_context *ctx, pdf_document *, pdf_obj *root) {
        if (asName)
            pdf_dict_put_name(ctx, root, PDF_NAME(Lang), lang.c_str());
        else
            pdf_dict_put_text_string(ctx, root, PDF_NAME(Lang), lang.c_str());
    });
}

// ---- Page labels (printed page numbers) ----

bool AddPageLabels(const std::string &path, const std::vector<PageLabel> &labels) {
    return RewriteCatalog(path, [&](fz_context *ctx, pdf_document *doc, pdf_obj *root) {
        pdf_obj *tree = pdf_new_dict(ctx, doc, 1);
        pdf_obj *nums = pdf_dict_put_array(ctx, tree, PDF_NAME(Nums), 2 * static_cast<int>(labels.size()));
        for (const PageLabel &l : labels) {
            pdf_array_push_int(ctx, nums, l.pageIndex);
            pdf_obj *range = pdf_array_push_dict(ctx, nums, 3);
            if (!l.style.empty()) pdf_dict_put_name(ctx, range, PDF_NAME(S), l.style.c_str());
            if (!l.prefix.empty()) pdf_dict_put_text_string(ctx, range, PDF_NAME(P), l.prefix.c_str());
            if (l.start != 1) pdf_dict_puts_drop(ctx, range, "St", pdf_new_int(ctx, l.start));
        }
        pdf_dict_puts_drop(ctx, root, "PageLabels", tree);
    });
}

} // namespace qmtest

namespace qmtest {

// ---- Pages set in columns ----

std::vector<std::string> NumberedSentences(const std::string &tag, int count) {
    static const char *const kTails[] = {
        "tells the reader how the long evening passed in the quiet town by the river.",
        "follows the narrow road past the mill and over the hill to the old farm.",
        "keeps every word of the story in the order that its writer set them down.",
    };
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i)
        out.push_back(tag + " sentence " + std::to_string(i + 1) + " " + kTails[i % 3]);
    return out;
}

double ColumnParagraph(PdfBuilder &b, int page, double x, double y, double width,
                       const std::vector<std::string> &sentences, double size) {
    std::vector<std::string> words;
    for (const std::string &s : sentences) {
        size_t at = 0;
        while (at < s.size()) {
            size_t end = s.find(' ', at);
            if (end == std::string::npos) end = s.size();
            if (end > at) words.push_back(s.substr(at, end - at));
            at = end + 1;
        }
    }
    const double leading = size * 1.2;
    std::string line;
    for (const std::string &w : words) {
        std::string next = line.empty() ? w : line + " " + w;
        if (!line.empty() && PdfBuilder::TextWidth(next, size) > width) {
            b.Text(page, x, y, line, size, "Times-Roman");
            y -= leading;
            line = w;
        } else {
            line = next;
        }
    }
    if (!line.empty()) {
        b.Text(page, x, y, line, size, "Times-Roman");
        y -= leading;
    }
    return y - leading;
}

// ---- Headings ----

namespace {

// A paragraph of body text from `top` down, `lines` lines of 12 pt leading; returns the baseline
// below it.
double BodyParagraph(PdfBuilder &b, int page, double top, int lines, const std::string &topic) {
    static const char *const kLines[] = {
        "The program reads every page of the document and writes the text it finds",
        "into paragraphs that a reading system can flow to the width of its screen,",
        "keeping the order of the sentences and the pictures that stand between them",
        "so that nothing of what the page said is lost on the way into the book."};
    double y = top;
    for (int i = 0; i < lines; ++i) {
        std::string text = kLines[i % 4];
        if (i == 0) text = topic + " " + text.substr(text.find(' ') + 1);
        b.Text(page, 72, y, text, 10);
        y -= 12;
    }
    return y - 12;
}

} // namespace

bool WriteHeadingsPdf(const std::string &path, bool bookmarks) {
    PdfBuilder b;
    for (int i = 0; i < 3; ++i) {
        const int p = b.AddPage();
        b.Text(p, 72, 760, "Program Manual 5.4", 10, "Helvetica-Bold");
        b.Text(p, 300, 40, std::to_string(i + 1), 10);
    }
    double y = 700;
    b.Text(0, 72, y, "Chapter One Overview", 24);
    y = BodyParagraph(b, 0, y - 30, 4, "Then");
    b.Text(0, 72, y, "Installing the Program", 16);
    y = BodyParagraph(b, 0, y - 22, 4, "First");
    b.Text(0, 72, y, "Choosing a Folder", 12);
    y = BodyParagraph(b, 0, y - 16, 3, "Next");
    b.Text(0, 72, y, "Before You Start", 10, "Helvetica-Bold");
    y = BodyParagraph(b, 0, y - 14, 3, "Also");
    // One bold word inside a paragraph's line.
    b.TextLine(0, 72, y, {{"Read the", 0, "Helvetica", 10}, {"warning", 3, "Helvetica-Bold", 10},
                          {"before you go on with the steps below.", 3, "Helvetica", 10}});
    y = BodyParagraph(b, 0, y - 12, 2, "Then");
    // Two short bold cells of one row.
    b.Text(0, 72, y, "Name", 10, "Helvetica-Bold");
    b.Text(0, 300, y, "Value", 10, "Helvetica-Bold");
    BodyParagraph(b, 0, y - 14, 2, "Last");

    y = 700;
    b.Text(1, 72, y, "Chapter Two Usage", 24);
    y = BodyParagraph(b, 1, y - 30, 8, "Now");
    b.Text(1, 72, y, "Running a Conversion", 16);
    BodyParagraph(b, 1, y - 22, 8, "Here");

    y = 700;
    b.Text(2, 72, y, "Appendix Notes", 12);
    BodyParagraph(b, 2, y - 16, 8, "Finally");

    if (bookmarks) {
        b.AddOutline("First Bookmark", 0);
        b.AddOutline("Second Bookmark", 2);
    }
    b.SetInfo("Headings", "Fixture Author");
    return b.Save(path);
}

} // namespace qmtest

// ---- Running heads and page numbers ----
namespace qmtest {

namespace {

// A word for `n` from letters that never spell a roman numeral.
std::string PlainWord(int n) {
    static const char kLetters[] = "abefghjknopqrstuwyz";
    const int base = static_cast<int>(sizeof kLetters) - 1;
    std::string w;
    n = n < 0 ? -n : n;
    do {
        w += kLetters[n % base];
        n /= base;
    } while (n > 0);
    while (w.size() < 3) w += 'o';
    return w;
}

std::string Roman(int n) {
    static const std::pair<int, const char *> kParts[] = {{10, "x"}, {9, "ix"}, {5, "v"}, {4, "iv"}, {1, "i"}};
    std::string out;
    for (const auto &[v, s] : kParts)
        while (n >= v) {
            out += s;
            n -= v;
        }
    return out;
}

} // namespace

std::string ManualBodyLine(int pageIndex, int line) {
    return "Paragraph " + PlainWord(pageIndex * 7 + line + 11) + " tells of " + PlainWord(pageIndex * 13 + line * 3 + 5) +
           " and more.";
}

std::string ManualChapterTitle(int chapter) {
    static const char *kTitles[] = {"Getting started", "Installing the program", "Working with books",
                                    "Settings and options", "Troubleshooting"};
    return kTitles[chapter % 5];
}

bool WriteManualPdf(const std::string &path, int front, int chapters, int chapterPages) {
    PdfBuilder b;
    auto body = [&](int p, double top) {
        for (int line = 0; line < kManualBodyLines; ++line)
            b.Text(p, 72, top - line * 14, ManualBodyLine(p, line), 11, "Times-Roman");
    };
    auto foot = [&](int p) { b.Text(p, 200, 30, "Copyright 2026 Example Press", 8, "Helvetica"); };
    for (int i = 0; i < front; ++i) {
        const int p = b.AddPage();
        body(p, 700);
        b.Text(p, 300, 45, Roman(i + 1), 9, "Times-Roman");
        foot(p);
    }
    for (int c = 0; c < chapters; ++c)
        for (int k = 0; k < chapterPages; ++k) {
            const int p = b.AddPage();
            const int number = p + 1 - front;
            if (k == 0) {
                b.Text(p, 72, 690, ManualChapterTitle(c), 20, "Helvetica-Bold");
                body(p, 650);
                b.Text(p, 300, 45, std::to_string(number), 9, "Times-Roman");
            } else {
                if ((p + 1) % 2 == 0) {
                    b.Text(p, 72, 760, std::to_string(number) + "  Program Manual 5.4", 9, "Helvetica");
                } else {
                    b.Text(p, 72, 760, "Section " + std::to_string(c + 1) + " - " + ManualChapterTitle(c), 9,
                           "Helvetica");
                    b.Text(p, 530, 760, std::to_string(number), 9, "Helvetica");
                }
                body(p, 736);
            }
            foot(p);
        }
    b.SetInfo("Program Manual", "Fixture Author");
    return b.Save(path);
}

} // namespace qmtest

// ---- Printed contents pages without page labels ----
namespace qmtest {

bool WritePrintedContentsPdf(const std::string &path, int front, int body,
                             const std::vector<PrintedContentsEntry> &entries, bool twoColumns, int jumpFrom) {
    PdfBuilder b;
    b.Text(b.AddPage(), 72, 700, "A Handbook", 24);
    const int toc = b.AddPage();
    b.Text(toc, 72, 720, "Contents", 18, "Helvetica-Bold");
    const double size = 11;
    const size_t perColumn = twoColumns ? (entries.size() + 1) / 2 : entries.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool right = i >= perColumn;
        const double x = right ? 330 : 72;
        const double columnEnd = twoColumns ? (right ? 540 : 282) : 540;
        const double y = 680 - 20.0 * static_cast<double>(right ? i - perColumn : i);
        const std::string &title = entries[i].title, &number = entries[i].number;
        const double titleEnd = x + PdfBuilder::TextWidth(title, size);
        const double numberX = columnEnd - PdfBuilder::TextWidth(number, size);
        const int dots = static_cast<int>((numberX - titleEnd - 12) / PdfBuilder::TextWidth(".", size));
        b.Text(toc, x, y, title, size, "Times-Roman");
        b.Text(toc, titleEnd + 6, y, std::string(static_cast<size_t>(std::max(dots, 3)), '.'), size, "Times-Roman");
        b.Text(toc, numberX, y, number, size, "Times-Roman");
    }
    for (int p = 3; p <= front; ++p) b.Text(b.AddPage(), 72, 700, "Front matter text");
    for (int k = 1; k <= body; ++k) {
        const int p = b.AddPage();
        b.Text(p, 72, 700, "Body page " + std::to_string(k));
        b.Text(p, 300, 40, std::to_string(jumpFrom > 0 && k >= jumpFrom ? k + 5 : k), 10);
    }
    return b.Save(path);
}

} // namespace qmtest

// ---- Running heads that carry the chapter's title ----
namespace qmtest {

std::string ChapterHeadTitle(int chapter) {
    static const char *kNames[] = {"Rivers", "Mountains", "Forests", "Deserts", "Oceans", "Glaciers",
                                   "Meadows", "Islands", "Canyons", "Harbours", "Valleys", "Plateaus"};
    return "Chapter " + std::to_string(chapter + 1) + ": " + kNames[chapter % 12];
}

bool WriteChapterHeadsPdf(const std::string &path, int chapters, int chapterPages, int plainTopPage) {
    PdfBuilder b;
    for (int c = 0; c < chapters; ++c)
        for (int k = 0; k < chapterPages; ++k) {
            const int p = b.AddPage();
            if (k == 0) {
                b.Text(p, 72, 690, ChapterHeadTitle(c), 24, "Helvetica-Bold");
            } else if (p == plainTopPage) {
                b.Text(p, 72, 760, ManualBodyLine(p, 0), 9, "Helvetica");
                for (int line = 1; line < kManualBodyLines; ++line)
                    b.Text(p, 72, 750 - line * 14, ManualBodyLine(p, line), 11, "Times-Roman");
            } else {
                b.Text(p, 72, 760, ChapterHeadTitle(c), 9, "Helvetica");
                for (int line = 0; line < kManualBodyLines; ++line)
                    b.Text(p, 72, 736 - line * 14, ManualBodyLine(p, line), 11, "Times-Roman");
            }
            b.Text(p, 300, 45, std::to_string(p + 1), 9, "Times-Roman");
        }
    b.SetInfo("Landscapes", "Fixture Author");
    return b.Save(path);
}

} // namespace qmtest

// ---- A small book for Strict runs ----
namespace qmtest {

void DrawStrictBookPages(PdfBuilder &pdf) {
    for (int i = 0; i < 3; ++i) {
        const int p = pdf.AddPage();
        pdf.Text(p, 72, 770, "Running Head Alpha", 10);
        pdf.Text(p, 300, 20, "Folio " + std::to_string(i + 1), 10);
        pdf.Text(p, 72, 600, "Body text of page " + std::to_string(i + 1), 12);
    }
    pdf.Text(0, 72, 400, "Secret remark", 12);
    pdf.FillRect(1, 100, 200, 200, 150, Rgb{0.2, 0.6, 0.9});
    pdf.Text(1, 120, 250, "Diagram label", 12);
}

} // namespace qmtest
