#pragma once
// Helpers of the package-writer tests: small valid content files, a prompt that records what it
// was told, and masking of the parts of a package file that change from run to run.
#include <string>
#include <vector>

#include "epub/epub_builder.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "support/recording_prompt.h"

namespace qmtest {


// A minimal XHTML 1.1 page holding an element with id `anchor`.
inline std::string XhtmlPage(const std::string &anchor = "top") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" \"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title></head>\n"
           "<body><p id=\"" +
           anchor + "\">Text.</p></body></html>\n";
}

// A 1 x 1 PNG.
inline std::string TinyPng() {
    static const unsigned char kPng[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
        0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00,
        0x0C, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0xC9,
        0xFE, 0x92, 0xEF, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    return std::string(reinterpret_cast<const char *>(kPng), sizeof kPng);
}

// Writes a content file into `folder` with contents fitting its extension; returns its full path.
inline std::string MakeContentFile(const std::string &folder, const std::string &name) {
    std::string ext = name.substr(name.rfind('.') == std::string::npos ? name.size() : name.rfind('.') + 1);
    std::string body;
    if (ext == "html" || ext == "htm" || ext == "xhtml" || ext == "xml") body = XhtmlPage();
    else if (ext == "png") body = TinyPng();
    else if (ext == "css") body = "p { margin: 0; }\n";
    else if (ext == "svg")
        body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
               "version=\"1.1\" width=\"10\" height=\"10\"><rect width=\"5\" height=\"5\"/></svg>\n";
    else if (ext == "xpgt")
        body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ade:template "
               "xmlns:ade=\"http://ns.adobe.com/2006/ade\"></ade:template>\n";
    else if (ext == "js") body = "var x = 1;\n";
    else body = std::string("\0\1\2binary", 9);
    qm::WriteFile(folder + name, body);
    return folder + name;
}

// True when `text` at `at` has `pattern`'s shape: 'h' a lowercase hex digit, 'd' a decimal digit,
// '4' and 'v' the UUID version and variant digits, anything else itself.
inline bool HasShape(const std::string &text, size_t at, const std::string &pattern) {
    if (at + pattern.size() > text.size()) return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = text[at + i], p = pattern[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (p == 'h' ? !hex : p == 'd' ? !(c >= '0' && c <= '9') : p == 'v' ? std::string("89ab").find(c) == std::string::npos : c != p)
            return false;
    }
    return true;
}

// Replaces the fresh identifier (a version 4 UUID) and today's date by fixed markers.
inline std::string MaskVolatile(std::string text) {
    const std::string uuid = "urn:uuid:", uuidShape = "hhhhhhhh-hhhh-4hhh-vhhh-hhhhhhhhhhhh";
    for (size_t p = 0; (p = text.find(uuid, p)) != std::string::npos; ++p)
        if (HasShape(text, p + uuid.size(), uuidShape)) text.replace(p, uuid.size() + uuidShape.size(), "UUID");
    const std::string date = "<dc:date opf:event=\"original-publication\">";
    for (size_t p = 0; (p = text.find(date, p)) != std::string::npos; ++p)
        if (HasShape(text, p + date.size(), "dddd-dd-dd<")) text.replace(p + date.size(), 10, "DATE");
    return text;
}

// A literal with "\t" written as the two characters backslash and t, for readable goldens.
inline std::string Tabs(std::string text) {
    for (size_t p; (p = text.find("\\t")) != std::string::npos;) text.replace(p, 2, 1, '\t');
    return text;
}

} // namespace qmtest
