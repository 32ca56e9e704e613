#include "extract/links.h"

#include <algorithm>
#include <cmath>

#include "extract/text_extract.h"
#include "platform/log.h"

namespace qm {
LinksRead LoadPageLinks(fz_context *ctx, fz_document *doc, fz_page *page, std::vector<PageLink> &links) {
    links.clear();
    if (!ctx || !doc || !page) return LinksRead::Read;
    fz_link *list = nullptr;
    fz_var(list);
    fz_try(ctx) list = fz_load_links(ctx, page);
    fz_catch(ctx) {
        LogWarning("cannot read the links of the page: " + std::string(fz_caught_message(ctx)));
        return LinksRead::EngineFailed;
    }
    int pageCount = 0;
    fz_var(pageCount);
    fz_try(ctx) pageCount = fz_count_pages(ctx, doc);
    fz_catch(ctx) pageCount = 0;
    for (fz_link *l = list; l; l = l->next) {
        PageLink link;
        link.area = RoundOut(l->rect);
        const char *uri = l->uri ? l->uri : "";
        int external = 0;
        fz_var(external);
        fz_try(ctx) external = fz_is_external_link(ctx, uri);
        fz_catch(ctx) external = 0;
        if (external || (uri[0] != '#' && uri[0] != 0)) {
            link.kind = PageLink::Uri;
            link.uri = uri;
        } else if (uri[0] == '#') {
            link.kind = PageLink::InDocument;
            int number = -1;
            fz_var(number);
            fz_try(ctx) {
                float x = 0, y = 0;
                fz_location loc = fz_resolve_link(ctx, doc, uri, &x, &y);
                number = fz_page_number_from_location(ctx, doc, loc);
            }
            fz_catch(ctx) number = -1;
            link.page = (number >= 0 && number < pageCount) ? number + 1 : 0;
        } else {
            continue;  // an empty target: nothing to point at
        }
        links.push_back(std::move(link));
    }
    fz_drop_link(ctx, list);
    return LinksRead::Read;
}

const PageLink *FindLinkForChar(const std::vector<PageLink> &links, const IntBox &c) {
    // Containment either way, or an overlap of at least two units both across and down.
    constexpr int tolerance = 2;
    for (const PageLink &link : links) {
        const IntBox &a = link.area;
        int ox = std::min(a.x1, c.x1) - std::max(a.x0, c.x0);
        int oy = std::min(a.y1, c.y1) - std::max(a.y0, c.y0);
        if (ox >= tolerance && oy >= tolerance) return &link;
    }
    return nullptr;
}

} // namespace qm
