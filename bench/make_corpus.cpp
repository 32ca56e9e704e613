// Writes the generated documents that the benchmarks and the book comparison convert:
//   make_corpus FOLDER
// text-100.pdf (a novel-like text document), two-column.pdf (pages set in two columns under a
// full-width heading), mixed.pdf (pictures, drawings, links to pages and addresses, an outline and
// pages with every kind of drawing the capture boxes).
#include <cstdio>
#include <string>

#include "support/corpus.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus FOLDER\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    bool ok = qmtest::WriteTextPdf(dir + "text-100.pdf", 100) && qmtest::WriteTwoColumnPdf(dir + "two-column.pdf", 12) &&
              qmtest::WriteMixedPdf(dir + "mixed.pdf");
    if (!ok) {
        std::fprintf(stderr, "make_corpus: cannot write the documents into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
