#include "ScrollTextPanel.h"

#include "TickTimer.h"

#include <QLabel>
#include <QPainter>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

std::unique_ptr<TScrollTextPanel> makePanel(const QStringList &lines, QSize size = QSize(281, 105))
{
    auto panel = std::make_unique<TScrollTextPanel>();
    panel->setIntervalMs(1);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Button, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    panel->setPalette(palette);
    panel->resize(size);
    panel->setLines(lines);
    return panel;
}

QStringList manyLines()
{
    QStringList lines;
    for (int i = 0; i < 40; ++i)
        lines << QStringLiteral("Line %1 of the text that scrolls by").arg(i);
    return lines;
}

bool hasInk(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                return true;
    return false;
}

// Holds the worker inside a frame (in the background step) until the test lets it go.
struct FrameGate {
    QSemaphore entered;
    QSemaphore go;
    std::atomic<int> inside = 0;
    std::atomic<bool> armed = true;
    std::thread::id uiThread = std::this_thread::get_id();

    void attach(TScrollTextPanel &panel)
    {
        panel.setOnPaintClient([this](TScrollTextPanel *, QPainter &canvas, const QRect &rect) {
            canvas.fillRect(rect, canvas.brush());
            if (std::this_thread::get_id() == uiThread || !armed.exchange(false))
                return;
            ++inside;
            entered.release();
            go.acquire();
            // Give the frame some work after the gate opens, so it is still drawing while the
            // UI thread goes on.
            for (int i = 0; i < 50; ++i)
                canvas.fillRect(rect, i % 2 ? Qt::white : Qt::gray);
            --inside;
        });
    }
};

} // namespace

class ScrollTextPanelThreadTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesAreDrawnOnTheWorkerAndShownOnTheUiThread();
    void withoutAsyncDrawingTicksRunOnTheUiThread();
    void theEndOfAPassIsHandedToTheUiThread();
    void intervalZeroBringsNoTicksUntilAnIntervalIsSet();
    void deactivationWaitsForTheFrameInProgress();
    void destroyingAnActivePanelWhileItsWorkerIsMidFrameIsSafe();
    void deletingThePanelFromItsOwnStopNoticeIsSafe();
};

void ScrollTextPanelThreadTest::framesAreDrawnOnTheWorkerAndShownOnTheUiThread()
{
    auto panel = makePanel(manyLines());
    std::atomic<bool> drawnOffUi = false;
    const auto uiThread = std::this_thread::get_id();
    panel->setOnPaintClient([&](TScrollTextPanel *, QPainter &canvas, const QRect &rect) {
        if (std::this_thread::get_id() != uiThread)
            drawnOffUi.store(true);
        canvas.fillRect(rect, canvas.brush());
    });
    panel->show();
    panel->setActive(true);
    QTRY_VERIFY(panel->scrollOffset() > 30);
    QVERIFY(drawnOffUi.load());
    QTRY_VERIFY(hasInk(panel->grab().toImage().copy(panel->textArea())));
}

void ScrollTextPanelThreadTest::withoutAsyncDrawingTicksRunOnTheUiThread()
{
    auto panel = makePanel(manyLines());
    panel->setAsyncDrawing(false);
    std::atomic<bool> drawnOffUi = false;
    const auto uiThread = std::this_thread::get_id();
    panel->setOnPaintClient([&](TScrollTextPanel *, QPainter &canvas, const QRect &rect) {
        if (std::this_thread::get_id() != uiThread)
            drawnOffUi.store(true);
        canvas.fillRect(rect, canvas.brush());
    });
    panel->setActive(true);
    QTRY_VERIFY(panel->scrollOffset() > 30);
    QVERIFY(!drawnOffUi.load());
}

// OnStopPlay and the showing of children happen on the UI thread, after the worker's last tick.
void ScrollTextPanelThreadTest::theEndOfAPassIsHandedToTheUiThread()
{
    auto panel = makePanel({ QStringLiteral("short") }, QSize(60, 20));
    auto *child = new QLabel(QStringLiteral("child"), panel.get());
    std::thread::id stoppedOn;
    connect(
        panel.get(), &TScrollTextPanel::OnStopPlay, panel.get(),
        [&] { stoppedOn = std::this_thread::get_id(); }, Qt::DirectConnection);
    QSignalSpy stops(panel.get(), &TScrollTextPanel::OnStopPlay);
    panel->setActive(true);
    QVERIFY(child->isHidden());
    QVERIFY(stops.wait(10000));
    QCOMPARE(stoppedOn, std::this_thread::get_id());
    QVERIFY(!panel->isActive());
    QVERIFY(!child->isHidden());
    QVERIFY(!panel->tickTimer()->isTicking());
}

void ScrollTextPanelThreadTest::intervalZeroBringsNoTicksUntilAnIntervalIsSet()
{
    auto panel = makePanel(manyLines());
    panel->setIntervalMs(0);
    panel->setActive(true);
    QVERIFY(!panel->tickTimer()->isTicking());
    QCoreApplication::processEvents();
    QCOMPARE(panel->scrollOffset(), 0);
    QVERIFY(panel->isActive());
    panel->setIntervalMs(1);
    QVERIFY(panel->tickTimer()->isTicking());
    QTRY_VERIFY(panel->scrollOffset() > 0);
}

// When setActive(false) returns, the frame that was being drawn has finished.
void ScrollTextPanelThreadTest::deactivationWaitsForTheFrameInProgress()
{
    for (int round = 0; round < 10; ++round) {
        auto panel = makePanel(manyLines());
        FrameGate gate;
        gate.attach(*panel);
        panel->setActive(true);
        gate.entered.acquire();
        gate.go.release();
        panel->setActive(false);
        QCOMPARE(gate.inside.load(), 0);
    }
}

void ScrollTextPanelThreadTest::destroyingAnActivePanelWhileItsWorkerIsMidFrameIsSafe()
{
    for (int round = 0; round < 10; ++round) {
        auto panel = makePanel(manyLines());
        FrameGate gate;
        gate.attach(*panel);
        QSignalSpy stops(panel.get(), &TScrollTextPanel::OnStopPlay);
        panel->setActive(true);
        gate.entered.acquire(); // The worker is inside a frame ...
        gate.go.release();
        panel.reset(); // ... and the panel goes while it draws.
        QCOMPARE(gate.inside.load(), 0);
        QCOMPARE(stops.count(), 1);
    }
}

// The handler of the end of a pass may delete the panel: the worker waiting for that handoff
// is let go without the panel.
void ScrollTextPanelThreadTest::deletingThePanelFromItsOwnStopNoticeIsSafe()
{
    auto *panel = makePanel({ QStringLiteral("short") }, QSize(60, 20)).release();
    QSignalSpy destroyed(panel, &QObject::destroyed);
    connect(panel, &TScrollTextPanel::OnStopPlay, panel, [panel] { delete panel; });
    panel->setActive(true);
    QVERIFY(destroyed.wait(10000));
}

QTEST_MAIN(ScrollTextPanelThreadTest)
#include "ScrollTextPanelThreadTest.moc"
