// Writes samples/sample.pdf, the small book the demo converts: a title page, a chapter of running
// text with a web link and a link to a later page, a two-column page, and a page with a picture
// and a vector drawing; with an outline and Info metadata. All text is original.
//   make_sample OUTPUT.pdf
#include <cstdio>
#include <string>
#include <vector>

#include "support/pdf_fixture.h"

namespace {

// Greedy word wrap by character count (the fonts are proportional, so the count is a budget).
std::vector<std::string> Wrap(const std::string &text, size_t width) {
    std::vector<std::string> lines;
    std::string line, word;
    auto flushWord = [&] {
        if (word.empty()) return;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
        word.clear();
    };
    for (char c : text) {
        if (c == ' ')
            flushWord();
        else
            word += c;
    }
    flushWord();
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// Writes a paragraph from (x, y) downwards; returns the y below it.
double Paragraph(qmtest::PdfBuilder &b, int page, double x, double y, const std::string &text, size_t width,
                 double size = 11, double leading = 14, const std::string &font = "Times-Roman") {
    for (const std::string &line : Wrap(text, width)) {
        b.Text(page, x, y, line, size, font);
        y -= leading;
    }
    return y - leading * 0.6;
}

const char *kChapterOne[] = {
    "Every evening at dusk the keeper climbed the hundred and twelve steps of the tower, counting them "
    "aloud as his father had taught him, and trimmed the wick before the first ship rounded the cape. "
    "The almanac on his desk recorded tides, winds and the names of vessels that passed in the night.",
    "In winter the storms came from the north-west and the spray reached the gallery windows. He kept "
    "a second lamp ready, a tin of oil and a coil of rope, and wrote in the margin of each page what "
    "the sea had been like that day: grey and patient, or white and furious, or simply gone in fog.",
    "Visitors were rare. A supply boat came on the first Monday of every month with flour, paraffin, "
    "letters and newspapers a fortnight old. The keeper read the newspapers in order, one a day, so "
    "that the news arrived at the same pace as it had been printed.",
};

const char *kColumnText[] = {
    "The lamp itself was a marvel of brass and glass. Its lens, built from concentric prisms, gathered "
    "the light of a single flame and sent it in a beam that could be seen twenty miles away on a clear "
    "night. Cleaning the prisms took a whole morning.",
    "A clockwork mechanism turned the lens once every thirty seconds. It had to be wound by hand every "
    "four hours, and the keeper set an alarm to wake him twice in the night for the task.",
    "Ships knew the lighthouse by its rhythm: two flashes, a pause, then one long flash. Each light on "
    "the coast had its own pattern, printed in the pilot books so that a navigator could name it.",
    "When the fog was too thick for the beam, the keeper sounded the horn instead, a low note repeated "
    "every minute, which the fishermen said sounded like an old cow calling for her calf.",
};

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample OUTPUT.pdf\n");
        return 2;
    }
    qmtest::PdfBuilder b;

    // Page 1: title page.
    int title = b.AddPage();
    b.Text(title, 120, 600, "The Lighthouse Keeper's Almanac", 26, "Helvetica-Bold");
    b.Text(title, 190, 560, "A short sample book for Quillmark", 14, "Helvetica-Oblique");
    b.Text(title, 250, 500, "by Ada Marlowe", 12, "Helvetica");
    b.FillRect(title, 120, 470, 372, 2, {0.1, 0.3, 0.6});

    // Page 2: running text with links.
    int ch1 = b.AddPage();
    b.Text(ch1, 72, 720, "Chapter One: The Tower", 20, "Helvetica-Bold");
    double y = 690;
    for (const char *p : kChapterOne) y = Paragraph(b, ch1, 72, y, p, 88);
    b.Text(ch1, 72, y, "More about lighthouses: https://example.org/lighthouses", 11, "Times-Roman", {0, 0, 0.8});
    b.LinkToUri(ch1, 72, y - 3, 340, y + 11, "https://example.org/lighthouses");
    y -= 22;
    b.Text(ch1, 72, y, "See the drawing of the lamp on the last page.", 11, "Times-Italic");
    b.LinkToPage(ch1, 72, y - 3, 300, y + 11, 3);

    // Page 3: two columns.
    int cols = b.AddPage();
    b.Text(cols, 72, 720, "Chapter Two: The Lamp", 20, "Helvetica-Bold");
    double left = 690, right = 690;
    for (int i = 0; i < 4; ++i) {
        if (i < 2)
            left = Paragraph(b, cols, 72, left, kColumnText[i], 40, 10, 13);
        else
            right = Paragraph(b, cols, 324, right, kColumnText[i], 40, 10, 13);
    }

    // Page 4: a picture and a vector drawing.
    int fig = b.AddPage();
    b.Text(fig, 72, 720, "Chapter Three: Pictures", 20, "Helvetica-Bold");
    b.Image(fig, 72, 480, 220, 200, 64, 64);
    b.Text(fig, 72, 462, "Figure 1. The lens in evening light.", 10, "Helvetica-Oblique");
    // A bar chart of ships sighted per season.
    const double bars[] = {40, 95, 70, 25};
    b.Line(fig, 330, 500, 540, 500, 1.5);
    b.Line(fig, 330, 500, 330, 680, 1.5);
    for (int i = 0; i < 4; ++i) b.FillRect(fig, 345 + i * 50, 501, 32, bars[i] * 1.6, {0.2, 0.4 + i * 0.1, 0.7});
    b.Text(fig, 330, 462, "Figure 2. Ships sighted per season.", 10, "Helvetica-Oblique");
    y = 420;
    y = Paragraph(b, fig, 72, y,
                  "Spring brought the most ships, when the fishing fleets left harbour together. Winter was quiet, "
                  "and some weeks passed without a single sail on the horizon.",
                  88);

    b.SetInfo("The Lighthouse Keeper's Almanac", "Ada Marlowe", "A sample book for Quillmark");
    b.AddOutline("Title Page", title);
    int c1 = b.AddOutline("Chapter One: The Tower", ch1);
    b.AddOutline("Links", ch1, c1, 400);
    b.AddOutline("Chapter Two: The Lamp", cols);
    b.AddOutline("Chapter Three: Pictures", fig);
    if (!b.Save(argv[1])) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
