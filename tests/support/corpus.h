#pragma once
// Generated documents shared by the benchmarks and the book comparison script: larger than test
// fixtures, still written in-process with the engine's writer.
#include <string>

namespace qmtest {

// A novel-like document: a bold heading and 40 lines of Times text per page (every seventh italic).
bool WriteTextPdf(const std::string &path, int pages);
// Pages with a full-width heading over two columns of justified-looking text.
bool WriteTwoColumnPdf(const std::string &path, int pages);
// Pages of text with two pictures and a filled box each (a long document with pictures).
bool WritePicturePdf(const std::string &path, int pages);
// Pictures, vector drawings, links to pages and web and mail addresses, an outline of two levels,
// Info metadata, and the varied capture pages.
bool WriteMixedPdf(const std::string &path);

} // namespace qmtest
