#include "interactive/interactive_convert_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "interactive/page_view.h"
#include "interactive/preview_window.h"
#include "options/page_edits.h"
#include "ui/page_thumbnail_list.h"

namespace qm {

namespace {

constexpr int kListWidth = 150;
constexpr int kColumnWidth = 190;  // the hidden reader list's width: the right-hand column's
constexpr int kNavTop = 5;
constexpr int kViewTop = 35;

// The text of a number as the lists store it ("%0.1f", "%0.0f").
std::string Format(const char *format, double x) {
    char text[32];
    std::snprintf(text, sizeof text, format, x);
    return text;
}

// The list's first item whose text begins with `stored` (the first item when none does).
void SelectStored(QComboBox *box, const std::string &stored) {
    const QString text = QString::fromStdString(stored);
    for (int i = 0; i < box->count(); ++i)
        if (box->itemText(i).startsWith(text)) {
            box->setCurrentIndex(i);
            return;
        }
    box->setCurrentIndex(0);
}

// A decimal number in a list item's text; NaN when the text is no number.
double ReadNumber(const QString &text) {
    bool ok = false;
    const double x = text.trimmed().toDouble(&ok);
    return ok ? x : std::numeric_limits<double>::quiet_NaN();
}

} // namespace

InteractiveConvertDialog::InteractiveConvertDialog(StrictSession &session, ConversionOptions &options,
                                                   QWidget *parent)
    : QDialog(parent), session_(session), options_(options),
      editor_(std::make_unique<RegionEditor>(session.Model())) {
    setObjectName(QStringLiteral("interactiveConvertDialog"));
    setWindowTitle(QStringLiteral("Interactive Convert PDF to ePub"));
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint);
    setSizeGripEnabled(true);
    loaderLock_.Create();
    thumbnails_ = [this](int page) {
        return session_.Document().RenderThumbnail(page, PageThumbnailList::kWidth, PageThumbnailList::kHeight);
    };

    list_ = new PageThumbnailList(this);
    list_->setObjectName(QStringLiteral("pageList"));
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_ = new PageView(this);
    view_->setObjectName(QStringLiteral("pageView"));

    first_ = AddButton("firstPage", "|<");
    previous_ = AddButton("previousPage", "<");
    next_ = AddButton("nextPage", ">");
    last_ = AddButton("lastPage", ">|");
    goTo_ = new QLineEdit(this);
    goTo_->setObjectName(QStringLiteral("goToPage"));
    goTo_->setText(QStringLiteral("0"));
    go_ = AddButton("goButton", "Go");
    counter_ = new QLabel(QStringLiteral("##/##"), this);
    counter_->setObjectName(QStringLiteral("pageCounter"));
    counter_->setAlignment(Qt::AlignCenter);

    group_ = new QGroupBox(QStringLiteral("Current Page Parse Options:"), this);
    group_->setObjectName(QStringLiteral("pageOptionsGroup"));
    noOutput_ = AddCheck("noOutput", "No Output");
    wholePage_ = AddCheck("imageWholePage", "Imaging Entire Page");
    columns_ = new QButtonGroup(this);
    autoColumns_ = AddRadio("autoColumns", "auto check column", 0);
    autoColumns_->hide();
    single_ = AddRadio("singleColumn", "Single Column", 1);
    multi_ = AddRadio("multiColumns", "Multi Columns", 2);
    paragraph_ = AddCheck("paragraphCheck", "Paragraph Check");
    align_ = AddCheck("alignCheck", "Algin Check");
    ignoreImages_ = AddCheck("ignoreImages", "Ignore Image");
    ignoreVector_ = AddCheck("ignoreVectorGraphics", "Ignore Vector Graph  ");
    setDefault_ = AddButton("setToDefault", "Set to Default Setting");
    applyAll_ = AddButton("applyToAllPages", "Apply to All Pages");
    saveEdits_ = AddButton("saveEdits", "Save Edits...");
    loadEdits_ = AddButton("loadEdits", "Load Edits...");
    fontLabel_ = new QLabel(QStringLiteral("Output Font Scale: "), this);
    fontLabel_->setObjectName(QStringLiteral("fontScaleLabel"));
    fontScale_ = new QComboBox(this);
    fontScale_->setObjectName(QStringLiteral("fontScale"));
    fontScale_->addItems({"0.5", "0.6", "0.7", "0.8", "1.0", "1.2", "1.5", "1.7", "2.0", "2.3", "2.5", "3.0"});
    dpiLabel_ = new QLabel(QStringLiteral("Output Image DPI: "), this);
    dpiLabel_->setObjectName(QStringLiteral("imageDpiLabel"));
    dpi_ = new QComboBox(this);
    dpi_->setObjectName(QStringLiteral("imageDpi"));
    dpi_->addItems({"52", "60", "72", "80", "100", "110", "150", "180", "210", "250", "280", "300"});
    autoPreview_ = AddCheck("automationPreview", "Automation Preview");
    previewUpdate_ = AddButton("previewUpdate", "Preview Update");
    ok_ = AddButton("okButton", "OK");
    ok_->setAutoDefault(false);
    readers_ = new QComboBox(this);
    readers_->setObjectName(QStringLiteral("readerList"));
    readers_->addItems({"Sony Reader", "Nook", "IPad", "IPhone"});
    readers_->setFixedWidth(kColumnWidth);
    readers_->hide();

