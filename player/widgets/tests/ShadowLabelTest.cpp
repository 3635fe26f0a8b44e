#include "ShadowLabel.h"

#include <QImage>
#include <QTest>

namespace {

// Bounding box of every pixel of exactly `color`.
QRect inkOf(const QImage &image, QColor color)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == color)
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class ShadowLabelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shadowLiesOffsetTowardItsCorner_data();
    void shadowLiesOffsetTowardItsCorner();
    void shadowFollowsThePaletteLightColourUntilSet();
};

void ShadowLabelTest::shadowLiesOffsetTowardItsCorner_data()
{
    QTest::addColumn<TShadowLabel::ShadowPosition>("position");
    QTest::addColumn<int>("sizePx");
    QTest::addColumn<QPoint>("offset");
    using P = TShadowLabel::ShadowPosition;
    QTest::newRow("upper left, 1 px (the default)") << P::UpperLeft << 1 << QPoint(-1, -1);
    QTest::newRow("upper left, 3 px") << P::UpperLeft << 3 << QPoint(-3, -3);
    QTest::newRow("lower right, 2 px") << P::LowerRight << 2 << QPoint(2, 2);
    QTest::newRow("upper right, 1 px") << P::UpperRight << 1 << QPoint(1, -1);
    QTest::newRow("lower left, 1 px") << P::LowerLeft << 1 << QPoint(-1, 1);
}

// The text's ink in the font colour and its copy in the shadow colour: together they cover the
// text's box and that box moved by the offset, and nothing else.
void ShadowLabelTest::shadowLiesOffsetTowardItsCorner()
{
    QFETCH(TShadowLabel::ShadowPosition, position);
    QFETCH(int, sizePx);
    QFETCH(QPoint, offset);

    TShadowLabel label(QStringLiteral("H"));
    QFont font = label.font();
    font.setPixelSize(32);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias); // Pure colours, so ink can be told apart.
    label.setFont(font);
    QPalette palette = label.palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    label.setPalette(palette);
    label.setAutoFillBackground(true);
    label.setContentsMargins(6, 6, 6, 6);
    label.setShadowColor(Qt::red);
    if (position != TShadowLabel::ShadowPosition::UpperLeft)
        label.setShadowPosition(position);
    if (sizePx != 1)
        label.setShadowSize(sizePx);
    label.resize(80, 60);

    const QImage image = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect text = inkOf(image, Qt::black);
    const QRect all = text | inkOf(image, Qt::red);
    QVERIFY(!text.isEmpty());
    QCOMPARE(all, text | text.translated(offset));
}

// With no colour set the shadow takes the palette's light colour, and follows it.
void ShadowLabelTest::shadowFollowsThePaletteLightColourUntilSet()
{
    TShadowLabel label(QStringLiteral("Tunedeck"));
    QPalette palette = label.palette();
    palette.setColor(QPalette::Light, QColor(1, 2, 3));
    label.setPalette(palette);
    QCOMPARE(label.shadowColor(), QColor(1, 2, 3));
    label.setShadowColor(Qt::green);
    palette.setColor(QPalette::Light, QColor(4, 5, 6));
    label.setPalette(palette);
    QCOMPARE(label.shadowColor(), QColor(Qt::green));
}

QTEST_MAIN(ShadowLabelTest)
#include "ShadowLabelTest.moc"
