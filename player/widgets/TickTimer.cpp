#include "TickTimer.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace {

int niceValueOf(TTickTimer::TThreadPriority priority)
{
    using P = TTickTimer::TThreadPriority;
    switch (priority) {
    case P::tpIdle:
        return 19;
    case P::tpLowest:
        return 10;
    case P::tpLower:
        return 5;
    case P::tpNormal:
        return 0;
    case P::tpHigher:
        return -5;
    case P::tpHighest:
        return -10;
    case P::tpTimeCritical:
        return -20;
    }
    return 0;
}

} // namespace

// What the worker and the UI thread share. Every field is guarded by `mutex`; the worker holds
// the structure by shared_ptr, so it stays valid even for a worker left to finish on its own.
struct TTickTimer::Shared {
    std::mutex mutex;
    std::condition_variable wake; // Resume, settings, termination, end of a handoff.

    bool suspended = true;
    bool terminated = false;
    std::uint64_t epoch = 0; // Bumped at every resume, so a new interval restarts the sleep.
    quint32 intervalMs = 0;
    bool enabled = false;
    bool syncEvent = true;
    int niceValue = 0;
    TimerProc onTimer;
    std::thread::id workerId;

    // One handoff at a time, from the worker: the procedure lives on the worker's stack until
    // handoffDone, or until the timer is destroyed while the UI has not started it.
    const std::function<void()> *handoff = nullptr;
    bool handoffDone = false;
    bool uiInHandoff = false;
    // Receives the queued call that runs a handoff; alive while `terminated` is false.
    TTickTimer *owner = nullptr;
};

TTickTimer::TTickTimer(QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
    , m_timer(new QTimer(this))
{
    m_shared->owner = this;
    connect(m_timer, &QTimer::timeout, this, [this] {
        const TimerProc tick = m_onTimer; // The tick may replace OnTimer.
        if (tick)
            tick();
    });
}

TTickTimer::~TTickTimer()
{
    m_timer->stop();
    bool uiInHandoff = false;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->enabled = false;
        m_shared->onTimer = nullptr;
        m_shared->terminated = true;
        uiInHandoff = m_shared->uiInHandoff;
        m_shared->wake.notify_all();
    }
    if (!m_worker.joinable())
        return;
    // Destroyed from inside a handoff (a procedure the worker waits for) or from a tick on the
    // worker itself: the worker cannot be joined now. It finishes the tick it is in without this
    // object and leaves; nothing it still touches belongs to this object.
    if (uiInHandoff || m_worker.get_id() == std::this_thread::get_id())
        m_worker.detach();
    else
        m_worker.join();
}

void TTickTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    reevaluate();
}

void TTickTimer::setIntervalMs(quint32 intervalMs)
{
    if (intervalMs == m_intervalMs)
        return;
    m_intervalMs = intervalMs;
    reevaluate();
}

void TTickTimer::setSyncEvent(bool syncEvent)
{
    m_syncEvent = syncEvent;
    std::lock_guard lock(m_shared->mutex);
    m_shared->syncEvent = syncEvent;
}

void TTickTimer::setThreaded(bool threaded)
{
    if (threaded == m_threaded)
        return;
    m_threaded = threaded;
    reevaluate();
}

void TTickTimer::setThreadPriority(TThreadPriority priority)
{
    if (priority == m_priority)
        return;
    m_priority = priority;
    if (m_threaded)
        reevaluate();
}

void TTickTimer::setOnTimer(TimerProc onTimer)
{
    const bool wasAssigned = static_cast<bool>(m_onTimer);
    m_onTimer = std::move(onTimer);
    {
        // A new procedure takes effect at the next tick even when assignment did not change.
        std::lock_guard lock(m_shared->mutex);
        m_shared->onTimer = m_onTimer;
    }
    if (wasAssigned != static_cast<bool>(m_onTimer))
        reevaluate();
}

bool TTickTimer::isTicking() const
{
    if (m_timer->isActive())
        return true;
    std::lock_guard lock(m_shared->mutex);
    return !m_shared->suspended;
}

