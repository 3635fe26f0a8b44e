#include "SongLoad.h"

#include "SoundfontPresets.h"

#include "tunedeck/FileKind.h"
#include "tunedeck/MidiFile.h"
#include "tunedeck/Synth.h"

#include <algorithm>
#include <chrono>
#include <semaphore>
#include <system_error>
#include <thread>
#include <utility>

namespace tunedeck {

namespace {

enum State { Loading, Ready, Failed };

// How often a worker waiting for the render thread looks whether its song was abandoned.
constexpr auto kAbandonCheck = std::chrono::milliseconds(100);

} // namespace

Result<Synth *> SynthSlot::obtain()
{
    if (!synth) {
        auto made = Synth::create(sampleRate);
        if (!made)
            return made.error();
        synth = std::move(made).value();
    }
    return synth.get();
}

void SynthSlot::dropBank()
{
    // Marked first: a worker that holds the mutex now sees the mark as it lets go (the fences
    // here and in settleIfFree(): of the mark and the letting go, each side sees the other's).
    bankGoes.store(true);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    std::unique_lock lock(mutex, std::try_to_lock);
    if (lock.owns_lock())
        settle();
}

void SynthSlot::settleIfFree()
{
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (!bankGoes.load())
        return;
    std::unique_lock lock(mutex, std::try_to_lock);
    if (lock.owns_lock())
        settle();
}

void SynthSlot::settle()
{
    if (!bankGoes.exchange(false, std::memory_order_acq_rel))
        return;
    if (songBank >= 0 && synth)
        synth->removeBank(songBank);
    songBank = -1;
}

Result<std::shared_ptr<Synth>> SynthSlot::obtainFor(
    ReadAhead *ahead, std::shared_ptr<Synth> &replaced)
{
    if (ahead && songBank < 0) {
        if (auto ready = ahead->take()) {
            replaced = std::exchange(synth, std::move(ready));
            return synth;
        }
    }
    if (auto made = obtain(); !made)
        return made.error();
    return synth;
}

void SynthSlot::prepareAhead(const std::shared_ptr<SynthSlot> &slot)
{
    // The soundfonts are looked for and their preset tables read and checked (which also brings
    // them into the page cache for the first song), but no synthesiser is made: at rest the
    // program holds none. The first song makes it, with every preset empty, which is quick. A
    // failure shows again when a song needs it.
    runDetached([slot] {
        SlotLock lock(*slot);
        if (slot->synth)
            return;
        if (auto soundfonts = findSoundfonts()) {
            for (const auto &soundfont : soundfonts.value())
                static_cast<void>(SoundfontPresets::read(soundfont));
        }
    });
}

std::shared_ptr<ReadAhead> ReadAhead::start(
    std::filesystem::path path, int sampleRate, bool onThisThread, std::optional<int> key)
{
    auto ahead = std::make_shared<ReadAhead>(std::move(path), sampleRate, key);
    if (onThisThread) {
        ahead->read();
    } else if (!runDetached([ahead]() mutable {
                   ahead->read();
                   // Let go of by its owner: what was read is freed here (if it was read after
                   // that) or with the last share, this one or the owner's (see freeAside), and
                   // goes back to the system either way.
                   if (ahead->m_cancel.load(std::memory_order_acquire)) {
                       ahead.reset();
                       malloc_trim(0);
                   }
               })) {
        ahead->cancel(); // no thread to be had: nothing is read, and no one waits
        ahead->read();
    }
    return ahead;
}

namespace {

// The song `path` holds, if it is a regular file holding one (reading a pipe or a device could
// take forever); nothing once `cancel` is true.
std::optional<MidiFile> songAt(const std::filesystem::path &path, const std::atomic<bool> *cancel)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    auto sniffed = sniff(path);
    if (!sniffed || sniffed.value().container != Container::Midi)
        return std::nullopt;
    auto song = MidiFile::read(path, cancel);
    if (!song)
        return std::nullopt;
    return std::move(song).value();
}

} // namespace

void ReadAhead::read()
{
    std::unique_ptr<Synth> holder;
    if (auto song
        = m_cancel.load(std::memory_order_acquire) ? std::nullopt : songAt(m_path, &m_cancel);
        song && !m_cancel.load(std::memory_order_acquire)) {
        if (auto made = Synth::create(m_sampleRate)) {
            holder = std::move(made).value();
            holder->preload(*song, &m_cancel, false, m_key);
        }
    }
    std::lock_guard lock(m_mutex);
    if (!m_cancel.load(std::memory_order_acquire))
        m_holder = std::move(holder); // else freed here
    m_done = true;
    m_over.notify_all();
}

void ReadAhead::wait(const std::atomic<bool> &abandoned)
{
    std::unique_lock lock(m_mutex);
    while (!m_over.wait_for(lock, kAbandonCheck, [this] { return m_done; })) {
        if (abandoned.load(std::memory_order_acquire))
            return;
    }
}

bool ReadAhead::holding()
{
    std::lock_guard lock(m_mutex);
    return m_holder != nullptr;
}

std::shared_ptr<Synth> ReadAhead::take()
{
    std::lock_guard lock(m_mutex);
    return m_done ? std::move(m_holder) : nullptr;
}

