// "inspect": captures one page and prints its items in order - what the converter saw on it.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "extract/contents_page.h"
#include "extract/layout.h"
#include "extract/page_capture.h"
#include "extract/region_editor.h"
#include "extract/running_heads.h"
#include "options/conversion_options.h"
#include "options/page_edits.h"
#include "pdf/pdf_document.h"
#include "platform/prompt.h"
#include "platform/utf8.h"

namespace qmcli {
namespace {

struct InspectArgs {
    std::string file;
    std::string password;
    int page = 1;
    int dpi = 72;
    bool json = false;
    bool blocks = false;
    std::string columns = "auto";  // the page's column mode before the edits, as convert sets it
    std::string edits;  // edits file applied to the page before it is printed
};

std::string RunText(const qm::PageItem &item) {
    std::string s;
    if (!item.command || !item.command->text) return s;
    const auto &g = item.command->text->glyphs;
    for (int k = item.firstGlyph; k < item.firstGlyph + item.glyphCount && k < static_cast<int>(g.size()); ++k)
        if (g[k].unicode >= 32) qm::AppendUtf8(s, static_cast<uint32_t>(g[k].unicode));
    return s;
}

std::string JsonString(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string BoxText(const qm::IntBox &b, bool json) {
    char buf[96];
    std::snprintf(buf, sizeof buf, json ? "[%d, %d, %d, %d]" : "%d,%d,%d,%d", b.x0, b.y0, b.x1, b.y1);
    return buf;
}

// A view-space box in PDF points from the page's top-left corner: the units of an edits file.
std::string PointsText(const qm::PageModel &model, const qm::IntBox &b, bool json) {
    const float scale = fz_matrix_expansion(model.viewTransform);
    const qm::IntBox &v = model.viewDeviceBox;
    auto pt = [&](int pixels, int origin) { return scale > 0 ? (pixels - origin) / scale : 0.0f; };
    char buf[160];
    std::snprintf(buf, sizeof buf, json ? "[%.2f, %.2f, %.2f, %.2f]" : "%.1f,%.1f,%.1f,%.1f", pt(b.x0, v.x0),
                  pt(b.y0, v.y0), pt(b.x1, v.x0), pt(b.y1, v.y0));
    return buf;
}

// What the user set on an item or group: "table", "graphic", "disabled", joined by blanks.
std::string StateText(int mark, int disabled) {
    std::string s = mark == 1 ? "table" : mark == 2 ? "graphic" : "";
    if (disabled == 1) s += s.empty() ? "disabled" : " disabled";
    return s;
}

std::string MemberText(const qm::PageItem &item) {
    if (item.command && qm::IsTextKind(item.command->kind)) return RunText(item);
    return std::string("[") + (item.command ? qm::CommandKindName(item.command->kind) : "Detached") + "]";
}

std::string GroupText(const qm::ItemGroup &group) {
    std::string text = "[" + (group.mark == 1 ? std::string("table") : group.mark == 2 ? "graphic" : "group");
    if (group.disabled == 1) text += " disabled";
    text += ":";
    for (const qm::PageItem *m : group.members) text += " " + MemberText(*m) + (m == group.members.back() ? "" : " |");
    return text + "]";
}

// The page's options and crop margins (points), and what the user excluded, as --blocks prints
// them after the blocks.
void PrintPageState(const InspectArgs &args, const qm::PageModel &model) {
    const qm::PageLayout *page = model.Current();
    const qm::PageParseOptions &o = page->options;
    const float scale = fz_matrix_expansion(model.viewTransform);
    auto pt = [&](int pixels) { return scale > 0 ? pixels / scale : 0.0f; };
    std::vector<std::string> excluded;
    for (const auto &group : page->groups)
        if (group->disabled == 1) excluded.push_back(GroupText(*group));
    for (const auto &item : page->items)
        if (item->disabled == 1 && !model.IsBlankRun(*item)) excluded.push_back(MemberText(*item));
    if (args.json) {
        std::printf(", \"options\": {\"columns\": %d, \"noOutput\": %s, \"imageWholePage\": %s, \"ignoreImages\": %s, "
                    "\"ignoreVector\": %s, \"paragraphCheck\": %s, \"alignCheck\": %s}, \"crop\": %s, \"disabled\": [",
                    o.columnMode, o.noOutput ? "true" : "false", o.imageWholePage ? "true" : "false",
                    o.ignoreImages ? "true" : "false", o.ignoreVectorGraphics ? "true" : "false",
                    o.paragraphCheck ? "true" : "false", o.alignCheck ? "true" : "false",
                    PointsText(model, page->cropRect, true).c_str());
        for (size_t i = 0; i < excluded.size(); ++i) std::printf("%s%s", i ? ", " : "", JsonString(excluded[i]).c_str());
        std::printf("]");
        return;
    }
    std::printf("options: columns %d%s%s%s%s%s%s\n", o.columnMode, o.noOutput ? ", no output" : "",
                o.imageWholePage ? ", imaging entire page" : "", o.ignoreImages ? ", ignore images" : "",
                o.ignoreVectorGraphics ? ", ignore vector graphics" : "", o.paragraphCheck ? "" : ", no paragraph check",
                o.alignCheck ? "" : ", no align check");
    const auto &m = page->margins;
    std::printf("margins (points): left %.1f, top %.1f, right %.1f, bottom %.1f\n", pt(m[0]), pt(m[1]), pt(m[2]),
                pt(m[3]));
    for (const std::string &text : excluded) std::printf("disabled: %s\n", text.c_str());
}

// The page's blocks in reading order, as the page body would hand them to the writer before
// running heads are left out; the runs a conversion leaves out as running heads and page numbers
// are marked, and so are the runs it writes as printed contents entries (listed after the blocks
// with the pages they lead to).
int PrintBlocks(const InspectArgs &args, qm::PageModel &model, const std::vector<fz_rect> &runningHeads,
                const qm::ContentsPage &contents) {
    qm::PageLayout *page = model.Current();
    qm::LayoutPage layout = qm::MakeLayoutPage(model);
    const std::vector<qm::IntBox> headAreas = qm::RunningHeadViewBoxes(runningHeads, layout.viewTransform);
    qm::BlockList list;
    int autoColumns = 0;
    int n = qm::AnalysePageBody(layout, page->items, page->groups, list, qm::LayoutEngine::Indexed, &autoColumns);
    if (!args.json) std::printf("Page %d of %s: %d blocks in reading order\n", args.page, args.file.c_str(), n < 0 ? 0 : n);
    if (args.json) std::printf("{\"file\": %s, \"page\": %d, \"blocks\": [\n", JsonString(args.file).c_str(), args.page);
    for (int i = 0; i < n; ++i) {
        const qm::TextBlock &b = list.blocks[static_cast<size_t>(i)];
        int members = 0;
        std::string text;
        for (const qm::BlockMember *m = b.first; m; m = m->next) {
            ++members;
            std::string part;
            if (m->isGroup) {
                part = m->group ? GroupText(*m->group) : "[group]";
            } else {
                part = MemberText(*m->item);
                const std::string state = StateText(m->item->mark, m->item->disabled);
                if (!state.empty()) part += " {" + state + "}";
                if (qm::IsTextItem(*m->item) && qm::InsideRunningHead(headAreas, m->item->viewBox))
                    part += " {running head}";
                if (contents.Holds(m->item)) part += " {contents}";
            }
            if (!text.empty()) text += " | ";
            text += part;
        }
        if (args.json)
            std::printf("%s  {\"box\": %s, \"members\": %d, \"text\": %s}", i ? ",\n" : "", BoxText(b.box, true).c_str(),
                        members, JsonString(text).c_str());
        else
            std::printf("%3d %-20s %4d  %s\n", i, BoxText(b.box, false).c_str(), members, text.c_str());
    }
    if (args.json) std::printf("\n]");
    if (!contents.Empty()) {
        if (args.json) std::printf(", \"contents\": [");
        for (size_t i = 0; i < contents.entries.size(); ++i) {
            const qm::ContentsEntry &e = contents.entries[i];
            if (args.json)
                std::printf("%s{\"title\": %s, \"page\": %d, \"level\": %d}", i ? ", " : "",
                            JsonString(e.title).c_str(), e.page, e.level);
            else
                std::printf("contents: %s -> page %d%s\n", e.title.c_str(), e.page,
                            e.level ? (" (level " + std::to_string(e.level) + ")").c_str() : "");
        }
        if (args.json) std::printf("]");
    }
    // What automatic column detection decided, when the page asks for it.
    if (autoColumns > 0) {
        if (args.json)
            std::printf(", \"autoColumns\": %d", autoColumns);
        else
            std::printf("columns: auto -> %d\n", autoColumns);
    }
    PrintPageState(args, model);
    if (args.json) std::printf("}\n");
    return 0;
}

int RunInspect(const InspectArgs &args) {
    qm::ConsolePrompt prompt;
    qm::PdfDocument doc;
    doc.SetPrompt(&prompt);
    if (doc.Open(args.file, args.password, "") != qm::OpenResult::Opened) {
        std::fprintf(stderr, "%s: Can't open the pdf file.\n", args.file.c_str());
        return 1;
    }
    if (args.page < 1 || args.page > doc.PageCount()) {
        std::fprintf(stderr, "%s: no page %d (the document has %d).\n", args.file.c_str(), args.page,
                     doc.PageCount());
        return 1;
    }
    qm::PageEdits edits;
    if (!args.edits.empty()) {
        std::string problem;
        if (!qm::LoadPageEdits(args.edits, edits, problem)) {
            std::fprintf(stderr, "%s: %s\n", args.edits.c_str(), problem.c_str());
            return 2;
        }
        if (edits.HighestPage() > doc.PageCount()) {
            std::fprintf(stderr, "%s: the edits name page %d, but the document has %d.\n", args.file.c_str(),
                         edits.HighestPage(), doc.PageCount());
            return 1;
        }
    }
    // Running heads are learned from the document's sample of pages, as a conversion does.
    const qm::RunningHeadPatterns heads = args.blocks ? qm::FindRunningHeads(doc) : qm::RunningHeadPatterns();
    qm::PageModel model;
    qm::PageCapture capture(doc, model);
    capture.outputDpi = args.dpi;
    auto lock = doc.Lock();
    const qm::CaptureResult drawn = capture.Capture(args.page, 800, 600);
    doc.EndPageRun();
    if (drawn != qm::CaptureResult::Captured) {
        std::fprintf(stderr, "%s: page %d could not be drawn.\n", args.file.c_str(), args.page);
        return 1;
    }
    // The column mode is the page's default, as a conversion's --columns is; the edits may
    // change it for the page.
    model.Current()->options.columnMode =
        qm::ColumnModeFromName(args.columns).value_or(static_cast<int32_t>(qm::ColumnMode::AutoDetect));
    qm::ApplyPageEdits(model, edits);
    if (args.blocks) {
        // Heads that change per chapter are checked against the neighbouring pages, as in a conversion.
        qm::RunningHeadNeighbours neighbours;
        const std::vector<fz_rect> headAreas = neighbours.Areas(heads, model, doc);
        // The printed contents entries an Automatic conversion would link (it reads the entries
        // from the page's text, the PDF's links being left out by default), running heads left out.
        qm::ContentsPage contents;
        qm::LayoutPage layout = qm::MakeLayoutPage(model);
        layout.runningHeads = qm::RunningHeadViewBoxes(headAreas, layout.viewTransform);
        qm::FindContentsPage(layout, {}, qm::DocumentNumbering(doc, &heads), contents, &prompt);
        return PrintBlocks(args, model, headAreas, contents);
    }
    const qm::PageLayout *page = model.Current();
    if (args.json) {
        std::printf("{\"file\": %s, \"page\": %d, \"outputDpi\": %d, \"viewDpi\": %d, \"outputBox\": %s, "
                    "\"viewBox\": %s, \"commands\": %zu, \"items\": [\n",
                    JsonString(args.file).c_str(), args.page, model.outputResolution, model.viewResolution,
                    BoxText(model.outputDeviceBox, true).c_str(), BoxText(model.viewDeviceBox, true).c_str(),
                    model.commands ? model.commands->commands.size() : size_t(0));
    } else {
        std::printf("Page %d of %s: output %d dpi box %s, view %d dpi box %s, %zu commands\n", args.page,
                    args.file.c_str(), model.outputResolution, BoxText(model.outputDeviceBox, false).c_str(),
                    model.viewResolution, BoxText(model.viewDeviceBox, false).c_str(),
                    model.commands ? model.commands->commands.size() : size_t(0));
        std::printf("%5s %-18s %5s %-20s %-20s %s\n", "seq", "kind", "cmd", "view", "output", "run");
    }
    bool first = true;
    for (const auto &itemPtr : page->items) {
        const qm::PageItem &item = *itemPtr;
        qm::CommandKind kind = item.command ? item.command->kind : qm::CommandKind::FillPath;
        bool text = item.command && qm::IsTextKind(kind);
        const char *name = item.command ? qm::CommandKindName(kind) : "Detached";
        if (args.json) {
            std::printf("%s  {\"seq\": %d, \"kind\": \"%s\", \"command\": %d, \"view\": %s, \"output\": %s, \"box\": %s",
                        first ? "" : ",\n", item.seq, name, item.commandIndex, BoxText(item.viewBox, true).c_str(),
                        BoxText(item.outputBox, true).c_str(), PointsText(model, item.viewBox, true).c_str());
            if (item.mark != 0) std::printf(", \"mark\": \"%s\"", item.mark == 1 ? "table" : "graphic");
            if (item.disabled == 1) std::printf(", \"disabled\": true");
            if (item.group)
                for (size_t g = 0; g < page->groups.size(); ++g)
                    if (page->groups[g].get() == item.group) std::printf(", \"group\": %zu", g);
            if (text)
                std::printf(", \"firstGlyph\": %d, \"glyphCount\": %d, \"text\": %s, \"blank\": %s", item.firstGlyph,
                            item.glyphCount, JsonString(RunText(item)).c_str(),
                            model.IsBlankRun(item) ? "true" : "false");
            std::printf("}");
        } else {
            std::printf("%5d %-18s %5d %-20s %-20s", item.seq, name, item.commandIndex,
                        BoxText(item.viewBox, false).c_str(), BoxText(item.outputBox, false).c_str());
            if (text)
                std::printf(" glyphs %d+%d%s \"%s\"", item.firstGlyph, item.glyphCount,
                            model.IsBlankRun(item) ? " blank" : "", RunText(item).c_str());
            std::printf("\n");
        }
        first = false;
    }
    if (args.json) std::printf("\n]}\n");
    return 0;
}

} // namespace

void RegisterInspectCommand(CLI::App &app, Runner &run) {
    auto args = std::make_shared<InspectArgs>();
    CLI::App *cmd = app.add_subcommand("inspect", "Capture one page and print its items in order");
    cmd->add_option("file", args->file, "PDF file")->required();
    cmd->add_option("--page", args->page, "Page number (from 1)")->default_val(1);
    cmd->add_option("--dpi", args->dpi, "Output resolution in dpi")->default_val(72)->check(CLI::Range(20, 1200));
    cmd->add_flag("--json", args->json, "Print JSON");
    cmd->add_flag("--blocks", args->blocks, "Print the page's blocks in reading order instead of its items");
    AddColumnsOption(*cmd, args->columns, "With --blocks: the column mode, as convert's --columns", true);
    cmd->add_option("--password", args->password, "Password of an encrypted PDF");
    cmd->add_option("--edits", args->edits,
                    "Apply the page's entries of this edits file first (convert --mode strict --edits)");
    cmd->callback([args, &run] { run = [args] { return RunInspect(*args); }; });
}

} // namespace qmcli
