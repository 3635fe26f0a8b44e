#include "TickTimer.h"

#include <QApplication>
#include <QSemaphore>
#include <QTest>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

// Stands in for the program's catch-all: notes what escaped an event handler.
class CatchingApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception &error) {
            std::lock_guard lock(mutex);
            caught.append(QString::fromUtf8(error.what()));
            return true;
        }
    }

    QStringList caughtMessages()
    {
        std::lock_guard lock(mutex);
        return caught;
    }

private:
    std::mutex mutex;
    QStringList caught;
};

// Counts ticks and remembers whether any ran off the given thread.
struct TickLog {
    std::atomic<int> count = 0;
    std::atomic<bool> offThread = false;
    std::atomic<bool> onThread = false;
    std::thread::id thread = std::this_thread::get_id();

    TTickTimer::TimerProc proc()
    {
        return [this] {
            (std::this_thread::get_id() == thread ? onThread : offThread).store(true);
            ++count;
        };
    }
};

} // namespace

class TickTimerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ticksRunOnTheWorkerWhenSyncEventIsOff();
    void ticksRunOnTheUiThreadWhenSyncEventIsOn();
    void ticksAreDueOnlyWithIntervalEnabledAndOnTimer_data();
    void ticksAreDueOnlyWithIntervalEnabledAndOnTimer();
    void disablingSuspendsAndEnablingResumes();
    void nonThreadedTicksComeFromAUiTimer();
    void synchronizeFromTheWorkerRunsOnTheUiThreadWhileItWaits();
    void synchronizeElsewhereRunsDirectly();
    void destroyingTheTimerDropsAHandoffTheWorkerWaitsFor();
    void anExceptionInAWorkerTickReachesTheApplicationAndTicksGoOn();
};

// The worker runs OnTimer itself, again and again.
void TickTimerTest::ticksRunOnTheWorkerWhenSyncEventIsOff()
{
    TickLog log;
    TTickTimer timer;
    timer.setSyncEvent(false);
    timer.setIntervalMs(1);
    timer.setOnTimer(log.proc());
    QTRY_VERIFY(log.count.load() >= 3);
    QVERIFY(log.offThread.load());
    QVERIFY(!log.onThread.load());
}

// SyncEvent hands every tick to the UI thread.
void TickTimerTest::ticksRunOnTheUiThreadWhenSyncEventIsOn()
{
    TickLog log;
    TTickTimer timer;
    timer.setIntervalMs(1);
    timer.setOnTimer(log.proc());
    QTRY_VERIFY(log.count.load() >= 3);
    QVERIFY(log.onThread.load());
    QVERIFY(!log.offThread.load());
}

void TickTimerTest::ticksAreDueOnlyWithIntervalEnabledAndOnTimer_data()
{
    QTest::addColumn<quint32>("intervalMs");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("assigned");
    QTest::addColumn<bool>("ticking");
    QTest::newRow("all three") << 5u << true << true << true;
    QTest::newRow("interval 0") << 0u << true << true << false;
    QTest::newRow("disabled") << 5u << false << true << false;
    QTest::newRow("no OnTimer") << 5u << true << false << false;
}

// A change of any of the three suspends the worker and resumes it only when all allow ticks.
void TickTimerTest::ticksAreDueOnlyWithIntervalEnabledAndOnTimer()
{
    QFETCH(quint32, intervalMs);
    QFETCH(bool, enabled);
    QFETCH(bool, assigned);
    QFETCH(bool, ticking);

    TickLog log;
    TTickTimer timer;
    timer.setSyncEvent(false);
    timer.setIntervalMs(intervalMs);
    timer.setEnabled(enabled);
    if (assigned)
        timer.setOnTimer(log.proc());
    QCOMPARE(timer.isTicking(), ticking);
    if (ticking)
        QTRY_VERIFY(log.count.load() >= 1);
}