    // The right-hand column, top to bottom: each control keeps its top and size.
    group_->setGeometry(0, 5, kColumnWidth - 4, 185);
    int top = 25;
    for (QWidget *w : std::initializer_list<QWidget *>{noOutput_, wholePage_, single_, multi_, paragraph_, align_,
                                                       ignoreImages_, ignoreVector_}) {
        w->setGeometry(0, top, kColumnWidth - 12, 20);
        top += 20;
    }
    autoColumns_->setGeometry(0, 65, kColumnWidth - 12, 20);
    top = 196;
    for (QWidget *w : std::initializer_list<QWidget *>{setDefault_, applyAll_, saveEdits_, loadEdits_}) {
        w->setGeometry(0, top, kColumnWidth - 12, 25);
        top += 28;
    }
    fontLabel_->setGeometry(0, top + 6, kColumnWidth - 12, 18);
    fontScale_->setGeometry(0, top + 24, kColumnWidth - 12, 24);
    dpiLabel_->setGeometry(0, top + 54, kColumnWidth - 12, 18);
    dpi_->setGeometry(0, top + 72, kColumnWidth - 12, 24);
    autoPreview_->setGeometry(0, top + 104, kColumnWidth - 12, 20);
    previewUpdate_->setGeometry(0, top + 128, kColumnWidth - 12, 25);
    rightColumn_ = {noOutput_,  wholePage_,  autoColumns_, single_,     multi_,      paragraph_,   align_,
                    ignoreImages_, ignoreVector_, setDefault_, applyAll_, saveEdits_, loadEdits_, fontLabel_,
                    fontScale_, dpiLabel_,   dpi_,        autoPreview_, previewUpdate_};

