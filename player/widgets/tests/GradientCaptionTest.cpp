// The gradient caption: band colours at known columns, the inactive look, which parts give way
// when the strip is narrow, and the strip's behaviour as the window's title bar.
#include "GradientCaption.h"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);

QImage gradientImage(int width, const QColor &start, const QColor &end, int steps)
{
    QImage image(width, 4, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    TGradientCaption::fillGradient(painter, QRect(0, 0, width, 4), start, end, steps);
    return image;
}

QList<int> blues(const QImage &image)
{
    QList<int> values;
    for (int x = 0; x < image.width(); ++x)
        values.append(qBlue(image.pixel(x, 1)));
    return values;
}

// Whether `colour` appears right of the icon (the strip's first height() columns).
bool contains(const QImage &image, const QColor &colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = image.height(); x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour)
                return true;
    return false;
}

QFont crispFont(bool italic = false)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(12);
    font.setBold(true);
    font.setItalic(italic);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

TCaptionPart *addPart(TGradientCaption &caption, const QString &text, const QColor &colour)
{
    TCaptionPart *part = caption.Captions().add();
    part->setCaption(text);
    part->setFont(crispFont());
    part->setFontColor(colour);
    part->setInactiveColor(colour); // The same either way, unless a test says otherwise.
    return part;
}

// A stand-in for a main window: a fixed-size client area with one child.
struct Form {
    QWidget widget;
    QLabel *child;
    TGradientCaption *caption;

    Form()
        // The main window's flags: a customised title bar with minimise and close boxes.
        : widget(nullptr,
            Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    {
        widget.setFixedSize(456, 305);
        child = new QLabel(QStringLiteral("client"), &widget);
        child->setGeometry(10, 20, 100, 16);
        caption = new TGradientCaption(&widget);
        caption->refresh();
    }
};

QImage renderCaption(const TGradientCaption &caption, int width)
{
    QImage image(width, caption.captionHeight(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    caption.paintCaption(painter, width);
    return image;
}

} // namespace

class GradientCaptionTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bandsRunFromStartToEndRoundingToNearest();
    void fewerThanTwoStepsGivePlainStartColour_data();
    void fewerThanTwoStepsGivePlainStartColour();
    void narrowRectangleGetsOneBandPerColumn();
    void leftoverColumnsTakeTheEndColour();
    void visibleBarBeginsAFifthIntoTheGradient();
    void inactiveFormKeepsGradientWithInactiveColours();
    void firstPartGivesWayWhenTheStripIsNarrow();
    void gluedPartsGiveWayTogether();
    void noPartsAndNoFormCaptionLeaveGradientAndIcon();
    void textIsShortenedWithAnEllipsis();
    void activeCaptionReplacesTheFrameAndKeepsTheClientArea();
    void activeChangesRaiseTheirNotices();
    void rightClickOpensPopupOnlyWhenOneIsSet();
    void closeAndMinimiseBoxesWork();
};

void GradientCaptionTest::bandsRunFromStartToEndRoundingToNearest()
{
    // Four bands of 25 columns: 0, 255/3 = 85, 170, 255.
    const QImage image = gradientImage(100, Qt::black, kBlue, 4);
    QCOMPARE(qBlue(image.pixel(0, 1)), 0);
    QCOMPARE(qBlue(image.pixel(24, 1)), 0);
    QCOMPARE(qBlue(image.pixel(25, 1)), 85);
    QCOMPARE(qBlue(image.pixel(60, 1)), 170);
    QCOMPARE(qBlue(image.pixel(99, 1)), 255);

    // Halves round away from zero, downwards too: 255 -> 0 in three bands gives 128 in the
    // middle, and 200 -> 0 gives 100.
    QCOMPARE(qBlue(gradientImage(3, Qt::black, kBlue, 3).pixel(1, 1)), 128);
    QCOMPARE(qRed(gradientImage(3, QColor(200, 0, 0), Qt::black, 3).pixel(1, 1)), 100);
}

void GradientCaptionTest::fewerThanTwoStepsGivePlainStartColour_data()
{
    QTest::addColumn<int>("steps");
    QTest::newRow("0") << 0;
    QTest::newRow("1") << 1;
    QTest::newRow("256 is 0") << 256;
    QTest::newRow("257 is 1") << 257;
}

void GradientCaptionTest::fewerThanTwoStepsGivePlainStartColour()
{
    QFETCH(int, steps);
    const QImage image = gradientImage(50, kRed, kBlue, steps);
    for (int x = 0; x < image.width(); ++x)
        QCOMPARE(image.pixelColor(x, 1), kRed);

    // The same on the painted strip, where a gradient is due.
    Form form;
    form.caption->setStartColor(kRed);
    form.caption->setGradientSteps(steps);
    form.caption->setGradientInactive(true);
    const QImage strip = renderCaption(*form.caption, 300);
    QCOMPARE(strip.pixelColor(299, 0), kRed);
    QCOMPARE(strip.pixelColor(150, 0), kRed);
}

void GradientCaptionTest::narrowRectangleGetsOneBandPerColumn()
{
    const QImage image = gradientImage(10, Qt::black, kBlue, 64);
    QCOMPARE(blues(image), (QList<int> { 0, 28, 57, 85, 113, 142, 170, 198, 227, 255 }));
}

void GradientCaptionTest::leftoverColumnsTakeTheEndColour()
{
    // 103 columns in 4 bands of 25: the last 3 columns are the end colour.
    const QImage image = gradientImage(103, Qt::black, QColor(0, 0, 200), 4);
    QCOMPARE(qBlue(image.pixel(99, 1)), 200);
    QCOMPARE(qBlue(image.pixel(100, 1)), 200);
    QCOMPARE(qBlue(image.pixel(102, 1)), 200);
    QCOMPARE(qBlue(image.pixel(74, 1)), 133);
}

void GradientCaptionTest::visibleBarBeginsAFifthIntoTheGradient()
{
    Form form;
    form.caption->setStartColor(Qt::black);
    form.caption->setGradientInactive(true);
    form.caption->setGradientSteps(5);
    // 400 columns: the gradient covers -100..399 in five bands of 100, so the strip starts in
    // band 1 and ends in band 4, the end colour.
    const QImage strip = renderCaption(*form.caption, 400);
    const QColor end = form.caption->endColor();
    QCOMPARE(strip.pixelColor(399, 0), end);
    QCOMPARE(strip.pixelColor(310, 0), end);
    QCOMPARE(strip.pixelColor(299, 0).red(), (end.red() * 3 + 2) / 4);
    QCOMPARE(strip.pixelColor(50, 0).red(), (end.red() + 2) / 4);
}

void GradientCaptionTest::inactiveFormKeepsGradientWithInactiveColours()
{
    Form form;
    form.caption->setGradientInactive(true);
    form.caption->setStartColor(Qt::black);
    TCaptionPart *tune = addPart(*form.caption, QStringLiteral("Tune"), Qt::white);
    tune->setInactiveColor(QColor(1, 2, 3));
    QVERIFY(!form.caption->formActive());

    const QImage inactive = renderCaption(*form.caption, 300);
    QCOMPARE(inactive.pixelColor(299, 0), form.caption->endColor());
    QVERIFY(inactive.pixelColor(100, 0) != form.caption->endColor()); // Still a gradient.
    QVERIFY(contains(inactive, QColor(1, 2, 3)));
    QVERIFY(!contains(inactive, Qt::white));

    form.widget.show();
    form.widget.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form.widget));
    QTRY_VERIFY(form.caption->formActive());
    const QImage active = renderCaption(*form.caption, 300);
    QVERIFY(contains(active, Qt::white));
    QVERIFY(!contains(active, QColor(1, 2, 3)));
}

