#include "ScrollTextPanel.h"

#include "TickTimer.h"

#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

constexpr QRgb kInk = 0xff000000; // Text colour.
constexpr QRgb kEmboss = 0xffff0000; // Button-highlight colour: the embossed copy.

// A panel ticked by hand: Interval 0 keeps its worker asleep. Pure colours and no antialiasing,
// so ink can be told from background pixel by pixel.
std::unique_ptr<TScrollTextPanel> makePanel(
    const QStringList &lines, QSize size = QSize(281, 105), int fontPx = 11)
{
    auto panel = std::make_unique<TScrollTextPanel>();
    panel->setIntervalMs(0);
    panel->setAsyncDrawing(false);
    QFont font = panel->font();
    font.setPixelSize(fontPx);
    font.setStyleStrategy(QFont::NoAntialias);
    panel->setFont(font);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Button, Qt::white);
    palette.setColor(QPalette::WindowText, QColor::fromRgb(kInk));
    palette.setColor(QPalette::Light, QColor::fromRgb(kEmboss));
    palette.setColor(QPalette::Dark, Qt::blue);
    panel->setPalette(palette);
    panel->resize(size);
    panel->setLines(lines);
    return panel;
}

int lineSpacingOf(const TScrollTextPanel &panel)
{
    return QFontMetrics(panel.font()).lineSpacing();
}

// Ticks until the panel stops itself; the tick count, or -1 when it did not stop.
int ticksToStop(TScrollTextPanel &panel, int most = 100000)
{
    for (int n = 1; n <= most; ++n) {
        panel.tick();
        if (!panel.isActive())
            return n;
    }
    return -1;
}

void tickTimes(TScrollTextPanel &panel, int times)
{
    for (int i = 0; i < times; ++i)
        panel.tick();
}

// What the text area shows now.
QImage textAreaImage(TScrollTextPanel &panel)
{
    return panel.grab().toImage().convertToFormat(QImage::Format_ARGB32).copy(panel.textArea());
}

QRect inkBox(const QImage &image, QRgb color = kInk)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == color)
                box |= QRect(x, y, 1, 1);
    return box;
}

// Counts background paints; with the panel never shown, these are frames.
struct FrameCounter {
    int frames = 0;
    void attach(TScrollTextPanel &panel)
    {
        panel.setOnPaintClient([this](TScrollTextPanel *, QPainter &canvas, const QRect &rect) {
            ++frames;
            canvas.fillRect(rect, canvas.brush());
        });
    }
};

} // namespace

class ScrollTextPanelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void settingActiveToItsValueRaisesNothing();
    void aVerticalPassIsTheAreaHeightPlusOneLineHeightPerLine();
    void leadingBlankLinesAreSkippedAndLaterOnesCount();
    void emptyLinesDrawNothingAndStopAfterAreaHeightPlusOneTicks();
    void aPanelTooSmallForTextDrawsNothingAndStillStops();
    void cycledPanelNeverStopsAndTheTextEntersAgain();
    void onlyChildrenVisibleAtActivationComeBack();
    void destroyingAnActivePanelRaisesOnStopPlay();
    void linesAreCutAt255CharactersButCountWholeHorizontally();
    void embossedTextMakesLinesOnePixelTaller_data();
    void embossedTextMakesLinesOnePixelTaller();
    void aboutWindowPassStopsOnThe2048thTick();
    void textEntersAtTheBottomAndMovesUp();
    void horizontalTextIsCentredVerticallyAndEntersAtTheRight();
    void rightToLeftHorizontalTextEntersAtTheLeft();
    void alignmentPlacesEachLine_data();
    void alignmentPlacesEachLine();
    void glyphTakesItsPlaceBesideTheText_data();
    void glyphTakesItsPlaceBesideTheText();
    void newLinesRestartARunningPass();
    void stoppingClearsTheText();
    void aPanelStartedAgainRunsAFreshPass();
    void bevelsFrameTheInterior_data();
    void bevelsFrameTheInterior();
};

void ScrollTextPanelTest::settingActiveToItsValueRaisesNothing()
{
    auto panel = makePanel({ QStringLiteral("a") });
    QSignalSpy starts(panel.get(), &TScrollTextPanel::OnStartPlay);
    QSignalSpy stops(panel.get(), &TScrollTextPanel::OnStopPlay);
    panel->setActive(false);
    QCOMPARE(stops.count(), 0);
    panel->setActive(true);
    panel->setActive(true);
    QCOMPARE(starts.count(), 1);
    panel->setActive(false);
    panel->setActive(false);
    QCOMPARE(stops.count(), 1);
}

