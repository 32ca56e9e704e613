// "info": opens a PDF and prints its page count, Info metadata and outline.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "pdf/pdf_document.h"
#include "platform/prompt.h"

namespace qmcli {
namespace {

struct InfoArgs {
    std::string file;
    std::string password;
};

void PrintOutline(const std::vector<qm::OutlineEntry> &entries, int depth) {
    for (const qm::OutlineEntry &entry : entries) {
        // Only an entry that leads to a place in the document has a page (the engine reports
        // page 0 for one without a target).
        const bool toPage = !entry.uri.empty() && entry.uri[0] == '#' && !entry.external && entry.page >= 0;
        if (toPage)
            std::printf("%*s- %s (page %d)\n", depth * 2, "", entry.title.c_str(), entry.page + 1);
        else
            std::printf("%*s- %s\n", depth * 2, "", entry.title.c_str());
        PrintOutline(entry.children, depth + 1);
    }
}

int RunInfo(const InfoArgs &args) {
    qm::ConsolePrompt prompt;
    qm::PdfDocument doc;
    doc.SetPrompt(&prompt);
    if (doc.Open(args.file, args.password, "") != qm::OpenResult::Opened) {
        std::fprintf(stderr, "%s: Can't open the pdf file.\n", args.file.c_str());
        return 1;
    }
    std::printf("File: %s\n", args.file.c_str());
    std::printf("Pages: %d\n", doc.PageCount());
    std::printf("Title: %s\n", doc.InfoEntry("Title").value_or("").c_str());
    std::printf("Author: %s\n", doc.InfoEntry("Author").value_or("").c_str());
    std::printf("Subject: %s\n", doc.InfoEntry("Subject").value_or("").c_str());
    std::printf("Outline:%s\n", doc.Outline().empty() ? " (none)" : "");
    PrintOutline(doc.Outline(), 1);
    return 0;
}

} // namespace

void RegisterInfoCommand(CLI::App &app, Runner &run) {
    auto args = std::make_shared<InfoArgs>();
    CLI::App *cmd = app.add_subcommand("info", "Print a PDF's page count, title, author and outline");
    cmd->add_option("file", args->file, "PDF file")->required();
    cmd->add_option("--password", args->password, "Password of an encrypted PDF");
    cmd->callback([args, &run] { run = [args] { return RunInfo(*args); }; });
}

} // namespace qmcli
