#include "ui/hyperlink_static.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTimerEvent>
#include <QUrl>

namespace qm {
namespace {

constexpr int kHoverMs = 100;
constexpr int kOpened = 33;           // the shell's results above 32 mean success
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kAccessDenied = 5;
constexpr int kNoAssociation = 31;

bool IsLocalAddress(const QString &url) { return url.startsWith('/') || url.startsWith("file:"); }

QString LocalPath(const QString &url) {
    return url.startsWith("file:") ? QUrl(url).toLocalFile() : url;
}

// Why a local path cannot be opened, in the shell's numbering; 0 when it exists.
int LocalProblem(const QString &path) {
    QFileInfo info(path);
    if (!info.exists()) {
        QString folder = path.endsWith('/') ? path.chopped(1) : path;
        return QFileInfo(QFileInfo(folder).absolutePath()).isDir() ? kFileNotFound : kPathNotFound;
    }
    return info.isReadable() ? 0 : kAccessDenied;
}

// xdg-open's exit status in the shell's numbering.
int RunXdgOpen(const QString &target) {
    if (QStandardPaths::findExecutable("xdg-open").isEmpty()) return kNoAssociation;
    const int status = QProcess::execute("xdg-open", {target});
    if (status == 0) return kOpened;
    if (status == 2) return kFileNotFound;
    if (status < 0 || status == 3 || status == 4) return kNoAssociation;
    return status;
}

} // namespace

// The colours are given as 0x00BBGGRR values: link 0x7E7E18, visited and hover 0xFBFBDB.
const QColor HyperlinkStatic::kLinkColour(0x18, 0x7E, 0x7E);
const QColor HyperlinkStatic::kVisitedColour(0xDB, 0xFB, 0xFB);
const QColor HyperlinkStatic::kHoverColour(0xDB, 0xFB, 0xFB);

HyperlinkStatic::HyperlinkStatic(const QString &text, QWidget *parent) : QLabel(text, parent), url_(text) {
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setToolTip(url_);
    FitToText();
}

void HyperlinkStatic::SetUrl(const QString &url) {
    url_ = url;
    if (text().isEmpty()) setText(url);
    setToolTip(url_);
    FitToText();
    update();
}

void HyperlinkStatic::SetFolderMode(bool on) { folderMode_ = on; }

QColor HyperlinkStatic::TextColour() const {
    if (hovered_) return kHoverColour;
    return visited_ ? kVisitedColour : kLinkColour;
}

void HyperlinkStatic::FitToText() {
    if (!fitToText_) return;
    const QRect old = geometry();
    const QSize size = sizeHint();
    int x = old.x();
    if (alignment() & Qt::AlignRight)
        x = old.x() + old.width() - size.width();
    else if (alignment() & Qt::AlignHCenter)
        x = old.x() + (old.width() - size.width()) / 2;
    setGeometry(x, old.y(), size.width(), size.height());
}

void HyperlinkStatic::paintEvent(QPaintEvent *) {
    // The background is never erased: the text sits on whatever is behind it.
    QPainter p(this);
    QFont f = font();
    f.setUnderline(true);
    p.setFont(f);
    p.setPen(TextColour());
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    p.drawText(area, int(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0), text());
}

void HyperlinkStatic::mouseMoveEvent(QMouseEvent *event) {
    QLabel::mouseMoveEvent(event);
    if (!hovered_) {
        hovered_ = true;
        update();
        if (!hoverTimer_) hoverTimer_ = startTimer(kHoverMs);
    }
}

void HyperlinkStatic::timerEvent(QTimerEvent *event) {
    if (event->timerId() != hoverTimer_) {
        QLabel::timerEvent(event);
        return;
    }
    // underMouse() follows the pointer's enter and leave; the position check covers a pointer
    // that left while the window did not see it go.
    const bool inside = underMouse() && rect().contains(mapFromGlobal(QCursor::pos()));
    if (!inside) {
        hovered_ = false;
        killTimer(hoverTimer_);
        hoverTimer_ = 0;
        update();
    }
}

void HyperlinkStatic::changeEvent(QEvent *event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) FitToText();
}

void HyperlinkStatic::mouseReleaseEvent(QMouseEvent *event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Follow();
}

bool HyperlinkStatic::Follow() {
    const int result = opener_ ? opener_(url_, folderMode_) : OpenWithSystem(url_, folderMode_);
    if (result > 32) {
        visited_ = true;
        update();
        emit Opened(url_);
        return true;
    }
    QApplication::beep();
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), ErrorMessage(result), QMessageBox::Ok,
                    this);
    box.setObjectName("hyperlinkError");
    box.exec();
    return false;
}

int HyperlinkStatic::OpenWithSystem(const QString &url, bool folderMode) {
    if (folderMode) {
        const QString path = LocalPath(url);
        if (const int problem = LocalProblem(path)) return problem;
        const QString item = QFileInfo(path.endsWith('/') && path.size() > 1 ? path.chopped(1) : path).absoluteFilePath();
        // A file manager that implements the freedesktop call shows the item selected;
        // otherwise the folder that holds it is opened.
        if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS") &&
            !QStandardPaths::findExecutable("dbus-send").isEmpty()) {
            const int status = QProcess::execute(
                "dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.FileManager1", "--type=method_call",
                              "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1.ShowItems",
                              "array:string:" + QUrl::fromLocalFile(item).toString(QUrl::FullyEncoded), "string:"});
            if (status == 0) return kOpened;
        }
        const QString folder = QFileInfo(item).absolutePath();
        if (QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) return kOpened;
        return RunXdgOpen(folder);
    }
    if (IsLocalAddress(url)) {
        if (const int problem = LocalProblem(LocalPath(url))) return problem;
    }
    const QUrl address = IsLocalAddress(url) ? QUrl::fromLocalFile(LocalPath(url)) : QUrl(url);
    if (address.isValid() && QDesktopServices::openUrl(address)) return kOpened;
    return RunXdgOpen(url);
}

QString HyperlinkStatic::ErrorMessage(int result) {
    QString reason;
    switch (result) {
    case 0: reason = "The operating system is out\nof memory or resources."; break;
    case 2: reason = "The specified file was not found."; break;
    case 3: reason = "The specified path was not found."; break;
    case 5: reason = "The operating system denied\naccess to the specified file."; break;
    case 8: reason = "There was not enough memory to complete the operation."; break;
    case 11: reason = "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."; break;
    case 26: reason = "A sharing violation occurred. "; break;
    case 27: reason = "The filename association is\nincomplete or invalid."; break;
    case 28: reason = "The DDE transaction could not\nbe completed because the request timed out."; break;
    case 29: reason = "The DDE transaction failed."; break;
    case 30:
        reason = "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
        break;
    case 31: reason = "There is no application associated\nwith the given filename extension."; break;
    case 32: reason = "The specified dynamic-link library was not found."; break;
    default: reason = QString("Unknown Error (%1) occurred.").arg(result); break;
    }
    return "Unable to open hyperlink:\n\n" + reason;
}

} // namespace qm
