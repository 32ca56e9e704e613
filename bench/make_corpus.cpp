// Writes the generated documents that the benchmarks and the book comparison convert:
//   make_corpus FOLDER           text-100.pdf (a novel-like text document), two-column.pdf (pages set
//                                in two columns under a full-width heading), mixed.pdf (pictures,
//                                drawings, links to pages and addresses, an outline and pages with
//                                every kind of drawing the capture boxes)
//   make_corpus FOLDER PAGES     text-PAGES.pdf, two-column-PAGES.pdf and pictures-PAGES.pdf, each
//                                PAGES pages long (the long documents of bench/pipeline)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/corpus.h"

int main(int argc, char **argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_corpus FOLDER [PAGES]\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    bool ok = false;
    if (argc == 2) {
        ok = qmtest::WriteTextPdf(dir + "text-100.pdf", 100) && qmtest::WriteTwoColumnPdf(dir + "two-column.pdf", 12) &&
             qmtest::WriteMixedPdf(dir + "mixed.pdf");
    } else {
        const int pages = std::atoi(argv[2]);
        if (pages <= 0) {
            std::fprintf(stderr, "make_corpus: PAGES must be a positive number\n");
            return 2;
        }
        const std::string n = std::to_string(pages);
        ok = qmtest::WriteTextPdf(dir + "text-" + n + ".pdf", pages) &&
             qmtest::WriteTwoColumnPdf(dir + "two-column-" + n + ".pdf", pages) &&
             qmtest::WritePicturePdf(dir + "pictures-" + n + ".pdf", pages);
    }
    if (!ok) {
        std::fprintf(stderr, "make_corpus: cannot write the documents into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
