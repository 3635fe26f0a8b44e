// The about box's frames, composed synchronously on the test's thread: no window, no timer.
#include "OrvAboutBox.h"

#include <QApplication>
#include <QTest>

using namespace orvkit;

namespace {

// A stretch of every frame that only the background shows: right of the credits, below the
// framed box, left of nothing the buttons draw (they are widgets, not part of the frame).
constexpr QRect kBackgroundOnly { 200, 70, 100, 90 };

QRgb rgb(const QImage &image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}

QImage composed(AboutAnimation &animation, int n)
{
    animation.composeFrame(n);
    return animation.frame().copy();
}

} // namespace

class OrvAboutAnimationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The background is seen from (n + 1, n + 1) of a tiling with period 81: frame 81 repeats
    // frame 0, while neighbouring frames differ.
    void backgroundRepeatsAfter81Frames()
    {
        AboutAnimation animation;
        const QImage first = composed(animation, 0);
        const QImage next = composed(animation, 1);
        const QImage repeat = composed(animation, kTileSize);
        QCOMPARE(repeat.copy(kBackgroundOnly), first.copy(kBackgroundOnly));
        QVERIFY(next.copy(kBackgroundOnly) != first.copy(kBackgroundOnly));
    }

    // From one frame to the next the texture moves one pixel up and one pixel left.
    void backgroundDriftsUpAndLeft()
    {
        AboutAnimation animation;
        const QImage earlier = composed(animation, 10);
        const QImage later = composed(animation, 11);
        for (int y = kBackgroundOnly.top(); y < kBackgroundOnly.bottom(); ++y)
            for (int x = kBackgroundOnly.left(); x < kBackgroundOnly.right(); ++x)
                QCOMPARE(rgb(later, x, y), rgb(earlier, x + 1, y + 1));
    }

    // Outside the box the background shows as it is; the 2-pixel border is the background
    // XOR yellow, the box inside it XOR blue (the yellow went on twice there and cancelled).
    void frameAndBoxAreTheBackgroundInverted()
    {
        const Canvas tile = LoadCanvas(QStringLiteral(":/orvkit/BACK"));
        QVERIFY(!tile.isNull());
        const int n = 5;
        const auto background = [&](int x, int y) {
            return rgb(*tile.image(), (x + n + 1) % kTileSize, (y + n + 1) % kTileSize);
        };
        AboutAnimation animation;
        const QImage frame = composed(animation, n);
        QCOMPARE(rgb(frame, 2, 30), background(2, 30));
        QCOMPARE(rgb(frame, 4, 30), background(4, 30) ^ 0xFFFF00u); // yellow as QRgb
        QCOMPARE(rgb(frame, 5, 61), background(5, 61) ^ 0xFFFF00u);
        QCOMPARE(rgb(frame, 8, 58), background(8, 58) ^ 0x0000FFu); // blue as QRgb
        QCOMPARE(rgb(frame, 292, 11), background(292, 11) ^ 0x0000FFu);
    }

    // The maker's name is combined by AND, so its black letters show pure black in the title
    // strip, which the inverted background never is.
    void titleDarkensTheStrip()
    {
        AboutAnimation animation;
        const QImage frame = composed(animation, 0);
        int black = 0;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < kAboutWidth; ++x)
                black += rgb(frame, x, y) == 0 ? 1 : 0;
        QVERIFY(black > 50);
    }

    // Half a pixel a frame: after 700 frames the column has scrolled 350 pixels, the 701st
    // passes 350 and the column restarts at the lower edge, showing what the first frame did.
    void creditsRestartAfter701Frames()
    {
        AboutAnimation animation;
        const QImage first = composed(animation, 1);
        QCOMPARE(animation.creditsOffset(), 0.5);
        QImage midway;
        for (int frame = 2; frame <= 700; ++frame) {
            animation.composeFrame(1);
            if (frame == 100)
                midway = animation.frame().copy(kCreditsArea);
        }
        QCOMPARE(animation.creditsOffset(), 350.0);
        animation.composeFrame(1); // the 701st
        QCOMPARE(animation.creditsOffset(), 0.0);
        const QImage restarted = composed(animation, 1);
        QCOMPARE(restarted.copy(kCreditsArea), first.copy(kCreditsArea));
        // Text had been showing in between.
        QVERIFY(midway != first.copy(kCreditsArea));
    }
};

QTEST_MAIN(OrvAboutAnimationTest)
#include "OrvAboutAnimationTest.moc"
