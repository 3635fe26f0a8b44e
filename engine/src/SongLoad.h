#pragma once

#include "MidiSource.h"
#include "Source.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include <malloc.h>

namespace tunedeck {

// Starts `work` on a detached thread; false when no thread can be had.
template<typename Work> bool runDetached(Work work)
{
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

// Frees what `held` holds on a thread of its own (here, when no thread can be had), then gives
// the freed memory back to the system: glibc keeps it in its arenas otherwise, and the samples
// of songs let go of would stay with the program at rest. For what the owner's thread lets go
// of: a synthesiser's samples, or a song of millions of events, take milliseconds to free.
template<typename Held> void freeAside(Held held)
{
    runDetached([gone = std::move(held)]() mutable {
        {
            const Held last = std::move(gone);
        }
        malloc_trim(0);
    }); // with no thread to be had, freed here
}

class ReadAhead;
class Synth;

// A device's synthesiser, made when it is first needed, and the right to prepare it for a song
// off the render thread. Shared by the device and the workers that prepare its songs, so it
// outlives the last of them.
struct SynthSlot {
    explicit SynthSlot(int rate)
        : sampleRate(rate)
    { }
    // Held while the synthesiser is made, replaced or a song's samples are read into it; taken
    // through SlotLock.
    std::mutex mutex;
    // Shared with the songs that play on it: one replaced goes with the last of them.
    std::shared_ptr<Synth> synth;
    // The open song's own soundfont in `synth` (added by the song's worker, or at open() without
    // a render thread), or -1: the synthesiser is not replaced while there is one.
    int songBank = -1;
    int sampleRate;
    // Set by the owner when `songBank` is to go while a worker holds `mutex`: it goes as that
    // worker lets go of the mutex, or as the next holder takes it.
    std::atomic<bool> bankGoes { false };

    // Owner's thread, once the open song is abandoned: its own soundfont goes, now if no worker
    // holds `mutex`, else as soon as one lets go of it. The owner does not wait for a worker
    // reading samples (from a slow disk, for seconds).
    void dropBank();
    // Under `mutex`: removes the soundfont dropBank() could not.
    void settle();
    // Not under `mutex`: settle() if a bank is marked and no one holds the mutex.
    void settleIfFree();

    // Under `mutex`: the synthesiser, made now if there is none yet (the soundfont is looked
    // for again each time, so one installed meanwhile is found).
    Result<Synth *> obtain();
    // Under `mutex`, before a song is preloaded: the synthesiser it plays on. One that `ahead`
    // made ready for it takes over (unless the device's holds a song's own soundfont), so the
    // change of song reloads nothing; the one it replaces is moved to `replaced`, for the caller
    // to let go of after the mutex.
    Result<std::shared_ptr<Synth>> obtainFor(ReadAhead *ahead, std::shared_ptr<Synth> &replaced);
    // On a thread of its own: finds the soundfonts and reads their preset tables, unless the
    // synthesiser exists; makes none.
    static void prepareAhead(const std::shared_ptr<SynthSlot> &slot);
};

// Holds a slot's mutex. A song's soundfont let go of by dropBank() meanwhile goes as it is
// taken and as it is let go of.
class SlotLock {
public:
    explicit SlotLock(SynthSlot &slot)
        : m_slot(slot)
        , m_lock(slot.mutex)
    {
        slot.settle();
    }
    ~SlotLock()
    {
        m_slot.settle();
        m_lock.unlock();
        // dropBank() may have marked the bank after the settle above, and found the mutex held.
        m_slot.settleIfFree();
    }
    SlotLock(const SlotLock &) = delete;
    SlotLock &operator=(const SlotLock &) = delete;

private:
    SynthSlot &m_slot;
    std::unique_lock<std::mutex> m_lock;
};

// A song the device is likely to open next, made ready while another plays: a worker reads the
// song and preloads a synthesiser of its own with it. When the song is opened, that synthesiser
// takes over from the device's (SynthSlot::obtainFor); where it cannot, it holds the song's
// samples in FluidSynth's sample cache until whoever lets go of this last frees it, and the
// song's own worker finds them there instead of reading them again. Songs only: for anything
// else (or a file that cannot be read) nothing is read, and open() says what is wrong with it.
class ReadAhead {
public:
    // Owner's thread: starts reading `path` on a worker, or here when `onThisThread`: the samples
    // for playing it at `key`, or at any key when there is none.
    static std::shared_ptr<ReadAhead> start(
        std::filesystem::path path, int sampleRate, bool onThisThread, std::optional<int> key);
    ReadAhead(std::filesystem::path path, int sampleRate, std::optional<int> key)
        : m_path(std::move(path))
        , m_sampleRate(sampleRate)
        , m_key(key)
    { }

    const std::filesystem::path &path() const { return m_path; }
    const std::optional<int> &key() const { return m_key; }
    // A worker still reading stops at its next check and frees what it read itself.
    void cancel() { m_cancel.store(true, std::memory_order_release); }
    // Song worker: returns once the reading is over or `abandoned` becomes true.
    void wait(const std::atomic<bool> &abandoned);
    // Whether the song's samples were read and are held here.
    bool holding();
    // Song worker, once the reading is over: the synthesiser made ready, taken out (null when
    // there is none).
    std::shared_ptr<Synth> take();

private:
    void read();

    const std::filesystem::path m_path;
    const int m_sampleRate;
    const std::optional<int> m_key;
    std::atomic<bool> m_cancel { false };
    std::mutex m_mutex;
    std::condition_variable m_over;
    bool m_done = false; // under m_mutex
    std::shared_ptr<Synth> m_holder; // under m_mutex: the synthesiser holding the samples read
};

// A song that is not ready to play yet: a worker of its own reads and parses it (when open()
// did not) and takes over the synthesiser read ahead for it; else it waits until the render
// thread has let go of the previous song, adds the song's own soundfont (when it read the song)
// and reads the samples of the presets the song chooses into the device's synthesiser. Then it
// builds its MidiSource, while this source stands in for it. Until the song is ready it is
// silence at position 0 (or at the position a seek asked for) with length 0 (or the parsed
// song's length); from then on it is the song. A song that cannot be read fails the first run
// that plays it, with the reader's reason (failure(), failureDetail()).
class SongLoad final : public Source {
public:
    // Owner's thread: starts reading `path`; `kind` is what the file's header says it is, and
    // `keyShift` the key the listener has chosen (see prepareKey()). With `ahead` (this file read
    // ahead), its samples are taken over from it and it is let go.
    SongLoad(std::filesystem::path path, MediaKind kind, std::shared_ptr<SynthSlot> slot,
        int keyShift, std::shared_ptr<ReadAhead> ahead = nullptr);
    // Owner's thread: starts preparing the song `file`, already read.
    SongLoad(MidiFile file, std::shared_ptr<SynthSlot> slot, int keyShift,
        std::shared_ptr<ReadAhead> ahead = nullptr);
    // Abandons the preparation; a worker still at work frees what it read itself.
    ~SongLoad() override;

    MediaKind kind() const override { return m_kind; }
    // The parsed song's length; for a song read here, 0 until it is ready.
    std::uint32_t lengthMs() const override;

    std::size_t render(float *out, std::size_t frames) noexcept override;
    void renderIdle(float *out, std::size_t frames) noexcept override;
    void silence() noexcept override;
    void seekMs(std::uint32_t positionMs) noexcept override;
    void prepareSeek(std::uint32_t positionMs) noexcept override;
    // A song read ahead is preloaded for every key the listener can choose. Any other is
    // preloaded for the key chosen when it is opened, which starts it sooner; the first time
    // another is asked for, a worker preloads a second synthesiser for every key, and the song
    // keeps its key until it moves to that one (MidiSource::offerRoomy).
    void prepareKey(int semitones) override;
    Synth *synthPlaying() const noexcept override;
    std::uint32_t positionMs() const noexcept override;
    bool atEnd() const noexcept override;
    bool failed() const noexcept override;
    Error::Code failure() const noexcept override;
    std::string failureDetail() const override;
    void abandon() noexcept override;
    const SongText *songText() const override;
    void applyControls(const PlayControls &controls) noexcept override;

private:
    struct Shared;

    void start(std::optional<std::filesystem::path> path, std::optional<MidiFile> file);
    // Render thread: the song once it is ready, else null.
    MidiSource *song() noexcept;

    MediaKind m_kind;
    std::uint32_t m_knownLengthMs = 0;
    std::shared_ptr<Shared> m_shared;
    // Render thread.
    MidiSource *m_song = nullptr; // the ready song
    bool m_arrived = false; // the worker has been told that this source plays now
    std::uint32_t m_pendingSeekMs = 0; // where the song starts once ready
};

} // namespace tunedeck
