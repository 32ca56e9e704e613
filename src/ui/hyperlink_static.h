#pragma once
// A label that behaves like a web link: link, hover and visited colours, a hand pointer, a tip
// with its address. A click opens the address; in folder mode it opens the folder that holds the
// address with that item selected. An address that cannot be opened gives the message
// "Unable to open hyperlink:" with the reason.
#include <QColor>
#include <QLabel>
#include <QString>
#include <QTimer>
#include <functional>

namespace qm {

class HyperlinkStatic : public QLabel {
    Q_OBJECT
public:
    explicit HyperlinkStatic(const QString &text = {}, QWidget *parent = nullptr);

    void SetUrl(const QString &url);
    void SetFolderMode(bool on);

    QString Url() const { return url_; }
    bool FolderMode() const { return folderMode_; }
    bool IsHovered() const { return hovered_; }
    bool IsVisited() const { return visited_; }
    // The colour the text is drawn in now: hover, else visited, else link colour.
    QColor TextColour() const;

    static const QColor kLinkColour;     // 0x187E7E (red 0x18, green 0x7E, blue 0x7E)
    static const QColor kVisitedColour;  // 0xDBFBFB
    static const QColor kHoverColour;    // 0xDBFBFB

    // The outcome of opening an address, in the shell's numbering: above 32 it opened; 2 the
    // file was not found, 3 the path was not found, 5 access was denied, 31 nothing is
    // associated with it.
    using Opener = std::function<int(const QString &url, bool folderMode)>;
    // Replaces the way addresses are opened (tests); an empty opener restores the system's.
    void SetOpener(Opener opener) { opener_ = std::move(opener); }
    // The system's way: the desktop's "open" action, then xdg-open; in folder mode the file
    // manager showing the item, else its folder.
    static int OpenWithSystem(const QString &url, bool folderMode);
    // "Unable to open hyperlink:\n\n" followed by the text for `result`.
    static QString ErrorMessage(int result);

    // Opens the address as a click does (shows the message on failure); true when it opened.
    bool Follow();

signals:
    void Opened(const QString &url);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void FitToText();

    QString url_;
    bool folderMode_ = false;
    bool hovered_ = false;
    bool visited_ = false;
    bool fitToText_ = true;
    int hoverTimer_ = 0;
    Opener opener_;
};

} // namespace qm
