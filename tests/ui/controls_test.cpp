// The custom controls: bitmap buttons (grey picture, hover, focus), link labels (colours, hover
// timer, failures), the page thumbnail picture and the lock.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <thread>

#include "gui_support/box_answerer.h"
#include "support/temp_dir.h"
#include "ui/hyperlink_static.h"
#include "ui/page_thumbnail_list.h"
#include "ui/skin_button.h"
#include "ui/sync_lock.h"

namespace {

constexpr QRgb kMagenta = 0xFF00FF;

// A 4 x 1 picture: magenta, white, a colour, black.
QString WritePicture(const qmtest::TempDir &dir, const std::string &name, QRgb colour) {
    QImage image(4, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(255, 0, 255));
    image.setPixel(1, 0, qRgb(255, 255, 255));
    image.setPixel(2, 0, colour);
    image.setPixel(3, 0, qRgb(0, 0, 0));
    const QString path = QString::fromStdString(dir.File(name));
    EXPECT_TRUE(image.save(path));
    return path;
}

TEST(SkinButtonTest, GreyPictureKeepsTransparentPixelsAndTruncates) {
    QImage image(3, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(255, 0, 255));
    image.setPixel(1, 0, qRgb(255, 255, 255));
    image.setPixel(2, 0, qRgb(10, 200, 30));  // 2.99 + 117.4 + 3.42 = 123.81
    const QImage grey = qm::SkinButton::MakeGrey(image, kMagenta);
    EXPECT_EQ(grey.pixel(0, 0) & 0xFFFFFF, 0xFF00FFu);
    EXPECT_EQ(grey.pixel(1, 0) & 0xFFFFFF, 0xFFFFFFu);  // white stays white, not 254
    EXPECT_EQ(grey.pixel(2, 0) & 0xFFFFFF, 0x7B7B7Bu);  // 123
}

TEST(SkinButtonTest, PictureFollowsStateAndTransparentPixelsAreNotDrawn) {
    qmtest::TempDir dir;
    const QString over = WritePicture(dir, "over.png", qRgb(0, 0, 255));
    const QString normal = WritePicture(dir, "normal.png", qRgb(200, 100, 50));
    QWidget top;
    top.resize(200, 100);
    auto *button = new qm::SkinButton("Next", &top);
    button->SetBitmaps(over, kMagenta, normal, kMagenta, true);
    button->move(50, 40);
    button->SizeToImage();
    EXPECT_EQ(button->size(), QSize(4, 1));
    EXPECT_EQ(button->pos(), QPoint(50, 40));
    top.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));

    EXPECT_EQ(qAlpha(button->CurrentImage().pixel(0, 0)), 0);  // magenta is not drawn
    EXPECT_EQ(button->CurrentImage().pixel(2, 0), qRgb(200, 100, 50));
    button->setDown(true);
    EXPECT_EQ(button->CurrentImage().pixel(2, 0), qRgb(0, 0, 255));
    button->setDown(false);
    button->setEnabled(false);
    const int g = (299 * 200 + 587 * 100 + 114 * 50) / 1000;
    EXPECT_EQ(button->CurrentImage().pixel(2, 0), qRgb(g, g, g));
}

TEST(SkinButtonTest, CompiledInPicturesHaveMagentaCorners) {
    // Every button of the program has both pictures, of one size, with the transparent colour
    // around the rounded corners and none in the middle.
    for (const char *name : {"prev", "next", "repeat", "savelog", "help", "about", "review"}) {
        const QString normal = QString(":/ui/%1_normal.png").arg(name), over = QString(":/ui/%1_over.png").arg(name);
        ASSERT_TRUE(QFile::exists(normal) && QFile::exists(over)) << name;
        qm::SkinButton button(name);
        button.SetBitmaps(over, kMagenta, normal, kMagenta, true);
        button.SizeToImage();
        EXPECT_EQ(button.size(), QImage(over).size()) << name;
        const QImage shown = button.CurrentImage();
        EXPECT_EQ(qAlpha(shown.pixel(0, 0)), 0) << name;
        EXPECT_EQ(qAlpha(shown.pixel(shown.width() / 2, shown.height() / 2)), 255) << name;
    }
    for (const char *picture : {"background", "page_corner", "quillmark", "task_pdf", "task_docs"})
        EXPECT_FALSE(QImage(QString(":/ui/%1.png").arg(picture)).isNull()) << picture;
}

