#pragma once
// The interactive converter: the window a Strict conversion opens for each PDF before any page is
// converted. The user browses the pages, edits the regions of each page in the page view, sets the
// page's parse options, the font scale and the picture resolution, and previews the page as a
// reader would show it. Nothing here converts: every choice goes into the converter's page model
// and job, which the conversion of the document reads after the window has closed.
//
// The window runs on the GUI thread. The page list's thumbnails are rendered on a thread of their
// own (under the document lock), one page at a time; the results reach the window by queued calls.
// While that thread runs, the window cannot be closed. The thread is joined before the window is
// destroyed.
#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "extract/region_editor.h"
#include "options/conversion_options.h"
#include "pdf/pdf_document.h"
#include "ui/sync_lock.h"
#include "xhtml/strict_session.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qm {

class PageThumbnailList;
class PageView;
class PreviewWindow;

class InteractiveConvertDialog : public QDialog {
    Q_OBJECT
public:
    // Renders page n's thumbnail fitted into 120 x 150 pixels (empty: the page cannot be drawn).
    // Called on the loader's thread.
    using ThumbnailSource = std::function<Thumbnail(int page)>;
    // The page list's "Set Parse Options": asks the user for page options, starting from the
    // options' defaults. False: cancelled. Only columnMode, ignoreImages, ignoreVectorGraphics,
    // paragraphCheck and alignCheck of the result are used.
    using PageOptionsChooser = std::function<bool(QWidget *parent, const ConversionOptions &, PageParseOptions &)>;

    // `session` holds the open document, its job and its page model; `options` are the
    // process-wide options the window reads and writes (defaults, font scale, resolution).
    InteractiveConvertDialog(StrictSession &session, ConversionOptions &options, QWidget *parent = nullptr);
    ~InteractiveConvertDialog() override;

    // Shows page n (clamped to the document's pages) in the page view.
    void ShowPage(int n);
    int CurrentPage() const { return currentPage_; }
    // The counter, the option controls and their enabling from the current page's options.
    void RefreshPageControls();
    // Reads the option controls into the current page's options, applies the enabling rules,
    // keeps "Automation Preview" in the options and previews the page when it is on.
    void StorePageOptions();

    // Starts the thumbnail loader now (the window does it 200 ms after opening). Does nothing while
    // one runs.
    void StartThumbnails();
    // False while the thumbnail loader runs.
    bool ThumbnailsLoaded();
    // The page an item of the page list shows (0 for no such item).
    int PageOfItem(int row) const;
    void SetThumbnailSource(ThumbnailSource source) { thumbnails_ = std::move(source); }
    void SetPageOptionsChooser(PageOptionsChooser chooser) { chooser_ = std::move(chooser); }
    // "Set Parse Options" for the selected items of the page list, with the chooser's answer.
    void SetParseOptionsOfSelection();

    // The document's edits written to an edits file, and an edits file taken into the job: the
    // current page gets them now, every other page when it is next drawn or converted (once).
    // Failures are told to the user; false then.
    bool SaveEdits(const QString &path);
    bool LoadEdits(const QString &path);

    PageView *View() const { return view_; }
    RegionEditor &Editor() { return *editor_; }
    QPushButton *OkButton() const { return ok_; }
    PreviewWindow *Preview() const { return preview_; }
    PageThumbnailList *PageList() const { return list_; }

public slots:
    void accept() override;
    void reject() override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QCheckBox *AddCheck(const char *name, const char *text);
    QRadioButton *AddRadio(const char *name, const char *text, int id);
    QPushButton *AddButton(const char *name, const char *text);
    void Navigate(int page);
    void DrawShownPage();
    void GoClicked();
    void FontScaleChosen();
    void DpiChosen();
    void SetToDefault();
    void ApplyToAll();
    void ListMenu(const QPoint &at);
    void SaveEditsClicked();
    void LoadEditsClicked();
    void LayOut();
    void LoadThumbnails(int generation);
    void AddThumbnail(const QImage &image, int page);
    PageLayout *ShownPage() const;
    void ReadControls(PageParseOptions &o) const;
    void UpdateEnabling(const PageParseOptions &o);
    void UpdatePreviewNow();
    bool CloseAllowed();

    StrictSession &session_;
    ConversionOptions &options_;
    std::unique_ptr<RegionEditor> editor_;
    PageView *view_ = nullptr;
    PageThumbnailList *list_ = nullptr;
    PreviewWindow *preview_ = nullptr;
    QPushButton *ok_ = nullptr;
    QPushButton *first_ = nullptr, *previous_ = nullptr, *next_ = nullptr, *last_ = nullptr, *go_ = nullptr;
    QLineEdit *goTo_ = nullptr;
    QLabel *counter_ = nullptr;
    QGroupBox *group_ = nullptr;
    QCheckBox *noOutput_ = nullptr, *wholePage_ = nullptr, *paragraph_ = nullptr, *align_ = nullptr,
              *ignoreImages_ = nullptr, *ignoreVector_ = nullptr, *autoPreview_ = nullptr;
    QButtonGroup *columns_ = nullptr;
    QRadioButton *autoColumns_ = nullptr, *single_ = nullptr, *multi_ = nullptr;
    QPushButton *setDefault_ = nullptr, *applyAll_ = nullptr, *previewUpdate_ = nullptr, *saveEdits_ = nullptr,
                *loadEdits_ = nullptr;
    QLabel *fontLabel_ = nullptr, *dpiLabel_ = nullptr;
    QComboBox *fontScale_ = nullptr, *dpi_ = nullptr, *readers_ = nullptr;
    // The right-hand column's controls, placed again on every resize.
    std::vector<QWidget *> rightColumn_;

    unsigned goToPageNumber_ = 0;
    int currentPage_ = 0;
    bool refreshing_ = false;
    std::vector<int> itemPages_;  // page number of each page list item

    ThumbnailSource thumbnails_;
    PageOptionsChooser chooser_;
    SyncLock loaderLock_;
    bool thumbnailsLoaded_ = true;  // guarded by loaderLock_
    std::atomic<bool> stopLoader_{false};
    int loadGeneration_ = 0;  // GUI thread only: the loader whose posts are shown
    std::thread loader_;
};

} // namespace qm
