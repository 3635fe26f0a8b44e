#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <optional>

namespace tunedeck {

// A fixed-size lock-free ring for one producer thread and one consumer thread. push() is safe on
// the render thread: it never blocks and never allocates. Holds at most Capacity - 1 items.
template<typename T, std::size_t Capacity> class SpscRing {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "a power of two");

public:
    // Producer thread only. False when the ring is full; the item is then dropped.
    bool push(const T &item) noexcept
    {
        const auto head = m_head.load(std::memory_order_relaxed);
        const auto next = (head + 1) & (Capacity - 1);
        if (next == m_tail.load(std::memory_order_acquire))
            return false;
        m_items[head] = item;
        m_head.store(next, std::memory_order_release);
        return true;
    }

    // Consumer thread only.
    std::optional<T> pop() noexcept
    {
        const auto tail = m_tail.load(std::memory_order_relaxed);
        if (tail == m_head.load(std::memory_order_acquire))
            return std::nullopt;
        T item = m_items[tail];
        m_tail.store((tail + 1) & (Capacity - 1), std::memory_order_release);
        return item;
    }

private:
    std::array<T, Capacity> m_items {};
    alignas(64) std::atomic<std::size_t> m_head { 0 };
    alignas(64) std::atomic<std::size_t> m_tail { 0 };
};

} // namespace tunedeck
