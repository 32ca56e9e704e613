// quillmark-cli: the command-line face of the converter core.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

int main(int argc, char **argv) {
    CLI::App app{"Quillmark: PDF files to EPUB 2 books, from the command line."};
    app.require_subcommand(1);
    app.set_version_flag("--version", "quillmark-cli " QM_VERSION);
    qmcli::Runner run;
    qmcli::RegisterInfoCommand(app, run);
    qmcli::RegisterConvertCommand(app, run);
    qmcli::RegisterBuildCommand(app, run);
    qmcli::RegisterInspectCommand(app, run);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    return run ? run() : 2;
}