// 105 px high with 1 px bevels: a 97 px text area; the last frame shows only the extra blank line.
void ScrollTextPanelTest::aVerticalPassIsTheAreaHeightPlusOneLineHeightPerLine()
{
    auto panel
        = makePanel({ QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three") });
    QSignalSpy stops(panel.get(), &TScrollTextPanel::OnStopPlay);
    panel->setActive(true);
    QCOMPARE(panel->textArea(), QRect(4, 4, 273, 97));
    QCOMPARE(ticksToStop(*panel), 97 + 3 * lineSpacingOf(*panel) + 1);
    QCOMPARE(stops.count(), 1);
}

void ScrollTextPanelTest::leadingBlankLinesAreSkippedAndLaterOnesCount()
{
    const QString blanks[] = { QString(), QStringLiteral("  "), QStringLiteral("\t \x01") };
    auto plain = makePanel({ QStringLiteral("Text") });
    auto padded = makePanel(
        { blanks[0], blanks[1], blanks[2], QStringLiteral("Text"), QString(), QString() });
    plain->setActive(true);
    padded->setActive(true);
    const int lineHeight = lineSpacingOf(*plain);

    // The first non-blank line enters first: one line height in, its ink is there.
    tickTimes(*padded, lineHeight);
    QVERIFY(!inkBox(textAreaImage(*padded)).isEmpty());
    padded->setActive(false);
    padded->setActive(true);
    QCOMPARE(ticksToStop(*padded) - ticksToStop(*plain), 2 * lineHeight);
}

void ScrollTextPanelTest::emptyLinesDrawNothingAndStopAfterAreaHeightPlusOneTicks()
{
    auto panel = makePanel({});
    FrameCounter counter;
    counter.attach(*panel);
    QSignalSpy stops(panel.get(), &TScrollTextPanel::OnStopPlay);
    panel->setActive(true);
    QVERIFY(panel->isActive());
    QCOMPARE(ticksToStop(*panel), 97 + 1);
    QCOMPARE(counter.frames, 0);
    QCOMPARE(stops.count(), 1);
}

void ScrollTextPanelTest::aPanelTooSmallForTextDrawsNothingAndStillStops()
{
    auto panel = makePanel({ QStringLiteral("A"), QStringLiteral("B") }, QSize(6, 6));
    FrameCounter counter;
    counter.attach(*panel);
    panel->setActive(true);
    QCOMPARE(panel->textArea(), QRect(0, 0, 0, 0));
    QCOMPARE(ticksToStop(*panel), 2 * lineSpacingOf(*panel) + 1);
    QCOMPARE(counter.frames, 0);
}

void ScrollTextPanelTest::cycledPanelNeverStopsAndTheTextEntersAgain()
{
    auto panel = makePanel({ QStringLiteral("WWW") });
    QSignalSpy stops(panel.get(), &TScrollTextPanel::OnStopPlay);
    panel->setCycled(true);
    panel->setActive(true);
    const int limit = panel->scrollLimit();
    const int lineHeight = lineSpacingOf(*panel);
    for (int pass = 0; pass < 3; ++pass) {
        tickTimes(*panel, limit);
        QCOMPARE(panel->scrollOffset(), limit);
        panel->tick();
        QVERIFY(panel->isActive());
        QCOMPARE(panel->scrollOffset(), 0);
    }
    tickTimes(*panel, lineHeight);
    const QImage shown = textAreaImage(*panel);
    const QRect ink = inkBox(shown);
    QVERIFY(!ink.isEmpty());
    QVERIFY(ink.top() >= shown.height() - lineHeight); // In again from the bottom.
    QCOMPARE(stops.count(), 0);
}

void ScrollTextPanelTest::onlyChildrenVisibleAtActivationComeBack()
{
    auto panel = makePanel({ QStringLiteral("a") });
    auto *shown = new QLabel(QStringLiteral("shown"), panel.get());
    auto *hidden = new QLabel(QStringLiteral("hidden"), panel.get());
    auto *goneMeanwhile = new QLabel(QStringLiteral("gone"), panel.get());
    hidden->hide();
    panel->setActive(true);
    QVERIFY(shown->isHidden());
    delete goneMeanwhile;
    panel->setActive(false);
    QVERIFY(!shown->isHidden());
    QVERIFY(hidden->isHidden());
}

void ScrollTextPanelTest::destroyingAnActivePanelRaisesOnStopPlay()
{
    auto panel = makePanel({ QStringLiteral("a") });
    QSignalSpy stops(panel.get(), &TScrollTextPanel::OnStopPlay);
    panel->setActive(true);
    tickTimes(*panel, 10);
    panel.reset();
    QCOMPARE(stops.count(), 1);
}

// Horizontal, left-justified: the rectangle is as wide as the whole line, so once the first 255
// characters have left the area nothing is left to see, though the pass goes on.
void ScrollTextPanelTest::linesAreCutAt255CharactersButCountWholeHorizontally()
{
    const QString line(300, QLatin1Char('M'));
    auto panel = makePanel({ line });
    panel->setScrollDirection(TScrollTextPanel::TScrollDirection::sdHorizontal);
    panel->setAlignment(TScrollTextPanel::TAlignment::taLeftJustify);
    panel->setActive(true);
    const QFontMetrics metrics(panel->font());
    const int width = panel->textArea().width();
    const int whole = metrics.horizontalAdvance(line);
    const int drawn = metrics.horizontalAdvance(line.left(255));
    QVERIFY(whole - drawn > width); // The cut part alone would fill the area.

    tickTimes(*panel, width + drawn - 20);
    QVERIFY(!inkBox(textAreaImage(*panel)).isEmpty()); // The end of the 255th character.
    tickTimes(*panel, 25);
    QVERIFY(inkBox(textAreaImage(*panel)).isEmpty());
    QCOMPARE(ticksToStop(*panel), whole + width - (width + drawn + 5) + 1);
}

void ScrollTextPanelTest::embossedTextMakesLinesOnePixelTaller_data()
{
    QTest::addColumn<TScrollTextPanel::TPanelBevel>("style");
    QTest::addColumn<QPoint>("embossOffset");
    using B = TScrollTextPanel::TPanelBevel;
    QTest::newRow("lowered: copy right and down") << B::bvLowered << QPoint(1, 1);
    QTest::newRow("raised: copy left and up") << B::bvRaised << QPoint(-1, -1);
    QTest::newRow("space: no copy") << B::bvSpace << QPoint(0, 0);
}

void ScrollTextPanelTest::embossedTextMakesLinesOnePixelTaller()
{
    QFETCH(TScrollTextPanel::TPanelBevel, style);
    QFETCH(QPoint, embossOffset);
    const QStringList lines { QStringLiteral("HHHH"), QStringLiteral("HHHH"), QString(),
        QStringLiteral("HHHH") };
    auto plain = makePanel(lines);
    auto embossed = makePanel(lines);
    embossed->setTextStyle(style);
    plain->setActive(true);
    embossed->setActive(true);
    QCOMPARE(embossed->lineHeight(), plain->lineHeight() + 1);

    tickTimes(*embossed, 40);
    const QImage shown = textAreaImage(*embossed);
    const QRect text = inkBox(shown);
    const QRect copy = inkBox(shown, kEmboss);
    QVERIFY(!text.isEmpty());
    if (embossOffset.isNull()) {
        QVERIFY(copy.isEmpty());
    } else {
        QCOMPARE(text | copy, text | text.translated(embossOffset));
    }
    embossed->setActive(false);
    embossed->setActive(true);
    QCOMPARE(ticksToStop(*embossed) - ticksToStop(*plain), 4);
}

// 150 lines of 13 px in the about window's 281 x 105 panel: 97 + 150 x 13 = 2047.
void ScrollTextPanelTest::aboutWindowPassStopsOnThe2048thTick()
{
    QStringList lines;
    for (int i = 0; i < 150; ++i)
        lines << (i % 3 == 1 ? QString() : QStringLiteral("line %1").arg(i));
    auto panel = makePanel(lines);
    int fontPx = 6;
    while (fontPx < 30 && lineSpacingOf(*panel) != 13) {
        QFont font = panel->font();
        font.setPixelSize(++fontPx);
        panel->setFont(font);
    }
    if (lineSpacingOf(*panel) != 13)
        QSKIP("No pixel size of the default font gives a 13 px line height");
    QSignalSpy stops(panel.get(), &TScrollTextPanel::OnStopPlay);
    panel->setActive(true);
    QCOMPARE(panel->scrollLimit(), 2047);
    tickTimes(*panel, 2047);
    QVERIFY(panel->isActive());
    panel->tick();
    QVERIFY(!panel->isActive());
    QCOMPARE(stops.count(), 1);
}

void ScrollTextPanelTest::textEntersAtTheBottomAndMovesUp()
{
    auto panel = makePanel({ QStringLiteral("HHHH") });
    panel->setActive(true);
    const int lineHeight = lineSpacingOf(*panel);
    tickTimes(*panel, lineHeight);
    const QRect first = inkBox(textAreaImage(*panel));
    tickTimes(*panel, 10);
    const QRect later = inkBox(textAreaImage(*panel));
    QVERIFY(!first.isEmpty());
    QVERIFY(first.bottom() < 97 && first.top() >= 97 - lineHeight);
    QCOMPARE(later, first.translated(0, -10));
}

void ScrollTextPanelTest::horizontalTextIsCentredVerticallyAndEntersAtTheRight()
{
    const QStringList lines { QString(), QStringLiteral("Hello"), QStringLiteral("World!"),
        QString() };
    auto panel = makePanel(lines);
    panel->setScrollDirection(TScrollTextPanel::TScrollDirection::sdHorizontal);
    panel->setActive(true);
    const int lineHeight = lineSpacingOf(*panel);
    const int spare = 97 - 2 * lineHeight;
    QCOMPARE(panel->textArea(), QRect(4, 4 + spare / 2, 273, 97 - 2 * (spare / 2)));

    tickTimes(*panel, 10);
    const QRect ink = inkBox(textAreaImage(*panel));
    QVERIFY(!ink.isEmpty());
    QVERIFY(ink.left() >= 273 - 10);
    const int widest = QFontMetrics(panel->font()).horizontalAdvance(QStringLiteral("World!"));
    QCOMPARE(ticksToStop(*panel), widest + 273 + 1 - 10);
}

void ScrollTextPanelTest::rightToLeftHorizontalTextEntersAtTheLeft()
{
    auto panel = makePanel({ QStringLiteral("HHHH") });
    panel->setLayoutDirection(Qt::RightToLeft);
    panel->setScrollDirection(TScrollTextPanel::TScrollDirection::sdHorizontal);
    panel->setActive(true);
    tickTimes(*panel, 10);
    const QRect ink = inkBox(textAreaImage(*panel));
    QVERIFY(!ink.isEmpty());
    QVERIFY(ink.right() < 10);
}

void ScrollTextPanelTest::alignmentPlacesEachLine_data()
{
    QTest::addColumn<TScrollTextPanel::TAlignment>("alignment");
    using A = TScrollTextPanel::TAlignment;
    QTest::newRow("left") << A::taLeftJustify;
    QTest::newRow("right") << A::taRightJustify;
    QTest::newRow("centre") << A::taCenter;
}

void ScrollTextPanelTest::alignmentPlacesEachLine()
{
    QFETCH(TScrollTextPanel::TAlignment, alignment);
    auto panel = makePanel({ QStringLiteral("HHHH") });
    panel->setAlignment(alignment);
    panel->setActive(true);
    tickTimes(*panel, 40);
    const QRect ink = inkBox(textAreaImage(*panel));
    QVERIFY(!ink.isEmpty());
    const int leftGap = ink.left(), rightGap = 273 - 1 - ink.right();
    switch (alignment) {
    case TScrollTextPanel::TAlignment::taLeftJustify:
        QVERIFY(leftGap < 5 && rightGap > 100);
        break;
    case TScrollTextPanel::TAlignment::taRightJustify:
        QVERIFY(rightGap < 5 && leftGap > 100);
        break;
    case TScrollTextPanel::TAlignment::taCenter:
        QVERIFY(qAbs(leftGap - rightGap) <= 3);
        break;
    }
}

void ScrollTextPanelTest::glyphTakesItsPlaceBesideTheText_data()
{
    QTest::addColumn<TScrollTextPanel::TGlyphLayout>("layout");
    QTest::addColumn<QPoint>("origin");
    QTest::addColumn<QRect>("textArea");
    using G = TScrollTextPanel::TGlyphLayout;
    // 281 x 105 with 1 px bevels: the text area before the glyph is (4, 4)-(277, 101).
    QTest::newRow("left") << G::glGlyphLeft << QPoint(7, 44)
                          << QRect(QPoint(27, 4), QPoint(276, 100));
    QTest::newRow("right") << G::glGlyphRight << QPoint(258, 44)
                           << QRect(QPoint(4, 4), QPoint(253, 100));
    QTest::newRow("top") << G::glGlyphTop << QPoint(132, 7)
                         << QRect(QPoint(4, 30), QPoint(276, 100));
    QTest::newRow("bottom") << G::glGlyphBottom << QPoint(132, 82)
                            << QRect(QPoint(4, 4), QPoint(276, 74));
}

void ScrollTextPanelTest::glyphTakesItsPlaceBesideTheText()
{
    QFETCH(TScrollTextPanel::TGlyphLayout, layout);
    QFETCH(QPoint, origin);
    QFETCH(QRect, textArea);

    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(Qt::white); // The bottom-left colour: transparent.
    picture.setPixel(5, 5, qRgb(0, 200, 0));
    auto panel = makePanel({ QStringLiteral("a") });
    panel->setGlyph(QPixmap::fromImage(picture));
    panel->setGlyphLayout(layout);
    panel->setColor(QColor(50, 50, 50));
    panel->setActive(true);
    QCOMPARE(panel->glyphOrigin(), origin);
    QCOMPARE(panel->textArea(), textArea);

    const QImage shown = panel->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(shown.pixel(origin + QPoint(5, 5)), qRgb(0, 200, 0));
    QCOMPARE(shown.pixel(origin), qRgb(50, 50, 50)); // Transparent: the panel shows through.
    panel->setActive(false);
    const QImage idle = panel->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(idle.pixel(origin + QPoint(5, 5)), qRgb(50, 50, 50));
}

void ScrollTextPanelTest::newLinesRestartARunningPass()
{
    auto panel = makePanel({ QStringLiteral("a") });
    panel->setActive(true);
    tickTimes(*panel, 30);
    QCOMPARE(panel->scrollOffset(), 30);
    panel->setLines({ QStringLiteral("b"), QStringLiteral("c") });
    QCOMPARE(panel->scrollOffset(), 0);
    QCOMPARE(ticksToStop(*panel), 97 + 2 * lineSpacingOf(*panel) + 1);
}

void ScrollTextPanelTest::stoppingClearsTheText()
{
    auto panel = makePanel({ QStringLiteral("HHHH") });
    panel->setActive(true);
    tickTimes(*panel, 40);
    QVERIFY(!inkBox(textAreaImage(*panel)).isEmpty());
    panel->setActive(false);
    QVERIFY(inkBox(panel->grab().toImage().convertToFormat(QImage::Format_ARGB32)).isEmpty());
}

void ScrollTextPanelTest::aPanelStartedAgainRunsAFreshPass()
{
    auto panel = makePanel({ QStringLiteral("a") });
    panel->setActive(true);
    const int pass = ticksToStop(*panel);
    QCOMPARE(pass, 97 + lineSpacingOf(*panel) + 1);
    panel->setActive(true);
    QCOMPARE(panel->scrollOffset(), 0);
    QCOMPARE(ticksToStop(*panel), pass);
}

void ScrollTextPanelTest::bevelsFrameTheInterior_data()
{
    QTest::addColumn<TScrollTextPanel::TPanelBevel>("outer");
    QTest::addColumn<int>("borderPx");
    QTest::addColumn<QRgb>("topLeft");
    QTest::addColumn<QRgb>("bottomRight");
    QTest::addColumn<QRect>("textArea");
    using B = TScrollTextPanel::TPanelBevel;
    const QRgb shadow = qRgb(0, 0, 255), light = kEmboss, face = qRgb(255, 255, 255);
    QTest::newRow("lowered (the default)")
        << B::bvLowered << 0 << shadow << light << QRect(4, 4, 92, 32);
    QTest::newRow("raised") << B::bvRaised << 0 << light << shadow << QRect(4, 4, 92, 32);
    QTest::newRow("none, 2 px border") << B::bvNone << 2 << face << face << QRect(5, 5, 90, 30);
}

// The outer bevel's colours, the border in the panel colour, and the text area inside both.
void ScrollTextPanelTest::bevelsFrameTheInterior()
{
    QFETCH(TScrollTextPanel::TPanelBevel, outer);
    QFETCH(int, borderPx);
    QFETCH(QRgb, topLeft);
    QFETCH(QRgb, bottomRight);
    QFETCH(QRect, textArea);
    auto panel = makePanel({ QStringLiteral("a") }, QSize(100, 40));
    panel->setBevelOuter(outer);
    panel->setBorderWidth(borderPx);
    const QImage idle = panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(idle.pixel(0, 20), topLeft | 0xff000000);
    QCOMPARE(idle.pixel(50, 0), topLeft | 0xff000000);
    QCOMPARE(idle.pixel(99, 20), bottomRight | 0xff000000);
    QCOMPARE(idle.pixel(50, 39), bottomRight | 0xff000000);
    panel->setActive(true);
    QCOMPARE(panel->textArea(), textArea);
}

QTEST_MAIN(ScrollTextPanelTest)
#include "ScrollTextPanelTest.moc"
