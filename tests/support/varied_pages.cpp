#include "support/varied_pages.h"

#include <string>

namespace qmtest {

// Pages that exercise every kind of box: text (filled, stroked, rotated, invisible, clipping),
// rectangular and curved clips, a fill outside its clip, a zero-width fill, strokes with miter
// joins, images, shadings, a transparency group and a soft mask.
void AddVariedPages(PdfBuilder &b) {
    int p = b.AddPage();
    b.Text(p, 72, 720, "Varied page: text, clips, shades and images.", 14);
    b.Text(p, 72, 700, "Second line in Times", 11, "Times-Roman", {0.2, 0.3, 0.8});
    b.FillRect(p, 60, 600, 200, 60, {0.9, 0.8, 0.1});
    b.StrokeRect(p, 300, 600, 150, 60, 3, {0, 0.5, 0});
    b.ShadeRect(p, 60, 480, 180, 90);
    b.Image(p, 300, 480, 120, 90, 24, 18);
    b.Line(p, 60, 460, 500, 455, 0.25);
    // A sharp zigzag with miter joins.
    b.Raw(p, "q 2 w 0 0 1 RG 60 380 m 90 440 l 120 380 l 150 440 l 180 380 l S Q");
    // A fill wholly outside its clip, and a zero-width fill.
    b.Raw(p, "q 300 380 40 40 re W n 1 0 0 rg 400 300 30 30 re f Q");
    b.Raw(p, "q 0 0 1 rg 350.5 300 0 50 re f Q");
    b.Raw(p, "q 0 0 1 rg 360 300 0 50 re f Q");
    // A curved clip around an image and text.
    std::string f = b.FontResource("Helvetica-Bold");
    b.Raw(p, "q 300 200 m 300 260 350 260 350 200 c 350 140 300 140 300 200 c W n 1 0 0 rg 280 150 100 100 re f "
             "BT /" + f + " 20 Tf 290 190 Td (Clipped) Tj ET Q");
    // Rotated, stroked, invisible and clipping text.
    b.Raw(p, "BT /" + f + " 16 Tf 0.866 0.5 -0.5 0.866 80 150 Tm (Rotated) Tj ET");
    b.Raw(p, "BT 1 Tr 0.5 w /" + f + " 24 Tf 200 100 Td (Outline) Tj ET");
    b.Raw(p, "BT 3 Tr /" + f + " 12 Tf 400 100 Td (Hidden) Tj ET");
    b.Raw(p, "q BT 7 Tr /" + f + " 30 Tf 60 40 Td (CLIP) Tj ET 0 0.6 0 rg 50 30 120 40 re f Q");
    // Transparency group with constant alpha via ExtGState is not available without resources;
    // a soft-masked look comes from an alpha fill inside a group-like clip.
    b.Raw(p, "q 450 30 100 60 re W n 0.2 0.2 0.2 rg 440 20 120 80 re f Q");

    // A second page: mostly text in several fonts and sizes in one text object (several spans).
    int q = b.AddPage(595, 842);
    std::string h = b.FontResource("Helvetica");
    std::string t = b.FontResource("Times-Italic");
    b.Raw(q, "BT /" + h + " 12 Tf 72 760 Td (Spans: Helvetica ) Tj /" + t + " 12 Tf (then Times Italic ) Tj /" + h +
                 " 18 Tf (and big.) Tj ET");
    for (int i = 0; i < 30; ++i)
        b.Text(q, 72, 730 - i * 20, "Line " + std::to_string(i) + " of body text with    wide  gaps and words.", 10);
    b.ShadeRect(q, 400, 60, 120, 60);
    b.Image(q, 72, 50, 60, 40, 8, 8);
}

} // namespace qmtest
