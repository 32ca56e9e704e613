// quillmark: the desktop wizard. PDF files named on the command line are listed for conversion.
#include <QApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

#include "app/main_window.h"
#include "interactive/preview_window.h"
#include "options/conversion_options.h"

namespace {

// SIGTERM (a session ending) and SIGINT (Ctrl-C in a terminal) close the window the ordinary
// way: a run is cancelled and waited for, temporary files go and the settings are saved.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(signalPipe[0], &byte, 1);
}

} // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quillmark %s\n", QM_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: quillmark [FILE.pdf...]\n"
                        "The desktop wizard that turns PDF files, or your own documents, into EPUB books.\n");
            return 0;
        }
    }
    qm::PrepareBrowserEngine();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillmark");
    QApplication::setApplicationVersion(QM_VERSION);

    qm::ConversionOptions options;  // the defaults; the window loads the settings over them
    qm::MainWindow window(options);
    window.AddStartupFiles(QApplication::arguments().mid(1));

    std::unique_ptr<QSocketNotifier> notifier;
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        notifier = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&window] {
            char byte;
            [[maybe_unused]] ssize_t n = read(signalPipe[1], &byte, 1);
            window.close();
        });
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
    }

    window.show();
    return app.exec();
}
