#pragma once
// The PDF outline in the book: an outline page (a nested list of links into the page files) and a
// file of NCX navPoint elements that the package writer puts into the navMap of "toc.ncx". The
// writers themselves are members of DocumentConverter (xhtml/document_converter.h); these are the
// helpers they share with the page text writer and the tests.
#include <string>

namespace qm {

// Name of the page file holding PDF page `page` (1-based): pages share files of 15 in text mode,
// one file per page in imaging mode.
int PageFileNumber(int page, bool imaging);

// A URI from the PDF as it goes into an href, before XML escaping: an address without a scheme
// gets "mailto:" (an e-mail address) or "http://" (anything with a dot); addresses that carry a
// scheme are kept as they are.
std::string LinkUri(const std::string &uri);

} // namespace qm