    connect(first_, &QPushButton::clicked, this, [this] { Navigate(1); });
    connect(last_, &QPushButton::clicked, this, [this] { Navigate(session_.Document().PageCount()); });
    connect(previous_, &QPushButton::clicked, this, [this] { Navigate(currentPage_ - 1); });
    connect(next_, &QPushButton::clicked, this, [this] { Navigate(currentPage_ + 1); });
    connect(go_, &QPushButton::clicked, this, &InteractiveConvertDialog::GoClicked);
    connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        const int page = PageOfItem(list_->row(item));
        if (page > 0) ShowPage(page);
    });
    connect(list_, &QWidget::customContextMenuRequested, this, &InteractiveConvertDialog::ListMenu);
    for (QCheckBox *box : {noOutput_, wholePage_, paragraph_, align_, ignoreImages_, ignoreVector_, autoPreview_})
        connect(box, &QCheckBox::clicked, this, &InteractiveConvertDialog::StorePageOptions);
    connect(columns_, &QButtonGroup::idClicked, this, [this] { StorePageOptions(); });
    connect(setDefault_, &QPushButton::clicked, this, &InteractiveConvertDialog::SetToDefault);
    connect(applyAll_, &QPushButton::clicked, this, &InteractiveConvertDialog::ApplyToAll);
    connect(saveEdits_, &QPushButton::clicked, this, &InteractiveConvertDialog::SaveEditsClicked);
    connect(loadEdits_, &QPushButton::clicked, this, &InteractiveConvertDialog::LoadEditsClicked);
    connect(previewUpdate_, &QPushButton::clicked, this, &InteractiveConvertDialog::UpdatePreviewNow);
    connect(ok_, &QPushButton::clicked, this, &InteractiveConvertDialog::accept);
    connect(view_, &PageView::RegionsEdited, this, [this] {
        if (autoPreview_->isChecked()) UpdatePreviewNow();
    });

    // The stored choices first: showing a page writes the check box back into the options.
    autoPreview_->setChecked(options_.automationPreview != 0);
    SelectStored(fontScale_, options_.fontScaleText);
    SelectStored(dpi_, options_.imageDpiText);
    resize(1000, 720);
    LayOut();
    // The first page, drawn before the preview exists (which previews the page drawn).
    ShowPage(1);
    preview_ = new PreviewWindow(options_, this);
    preview_->SetConverter(session_.Converter());
    connect(fontScale_, &QComboBox::currentIndexChanged, this, &InteractiveConvertDialog::FontScaleChosen);
    connect(dpi_, &QComboBox::currentIndexChanged, this, &InteractiveConvertDialog::DpiChosen);
    RefreshPageControls();
    // The thumbnails start once the window is up, so that it opens at once.
    // A window closed before then (or never shown) starts no loader, and a list whose loading was
    // already asked for is not loaded a second time.
    QTimer::singleShot(200, this, [this] {
        if (!isVisible()) return;
        LayOut();
        if (loadGeneration_ == 0) StartThumbnails();
    });
}

InteractiveConvertDialog::~InteractiveConvertDialog() {
    // The loader posts to this window: it must be gone before the window is.
    stopLoader_ = true;
    if (loader_.joinable()) loader_.join();
    loaderLock_.Destroy();
}

QCheckBox *InteractiveConvertDialog::AddCheck(const char *name, const char *text) {
    auto *box = new QCheckBox(QString::fromUtf8(text), this);
    box->setObjectName(QString::fromUtf8(name));
    return box;
}

QRadioButton *InteractiveConvertDialog::AddRadio(const char *name, const char *text, int id) {
    auto *radio = new QRadioButton(QString::fromUtf8(text), this);
    radio->setObjectName(QString::fromUtf8(name));
    columns_->addButton(radio, id);
    return radio;
}

QPushButton *InteractiveConvertDialog::AddButton(const char *name, const char *text) {
    auto *button = new QPushButton(QString::fromUtf8(text), this);
    button->setObjectName(QString::fromUtf8(name));
    button->setAutoDefault(false);
    return button;
}

// ---- pages ----

void InteractiveConvertDialog::ShowPage(int n) {
    const int count = session_.Document().PageCount();
    if (count <= 0) return;
    currentPage_ = std::clamp(n, 1, count);
    DrawShownPage();
    RefreshPageControls();
}

// Captures the current page for the view's size and shows it.
void InteractiveConvertDialog::DrawShownPage() {
    const int count = session_.Document().PageCount();
    const QSize size = view_->size();
    if (session_.DrawPage(currentPage_, size.width(), size.height()) == CaptureResult::Captured) {
        // Edits taken from a file reach each page once, as the conversion would give them.
        if (session_.Job().pageEdits) ApplyPageEditsOnce(session_.Model(), *session_.Job().pageEdits);
        view_->SetModel(editor_.get(), &session_.Capture(), count);
    } else {
        view_->SetModel(nullptr, nullptr, count);
    }
}

void InteractiveConvertDialog::Navigate(int page) { ShowPage(page); }

void InteractiveConvertDialog::GoClicked() {
    bool ok = false;
    const QString text = goTo_->text().trimmed();
    const unsigned value = text.toUInt(&ok);
    if (!ok) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Please enter a positive integer."));
        goTo_->setText(QString::number(goToPageNumber_));
    } else {
        goToPageNumber_ = value;
    }
    // The document's page range bounds the number.
    ShowPage(static_cast<int>(std::min<unsigned>(goToPageNumber_, 1u << 30)));
}