namespace {

// A worker's share of what a song holds: freed here, and given back to the system, when the
// source let go of it meanwhile (as freeAside does).
template<typename Held> void trimIfLast(std::shared_ptr<Held> held)
{
    if (held.use_count() == 1) {
        held.reset();
        malloc_trim(0);
    }
}

} // namespace

// What the worker and the source share; whichever lets go last frees it.
struct SongLoad::Shared {
    std::shared_ptr<SynthSlot> slot; // the device's; the song holds a share of its synthesiser
    std::shared_ptr<ReadAhead> ahead; // the song read ahead, until what it made ready is taken over
    std::atomic<bool> abandoned { false };
    // Released once by the render thread when it first plays this source: from then on the
    // previous song no longer touches the synthesiser.
    std::binary_semaphore arrived { 0 };
    // Loading, then Ready (song set) or Failed (error set), stored with release.
    std::atomic<int> state { Loading };
    // The key the listener asks for, the latest (owner's thread -> worker) ...
    std::atomic<int> keyAsked { 0 };
    // ... and the one the song was preloaded for, when it was for just one (stored before Ready).
    std::optional<int> keyLoaded;
    // Once another key is asked for than `keyLoaded`, a worker preloads a synthesiser of the
    // song's own for every key; the song is offered it. It outlives `song`.
    std::atomic<bool> roomyStarted { false };
    std::shared_ptr<Synth> roomy;
    std::unique_ptr<MidiSource> song;
    Error error;
    // Of a song read here: what it says about itself, complete (its own soundfont's note
    // included) once `textReady` is stored with release; the owner reads it from then on.
    SongText text;
    std::atomic<bool> textReady { false };

    void fail(Error why)
    {
        error = std::move(why);
        state.store(Failed, std::memory_order_release);
    }

    // Under the slot's mutex: an RMID song's own soundfont goes over the default for it.
    void addOwnBank(const MidiFile &parsed)
    {
        const auto bank = parsed.soundfontBank();
        if (bank.empty())
            return;
        auto made = slot->obtain();
        if (!made)
            return; // the song fails below as any song without a soundfont does
        if (auto added = made.value()->addBank(bank, parsed.bankOffset()))
            slot->songBank = added.value();
        else
            text.note = added.error().detail; // it plays with the default soundfont
    }

    void prepare(std::optional<std::filesystem::path> path, std::optional<MidiFile> parsed)
    {
        if (path) {
            auto read = MidiFile::read(*path, &abandoned);
            if (!read)
                return fail(read.error());
            parsed = std::move(read).value();
        }
        text = parsed->text();
        // The first song of a device makes its synthesiser while the render thread takes the
        // song up: no song plays on it yet.
        if (!ahead) {
            SlotLock lock(*slot);
            if (!slot->synth && !abandoned.load(std::memory_order_acquire))
                static_cast<void>(slot->obtain()); // a failure shows below, as ever
        }
        // What is still being read ahead is not read a second time meanwhile.
        if (ahead)
            ahead->wait(abandoned);
        // A song that takes over the synthesiser read ahead for it touches nothing the previous
        // song plays on, and is ready without waiting for the render thread to play its stand-in.
        if (!ready(*parsed, false) && waitUntilArrived())
            ready(*parsed, true);
        // A key asked for while the song was being preloaded.
        if (state.load() == Ready && keyLoaded && keyAsked.load() != *keyLoaded
            && !roomyStarted.exchange(true))
            prepareRoomy();
    }

    // Until the render thread first plays this source; false if the song is abandoned first.
    bool waitUntilArrived()
    {
        while (!arrived.try_acquire_for(kAbandonCheck)) {
            if (abandoned.load(std::memory_order_acquire))
                return false;
        }
        return true;
    }

    // Under the slot's mutex: preloads the device's synthesiser and builds the song. Until
    // `standInPlayed`, the render thread may still play the previous song on the device's
    // synthesiser: false, before anything goes into it, when the song would use it (its own
    // soundfont goes there, or it takes over no other) and is to wait for that.
    bool ready(MidiFile &parsed, bool standInPlayed)
    {
        // The synthesiser this song replaces goes after the mutex (the last song may still hold
        // it, and then it goes with that song).
        std::shared_ptr<Synth> replaced;
        // One worker of the device at a time: an abandoned one still reading samples finishes
        // (or stops at its next check) before this one starts.
        SlotLock lock(*slot);
        if (abandoned.load(std::memory_order_acquire))
            return true;
        if (!standInPlayed && !parsed.soundfontBank().empty())
            return false;
        // The device lets go of this bank when the song goes (SynthSlot::dropBank): it abandons
        // the song first, and a bank added here before that goes as this lets go of the mutex.
        addOwnBank(parsed);
        textReady.store(true, std::memory_order_release);
        const Synth *previous = slot->synth.get();
        auto synth = slot->obtainFor(ahead.get(), replaced);
        if (!synth) {
            fail(synth.error());
            return true;
        }
        if (!standInPlayed && previous && synth.value().get() == previous)
            return false;
        // A song is preloaded for the key asked for now only, which reads far less before it
        // starts (as does its read-ahead, for the key asked for then); other keys wait for
        // prepareRoomy(). A song's own bank is in this synthesiser only, so its song is
        // preloaded for every key here.
        if (slot->songBank < 0)
            keyLoaded = keyAsked.load();
        const bool held = ahead && ahead->holding() && ahead->key() == keyLoaded;
        synth.value()->preload(parsed, &abandoned, held, keyLoaded);
        // Its samples are the synthesiser's now; it goes once the song is ready.
        const auto taken = std::move(ahead);
        if (abandoned.load(std::memory_order_acquire))
            return true;
        song = std::make_unique<MidiSource>(std::move(parsed), std::move(synth).value());
        state.store(Ready);
        return true;
    }

