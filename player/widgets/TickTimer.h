#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <thread>

class QTimer;

// A periodic timer whose ticks come from a worker thread of its own: the worker sleeps Interval
// milliseconds, then runs OnTimer, on the UI thread (waiting for it) when SyncEvent is true,
// otherwise on the worker itself. The period is therefore Interval plus the tick's own time.
//
// Threads: the object lives on the UI thread, and every property is set there. OnTimer runs on
// the worker (SyncEvent false) or on the UI thread. synchronize() may be called from OnTimer on
// the worker. Destruction asks the worker to stop, wakes it and joins it, so OnTimer never runs
// after the destructor has returned; a handoff the worker is waiting for is then dropped.
class TTickTimer : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ enabled WRITE setEnabled)
    Q_PROPERTY(quint32 Interval READ intervalMs WRITE setIntervalMs)
    Q_PROPERTY(bool SyncEvent READ syncEvent WRITE setSyncEvent)
    Q_PROPERTY(bool Threaded READ threaded WRITE setThreaded)
    Q_PROPERTY(TThreadPriority ThreadPriority READ threadPriority WRITE setThreadPriority)

public:
    // Mapped onto the worker's nice value, from 19 (tpIdle) to -20 (tpTimeCritical); a raise the
    // process may not make is left undone.
    enum class TThreadPriority {
        tpIdle,
        tpLowest,
        tpLower,
        tpNormal,
        tpHigher,
        tpHighest,
        tpTimeCritical
    };
    Q_ENUM(TThreadPriority)

    using TimerProc = std::function<void()>;

    explicit TTickTimer(QObject *parent = nullptr);
    ~TTickTimer() override;

    // Ticks run only while enabled; true by default.
    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    // Pause between ticks in milliseconds, 1000 by default; 0 stops the ticks.
    quint32 intervalMs() const { return m_intervalMs; }
    void setIntervalMs(quint32 intervalMs);
    // true (the default): a threaded tick runs on the UI thread while the worker waits.
    bool syncEvent() const { return m_syncEvent; }
    void setSyncEvent(bool syncEvent);
    // true (the default): ticks come from the worker; false: from a QTimer on the UI thread.
    bool threaded() const { return m_threaded; }
    void setThreaded(bool threaded);
    // tpNormal by default; applied when the worker resumes.
    TThreadPriority threadPriority() const { return m_priority; }
    void setThreadPriority(TThreadPriority priority);

    // The tick. Empty by default; an empty OnTimer stops the ticks like Enabled false.
    bool hasOnTimer() const { return static_cast<bool>(m_onTimer); }
    void setOnTimer(TimerProc onTimer);

    // true while ticks are due: the worker is resumed (threaded) or the QTimer runs.
    bool isTicking() const;

    // Called from the worker (from OnTimer), runs `procedure` on the UI thread and waits for it;
    // returns false when the timer was destroyed first and the procedure was dropped. Called
    // from any other thread, runs it directly and returns true. An exception it raises on the UI
    // thread leaves through the event loop, to the application's notify().
    bool synchronize(const std::function<void()> &procedure);

private:
    struct Shared;

    void reevaluate();
    Q_INVOKABLE void runHandoff();
    static void workerLoop(std::shared_ptr<Shared> shared);
    static bool handOver(Shared &shared, const std::function<void()> &procedure);

    std::shared_ptr<Shared> m_shared;
    std::thread m_worker; // Started at the first resume.
    QTimer *m_timer = nullptr; // Non-threaded operation; owned as a child.
    TimerProc m_onTimer;
    quint32 m_intervalMs = 1000;
    bool m_enabled = true;
    bool m_syncEvent = true;
    bool m_threaded = true;
    TThreadPriority m_priority = TThreadPriority::tpNormal;
};
