#include "SongLoad.h"

#include "tunedeck/MidiFile.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>

namespace tunedeck {

namespace {

enum State { Loading, Ready, Failed };

} // namespace

// What the reader thread and the source share; whichever lets go last frees it.
struct SongLoad::Shared {
    // Held by the reader while it builds the song's source (microseconds: the song is parsed by
    // then) and by abandon(), so once abandon() has returned the reader touches no synthesiser.
    std::mutex mutex;
    bool abandoned = false;
    Synth *synth = nullptr;
    // Loading, then Ready (song set) or Failed (error set), stored with release.
    std::atomic<int> state { Loading };
    std::unique_ptr<MidiSource> song;
    Error error;

    void read(const std::filesystem::path &path)
    {
        auto file = MidiFile::read(path);
        std::lock_guard lock(mutex);
        if (abandoned)
            return; // `file` is freed here, after the lock, on this thread
        if (file) {
            song = std::make_unique<MidiSource>(std::move(file).value(), *synth);
            state.store(Ready, std::memory_order_release);
        } else {
            error = file.error();
            state.store(Failed, std::memory_order_release);
        }
    }
};

SongLoad::SongLoad(std::filesystem::path path, MediaKind kind, Synth &synth)
    : m_kind(kind)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->synth = &synth;
    try {
        std::thread([shared = m_shared, path = std::move(path)] { shared->read(path); }).detach();
    } catch (const std::system_error &error) {
        m_shared->error = Error { Error::Code::Io,
            std::string("no thread to read the song: ") + error.what(), 0 };
        m_shared->state.store(Failed, std::memory_order_release);
    }
}

SongLoad::~SongLoad()
{
    abandon();
}

void SongLoad::abandon() noexcept
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->abandoned = true;
}

std::uint32_t SongLoad::lengthMs() const
{
    return m_shared->state.load(std::memory_order_acquire) == Ready ? m_shared->song->lengthMs()
                                                                    : 0;
}

MidiSource *SongLoad::song() noexcept
{
    if (!m_song && m_shared->state.load(std::memory_order_acquire) == Ready)
        m_song = m_shared->song.get();
    return m_song;
}

std::size_t SongLoad::render(float *out, std::size_t frames) noexcept
{
    if (MidiSource *ready = song())
        return ready->render(out, frames);
    // Still reading (or failed, which the device sees next): silence that counts as played.
    std::fill(out, out + 2 * frames, 0.0f);
    return failed() ? 0 : frames;
}

void SongLoad::renderIdle(float *out, std::size_t frames) noexcept
{
    if (MidiSource *ready = song())
        ready->renderIdle(out, frames);
    else
        std::fill(out, out + 2 * frames, 0.0f);
}

void SongLoad::silence() noexcept
{
    if (MidiSource *ready = song())
        ready->silence();
}

void SongLoad::seekMs(std::uint32_t positionMs) noexcept
{
    // Before the song is ready its length is 0, so the only seek there can be is to 0, where
    // the song starts anyway.
    if (MidiSource *ready = song())
        ready->seekMs(positionMs);
}

void SongLoad::applyControls(const PlayControls &controls) noexcept
{
    if (MidiSource *ready = song())
        ready->applyControls(controls);
}

void SongLoad::prepareSeek(std::uint32_t positionMs) noexcept
{
    if (m_shared->state.load(std::memory_order_acquire) == Ready)
        m_shared->song->prepareSeek(positionMs);
}

std::uint32_t SongLoad::positionMs() const noexcept
{
    return m_song ? m_song->positionMs() : 0;
}

bool SongLoad::atEnd() const noexcept
{
    return m_song && m_song->atEnd();
}

bool SongLoad::failed() const noexcept
{
    return m_song ? m_song->failed() : m_shared->state.load(std::memory_order_acquire) == Failed;
}

Error::Code SongLoad::failure() const noexcept
{
    return m_song ? m_song->failure() : m_shared->error.code;
}

std::string SongLoad::failureDetail() const
{
    return m_shared->state.load(std::memory_order_acquire) == Failed ? m_shared->error.detail
                                                                     : std::string();
}

} // namespace tunedeck
