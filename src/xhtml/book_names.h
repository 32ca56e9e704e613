#pragma once
// How the book names its page files and anchors, and how a link of the PDF (a page link, an
// outline entry) becomes an href. The page writer, the outline writers, the block writer and the
// document builder all take these rules from here.
#include <string>
#include <vector>

namespace qm {

struct ConversionJob;
struct PageLink;

// Pages that share one XHTML file in text mode.
constexpr int kPagesPerFile = 15;

// Pages that share one XHTML file for a job: 1 in imaging mode, otherwise (also without a job)
// kPagesPerFile.
int PagesPerFile(const ConversionJob *job);

// The first page (1-based) of the file that holds `page`; the file is named after it.
int FirstPageOfFile(int page, int pagesPerFile);

// Whether a job's content files are named ".xhtml" rather than ".html" (EPUB 3 books, whose
// readers expect that extension for XHTML documents).
bool XhtmlFileNames(const ConversionJob *job);

// "page-N.html" (or "page-N.xhtml"): the page file whose first page is N.
std::string PageFileName(int firstPage, bool xhtml = false);

// "title_page.html" (or "title_page.xhtml"): the page that shows the cover picture.
std::string TitlePageName(bool xhtml = false);

// "page-P": the id of the anchor that starts page P inside its file.
std::string PageAnchorId(int page);

// "page-F.html#page-P": the anchor of page P in its file. Nothing for a page outside 1..pageCount.
std::string PageLinkTarget(int page, int pageCount, int pagesPerFile, bool xhtml = false);

// "heading-P-K": the id of heading K (from 1) of page P. Never equal to a page's anchor id.
std::string HeadingAnchorId(int page, int index);

// "page-F.html#heading-P-K": that heading in the file that holds page P.
std::string HeadingLinkTarget(int page, int index, int pagesPerFile, bool xhtml = false);

// Whether `uri` starts with a scheme as URI references have it: a letter, then letters, digits,
// "+", "-" or ".", then ":" (so a reference in a document is either absolute or a path).
bool HasUriScheme(const std::string &uri);

// Appends `c` as a percent escape ("%2F": two upper-case hex digits), as every address the book
// writes encodes a byte it may not hold.
void AppendPercentEscape(std::string &out, unsigned char c);

// An address as a valid URL, for an href or src: blanks, controls, bytes beyond ASCII (UTF-8
// bytes of a letter) and the characters a URL may not hold (<>\^`{|} and the double quote) are
// percent-encoded, as are a "%" that starts no escape and a second "#". An escape already
// there ("%20") stays as it is, so encoding twice changes nothing.
std::string UrlEncoded(const std::string &address);

// An address from the PDF (a URI link or outline entry, as the engine reports it) as it goes
// into an href, before XML escaping; empty when it leads nowhere.
// - The engine reads an address stored without a scheme ("www.example.org") as relative to the
//   base "file://" and reports "file://www.example.org"; that prefix is undone. A file URI whose
//   path starts with "/" is kept.
// - A scheme with a dot or one followed by a port number ("www.example.org:8080",
//   "localhost:8080/a") is read as a host: producers store bare hosts.
// - An address without a scheme gets "mailto:" (with "@" and a dot) or "http://" (with a dot in
//   its host, the part before any "/", "?" or "#"); any other would name a file of the book that
//   does not exist ("name", "docs/x.pdf", "../a.html"): it leads nowhere.
// - Bare schemes ("http://", "mailto:", "file://"), web addresses without a plain host (one with
//   an empty label: "http://../a") and scripts ("javascript:") lead nowhere.
// - Blanks, controls and bytes beyond ASCII are percent-encoded, so the result is plain ASCII.
std::string AddressHref(const std::string &engineUri);

// The href of a page's link, escaped for an attribute: PageLinkTarget for a link to a page,
// AddressHref for an address; empty when it leads nowhere.
std::string LinkHref(const PageLink &link, int pageCount, int pagesPerFile, bool xhtml = false);

// The links of a page that get anchors, each with its href (in the same order). An address that
// leads nowhere gives no anchor: the text under it stays, and the book keeps only links a reader
// can follow. A link to a page outside the document keeps an empty href.
struct LinkAnchors {
    std::vector<PageLink> links;
    std::vector<std::string> hrefs;
};
LinkAnchors AnchorsForLinks(const std::vector<PageLink> &links, int pageCount, int pagesPerFile, bool xhtml = false);

} // namespace qm
