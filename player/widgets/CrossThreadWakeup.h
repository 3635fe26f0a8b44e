#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace tunedeck {

// Wakes the thread that owns it from any other thread, without allocating anything in Qt on the
// waking side: the waker writes to an eventfd that a QSocketNotifier watches. Qt's queued calls
// allocate on the sender's thread and free on the receiver's behind locks ThreadSanitizer cannot
// see; a file descriptor read and write it does see, so a handoff through this class (with the
// data in a std::mutex-guarded slot) stays checkable. Wakes coalesce: several wake() calls may
// give one woken().
class CrossThreadWakeup : public QObject {
    Q_OBJECT

public:
    // The descriptor outlives the wakeup for as long as a Waker holds it, so a thread that wakes
    // late writes to a counter nobody reads rather than to a closed or reused descriptor.
    class Waker {
    public:
        Waker() = default;
        // Any thread. Never blocks; does nothing for an empty Waker.
        void wake() const noexcept;

    private:
        friend class CrossThreadWakeup;
        struct Descriptor;
        std::shared_ptr<const Descriptor> m_descriptor;
    };

    // Lives on the constructing thread. isValid() is false when no eventfd could be had.
    explicit CrossThreadWakeup(QObject *parent = nullptr);
    ~CrossThreadWakeup() override;

    bool isValid() const { return m_notifier != nullptr; }
    // A handle other threads keep and call; empty when the wakeup is not valid.
    Waker waker() const { return m_waker; }

Q_SIGNALS:
    // Emitted on the owning thread after one or more wake() calls.
    void woken();

private:
    void drain();

    Waker m_waker;
    QSocketNotifier *m_notifier = nullptr; // Owned as a child.
};

} // namespace tunedeck
