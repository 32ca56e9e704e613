#include "fuzz_support.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/log.h"
#include "platform/paths.h"

namespace qmfuzz {
namespace {

// The folder of the input that is running, for Fail (an abort skips every destructor).
std::string &CurrentFolder() {
    static std::string folder;
    return folder;
}

} // namespace

void Setup() {
    static bool done = false;
    if (done) return;
    done = true;
    qm::SetLogSink(qm::LogSink());
    xmlInitParser();
}

InputFolder::InputFolder() {
    std::string pattern = qm::TempFolder() + "qmfz_XXXXXX";
    if (!mkdtemp(pattern.data())) Fail("cannot create the input folder", pattern);
    path_ = pattern + "/";
    if (const char *tmp = std::getenv("TMPDIR")) {
        hadTmpdir_ = true;
        savedTmpdir_ = tmp;
    }
    setenv("TMPDIR", path_.c_str(), 1);
    CurrentFolder() = path_;
}

InputFolder::~InputFolder() {
    if (hadTmpdir_)
        setenv("TMPDIR", savedTmpdir_.c_str(), 1);
    else
        unsetenv("TMPDIR");
    qm::DeleteFolderTree(path_);
    CurrentFolder().clear();
}

std::string InputFolder::Write(const std::string &name, const uint8_t *data, size_t size) const {
    std::string path = path_ + name;
    std::string bytes(reinterpret_cast<const char *>(data), size);
    if (!qm::WriteFile(path, bytes)) Fail("cannot write the input file", path);
    return path;
}

bool IsWellFormedXml(const std::string &text, const std::string &root) {
    if (text.size() > 0x7fffffff) return false;
    xmlDoc *doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return false;
    bool ok = true;
    if (!root.empty()) {
        xmlNode *r = xmlDocGetRootElement(doc);
        ok = r && r->name && root == reinterpret_cast<const char *>(r->name);
    }
    xmlFreeDoc(doc);
    return ok;
}

namespace {

void CollectHrefs(const xmlNode *node, std::vector<std::string> &out) {
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        const bool anchor = node->name && std::strcmp(reinterpret_cast<const char *>(node->name), "a") == 0;
        for (const xmlAttr *a = anchor ? node->properties : nullptr; a; a = a->next) {
            if (!a->name || std::strcmp(reinterpret_cast<const char *>(a->name), "href") != 0) continue;
            xmlChar *v = xmlNodeGetContent(reinterpret_cast<const xmlNode *>(a));
            out.emplace_back(v ? reinterpret_cast<const char *>(v) : "");
            xmlFree(v);
        }
        CollectHrefs(node->children, out);
    }
}

} // namespace

std::vector<std::string> AnchorHrefs(const std::string &xml) {
    std::vector<std::string> out;
    if (xml.size() > 0x7fffffff) return out;
    xmlDoc *doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return out;
    CollectHrefs(xmlDocGetRootElement(doc), out);
    xmlFreeDoc(doc);
    return out;
}

void Fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    if (!detail.empty()) std::fprintf(stderr, "---\n%s\n---\n", detail.c_str());
    std::fflush(stderr);
    if (!CurrentFolder().empty()) qm::DeleteFolderTree(CurrentFolder());  // the abort skips destructors
    std::abort();
}

} // namespace qmfuzz
