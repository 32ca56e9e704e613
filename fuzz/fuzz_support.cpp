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

std::string &Root() {
    static std::string root;
    return root;
}

void RemoveRoot() {
    if (!Root().empty()) qm::DeleteFolderTree(Root());
}

} // namespace

void Setup() {
    if (!Root().empty()) return;
    qm::SetLogSink(qm::LogSink());
    std::string pattern = qm::TempFolder() + "qmfz_XXXXXX";
    if (!mkdtemp(pattern.data())) Fail("mkdtemp", pattern);
    Root() = pattern + "/";
    setenv("TMPDIR", Root().c_str(), 1);
    std::atexit(RemoveRoot);
    xmlInitParser();
}

const std::string &ScratchRoot() { return Root(); }

InputFolder::InputFolder(const std::string &name) : path_(ScratchRoot() + name + "/") {
    qm::DeleteFolderTree(path_);
    if (!qm::CreateFolder(path_)) Fail("cannot create the input folder", path_);
}

InputFolder::~InputFolder() { qm::DeleteFolderTree(path_); }

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

void Fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    if (!detail.empty()) std::fprintf(stderr, "---\n%s\n---\n", detail.c_str());
    std::fflush(stderr);
    RemoveRoot();  // the abort skips the exit handlers
    std::abort();
}

} // namespace qmfuzz
