// "info": opens a PDF and prints its page count, Info metadata and outline.
#include <mupdf/fitz.h>

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "platform/prompt.h"

namespace qmcli {
namespace {

struct InfoArgs {
    std::string file;
    std::string password;
};

std::string Metadata(qm::PdfDocument &doc, const char *key) {
    auto lock = doc.Lock();
    fz_context *ctx = qm::EngineContext();
    char buf[1024] = {0};
    int n = -1;
    fz_try(ctx) n = fz_lookup_metadata(ctx, doc.Document(), key, buf, sizeof buf);
    fz_catch(ctx) n = -1;
    return n > 0 ? std::string(buf) : std::string();
}

void PrintOutline(fz_outline *node, int depth) {
    for (; node; node = node->next) {
        std::printf("%*s- %s (page %d)\n", depth * 2, "", node->title ? node->title : "", node->page.page + 1);
        PrintOutline(node->down, depth + 1);
    }
}

int RunInfo(const InfoArgs &args) {
    qm::ConsolePrompt prompt;
    qm::PdfDocument doc;
    doc.SetPrompt(&prompt);
    doc.Reset();
    if (doc.Open(args.file, args.password, "") != 0) {
        std::fprintf(stderr, "%s: Can't open the pdf file.\n", args.file.c_str());
        return 1;
    }
    std::printf("File: %s\n", args.file.c_str());
    std::printf("Pages: %d\n", doc.PageCount());
    std::printf("Title: %s\n", doc.Title() ? doc.Title()->c_str() : "");
    std::printf("Author: %s\n", Metadata(doc, "info:Author").c_str());
    std::printf("Subject: %s\n", Metadata(doc, "info:Subject").c_str());
    std::printf("Outline:%s\n", doc.Outline() ? "" : " (none)");
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
