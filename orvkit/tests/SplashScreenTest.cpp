// The splash screen through its two exported routines, on the offscreen platform.
#include "OrvSplash.h"

#include <orvkit/orvkit.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWidget>

#include <cstdint>

using namespace orvkit;

namespace {

std::uintptr_t pictureArg(const QImage &picture)
{
    return reinterpret_cast<std::uintptr_t>(&picture);
}

std::uintptr_t nameArg(const char *name)
{
    return reinterpret_cast<std::uintptr_t>(name);
}

QImage shownPicture(std::uintptr_t handle)
{
    QWidget *splash = QWidget::find(static_cast<WId>(handle));
    return splash ? splash->grab().toImage().convertToFormat(QImage::Format_RGB32) : QImage();
}

// A picture whose every pixel differs from its neighbours, so a shifted or partial copy shows.
QImage patterned(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb(x * 2 % 256, y * 3 % 256, (x + y) % 256));
    return picture;
}

bool splashIsGone(std::uintptr_t handle)
{
    return !QWidget::find(static_cast<WId>(handle)) && !splashState().active
        && splashState().canvas.isNull();
}

} // namespace

class SplashScreenTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        delete splashState().window.data();
        QVERIFY(!splashState().active);
    }

    // Only the low 16 bits of width and height count: 65 536 + 100 is 100.
    void sizeTakesOnlyTheLow16Bits_data()
    {
        QTest::addColumn<quint64>("width");
        QTest::addColumn<quint64>("height");
        QTest::addColumn<QSize>("size");
        QTest::newRow("PlainSize") << quint64(100) << quint64(50) << QSize(100, 50);
        QTest::newRow("65536Plus100Is100")
            << quint64(65536 + 100) << quint64(65536 + 50) << QSize(100, 50);
        QTest::newRow("HighBitsOfAWideArgument")
            << (quint64(0xABCD) << 32 | 0x10064) << quint64(50) << QSize(100, 50);
    }

    void sizeTakesOnlyTheLow16Bits()
    {
        QFETCH(quint64, width);
        QFETCH(quint64, height);
        QFETCH(QSize, size);
        const QImage picture = patterned(120, 60);
        const std::uintptr_t handle = OrvSplashScreen(0, pictureArg(picture), width, height);
        QVERIFY(handle != 0);
        QCOMPARE(QWidget::find(static_cast<WId>(handle))->size(), size);
        QCOMPARE(shownPicture(handle), picture.copy(QRect(QPoint(0, 0), size)));
    }

    // The picture is copied when the call is made; later drawing into it does not show.
    // A picture's colours are copied as they are, its transparency left out (a half-transparent
    // or clear pixel is not darkened, nor blended with what was behind).
    void pictureIsCopiedAtCallTime()
    {
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        const std::uintptr_t handle = OrvSplashScreen(0, pictureArg(picture), 40, 30);
        picture.fill(Qt::red);
        const QImage shown = shownPicture(handle);
        QCOMPARE(shown.pixelColor(0, 0), QColor(Qt::blue));
        QCOMPARE(shown.pixelColor(39, 29), QColor(Qt::blue));

        QImage clear(40, 30, QImage::Format_ARGB32);
        clear.fill(QColor(200, 10, 10, 128));
        clear.setPixelColor(0, 0, QColor(255, 255, 255, 0));
        const QImage copied = shownPicture(OrvSplashScreen(0, pictureArg(clear), 40, 30));
        QCOMPARE(copied.pixelColor(20, 15), QColor(200, 10, 10));
        QCOMPARE(copied.pixelColor(0, 0), QColor(Qt::white));
    }

    // No picture gives a white splash; a picture smaller than the splash leaves white beyond it.
    void missingPixelsAreWhite()
    {
        std::uintptr_t handle = OrvSplashScreen(0, 0, 30, 20);
        QCOMPARE(shownPicture(handle).pixelColor(15, 10), QColor(Qt::white));

        QImage small(10, 10, QImage::Format_RGB32);
        small.fill(Qt::black);
        handle = OrvSplashScreen(0, pictureArg(small), 30, 20);
        const QImage shown = shownPicture(handle);
        QCOMPARE(shown.pixelColor(9, 9), QColor(Qt::black));
        QCOMPARE(shown.pixelColor(10, 9), QColor(Qt::white));
        QCOMPARE(shown.pixelColor(29, 19), QColor(Qt::white));
    }

    // Destroying the owner removes the splash with it and frees the library's copy.
    void ownerDestroyedTakesTheSplashWithIt()
    {
        auto *owner = new QWidget;
        owner->show();
        const std::uintptr_t handle = OrvSplashScreen(owner->winId(), 0, 30, 20);
        QVERIFY(QWidget::find(static_cast<WId>(handle))->isVisible());
        QVERIFY(splashState().active);
        QVERIFY(!splashState().canvas.isNull());
        delete owner;
        QVERIFY(splashIsGone(handle));
    }

    // Closing the window (as Alt+F4 does) destroys it, and the copy goes with it.
    void closingTheSplashFreesIt()
    {
        const std::uintptr_t handle = OrvSplashScreen(0, 0, 30, 20);
        QVERIFY(QWidget::find(static_cast<WId>(handle))->close());
        QTRY_VERIFY(splashIsGone(handle));
    }

    // No border, no caption, always on top, out of the task bar, centred in the work area;
    // clicking it does nothing.
    void windowIsABorderlessTopmostToolWindow()
    {
        const std::uintptr_t handle = OrvSplashScreen(0, 0, 64, 48);
        QWidget *splash = QWidget::find(static_cast<WId>(handle));
        QTest::mouseClick(splash, Qt::LeftButton);
        QCOMPARE(QWidget::find(static_cast<WId>(handle)), splash);
        QVERIFY(splash->isVisible());
        QCOMPARE(splash->windowType(), Qt::Tool);
        QVERIFY(splash->windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(splash->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(splash->windowTitle(), QStringLiteral("Loading..."));
        QCOMPARE(splash->pos(), CentreOnWorkArea(64, 48));
    }

    // The bitmap loaded from a resource is released at once; the splash keeps its own copy and
    // paints it again whenever asked.
    void resourceSplashKeepsItsCopyAfterTheBitmapIsReleased()
    {
        const QImage expected
            = QImage(QStringLiteral(":/orvkit/DYK")).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(expected.size(), QSize(142, 34));
        const std::uintptr_t handle = OrvSplashScreenRES(0, 0, nameArg("DYK"), 65536 + 142, 34);
        QCOMPARE(shownPicture(handle), expected);
        QCOMPARE(shownPicture(handle), expected);
    }

    // A bitmap that cannot be loaded gives a white splash of the requested size.
    void missingResourceGivesAWhiteSplash()
    {
        const std::uintptr_t handle = OrvSplashScreenRES(0, 0, nameArg("NoSuchBitmap"), 20, 10);
        QVERIFY(handle != 0);
        const QImage shown = shownPicture(handle);
        QCOMPARE(shown.size(), QSize(20, 10));
        QCOMPARE(shown.pixelColor(10, 5), QColor(Qt::white));
    }

    // One splash at a time: a second call removes the first, and the second shows its own picture.
    void secondSplashReplacesTheFirst()
    {
        QImage blue(10, 10, QImage::Format_RGB32);
        blue.fill(Qt::blue);
        QImage red(20, 20, QImage::Format_RGB32);
        red.fill(Qt::red);
        const std::uintptr_t first = OrvSplashScreen(0, pictureArg(blue), 10, 10);
        const std::uintptr_t second = OrvSplashScreen(0, pictureArg(red), 20, 20);
        QVERIFY(!QWidget::find(static_cast<WId>(first)));
        QVERIFY(splashState().active);
        QCOMPARE(shownPicture(second).pixelColor(15, 15), QColor(Qt::red));
        delete QWidget::find(static_cast<WId>(second));
        QVERIFY(splashIsGone(second));
    }

    // A splash given the splash now shown as its owner replaces it and stands alone, since the
    // old window is gone by the time the new one is made; by either routine.
    void currentSplashAsOwnerCountsAsNoOwner_data()
    {
        QTest::addColumn<bool>("fromResource");
        QTest::newRow("Picture") << false;
        QTest::newRow("Resource") << true;
    }

    void currentSplashAsOwnerCountsAsNoOwner()
    {
        QFETCH(bool, fromResource);
        QImage red(20, 20, QImage::Format_RGB32);
        red.fill(Qt::red);
        const std::uintptr_t first = OrvSplashScreen(0, pictureArg(red), 20, 20);
        QVERIFY(first != 0);
        const std::uintptr_t second = fromResource
            ? OrvSplashScreenRES(first, 0, nameArg("DYK"), 142, 34)
            : OrvSplashScreen(first, pictureArg(red), 30, 30);
        QVERIFY(second != 0);
        QWidget *splash = QWidget::find(static_cast<WId>(second));
        QVERIFY(splash);
        QVERIFY(!splash->parentWidget());
        QVERIFY(splash->isVisible());
        QCOMPARE(splashState().window.data(), splash);
        QVERIFY(!QWidget::find(static_cast<WId>(first)) || first == second);
        delete splash;
        QVERIFY(splashIsGone(second));
    }

    // A picture too large to hold shows nothing and leaves no splash behind.
    void tooLargeASplashShowsNothing()
    {
        QCOMPARE(OrvSplashScreen(0, 0, 0xFFFF, 0xFFFF), std::uintptr_t(0));
        QVERIFY(!splashState().active);
        QVERIFY(splashState().canvas.isNull());
        QVERIFY(!splashState().window);
    }
};

QTEST_MAIN(SplashScreenTest)
#include "SplashScreenTest.moc"