// The page record shown now (null when the shown page could not be drawn).
PageLayout *InteractiveConvertDialog::ShownPage() const {
    PageLayout *page = session_.Model().Current();
    return page && page->pageNumber == currentPage_ && view_->Editor() ? page : nullptr;
}

// ---- page options ----

void InteractiveConvertDialog::ReadControls(PageParseOptions &o) const {
    o.columnMode = std::max(0, columns_->checkedId());
    o.noOutput = noOutput_->isChecked();
    o.imageWholePage = wholePage_->isChecked();
    o.ignoreImages = ignoreImages_->isChecked();
    o.ignoreVectorGraphics = ignoreVector_->isChecked();
    o.paragraphCheck = paragraph_->isChecked();
    o.alignCheck = align_->isChecked();
}

void InteractiveConvertDialog::UpdateEnabling(const PageParseOptions &o) {
    const bool output = o.noOutput == 0;
    const bool content = output && o.imageWholePage == 0;
    wholePage_->setEnabled(output);
    for (QWidget *w : std::initializer_list<QWidget *>{align_, paragraph_, ignoreVector_, ignoreImages_, autoColumns_,
                                                       single_, multi_})
        w->setEnabled(content);
    noOutput_->setEnabled(true);
}

void InteractiveConvertDialog::RefreshPageControls() {
    const int count = session_.Document().PageCount();
    counter_->setText(QString::asprintf("%d/%d", currentPage_, count));
    if (PageLayout *page = ShownPage()) {
        const PageParseOptions &o = page->options;
        refreshing_ = true;
        if (QAbstractButton *radio = columns_->button(o.columnMode)) radio->setChecked(true);
        noOutput_->setChecked(o.noOutput != 0);
        wholePage_->setChecked(o.imageWholePage != 0);
        ignoreImages_->setChecked(o.ignoreImages != 0);
        ignoreVector_->setChecked(o.ignoreVectorGraphics != 0);
        paragraph_->setChecked(o.paragraphCheck != 0);
        align_->setChecked(o.alignCheck != 0);
        refreshing_ = false;
    }
    StorePageOptions();
}

void InteractiveConvertDialog::StorePageOptions() {
    if (refreshing_) return;
    PageParseOptions o;
    ReadControls(o);
    UpdateEnabling(o);
    // Without a page shown (it could not be drawn) there is no record to write into.
    if (PageLayout *page = ShownPage()) page->options = o;
    options_.automationPreview = autoPreview_->isChecked() ? 1 : 0;
    if (preview_ && autoPreview_->isChecked()) UpdatePreviewNow();
}

void InteractiveConvertDialog::SetToDefault() {
    StorePageOptions();
    if (ShownPage()) editor_->SetToDefaultSetting(session_.Job(), options_);
}

void InteractiveConvertDialog::ApplyToAll() {
    if (ShownPage()) editor_->ApplyToAllPages(session_.Document().PageCount());
}

void InteractiveConvertDialog::ListMenu(const QPoint &at) {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("pageListMenu"));
    QAction *set = menu.addAction(QStringLiteral("Set Parse Options"));
    set->setObjectName(QStringLiteral("command111"));
    connect(set, &QAction::triggered, this, &InteractiveConvertDialog::SetParseOptionsOfSelection);
    menu.exec(list_->viewport()->mapToGlobal(at));
}

void InteractiveConvertDialog::SetParseOptionsOfSelection() {
    if (!chooser_) return;
    PageParseOptions chosen;
    if (!chooser_(this, options_, chosen)) return;
    std::vector<int> rows;
    for (QListWidgetItem *item : list_->selectedItems()) rows.push_back(list_->row(item));
    std::sort(rows.begin(), rows.end());
    PageModel &model = session_.Model();
    for (int row : rows) {
        const int page = PageOfItem(row);
        if (page <= 0) continue;
        // The chooser has no "No Output" or "Imaging Entire Page": the pages keep their own.
        PageParseOptions o = chosen;
        PageParseOptions own = session_.Job().pageDefaults;
        if (const PageLayout *record = model.FindPageLayout(page)) own = record->options;
        o.noOutput = own.noOutput;
        o.imageWholePage = own.imageWholePage;
        model.ApplyOptionsToPages(page, page, o);
    }
    RefreshPageControls();
}

