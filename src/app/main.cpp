// quillmark: the desktop wizard. PDF files named on the command line are listed for conversion.
#include <QApplication>
#include <QStringList>
#include <cstdio>

#include "app/main_window.h"
#include "options/conversion_options.h"

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillmark");
    QApplication::setApplicationVersion(QM_VERSION);

    QStringList files;
    for (const QString &argument : QApplication::arguments().mid(1)) {
        if (argument == "--version") {
            std::printf("quillmark %s\n", QM_VERSION);
            return 0;
        }
        if (argument == "--help" || argument == "-h") {
            std::printf("usage: quillmark [FILE.pdf...]\n"
                        "The desktop wizard that turns PDF files, or your own documents, into EPUB books.\n");
            return 0;
        }
        files << argument;
    }

    qm::ConversionOptions options;  // the defaults; the window loads the settings over them
    qm::MainWindow window(options);
    window.AddStartupFiles(files);
    window.show();
    return app.exec();
}