TEST(SkinButtonTest, OnlyAFlatButtonFollowsThePointer) {
    QWidget top;
    top.resize(300, 120);
    auto *flat = new qm::SkinButton("Flat", &top);
    auto *solid = new qm::SkinButton("Solid", &top);
    solid->SetFlat(false);
    flat->setGeometry(10, 10, 100, 40);
    solid->setGeometry(150, 10, 100, 40);
    top.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));

    QTest::mouseMove(&top, QPoint(200, 30));
    QTest::mouseMove(solid, QPoint(30, 20));
    QApplication::processEvents();
    EXPECT_FALSE(solid->IsHovered());

    QTest::mouseMove(flat, QPoint(30, 20));
    QTRY_VERIFY(flat->IsHovered());
    QTest::mouseMove(&top, QPoint(5, 100));  // out of the button
    QTRY_VERIFY(!flat->IsHovered());

    QTest::mouseMove(flat, QPoint(20, 20));
    QTRY_VERIFY(flat->IsHovered());
    flat->setEnabled(false);  // disabling ends the hover
    EXPECT_FALSE(flat->IsHovered());
}

TEST(SkinButtonTest, DisabledButtonPassesItsFocusToTheNextTabStop) {
    QWidget top;
    auto *layout = new QVBoxLayout(&top);
    auto *first = new qm::SkinButton("First", &top);
    auto *second = new qm::SkinButton("Second", &top);
    auto *edit = new QLineEdit(&top);
    for (QWidget *w : std::initializer_list<QWidget *>{first, second, edit}) {
        w->setFocusPolicy(Qt::StrongFocus);
        layout->addWidget(w);
    }
    top.resize(200, 150);
    top.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
    QApplication::setActiveWindow(&top);
    first->setFocus();
    QTRY_VERIFY(first->hasFocus());
    first->setEnabled(false);
    QTRY_VERIFY(second->hasFocus());
    second->setEnabled(false);
    QTRY_VERIFY(edit->hasFocus());
}

TEST(HyperlinkStaticTest, ColoursFollowHoverAndVisit) {
    EXPECT_EQ(qm::HyperlinkStatic::kLinkColour, QColor(0x18, 0x7E, 0x7E));
    EXPECT_EQ(qm::HyperlinkStatic::kVisitedColour, QColor(0xDB, 0xFB, 0xFB));

    QWidget top;
    top.resize(400, 200);
    auto *link = new qm::HyperlinkStatic("Online Help", &top);
    link->move(20, 20);
    link->SetUrl("https://example.org/help");
    EXPECT_EQ(link->text(), "Online Help");  // the text stays; the tip shows the address
    EXPECT_EQ(link->toolTip(), "https://example.org/help");
    EXPECT_EQ(link->width(), link->sizeHint().width());  // fitted to its text
    QString opened;
    link->SetOpener([&](const QString &url, bool folder) {
        EXPECT_FALSE(folder);
        opened = url;
        return 42;
    });
    top.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
    EXPECT_EQ(link->TextColour(), qm::HyperlinkStatic::kLinkColour);

    QTest::mouseMove(link, QPoint(5, 5));
    QTRY_VERIFY(link->IsHovered());
    EXPECT_EQ(link->TextColour(), qm::HyperlinkStatic::kHoverColour);
    // Once the pointer has gone, the next tick of the 100 ms timer ends the hover.
    QTest::mouseMove(&top, QPoint(300, 150));
    EXPECT_TRUE(link->IsHovered());
    QTRY_VERIFY_WITH_TIMEOUT(!link->IsHovered(), 2000);
    EXPECT_EQ(link->TextColour(), qm::HyperlinkStatic::kLinkColour);

    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(opened, "https://example.org/help");
    EXPECT_TRUE(link->IsVisited());
    QTest::mouseMove(&top, QPoint(300, 150));
    QTRY_VERIFY_WITH_TIMEOUT(!link->IsHovered(), 2000);
    EXPECT_EQ(link->TextColour(), qm::HyperlinkStatic::kVisitedColour);
}