// ---- font scale, resolution, preview ----

void InteractiveConvertDialog::FontScaleChosen() {
    double x = ReadNumber(fontScale_->currentText());
    if (x > 3.0) x = 3.0;
    else if (!(x >= 0.5)) x = 0.5;
    session_.Job().fontScale = x;
    options_.fontScaleText = Format("%0.1f", x);
    if (autoPreview_->isChecked()) UpdatePreviewNow();
}

void InteractiveConvertDialog::DpiChosen() {
    double x = ReadNumber(dpi_->currentText());
    if (x > 300) x = 300;
    else if (!(x >= 52)) x = 52;
    session_.Job().imageDpi = x;
    options_.imageDpiText = Format("%0.0f", x);
    session_.Model().outputResolution = static_cast<int>(x);
    session_.Capture().outputDpi = static_cast<int>(x);
    if (autoPreview_->isChecked()) {
        // The page is drawn again so that its output raster has the new resolution.
        DrawShownPage();
        UpdatePreviewNow();
    }
}

void InteractiveConvertDialog::UpdatePreviewNow() {
    if (preview_) preview_->UpdatePreview();
}

// ---- edits files ----

bool InteractiveConvertDialog::SaveEdits(const QString &path) {
    std::vector<std::string> inexact;
    const PageEdits edits = EditsFromModel(session_.Model(), &inexact);
    std::string error;
    if (!SavePageEdits(path.toStdString(), edits, error)) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("The edits could not be saved: %1").arg(QString::fromStdString(error)));
        return false;
    }
    if (!inexact.empty()) {
        QString text = QStringLiteral("The edits were saved, but these regions may not come back exactly:");
        for (const std::string &line : inexact) text += '\n' + QString::fromStdString(line);
        QMessageBox::information(this, windowTitle(), text);
    }
    return true;
}

bool InteractiveConvertDialog::LoadEdits(const QString &path) {
    PageEdits edits;
    std::string error;
    if (!LoadPageEdits(path.toStdString(), edits, error)) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("The edits could not be loaded: %1").arg(QString::fromStdString(error)));
        return false;
    }
    // Edits of another document would make the conversion fail: they are not taken.
    const int count = session_.Document().PageCount();
    if (edits.HighestPage() > count) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("The edits name page %1, but the document has %2 pages: they were not loaded.")
                                 .arg(edits.HighestPage())
                                 .arg(count));
        return false;
    }
    session_.Job().pageEdits = std::make_shared<const PageEdits>(std::move(edits));
    // Every page gets the new edits once: the one shown now, the others when drawn or converted.
    ForgetAppliedEdits(session_.Model());
    ShowPage(currentPage_);
    return true;
}

void InteractiveConvertDialog::SaveEditsClicked() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Edits"), QString(),
                                                      QStringLiteral("Edits (*.json)"));
    if (!path.isEmpty()) SaveEdits(path);
}

void InteractiveConvertDialog::LoadEditsClicked() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Load Edits"), QString(),
                                                      QStringLiteral("Edits (*.json)"));
    if (!path.isEmpty()) LoadEdits(path);
}

// ---- thumbnails ----

bool InteractiveConvertDialog::ThumbnailsLoaded() {
    MutexHolder hold(loaderLock_.Handle());
    return thumbnailsLoaded_;
}

int InteractiveConvertDialog::PageOfItem(int row) const {
    return row >= 0 && row < static_cast<int>(itemPages_.size()) ? itemPages_[static_cast<size_t>(row)] : 0;
}

void InteractiveConvertDialog::StartThumbnails() {
    {
        MutexHolder hold(loaderLock_.Handle());
        if (!thumbnailsLoaded_) return;
        thumbnailsLoaded_ = false;
    }
    if (loader_.joinable()) loader_.join();  // a finished earlier loader
    list_->clear();
    itemPages_.clear();
    ok_->setEnabled(false);
    // What an earlier loader posted and was not yet shown belongs to the old list.
    const int generation = ++loadGeneration_;
    loader_ = std::thread([this, generation] { LoadThumbnails(generation); });
}

