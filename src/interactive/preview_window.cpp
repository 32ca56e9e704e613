#include "interactive/preview_window.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSizeGrip>
#include <QUrl>
#include <QWebEngineView>
#include <QWindow>
#include <unistd.h>

namespace qm {

namespace {

struct ReaderScreen {
    const char *name;
    int width;
    int height;
};

constexpr ReaderScreen kReaders[] = {
    {"Sony Reader5,7,3,6", 600, 800}, {"Sony Reader900", 600, 1024},  {"iPad1,2", 1024, 768},
    {"iPhone, iTouch 3", 320, 480},   {"iPhone, iTouch 4", 640, 960}, {"Nook", 600, 800},
    {"Kindle", 600, 800},             {"Kindle Dx", 825, 1200},       {"Cybook", 600, 800},
    {"eGriver Touch", 600, 800},      {"jetBook", 600, 800},          {"Elonex", 600, 800},
    {"BeBook", 600, 800},             {"eDGe", 825, 1200},            {"Pocket eDGe", 600, 800},
    {"FnacBook", 600, 800},           {"eSlick", 600, 800},           {"Hanvon", 600, 800},
    {"COOL-ER", 600, 800},            {"iPapyrus", 600, 800},         {"Digital Reader 800", 768, 1024},
    {"Digital Reader 1000", 1024, 1280}, {"iLiad", 768, 1024},        {"iRiver", 600, 800},
    {"Paperback", 600, 800},          {"Hanlin", 600, 800},           {"Kobo", 600, 800},
    {"Kogan eBook Reader", 600, 800}, {"eClicto", 600, 800},          {"Alex eReader", 600, 800},
    {"ES600", 600, 800},              {"Boox-S", 600, 800},           {"eReader HD", 800, 480},
    {"E6", 600, 800},                 {"PocketBook Pro 602", 600, 800}, {"PocketBook Pro 902", 825, 1200},
    {"Boox M90", 1200, 825},          {"Boox 60", 600, 800},          {"Adam", 1024, 600},
};

const QChar kTimes(0x00D7);  // the multiplication sign between width and height

// The integer at the start of a text (0 when it does not start with a digit).
int LeadingNumber(const QString &text) {
    int value = 0;
    for (QChar c : text) {
        if (!c.isDigit() || value > 100000) break;
        value = value * 10 + c.digitValue();
    }
    return value;
}

} // namespace

void PrepareBrowserEngine() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

QStringList PreviewWindow::ReaderSizeItems() {
    QStringList items{QStringLiteral("(Select Reader Screen Size)")};
    for (const ReaderScreen &r : kReaders)
        items << QString::fromUtf8(r.name) + '(' + QString::number(r.width) + kTimes + QString::number(r.height) + ')';
    return items;
}

QSize PreviewWindow::ParseReaderSize(const QString &item) {
    const QStringList pieces = item.split('(');
    if (pieces.size() < 2) return {};
    const QStringList size = pieces[1].split(kTimes);
    if (size.size() < 2) return {};
    const int w = LeadingNumber(size[0]);
    const int h = LeadingNumber(size[1]);
    if (w <= 0 || h <= 0) return {};
    return {w, h};
}

PreviewWindow::PreviewWindow(ConversionOptions &options, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), options_(options) {
    setObjectName(QStringLiteral("previewWindow"));
    toggle_ = new QPushButton(QStringLiteral("-"), this);
    toggle_->setObjectName(QStringLiteral("previewToggle"));
    toggle_->setFixedSize(20, 20);
    title_ = new QLabel(QStringLiteral("ePub Preview"), this);
    title_->adjustSize();
    sizes_ = new QComboBox(this);
    sizes_->setObjectName(QStringLiteral("readerSizes"));
    sizes_->addItems(ReaderSizeItems());
    sizes_->setCurrentIndex(0);
    sizes_->adjustSize();
    devSize_ = new QLabel(QStringLiteral("dev-size:"), this);
    devSize_->hide();
    browser_ = new QWebEngineView(this);
    // Without a frame the popup is sized by the grip in its lower right corner.
    grip_ = new QSizeGrip(this);
    connect(browser_, &QWebEngineView::loadFinished, this, &PreviewWindow::previewLoaded);
    connect(toggle_, &QPushButton::clicked, this, &PreviewWindow::Toggle);
    connect(sizes_, &QComboBox::currentIndexChanged, this, &PreviewWindow::ReaderSizeChosen);

    if (options_.previewWidth > 0 && options_.previewHeight > 0) {
        width_ = options_.previewWidth;
        height_ = options_.previewHeight;
    }
    collapsed_ = options_.previewExpanded == 0;
    toggle_->setText(collapsed_ ? QStringLiteral("+") : QStringLiteral("-"));
    ApplySize();
    Layout();
}

int PreviewWindow::UpdatePreview() {
    const PreviewFiles files = WritePagePreview(converter_);
    if (files.result != PreviewWrite::Written) return static_cast<int>(files.result);
    if (files.Showable()) {
        shown_ = QString::fromStdString(files.page);
        // Loaded again even when the address is the same: the file changed.
        browser_->load(QUrl::fromLocalFile(shown_));
    }
    return 0;
}

void PreviewWindow::SetCollapsed(bool collapsed) {
    if (collapsed != collapsed_) Toggle();
}

void PreviewWindow::Toggle() {
    collapsed_ = !collapsed_;
    toggle_->setText(collapsed_ ? QStringLiteral("+") : QStringLiteral("-"));
    ApplySize();
    options_.previewExpanded = collapsed_ ? 0 : 1;
}

void PreviewWindow::ApplySize() {
    if (!collapsed_) {
        resize(width_, height_);
        return;
    }
    // The tab keeps the expanded size to come back to.
    if (isVisible() || testAttribute(Qt::WA_Resized)) {
        width_ = width();
        height_ = height();
    }
    resize(toggle_->width() + title_->width() + 2, toggle_->height() + 5);
}

void PreviewWindow::Layout() {
    if (!toggle_ || !browser_ || !grip_) return;
    const int top = toggle_->height();
    toggle_->move(0, 0);
    title_->move(toggle_->width() + 1, (top - title_->height()) / 2);
    sizes_->move(toggle_->width() + title_->width() + 4, 0);
    sizes_->setVisible(!collapsed_);
    browser_->setGeometry(0, top + 3, width(), std::max(0, height() - top - 3));
    browser_->setVisible(!collapsed_);
    grip_->adjustSize();
    grip_->move(width() - grip_->width(), height() - grip_->height());
    grip_->setVisible(!collapsed_);
    grip_->raise();
    if (!collapsed_) {
        width_ = width();
        height_ = height();
        options_.previewWidth = width();
        options_.previewHeight = height();
    }
}

void PreviewWindow::ReaderSizeChosen(int index) {
    const QSize size = ParseReaderSize(sizes_->itemText(index));
    if (!size.isValid()) return;
    resize(size.width(), size.height() + 20);
}

void PreviewWindow::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    Layout();
}

// The popup has no caption: a left press on its own surface (not on a control) drags it.
void PreviewWindow::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void PreviewWindow::mouseMoveEvent(QMouseEvent *event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - dragOffset_);
    else
        QWidget::mouseMoveEvent(event);
}

void PreviewWindow::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

} // namespace qm