void GradientCaptionTest::firstPartGivesWayWhenTheStripIsNarrow()
{
    Form form;
    addPart(*form.caption, QStringLiteral("Tune"), kRed);
    addPart(*form.caption, QStringLiteral("deck"), kGreen);
    const int height = form.caption->captionHeight();
    const int deck = QFontMetrics(crispFont()).horizontalAdvance(QStringLiteral("deck"));

    const QImage wide = renderCaption(*form.caption, 400);
    QVERIFY(contains(wide, kRed));
    QVERIFY(contains(wide, kGreen));

    // Room for the icon, the gap, "deck" and the reserve only.
    const QImage narrow = renderCaption(*form.caption, height + 2 + deck + 3);
    QVERIFY(!contains(narrow, kRed));
    QVERIFY(contains(narrow, kGreen));
}

void GradientCaptionTest::gluedPartsGiveWayTogether()
{
    Form form;
    TCaptionPart *first = addPart(*form.caption, QStringLiteral("Tune"), kRed);
    addPart(*form.caption, QStringLiteral("deck"), kGreen);
    addPart(*form.caption, QStringLiteral("V1"), kBlue);
    const QFontMetrics metrics(crispFont());
    // Room for "deck" and "V1" but not all three.
    const int width = form.caption->captionHeight() + 2
        + metrics.horizontalAdvance(QStringLiteral("deckV1")) + 6;

    const QImage apart = renderCaption(*form.caption, width);
    QVERIFY(!contains(apart, kRed));
    QVERIFY(contains(apart, kGreen));
    QVERIFY(contains(apart, kBlue));

    first->setGlueNext(true);
    const QImage glued = renderCaption(*form.caption, width);
    QVERIFY(!contains(glued, kRed));
    QVERIFY(!contains(glued, kGreen));
    QVERIFY(contains(glued, kBlue));
}

