#include "OrvGraphics.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <future>

#include <sys/stat.h>

using namespace orvkit;

namespace {

// 96 dots per inch in the dots-per-metre unit QImage keeps (96 / 0.0254, rounded).
constexpr int kDotsPerMetreAt96 = 3780;
constexpr int kDotsPerMetreAt120 = 4724;

bool allPixelsAre(const QImage &image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != (colour & 0xFFFFFF))
                return false;
    return true;
}

} // namespace

class OrvGraphicsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Negative values name a system colour by their lowest byte; the button face follows the
    // application's palette rather than a fixed grey.
    void negativeColourNamesTheButtonFace()
    {
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::Button, QColor(0x12, 0x34, 0x56));
        QApplication::setPalette(palette);
        QCOMPARE(ResolveColor(ColorValue(0x8000000F)), QColor(0x12, 0x34, 0x56));
        QCOMPARE(ResolveColor(ColorValue(0xFFFFFF0F)), QColor(0x12, 0x34, 0x56));
        // The same index as a positive value is just a dark red.
        QCOMPARE(ResolveColor(0x0F), QColor(15, 0, 0));
    }

    // Red sits in the lowest byte and blue in the third, the reverse of QRgb.
    void positiveColourIsRgbUnchanged_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("pure red") << 0x000000FF << QColor(255, 0, 0);
        QTest::newRow("yellow") << 0x0000FFFF << QColor(255, 255, 0);
        QTest::newRow("blue") << 0x00FF0000 << QColor(0, 0, 255);
        QTest::newRow("light yellow") << 0x00CCFFFF << QColor(255, 255, 204);
        QTest::newRow("silver") << 0x00C0C0C0 << QColor(192, 192, 192);
    }
    void positiveColourIsRgbUnchanged()
    {
        QFETCH(int, value);
        QFETCH(QColor, expected);
        QCOMPARE(ResolveColor(value), expected);
    }

    void newCanvasIsEntirelyWhite()
    {
        Canvas canvas = CreateCanvas(37, 23);
        QVERIFY(!canvas.isNull());
        QCOMPARE(canvas.image()->size(), QSize(37, 23));
        QVERIFY(allPixelsAre(*canvas.image(), qRgb(255, 255, 255)));
    }

    void emptySizeGivesNullCanvasThatHelpersIgnore()
    {
        Canvas canvas = CreateCanvas(0, 10);
        QVERIFY(canvas.isNull());
        SetCanvasBrush(canvas, 0xFF);
        QCOMPARE(SetCanvasFont(canvas, 10, QStringLiteral("Arial"), 0, 0), QFont());
        FreeCanvas(canvas);
        QVERIFY(canvas.isNull());
    }

    void ownBitmapsLoadAtTheirSizes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::newRow("background tile") << QStringLiteral("BACK") << QSize(81, 81);
        QTest::newRow("tip picture") << QStringLiteral("DYK") << QSize(142, 34);
        QTest::newRow("icon") << QStringLiteral("MAINICON") << QSize(32, 32);
    }
    void ownBitmapsLoadAtTheirSizes()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        const QByteArray utf8 = name.toUtf8();
        Canvas canvas = LoadCanvas(0, reinterpret_cast<std::uintptr_t>(utf8.constData()));
        QVERIFY(!canvas.isNull());
        QCOMPARE(canvas.image()->size(), size);
    }

    // Module and bitmap arguments resolve to resource paths as the public header documents.
    void bitmapArgumentsMapToResourcePaths()
    {
        const auto address
            = [](const char *text) { return reinterpret_cast<std::uintptr_t>(text); };
        QCOMPARE(BitmapResourcePath(0, address("DYK")), QStringLiteral(":/orvkit/DYK"));
        QCOMPARE(BitmapResourcePath(0, 100), QStringLiteral(":/orvkit/#100"));
        QCOMPARE(
            BitmapResourcePath(address(":/app"), address("logo")), QStringLiteral(":/app/logo"));
        QCOMPARE(BitmapResourcePath(address(":/app"), 7), QStringLiteral(":/app/#7"));
        QCOMPARE(BitmapResourcePath(address(":/app"), address(":/other/pic")),
            QStringLiteral(":/other/pic"));
        QCOMPARE(BitmapResourcePath(0, 0), QString());
    }

    void missingBitmapGivesNullCanvas()
    {
        QVERIFY(LoadCanvas(0, reinterpret_cast<std::uintptr_t>("NOSUCH")).isNull());
        QVERIFY(LoadCanvas(0, 4242).isNull());
        QVERIFY(LoadCanvas(QString()).isNull());
    }

    // A bitmap named by a pipe nobody writes gives a null canvas at once: opening it would wait
    // for a writer for ever (a writer then lets the test end).
    void bitmapThatIsAPipeGivesNullCanvas()
    {
        QTemporaryDir folder;
        const QString fifo = folder.filePath(QStringLiteral("picture.bmp"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        auto loaded = std::async(std::launch::async, [fifo] { return LoadCanvas(fifo).isNull(); });
        const bool inTime = loaded.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        if (!inTime)
            static_cast<void>(QFile(fifo).open(QIODevice::WriteOnly));
        QVERIFY(inTime && loaded.get());
    }

    // Bit 0 bold, 1 italic, 2 underline, 3 strike-out; the bits above change nothing.
    void styleFlagsSelectFontStyles_data()
    {
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::addColumn<bool>("underline");
        QTest::addColumn<bool>("strikeOut");
        QTest::newRow("none") << 0u << false << false << false << false;
        QTest::newRow("bold italic") << 3u << true << true << false << false;
        QTest::newRow("underline") << 4u << false << false << true << false;
        QTest::newRow("all four") << 15u << true << true << true << true;
        QTest::newRow("all four and high bits") << 0xFFu << true << true << true << true;
        QTest::newRow("high bits only") << 0xF0u << false << false << false << false;
    }
    void styleFlagsSelectFontStyles()
    {
        QFETCH(unsigned, flags);
        QFETCH(bool, bold);
        QFETCH(bool, italic);
        QFETCH(bool, underline);
        QFETCH(bool, strikeOut);
        Canvas canvas = CreateCanvas(10, 10);
        const QFont font = SetCanvasFont(canvas, 10, QStringLiteral("Arial"), 0, flags);
        QCOMPARE(font.weight(), bold ? QFont::Bold : QFont::Normal);
        QCOMPARE(font.italic(), italic);
        QCOMPARE(font.underline(), underline);
        QCOMPARE(font.strikeOut(), strikeOut);
        // The font is the canvas's from now on.
        QCOMPARE(canvas.painter()->font().italic(), italic);
    }

    // Points become a character height in pixels at the horizontal resolution, rounded to the
    // nearest pixel.
    void pointSizesBecomePixelHeights_data()
    {
        QTest::addColumn<int>("dotsPerMetreX");
        QTest::addColumn<int>("dotsPerMetreY");
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("pixels");
        QTest::newRow("8 pt at 96 dpi") << kDotsPerMetreAt96 << kDotsPerMetreAt96 << 8 << 11;
        QTest::newRow("10 pt at 96 dpi") << kDotsPerMetreAt96 << kDotsPerMetreAt96 << 10 << 13;
        QTest::newRow("26 pt at 96 dpi") << kDotsPerMetreAt96 << kDotsPerMetreAt96 << 26 << 35;
        QTest::newRow("10 pt, 120 dpi across, 96 down")
            << kDotsPerMetreAt120 << kDotsPerMetreAt96 << 10 << 17;
        QTest::newRow("10 pt, 96 dpi across, 120 down")
            << kDotsPerMetreAt96 << kDotsPerMetreAt120 << 10 << 13;
    }
    void pointSizesBecomePixelHeights()
    {
        QFETCH(int, dotsPerMetreX);
        QFETCH(int, dotsPerMetreY);
        QFETCH(int, points);
        QFETCH(int, pixels);
        QImage image(20, 20, QImage::Format_RGB32);
        image.setDotsPerMeterX(dotsPerMetreX);
        image.setDotsPerMeterY(dotsPerMetreY);
        QPainter painter(&image);
        const QFont font = SetContextFont(painter, points, QStringLiteral("Arial"), 0, 0);
        QCOMPARE(font.pixelSize(), pixels);
        QCOMPARE(painter.font().pixelSize(), pixels);
    }

    // The text colour follows the colour value, and text is drawn below its top-left point.
    void textIsDrawnInTheColourBelowItsTopLeftCorner()
    {
        Canvas canvas = CreateCanvas(120, 60);
        SetCanvasFont(canvas, 20, QStringLiteral("Arial"), 0x0000FF, StyleBold);
        const int height = TextHeight(*canvas.painter(), QStringLiteral("H"));
        QVERIFY(height > 0);
        QVERIFY(TextWidth(*canvas.painter(), QStringLiteral("HH"))
            > TextWidth(*canvas.painter(), QStringLiteral("H")));
        DrawTextAt(*canvas.painter(), 10, 20, QStringLiteral("H"));
        canvas.painter()->end();
        const QImage &image = *canvas.image();
        QVERIFY(allPixelsAre(image.copy(0, 0, 120, 20), qRgb(255, 255, 255)));
        bool sawRed = false;
        for (int y = 20; y < 20 + height; ++y)
            for (int x = 10; x < 60; ++x)
                sawRed = sawRed || (image.pixel(x, y) & 0xFFFFFF) == 0xFF0000;
        QVERIFY(sawRed);
    }

    // Inverting twice with the same brush restores the picture; once, it XORs the colour in.
    void invertingWithTheBrushIsAnExclusiveOr()
    {
        Canvas canvas = CreateCanvas(8, 8);
        SetCanvasBrush(canvas, rgbValue(255, 255, 0)); // yellow
        QVERIFY(canvas.hasBrush);
        InvertWithBrush(*canvas.painter(), QRect(2, 2, 4, 4));
        QCOMPARE(canvas.image()->pixel(3, 3) & 0xFFFFFF, 0x0000FFu); // white XOR yellow is blue
        QCOMPARE(canvas.image()->pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
        InvertWithBrush(*canvas.painter(), QRect(2, 2, 4, 4));
        QVERIFY(allPixelsAre(*canvas.image(), qRgb(255, 255, 255)));
    }

    // An AND copy keeps the destination under white and darkens it under black.
    void andCopyKeepsWhiteAndDarkensBlack()
    {
        Canvas source = CreateCanvas(4, 1);
        source.image()->setPixel(1, 0, qRgb(0, 0, 0));
        source.image()->setPixel(2, 0, qRgb(192, 192, 192));
        Canvas target = CreateCanvas(4, 1);
        target.painter()->fillRect(0, 0, 4, 1, QColor(0x30, 0xF0, 0x0F));
        CopyBlock(*target.painter(), 0, 0, 4, 1, *source.image(), 0, 0, RasterOp::And);
        QCOMPARE(target.image()->pixel(0, 0) & 0xFFFFFF, 0x30F00Fu);
        QCOMPARE(target.image()->pixel(1, 0) & 0xFFFFFF, 0x000000u);
        QCOMPARE(target.image()->pixel(2, 0) & 0xFFFFFF, 0x00C000u);
    }

    // A block reaching past the source copies what exists and leaves the rest alone.
    void copyBeyondTheSourceLeavesTheRestUnchanged()
    {
        Canvas source = CreateCanvas(2, 2);
        source.painter()->fillRect(0, 0, 2, 2, Qt::black);
        Canvas target = CreateCanvas(4, 4);
        CopyBlock(*target.painter(), 1, 1, 3, 3, *source.image(), 0, 0);
        QCOMPARE(target.image()->pixel(1, 1) & 0xFFFFFF, 0x000000u);
        QCOMPARE(target.image()->pixel(2, 2) & 0xFFFFFF, 0x000000u);
        QCOMPARE(target.image()->pixel(3, 3) & 0xFFFFFF, 0xFFFFFFu);
        QCOMPARE(target.image()->pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
    }
};

QTEST_MAIN(OrvGraphicsTest)
#include "OrvGraphicsTest.moc"