void TickTimerTest::disablingSuspendsAndEnablingResumes()
{
    TickLog log;
    TTickTimer timer;
    timer.setSyncEvent(false);
    timer.setIntervalMs(1);
    timer.setOnTimer(log.proc());
    QTRY_VERIFY(log.count.load() >= 1);
    timer.setEnabled(false);
    QVERIFY(!timer.isTicking());
    const int before = log.count.load();
    timer.setEnabled(true);
    QVERIFY(timer.isTicking());
    QTRY_VERIFY(log.count.load() >= before + 2);
}

// Without a worker the ticks come from a timer on the UI thread.
void TickTimerTest::nonThreadedTicksComeFromAUiTimer()
{
    TickLog log;
    TTickTimer timer;
    timer.setThreaded(false);
    timer.setSyncEvent(false); // Ignored without a worker.
    timer.setIntervalMs(1);
    timer.setOnTimer(log.proc());
    QVERIFY(timer.isTicking());
    QTRY_VERIFY(log.count.load() >= 3);
    QVERIFY(!log.offThread.load());
}

// The worker waits for the UI thread to run the procedure, so it sees the procedure's effect.
void TickTimerTest::synchronizeFromTheWorkerRunsOnTheUiThreadWhileItWaits()
{
    TTickTimer timer;
    int written = 0; // Written on the UI thread, read by the worker after synchronize().
    std::atomic<int> seenByWorker = -1;
    std::atomic<bool> ranOnUi = false;
    const auto uiThread = std::this_thread::get_id();
    timer.setSyncEvent(false);
    timer.setIntervalMs(1);
    timer.setOnTimer([&] {
        if (seenByWorker.load() != -1)
            return;
        const bool ran = timer.synchronize([&] {
            ranOnUi.store(std::this_thread::get_id() == uiThread);
            written = 42;
        });
        seenByWorker.store(ran ? written : -2);
    });
    QTRY_COMPARE(seenByWorker.load(), 42);
    QVERIFY(ranOnUi.load());
}

void TickTimerTest::synchronizeElsewhereRunsDirectly()
{
    TTickTimer timer;
    bool ran = false;
    QVERIFY(timer.synchronize([&] { ran = true; }));
    QVERIFY(ran); // At once, without the event loop.
}

// The UI thread never runs the procedure, yet the destructor returns: the handoff is dropped
// and the worker's synchronize() reports it.
void TickTimerTest::destroyingTheTimerDropsAHandoffTheWorkerWaitsFor()
{
    QSemaphore handingOver;
    std::atomic<int> result = -1; // 1: ran, 0: dropped.
    bool procedureRan = false;
    auto timer = std::make_unique<TTickTimer>();
    timer->setSyncEvent(false);
    timer->setIntervalMs(1);
    TTickTimer *raw = timer.get();
    timer->setOnTimer([&, raw] {
        if (result.load() != -1)
            return;
        handingOver.release();
        result.store(raw->synchronize([&] { procedureRan = true; }) ? 1 : 0);
    });
    handingOver.acquire(); // The worker is about to hand over or is waiting for the UI.
    timer.reset();
    QCOMPARE(result.load(), 0);
    QCoreApplication::processEvents();
    QVERIFY(!procedureRan);
}

void TickTimerTest::anExceptionInAWorkerTickReachesTheApplicationAndTicksGoOn()
{
    auto *app = static_cast<CatchingApplication *>(qApp);
    std::atomic<int> ticks = 0;
    TTickTimer timer;
    timer.setSyncEvent(false);
    timer.setIntervalMs(1);
    timer.setOnTimer([&] {
        if (++ticks == 1)
            throw std::runtime_error("tick failed");
    });
    QTRY_VERIFY(app->caughtMessages().contains(QStringLiteral("tick failed")));
    QTRY_VERIFY(ticks.load() >= 3);
}

int main(int argc, char **argv)
{
    CatchingApplication app(argc, argv);
    TickTimerTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "TickTimerTest.moc"