void InteractiveConvertDialog::LoadThumbnails(int generation) {
    const int count = session_.Document().PageCount();
    for (int i = 1; i <= count && !stopLoader_; ++i) {
        QMetaObject::invokeMethod(
            this,
            [this, i, count, generation] {
                if (generation == loadGeneration_)
                    counter_->setText(QString::asprintf("%d/%d(loading %d...)", currentPage_, count, i));
            },
            Qt::QueuedConnection);
        const Thumbnail thumb = thumbnails_(i);
        if (thumb.Empty() || thumb.width <= 0 || thumb.height <= 0 ||
            thumb.bgra.size() < static_cast<size_t>(thumb.width) * static_cast<size_t>(thumb.height) * 4)
            continue;  // a page that cannot be drawn gets no item
        QImage image(thumb.bgra.data(), thumb.width, thumb.height, thumb.width * 4, QImage::Format_RGB32);
        QImage copy = image.copy();
        QMetaObject::invokeMethod(
            this,
            [this, copy, i, generation] {
                if (generation == loadGeneration_) AddThumbnail(copy, i);
            },
            Qt::QueuedConnection);
    }
    QMetaObject::invokeMethod(
        this,
        [this, count, generation] {
            if (generation != loadGeneration_) return;
            counter_->setText(QString::asprintf("%d/%d", currentPage_, count));
            ok_->setEnabled(true);
        },
        Qt::QueuedConnection);
    // Last: the window may close from now on (its queued calls are dropped with it).
    MutexHolder hold(loaderLock_.Handle());
    thumbnailsLoaded_ = true;
}

void InteractiveConvertDialog::AddThumbnail(const QImage &image, int page) {
    list_->AddPage(image, QString::asprintf("page %d", page));
    // Each item remembers its page: after a page without a thumbnail, rows and pages differ.
    itemPages_.push_back(page);
}

// ---- closing ----

bool InteractiveConvertDialog::CloseAllowed() {
    // OK is enabled again by the loader's last queued call, a moment before the loader marks itself
    // done; a click in that moment waits for it to end (it only has that flag left to set) rather
    // than being lost.
    if (!ThumbnailsLoaded() && ok_->isEnabled() && loader_.joinable()) loader_.join();
    return ThumbnailsLoaded();
}

void InteractiveConvertDialog::accept() {
    if (CloseAllowed()) QDialog::accept();
}

// Escape and the close box end the window as OK does (the document is converted either way).
void InteractiveConvertDialog::reject() {
    if (CloseAllowed()) QDialog::accept();
}

void InteractiveConvertDialog::keyPressEvent(QKeyEvent *event) {
    // Enter does nothing (no default button); Escape goes to reject.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- layout ----

void InteractiveConvertDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // The preview pops up with the window, under "Preview Update".
    LayOut();
    preview_->show();
}

void InteractiveConvertDialog::resizeEvent(QResizeEvent *event) {
    QDialog::resizeEvent(event);
    LayOut();
}

void InteractiveConvertDialog::LayOut() {
    const int w = width(), h = height();
    const int column = readers_->width();
    list_->setGeometry(0, 0, kListWidth, h);
    for (QWidget *c : rightColumn_) c->move(w - column + 3, c->y());
    group_->move(w - column - 1, group_->y());
    const int left = kListWidth + 1;
    int x = left + 4;
    for (QPushButton *b : {first_, previous_, next_, last_}) {
        b->setGeometry(x, kNavTop, 30, 24);
        x += 32;
    }
    counter_->setGeometry(x + 4, kNavTop, 130, 24);
    goTo_->setGeometry(x + 138, kNavTop, 60, 24);
    go_->setGeometry(x + 202, kNavTop, 40, 24);
    const QRect viewRect(left, kViewTop, std::max(100, w - column - 4 - left), std::max(100, h - kViewTop));
    const bool resized = view_->geometry() != viewRect;
    view_->setGeometry(viewRect);
    ok_->adjustSize();
    ok_->move(w - 5 - ok_->width(), h - 5 - ok_->height());
    // The page is drawn again for the new view size.
    if (resized && currentPage_ > 0) DrawShownPage();
    if (preview_) {
        const QPoint under = previewUpdate_->geometry().bottomLeft() + QPoint(0, 4);
        preview_->move(mapToGlobal(under));
        preview_->raise();
    }
    update();
}

} // namespace qm
