#include "CrossThreadWakeup.h"

#include <QSocketNotifier>

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tunedeck {

struct CrossThreadWakeup::Waker::Descriptor {
    explicit Descriptor(int descriptor)
        : fd(descriptor)
    { }
    ~Descriptor() { ::close(fd); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    const int fd;
};

void CrossThreadWakeup::Waker::wake() const noexcept
{
    if (!m_descriptor)
        return;
    const std::uint64_t one = 1;
    // Only fails when the counter would overflow, and then the reader is due to wake anyway.
    [[maybe_unused]] const auto written = ::write(m_descriptor->fd, &one, sizeof one);
}

CrossThreadWakeup::CrossThreadWakeup(QObject *parent)
    : QObject(parent)
{
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0)
        return;
    m_waker.m_descriptor = std::make_shared<const Waker::Descriptor>(fd);
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CrossThreadWakeup::drain);
}

CrossThreadWakeup::~CrossThreadWakeup()
{
    // The notifier must stop watching before a late Waker could be the last owner and close the
    // descriptor under it.
    delete m_notifier;
}

void CrossThreadWakeup::drain()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(m_waker.m_descriptor->fd, &count, sizeof count);
    Q_EMIT woken();
}

} // namespace tunedeck