    // Once: a synthesiser of the song's own, preloaded for every key, outside the slot's mutex
    // (the next song's worker does not wait for it). The samples the device's synthesiser
    // holds are shared through FluidSynth's sample cache, so only the others are read.
    void prepareRoomy()
    {
        auto made = Synth::create(slot->sampleRate);
        if (!made) {
            roomyStarted.store(false); // the song keeps its key, and the next change tries again
            return;
        }
        std::shared_ptr<Synth> synth = std::move(made).value();
        synth->preload(song->file(), &abandoned);
        if (abandoned.load(std::memory_order_acquire))
            return;
        roomy = std::move(synth);
        song->offerRoomy(roomy.get());
    }
};

SongLoad::SongLoad(std::filesystem::path path, MediaKind kind, std::shared_ptr<SynthSlot> slot,
    int keyShift, std::shared_ptr<ReadAhead> ahead)
    : m_kind(kind)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->slot = std::move(slot);
    m_shared->keyAsked = keyShift;
    m_shared->ahead = std::move(ahead);
    start(std::move(path), std::nullopt);
}

SongLoad::SongLoad(
    MidiFile file, std::shared_ptr<SynthSlot> slot, int keyShift, std::shared_ptr<ReadAhead> ahead)
    : m_kind(mediaKindOf(file.kind()))
    , m_knownLengthMs(file.lengthMs())
    , m_shared(std::make_shared<Shared>())
{
    m_shared->slot = std::move(slot);
    m_shared->keyAsked = keyShift;
    m_shared->ahead = std::move(ahead);
    start(std::nullopt, std::move(file));
}

void SongLoad::start(std::optional<std::filesystem::path> path, std::optional<MidiFile> file)
{
    auto work = [shared = m_shared, path = std::move(path), file = std::move(file)]() mutable {
        shared->prepare(std::move(path), std::move(file));
        trimIfLast(std::move(shared));
    };
    if (!runDetached(std::move(work)))
        m_shared->fail(Error { Error::Code::Io, "no thread to prepare the song", 0 });
}

SongLoad::~SongLoad()
{
    abandon();
}

void SongLoad::abandon() noexcept
{
    m_shared->abandoned.store(true, std::memory_order_release);
}

void SongLoad::prepareKey(int semitones)
{
    Shared &shared = *m_shared;
    shared.keyAsked.store(semitones);
    // The worker looks at the key asked for after it stores Ready, and this looks at Ready
    // after it stores the key: one of the two sees the other's.
    if (shared.state.load() != Ready || !shared.keyLoaded || semitones == *shared.keyLoaded
        || shared.roomyStarted.exchange(true))
        return;
    if (!runDetached([held = m_shared]() mutable {
            held->prepareRoomy();
            trimIfLast(std::move(held));
        }))
        shared.roomyStarted.store(false); // asked again at the next key change
}

Synth *SongLoad::synthPlaying() const noexcept
{
    return m_shared->state.load(std::memory_order_acquire) == Ready ? m_shared->song->synthPlaying()
                                                                    : nullptr;
}

const SongText *SongLoad::songText() const
{
    return m_shared->textReady.load(std::memory_order_acquire) ? &m_shared->text : nullptr;
}

std::uint32_t SongLoad::lengthMs() const
{
    if (m_knownLengthMs != 0)
        return m_knownLengthMs;
    return m_shared->state.load(std::memory_order_acquire) == Ready ? m_shared->song->lengthMs()
                                                                    : 0;
}

MidiSource *SongLoad::song() noexcept
{
    if (!m_arrived) {
        m_arrived = true;
        m_shared->arrived.release();
    }
    if (!m_song && m_shared->state.load(std::memory_order_acquire) == Ready) {
        m_song = m_shared->song.get();
        if (m_pendingSeekMs != 0)
            m_song->seekMs(m_pendingSeekMs);
    }
    return m_song;
}

std::size_t SongLoad::render(float *out, std::size_t frames) noexcept
{
    if (MidiSource *ready = song())
        return ready->render(out, frames);
    // Still preparing (or failed, which the device sees next): silence that counts as played,
    // while the position stays where the song will start.
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
    if (MidiSource *ready = song())
        ready->seekMs(positionMs);
    else
        m_pendingSeekMs = std::min(positionMs, lengthMs());
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
    return m_song ? m_song->positionMs() : m_pendingSeekMs;
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