TEST(HyperlinkStaticTest, FailureShowsTheReasonAndDoesNotMarkVisited) {
    EXPECT_EQ(qm::HyperlinkStatic::ErrorMessage(2), "Unable to open hyperlink:\n\nThe specified file was not found.");
    EXPECT_EQ(qm::HyperlinkStatic::ErrorMessage(31),
              "Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename extension.");
    EXPECT_EQ(qm::HyperlinkStatic::ErrorMessage(99), "Unable to open hyperlink:\n\nUnknown Error (99) occurred.");

    // The system's opener finds a missing file or folder before it asks any program.
    qmtest::TempDir dir;
    EXPECT_EQ(qm::HyperlinkStatic::OpenWithSystem(QString::fromStdString(dir.File("gone.epub")), true), 2);
    EXPECT_EQ(qm::HyperlinkStatic::OpenWithSystem(QString::fromStdString(dir.File("no/such/book.epub")), false), 3);

    qm::HyperlinkStatic link("Report Bugs");
    link.SetFolderMode(true);
    bool folderMode = false;
    link.SetOpener([&](const QString &, bool folder) {
        folderMode = folder;
        return 3;
    });
    BoxAnswerer answerer;
    EXPECT_FALSE(link.Follow());
    EXPECT_TRUE(folderMode);
    EXPECT_EQ(answerer.LastText(), "Unable to open hyperlink:\n\nThe specified path was not found.");
    EXPECT_FALSE(link.IsVisited());
}

TEST(PageThumbnailListTest, PageIsStretchedIntoTheFrameWithAShadow) {
    // An 85 x 110 page: red on top, blue below.
    QImage page(85, 110, QImage::Format_RGB32);
    page.fill(qRgb(255, 0, 0));
    for (int y = 55; y < 110; ++y)
        for (int x = 0; x < 85; ++x) page.setPixel(x, y, qRgb(0, 0, 255));
    const QImage image = qm::PageThumbnailList::Compose(page);
    ASSERT_EQ(image.size(), QSize(120, 150));
    auto px = [&](int x, int y) { return image.pixel(x, y) & 0xFFFFFF; };
    // Frame outline on (0, 0)-(117, 147); the page fills (1, 1)-(116, 146) corner to corner.
    EXPECT_EQ(px(0, 0), 0x000000u);
    EXPECT_EQ(px(117, 147), 0x000000u);
    EXPECT_EQ(px(0, 75), 0x000000u);
    EXPECT_EQ(px(1, 1), 0xFF0000u);
    EXPECT_EQ(px(116, 1), 0xFF0000u);
    EXPECT_EQ(px(1, 146), 0x0000FFu);
    EXPECT_EQ(px(116, 146), 0x0000FFu);
    // Shadow: 2 pixels, right from y 2 and bottom from x 2; the corners it leaves are white.
    EXPECT_EQ(px(118, 2), 0x808080u);
    EXPECT_EQ(px(119, 149), 0x808080u);
    EXPECT_EQ(px(2, 148), 0x808080u);
    EXPECT_EQ(px(118, 1), 0xFFFFFFu);
    EXPECT_EQ(px(1, 148), 0xFFFFFFu);

    qm::PageThumbnailList list;
    EXPECT_EQ(list.AddPage(page, "1"), 0);
    EXPECT_EQ(list.AddPage(page, "2"), 1);
    EXPECT_EQ(list.iconSize(), QSize(120, 150));
    EXPECT_EQ(list.item(1)->text(), "2");
}

TEST(SyncLockTest, HolderKeepsOtherThreadsOutUntilItEnds) {
    for (int kind : {qm::SyncLock::kMutex, 0}) {
        qm::SyncLock lock(kind);
        EXPECT_EQ(lock.Handle(), nullptr);
        lock.Create();
        ASSERT_NE(lock.Handle(), nullptr);
        std::atomic<bool> entered{false};
        std::thread other;
        {
            qm::MutexHolder hold(lock.Handle());
            lock.Acquire();  // the holding thread may take it again
            lock.Release();
            other = std::thread([&] {
                lock.Acquire();
                entered = true;
                lock.Release();
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_FALSE(entered.load());
        }
        other.join();
        EXPECT_TRUE(entered.load());
        lock.Destroy();
        EXPECT_EQ(lock.Handle(), nullptr);
        qm::MutexHolder none(nullptr);  // no lock: nothing to hold
    }
}

} // namespace