void TTickTimer::reevaluate()
{
    const bool due = m_intervalMs != 0 && m_enabled && m_onTimer;
    const bool threaded = m_threaded;

    m_timer->stop();
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->suspended = true;
        m_shared->intervalMs = m_intervalMs;
        m_shared->enabled = m_enabled;
        m_shared->syncEvent = m_syncEvent;
        m_shared->niceValue = niceValueOf(m_priority);
        m_shared->onTimer = m_onTimer;
        if (threaded && due) {
            m_shared->suspended = false;
            ++m_shared->epoch;
        }
        m_shared->wake.notify_all();
    }

    if (threaded && due && !m_worker.joinable()) {
        m_worker = std::thread(&TTickTimer::workerLoop, m_shared);
    }
    if (!threaded && due) {
        m_timer->setInterval(static_cast<int>(std::min<quint32>(m_intervalMs, INT_MAX)));
        m_timer->start();
    }
}

void TTickTimer::workerLoop(std::shared_ptr<Shared> shared)
{
    Shared &s = *shared;
    std::unique_lock lock(s.mutex);
    s.workerId = std::this_thread::get_id();
    int appliedNice = 0;
    while (!s.terminated) {
        if (s.suspended) {
            s.wake.wait(lock, [&] { return s.terminated || !s.suspended; });
            continue;
        }
        if (s.niceValue != appliedNice) {
            // Per-thread on Linux. A raise above the process's limit fails and is left undone.
            if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), s.niceValue) == 0)
                appliedNice = s.niceValue;
        }
        const std::uint64_t epoch = s.epoch;
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.intervalMs);
        const bool interrupted = s.wake.wait_until(
            lock, deadline, [&] { return s.terminated || s.suspended || s.epoch != epoch; });
        if (interrupted || !s.enabled || !s.onTimer)
            continue;

        TimerProc tick = s.onTimer;
        const bool onUiThread = s.syncEvent;
        lock.unlock();
        std::exception_ptr error;
        try {
            if (onUiThread)
                handOver(s, tick);
            else
                tick();
        } catch (...) {
            error = std::current_exception();
        }
        if (error) {
            // Shown on the UI thread by the application's catch-all; the ticks go on. Handed
            // over after the catch block, so the UI thread holds the only reference and the
            // exception is freed where it is caught.
            handOver(s, [error = std::move(error)]() mutable {
                std::exception_ptr taken = std::exchange(error, nullptr);
                std::rethrow_exception(taken);
            });
        }
        tick = nullptr; // Whatever the tick holds is released outside the lock.
        lock.lock();
    }
}

bool TTickTimer::handOver(Shared &s, const std::function<void()> &procedure)
{
    std::unique_lock lock(s.mutex);
    if (s.terminated)
        return false;
    s.handoff = &procedure;
    s.handoffDone = false;
    // Under the lock, so the destructor cannot have begun: the owner is alive.
    QMetaObject::invokeMethod(s.owner, "runHandoff", Qt::QueuedConnection);
    s.wake.wait(lock, [&] { return s.handoffDone || (s.terminated && !s.uiInHandoff); });
    s.handoff = nullptr;
    return s.handoffDone;
}

bool TTickTimer::synchronize(const std::function<void()> &procedure)
{
    bool onWorker = false;
    {
        std::lock_guard lock(m_shared->mutex);
        onWorker = m_shared->workerId == std::this_thread::get_id();
    }
    if (onWorker)
        return handOver(*m_shared, procedure);
    procedure();
    return true;
}

// UI thread, on the queued call. The procedure may destroy this timer, so past that point only the
// shared structure (held here) is touched.
void TTickTimer::runHandoff()
{
    const std::shared_ptr<Shared> shared = m_shared;
    const std::function<void()> *procedure = nullptr;
    {
        std::lock_guard lock(shared->mutex);
        if (!shared->handoff || shared->terminated || shared->uiInHandoff)
            return;
        procedure = shared->handoff;
        shared->handoff = nullptr;
        shared->uiInHandoff = true;
    }
    struct Finish {
        Shared &s;
        ~Finish()
        {
            std::lock_guard lock(s.mutex);
            s.uiInHandoff = false;
            s.handoffDone = true;
            s.wake.notify_all();
        }
    } finish { *shared };
    (*procedure)();
}
