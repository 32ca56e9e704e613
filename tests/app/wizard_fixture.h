#pragma once
// A main window for one test: its own settings file, temporary, documents and output folders, a
// recording prompt instead of message boxes, and no dialog that would wait for a person (the
// layout options, the book title and "Edit Before Output" are answered by the test).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/book_builder_page.h"
#include "app/file_list_page.h"
#include "app/finished_page.h"
#include "app/main_window.h"
#include "ui/hyperlink_static.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"

namespace qmtest {

class WizardFixture : public ::testing::Test {
protected:
    WizardFixture()
        : tmp_(MakeFolder("tmp/")), docs_(MakeFolder("docs/")), out_(MakeFolder("out/")),
          tmpEnv_("TMPDIR", tmp_.c_str()), docsEnv_("XDG_DOCUMENTS_DIR", docs_.c_str()) {}

    std::string MakeFolder(const std::string &name) {
        const std::string path = dir_.File(name);
        RunCommand("mkdir -p " + ShellQuote(path));
        return path;
    }
    std::string SettingsPath() const { return dir_.File("config/Option20110626.dat"); }

    // Makes the window (the settings file is loaded now) and shows it.
    qm::MainWindow &Open() {
        window_ = std::make_unique<qm::MainWindow>(options_, &prompt_, SettingsPath());
        window_->SetOptionsOffer([this](qm::ConversionOptions &) { ++optionOffers_; });
        window_->Finished()->SetEditorOffer([this](QWidget *, const std::vector<std::string> &books) {
            editorOffers_.push_back(books);
        });
        window_->Builder()->SetAskTitle(false);
        window_->Builder()->SetOpener([](const QString &) {});
        window_->SetUrlOpener([this](const QUrl &url) { opened_.push_back(url); });
        window_->show();
        return *window_;
    }
    void Close() { window_.reset(); }

    template <typename T = QWidget> T *Find(const char *name) const {
        return window_->findChild<T *>(QString::fromUtf8(name));
    }
    void Click(const char *name) {
        auto *b = Find<QAbstractButton>(name);
        ASSERT_NE(b, nullptr) << name;
        // click(): a check box stretched wide takes mouse clicks only on its box and text.
        b->click();
    }
    // Waits (serving events) until the wizard shows `page`.
    bool WaitForPage(int page, int timeoutMs = 120000) {
        return QTest::qWaitFor([&] { return window_->CurrentPage() == page; }, timeoutMs);
    }
    static std::string Sample() { return std::string(QM_SOURCE_DIR) + "/samples/sample.pdf"; }
    // A copy of the sample under `name` in its own folder.
    std::string SampleCopy(const std::string &name) {
        const std::string path = MakeFolder("in/") + name;
        RunCommand("cp " + ShellQuote(Sample()) + " " + ShellQuote(path));
        return path;
    }

    TempDir dir_;
    std::string tmp_, docs_, out_;
    ScopedEnv tmpEnv_, docsEnv_;
    qm::ConversionOptions options_;
    RecordingPrompt prompt_;
    std::unique_ptr<qm::MainWindow> window_;
    int optionOffers_ = 0;
    std::vector<std::vector<std::string>> editorOffers_;
    std::vector<QUrl> opened_;
};

} // namespace qmtest