void GradientCaptionTest::noPartsAndNoFormCaptionLeaveGradientAndIcon()
{
    Form form;
    form.caption->setGradientInactive(true);
    form.caption->setStartColor(Qt::black);
    const QImage strip = renderCaption(*form.caption, 300);
    const int height = form.caption->captionHeight();
    QImage expected(300, height, QImage::Format_RGB32);
    {
        QPainter painter(&expected);
        TGradientCaption::fillGradient(
            painter, QRect(-75, 0, 375, height), Qt::black, form.caption->endColor(), 64);
    }
    // Everything right of the icon is gradient only.
    QCOMPARE(strip.copy(height, 0, 300 - height, height),
        expected.copy(height, 0, 300 - height, height));
    // The icon is there.
    QVERIFY(strip.copy(0, 0, height, height) != expected.copy(0, 0, height, height));
}

void GradientCaptionTest::textIsShortenedWithAnEllipsis()
{
    const QFont font = crispFont();
    const QFontMetrics metrics(font);
    const QString text = QStringLiteral("Tunedeck player");
    QCOMPARE(TGradientCaption::shortenText(text, font, 1000), text);
    const QString shortened
        = TGradientCaption::shortenText(text, font, metrics.horizontalAdvance(text) - 1);
    QVERIFY(shortened.endsWith(QStringLiteral("...")));
    QVERIFY(text.startsWith(shortened.chopped(3)));
    QVERIFY(shortened.size() <= text.size() + 1);
    QCOMPARE(TGradientCaption::shortenText(text, font, 0), QStringLiteral("..."));
}

void GradientCaptionTest::activeCaptionReplacesTheFrameAndKeepsTheClientArea()
{
    Form form;
    const int height = form.caption->captionHeight();
    QVERIFY(form.caption->captionBar());
    QVERIFY(form.widget.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(form.widget.size(), QSize(456, 305 + height));
    QCOMPARE(form.child->geometry(), QRect(10, 20 + height, 100, 16));
    QCOMPARE(form.caption->captionBar()->geometry(), QRect(0, 0, 456, height));

    form.caption->setActive(false);
    QVERIFY(!form.caption->captionBar());
    QVERIFY(!(form.widget.windowFlags() & Qt::FramelessWindowHint));
    QVERIFY(form.widget.windowFlags() & Qt::WindowMinimizeButtonHint); // The native frame's boxes.
    QCOMPARE(form.widget.size(), QSize(456, 305));
    QCOMPARE(form.child->geometry(), QRect(10, 20, 100, 16));
}

void GradientCaptionTest::activeChangesRaiseTheirNotices()
{
    Form form;
    QSignalSpy activated(form.caption, &TGradientCaption::OnActivate);
    QSignalSpy deactivated(form.caption, &TGradientCaption::OnDeactivate);
    form.caption->setActive(true);
    QCOMPARE(activated.count() + deactivated.count(), 0);
    form.caption->setActive(false);
    QCOMPARE(deactivated.count(), 1);
    form.caption->setActive(true);
    QCOMPARE(activated.count(), 1);
}

void GradientCaptionTest::rightClickOpensPopupOnlyWhenOneIsSet()
{
    Form form;
    form.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form.widget));
    QWidget *bar = form.caption->captionBar();
    const QPoint inCaption(bar->width() / 2, bar->height() / 2);

    // Without a pop-up menu the system menu opens; close it from inside its own loop.
    QString opened;
    QTimer::singleShot(0, this, [&] {
        if (QWidget *popup = QApplication::activePopupWidget()) {
            opened = popup->accessibleName();
            popup->close();
        }
    });
    QTest::mousePress(bar, Qt::RightButton, {}, inCaption);
    QTest::mouseRelease(bar, Qt::RightButton, {}, inCaption);
    QCOMPARE(opened, QStringLiteral("System menu"));

    QMenu menu;
    menu.addAction(QStringLiteral("Item"));
    form.caption->setPopupMenu(&menu);
    QTest::mousePress(bar, Qt::RightButton, {}, inCaption);
    QTest::mouseRelease(bar, Qt::RightButton, {}, inCaption);
    QTRY_VERIFY(menu.isVisible());
    menu.close();
}

void GradientCaptionTest::closeAndMinimiseBoxesWork()
{
    Form form;
    form.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form.widget));
    auto *minimise
        = form.widget.findChild<QAbstractButton *>(QStringLiteral("CaptionMinimiseButton"));
    auto *maximise
        = form.widget.findChild<QAbstractButton *>(QStringLiteral("CaptionMaximiseButton"));
    auto *close = form.widget.findChild<QAbstractButton *>(QStringLiteral("CaptionCloseButton"));
    QVERIFY(minimise && maximise && close);
    QVERIFY(!maximise->isEnabled());
    QCOMPARE(close->accessibleName(), QStringLiteral("Close"));

    QTest::mouseClick(minimise, Qt::LeftButton);
    QTRY_VERIFY(form.widget.windowState() & Qt::WindowMinimized);
    form.widget.showNormal();
    QTest::mouseClick(close, Qt::LeftButton);
    QTRY_VERIFY(!form.widget.isVisible());
}

QTEST_MAIN(GradientCaptionTest)
#include "GradientCaptionTest.moc"
