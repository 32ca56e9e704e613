// Bytes as one of the user's documents, converted the way the documents builder puts it into a
// book: plain text wrapped in a page, or any HTML parsed and reduced to XHTML 1.1. The result
// must always be a well-formed XHTML page.
//
// Input layout: byte 0 chooses the conversion (bit 0: HTML, else text) and how the HTML's
// relative addresses are resolved (bits 1-2: none given, kept, rewritten into a folder, dropped);
// the text up to the first line feed within the next 80 bytes is the title; the rest is the
// document.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "worker/book_builder.h"

namespace {

qm::ReferenceResolver MakeResolver(unsigned choice) {
    switch (choice) {
    case 1:
        return [](const std::string &address, qm::ReferenceKind) { return address; };
    case 2:
        return [](const std::string &address, qm::ReferenceKind kind) {
            return std::string(kind == qm::ReferenceKind::Picture ? "images/" : "text/") + address;
        };
    case 3:
        return [](const std::string &, qm::ReferenceKind) { return std::string(); };
    default:
        return nullptr;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    qmfuzz::Setup();
    if (size == 0) return 0;
    const unsigned selector = data[0];
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    std::string title = "Document";
    const size_t eol = rest.find('\n');
    if (eol != std::string::npos && eol <= 80) {
        title = rest.substr(0, eol);
        rest.erase(0, eol + 1);
    }

    std::string page;
    if (selector & 1)
        page = qm::HtmlToXhtml(rest, title, MakeResolver((selector >> 1) & 3));
    else
        page = qm::TextToXhtml(rest, title);
    QMFUZZ_CHECK(qmfuzz::IsWellFormedXml(page, "html"), page);
    QMFUZZ_CHECK(qm::IsWellFormedXhtml(page), page);
    return 0;
}
