#pragma once
// The e-book preview: a captionless floating popup that shows the interactive converter's current
// page as a reader would, through a browser engine (em sizes, justification and indents as in
// reading systems). It collapses to a small tab, is dragged by its own surface, and can take the
// screen size of a chosen e-book reader. Its expanded size and collapsed state live in the options
// and are written on every change.
#include <QPoint>
#include <QSize>
#include <QStringList>
#include <QWidget>

#include "options/conversion_options.h"
#include "xhtml/page_preview.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSizeGrip;
class QWebEngineView;

namespace qm {

// Before the QApplication exists: the browser engine needs shared GL contexts, and its sandbox
// cannot run as root, so it is turned off there (and only there).
void PrepareBrowserEngine();

class PreviewWindow : public QWidget {
    Q_OBJECT
public:
    explicit PreviewWindow(ConversionOptions &options, QWidget *parent = nullptr);

    // The converter whose captured page is previewed (null: none).
    void SetConverter(DocumentConverter *converter) { converter_ = converter; }
    // Writes the current page into the scratch folder and shows it: 0 shown, -1 no document, -2
    // path too long, -3 "preview.html" cannot be created. On a failure the browser keeps what it
    // showed; a page whose body failed is not shown either.
    int UpdatePreview();

    bool Collapsed() const { return collapsed_; }
    void SetCollapsed(bool collapsed);
    // The size the popup has when expanded.
    QSize ExpandedSize() const { return {width_, height_}; }

    // The items of the reader-size list: "(Select Reader Screen Size)", then "Name(W×H)".
    static QStringList ReaderSizeItems();
    // The screen size in an item's text; invalid for an item without one.
    static QSize ParseReaderSize(const QString &item);

    QPushButton *ToggleButton() const { return toggle_; }
    QComboBox *ReaderSizes() const { return sizes_; }
    QWebEngineView *Browser() const { return browser_; }
    // The file the browser was last sent to ("" before the first preview).
    QString ShownFile() const { return shown_; }

signals:
    // The browser finished loading a preview (false: it could not be shown).
    void previewLoaded(bool ok);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void Toggle();
    void ApplySize();
    void Layout();
    void ReaderSizeChosen(int index);

    ConversionOptions &options_;
    DocumentConverter *converter_ = nullptr;
    int width_ = 100;
    int height_ = 200;
    bool collapsed_ = false;
    QPushButton *toggle_ = nullptr;
    QLabel *title_ = nullptr;
    QComboBox *sizes_ = nullptr;
    QLabel *devSize_ = nullptr;
    QWebEngineView *browser_ = nullptr;
    QSizeGrip *grip_ = nullptr;
    QString shown_;
    bool dragging_ = false;
    QPoint dragOffset_;
};

} // namespace qm
