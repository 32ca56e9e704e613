#include "support/corpus.h"

#include "support/pdf_fixture.h"
#include "support/varied_pages.h"

namespace qmtest {

bool WriteTextPdf(const std::string &path, int pages) {
    PdfBuilder b;
    const std::string line = "The keeper climbed the tower at dusk and trimmed the wick before the ships came.";
    for (int i = 0; i < pages; ++i) {
        int p = b.AddPage();
        b.Text(p, 72, 740, "Chapter " + std::to_string(i + 1), 18, "Helvetica-Bold");
        for (int l = 0; l < 40; ++l) b.Text(p, 72, 710 - l * 15, line, 10, l % 7 == 0 ? "Times-Italic" : "Times-Roman");
    }
    b.SetInfo("Generated", "Bench");
    return b.Save(path);
}

bool WriteTwoColumnPdf(const std::string &path, int pages) {
    PdfBuilder b;
    const char *left = "Ships knew the light by its rhythm, two flashes and a pause";
    const char *right = "When fog came down the horn sounded once every minute";
    for (int i = 0; i < pages; ++i) {
        int p = b.AddPage();
        b.Text(p, 72, 740, "Section " + std::to_string(i + 1) + " of the keeper's log", 16, "Helvetica-Bold");
        for (int l = 0; l < 36; ++l) {
            b.Text(p, 72, 700 - l * 16, left, 9, "Times-Roman");
            b.Text(p, 320, 700 - l * 16, right, 9, "Times-Roman");
        }
        b.Text(p, 300, 40, std::to_string(i + 1), 9, "Times-Roman");
    }
    b.SetInfo("Two Columns", "Bench", "Layout");
    return b.Save(path);
}

bool WritePicturePdf(const std::string &path, int pages) {
    PdfBuilder b;
    const std::string line = "The lens turned on its bed of mercury, throwing the beam far out to sea.";
    for (int i = 0; i < pages; ++i) {
        int p = b.AddPage();
        b.Text(p, 72, 740, "Plate " + std::to_string(i + 1), 16, "Helvetica-Bold");
        b.Image(p, 72, 520, 220, 180, 64, 48);
        b.Image(p, 320, 520, 220, 180, 48, 64);
        b.FillRect(p, 72, 470, 468, 30, {0.2, 0.4, 0.6});
        for (int l = 0; l < 24; ++l) b.Text(p, 72, 440 - l * 15, line, 10, "Times-Roman");
    }
    b.SetInfo("Plates", "Bench", "Pictures");
    return b.Save(path);
}

bool WriteMixedPdf(const std::string &path) {
    PdfBuilder b;
    int p0 = b.AddPage();
    b.Text(p0, 72, 720, "The Lamp Room", 24, "Helvetica-Bold");
    b.Text(p0, 72, 690, "See the chart on the next page, or write to the keeper.", 11, "Times-Roman");
    b.Text(p0, 72, 670, "www.example.net/lamps", 11, "Times-Roman");
    b.Text(p0, 72, 650, "keeper@example.org", 11, "Times-Roman");
    b.Text(p0, 72, 630, "https://example.com/tides?day=1&hour=2", 11, "Times-Roman");
    b.LinkToPage(p0, 70, 686, 300, 702, 1);
    b.LinkToUri(p0, 70, 666, 200, 682, "www.example.net/lamps");
    b.LinkToUri(p0, 70, 646, 200, 662, "mailto:keeper@example.org");
    b.LinkToUri(p0, 70, 626, 300, 642, "https://example.com/tides?day=1&hour=2");
    b.Image(p0, 72, 400, 200, 150, 32, 24);
    b.FillRect(p0, 300, 400, 100, 100, {0.8, 0.1, 0.1});
    b.StrokeRect(p0, 420, 400, 100, 100, 2, {0.1, 0.1, 0.8});
    int p1 = b.AddPage();
    b.Text(p1, 72, 720, "Tide Chart", 20, "Helvetica-Bold");
    for (int i = 0; i < 10; ++i) {
        b.Line(p1, 72, 680 - i * 20, 540, 680 - i * 20, 0.5);
        b.Text(p1, 80, 685 - i * 20, "Day " + std::to_string(i + 1), 10, "Courier");
        b.Text(p1, 300, 685 - i * 20, std::to_string(6 + i % 5) + ":" + std::to_string(10 + i * 3), 10, "Courier");
    }
    b.ShadeRect(p1, 72, 300, 300, 80);
    AddVariedPages(b);
    int top = b.AddOutline("The Lamp Room", 0);
    b.AddOutline("Tide Chart", 1, top);
    b.AddOutline("Drawings", 2);
    b.SetInfo("Mixed Pages", "Bench", "Pictures and links");
    return b.Save(path);
}

} // namespace qmtest
