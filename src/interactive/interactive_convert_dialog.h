#pragma once
// The interactive converter: the window a Strict conversion opens for each PDF before any page is
// converted. The user browses the pages, edits the regions of each page in the page view, sets the
// page's parse options, the font scale and the picture resolution, and previews the page as a
// reader would show it. Nothing here converts: every choice goes into the converter's page model
// and job, which the conversion of the document reads after the window has closed.
#include <QDialog>
#include <memory>

#include "extract/region_editor.h"
#include "options/conversion_options.h"
#include "xhtml/strict_session.h"

class QPushButton;

namespace qm {

class PageView;

class InteractiveConvertDialog : public QDialog {
    Q_OBJECT
public:
    // `session` holds the open document, its job and its page model; `options` are the
    // process-wide options the window reads and writes (defaults, font scale, resolution).
    InteractiveConvertDialog(StrictSession &session, ConversionOptions &options, QWidget *parent = nullptr);
    ~InteractiveConvertDialog() override;

    // Shows page n (clamped to the document's pages) in the page view.
    void ShowPage(int n);
    int CurrentPage() const { return currentPage_; }

    PageView *View() const { return view_; }
    RegionEditor &Editor() { return *editor_; }
    QPushButton *OkButton() const { return ok_; }

private:
    StrictSession &session_;
    ConversionOptions &options_;
    std::unique_ptr<RegionEditor> editor_;
    PageView *view_ = nullptr;
    QPushButton *ok_ = nullptr;
    int currentPage_ = 0;
};

} // namespace qm
