#pragma once
// The PDF outline in the book: an outline page (a nested list of links into the page files) and a
// file of NCX navPoint elements that the package writer puts into the navMap of "toc.ncx". The
// writers themselves are members of DocumentConverter (xhtml/document_converter.h); the page file
// names, link targets and address rules they share with the page writer live in xhtml/book_names.h.
#include "xhtml/book_names.h"
