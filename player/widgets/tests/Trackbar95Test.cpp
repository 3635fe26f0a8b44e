// The position bar's four style properties: what changing each does to the bar, and that only
// a change of value re-applies the styles.
#include "Trackbar95.h"

#include <QImage>
#include <QSignalSpy>
#include <QStyleOptionSlider>
#include <QTest>

namespace {

QRect thumbRect(TTrackBar95 &bar)
{
    QStyleOptionSlider option;
    option.initFrom(&bar);
    option.orientation = bar.orientation();
    option.minimum = bar.minimum();
    option.maximum = bar.maximum();
    option.sliderPosition = bar.sliderPosition();
    option.sliderValue = bar.value();
    option.tickPosition = bar.tickPosition();
    option.tickInterval = bar.tickInterval();
    option.subControls = QStyle::SC_All;
    return bar.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &bar);
}

QImage render(TTrackBar95 &bar)
{
    bar.show();
    return bar.grab().toImage();
}

} // namespace

class Trackbar95Test : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The thumb's length along the track is ThumbSize pixels.
    void thumbIsThumbSizePixelsLong()
    {
        TTrackBar95 bar;
        bar.resize(145, 18);
        bar.setThumbSize(9);
        QCOMPARE(thumbRect(bar).width(), 9);
        bar.setThumbSize(15);
        QCOMPARE(thumbRect(bar).width(), 15);
    }

    // Setting a property to its current value leaves the bar alone; a new value re-applies the
    // styles once.
    void onlyANewValueReappliesTheStyles_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("sameValue");
        QTest::addColumn<QVariant>("newValue");
        QTest::newRow("FixedLength")
            << QByteArray("FixedLength") << QVariant(false) << QVariant(true);
        QTest::newRow("SelEnabled")
            << QByteArray("SelEnabled") << QVariant(false) << QVariant(true);
        QTest::newRow("Thumb") << QByteArray("Thumb") << QVariant(true) << QVariant(false);
        QTest::newRow("ThumbSize") << QByteArray("ThumbSize") << QVariant(9) << QVariant(12);
    }
    void onlyANewValueReappliesTheStyles()
    {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, sameValue);
        QFETCH(QVariant, newValue);
        TTrackBar95 bar;
        bar.setThumbSize(9);
        QSignalSpy applied(&bar, &TTrackBar95::stylesApplied);
        QVERIFY(bar.setProperty(property.constData(), sameValue));
        QCOMPARE(applied.count(), 0);
        QVERIFY(bar.setProperty(property.constData(), newValue));
        QCOMPARE(applied.count(), 1);
        QCOMPARE(bar.property(property.constData()), newValue);
    }

    // A selection range is drawn only while SelEnabled is true.
    void selectionRangeIsDrawnOnlyWhenEnabled()
    {
        TTrackBar95 bar;
        bar.resize(145, 18);
        bar.setRange(0, 10);
        bar.setSelection(2, 8);
        const QImage without = render(bar);
        QVERIFY(!bar.isSelectionShown());
        bar.setSelEnabled(true);
        QVERIFY(bar.isSelectionShown());
        QVERIFY(render(bar) != without);
        bar.setSelEnabled(false);
        QCOMPARE(render(bar), without);
    }

    // Without a thumb the bar draws no thumb: the picture changes where the thumb stood.
    void barWithoutThumbDrawsNoThumb()
    {
        TTrackBar95 bar;
        bar.resize(145, 18);
        bar.setRange(0, 10);
        bar.setValue(5);
        const QImage withThumb = render(bar);
        bar.setThumb(false);
        const QImage withoutThumb = render(bar);
        const QRect thumb = thumbRect(bar);
        QVERIFY(withThumb.copy(thumb) != withoutThumb.copy(thumb));
        bar.setThumb(true);
        QCOMPARE(render(bar), withThumb);
    }
};

QTEST_MAIN(Trackbar95Test)
#include "Trackbar95Test.moc"
