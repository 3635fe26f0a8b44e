#include "Output.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <pthread.h>

namespace tunedeck {

namespace {

// Small enough that positions move smoothly, large enough that the thread sleeps most of the time.
constexpr std::size_t kNullBlockFrames = 512;
// Falling this far behind (a stopped debugger, a loaded machine) restarts the clock instead of
// rendering a burst to catch up.
constexpr auto kMaxLag = std::chrono::milliseconds(500);

// Renders a block whenever the steady clock says one has played, and throws the sound away, so
// positions and end-of-file notices behave as with a sound card.
class NullOutput final : public Output {
public:
    explicit NullOutput(int sampleRate)
        : m_sampleRate(sampleRate)
        , m_buffer(kNullBlockFrames * 2)
    { }
    ~NullOutput() override { stop(); }

    int sampleRate() const override { return m_sampleRate; }

    void start(RenderFunction render, void *context) override
    {
        stop();
        m_stopping = false;
        m_thread = std::thread([this, render, context] { run(render, context); });
    }

    void stop() override
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

private:
    // On the output's own thread. The mutex is only ever shared with stop(), never with render.
    void run(RenderFunction render, void *context)
    {
        using Clock = std::chrono::steady_clock;
        const auto blockDuration = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(double(kNullBlockFrames) / m_sampleRate));
        // Named like the render thread it stands for, so tools (and tests) can tell it apart.
        pthread_setname_np(pthread_self(), "td-render");
        auto due = Clock::now();
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            lock.unlock();
            render(context, m_buffer.data(), kNullBlockFrames);
            lock.lock();
            due += blockDuration;
            const auto now = Clock::now();
            if (now - due > kMaxLag)
                due = now;
            m_wake.wait_until(lock, due, [this] { return m_stopping; });
        }
    }

    const int m_sampleRate;
    std::vector<float> m_buffer;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
};

} // namespace

std::unique_ptr<Output> openNullOutput(int sampleRate)
{
    return std::make_unique<NullOutput>(sampleRate);
}

} // namespace tunedeck
