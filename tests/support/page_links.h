#pragma once
// Page links as the engine side hands them over, for tests of anchors and hrefs.
#include <string>

#include "extract/links.h"

namespace qmtest {

inline qm::PageLink ToPage(int page) {
    qm::PageLink link;
    link.kind = qm::PageLink::InDocument;
    link.page = page;
    return link;
}

inline qm::PageLink ToUri(const std::string &uri) {
    qm::PageLink link;
    link.kind = qm::PageLink::Uri;
    link.uri = uri;
    return link;
}

} // namespace qmtest
