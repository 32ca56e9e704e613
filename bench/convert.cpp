// Whole conversions, PDF to finished book, through the batch run as quillmark-cli uses it: pages
// per second and peak memory for the bundled sample and generated 100- and 500-page text
// documents, next to the engine's own text extraction of the same pages (mutool draw -F txt:
// interpretation without rendering, the floor no converter can beat) and a plain 72 dpi render.
// Each measurement runs in a child process so that its peak memory is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "options/conversion_options.h"
#include "pdf/pdf_document.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "support/corpus.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "worker/conversion_worker.h"

namespace {

struct Figure {
    double seconds = 0;
    long peakKb = 0;
    bool ok = false;
};

// Runs `body` in a child process; wall time and the child's peak resident memory.
template <typename F>
Figure Measure(F body) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) _exit(body() ? 0 : 1);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    Figure f;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.peakKb = usage.ru_maxrss;
    f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return f;
}

bool Convert(const std::string &pdf, const std::string &outFolder, int parseMode) {
    qm::ConversionOptions options;
    options.outputFolder = outFolder;
    options.overwriteExisting = 1;
    options.parseMode = parseMode;
    qm::ConsolePrompt prompt(false, true);
    qm::ConversionObserver observer;
    qm::ConversionRun run(options, prompt, observer);
    run.retryDelayMs = 0;
    if (run.StartConversion({pdf}, {qm::FileNamePart(pdf)}, false) != qm::StartResult::Started) return false;
    run.Wait();
    return run.State().successCount == 1;
}

bool Mutool(const std::string &args) { return std::system(("mutool draw -q " + args + " >/dev/null 2>&1").c_str()) == 0; }

void Row(const char *what, int pages, const Figure &f) {
    std::printf("  %-28s %8.2f s %9.1f pages/s %8.1f MB peak%s\n", what, f.seconds, pages / f.seconds,
                f.peakKb / 1024.0, f.ok ? "" : "  (FAILED)");
}

} // namespace

int main() {
    qmtest::TempDir dir;
    struct Doc {
        std::string name, path;
        int pages;
    };
    std::vector<Doc> docs = {{"sample", std::string(QM_SOURCE_DIR) + "/samples/sample.pdf", 4},
                             {"text-100", dir.File("text-100.pdf"), 100},
                             {"text-500", dir.File("text-500.pdf"), 500}};
    if (!qmtest::WriteTextPdf(docs[1].path, 100) || !qmtest::WriteTextPdf(docs[2].path, 500)) {
        std::fprintf(stderr, "cannot write the generated documents\n");
        return 1;
    }
    const std::string out = dir.File("books/");
    qm::CreateFolder(out);
    for (const Doc &d : docs) {
        const std::string q = qmtest::ShellQuote(d.path);
        // The sample is tiny: repeat it so the figures are not all start-up.
        const int reps = d.pages < 50 ? 10 : 1;
        auto repeat = [&](auto fn) {
            return [&, fn] {
                for (int r = 0; r < reps; ++r)
                    if (!fn()) return false;
                return true;
            };
        };
        std::printf("%s (%d pages%s)\n", d.name.c_str(), d.pages, reps > 1 ? ", 10 runs" : "");
        int pages = d.pages * reps;
        Row("quillmark automatic", pages, Measure(repeat([&] { return Convert(d.path, out, 0); })));
        Row("quillmark imaging 72 dpi", pages, Measure(repeat([&] { return Convert(d.path, out, 2); })));
        Row("mutool draw -F txt (floor)", pages, Measure(repeat([&] { return Mutool("-F txt -o /dev/null " + q); })));
        Row("mutool draw -r 72", pages,
            Measure(repeat([&] { return Mutool("-r 72 -o " + qmtest::ShellQuote(dir.File("r%d.png")) + " " + q); })));
    }
    return 0;
}
