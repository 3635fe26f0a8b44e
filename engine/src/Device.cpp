#include "tunedeck/Device.h"

#include "MidiSource.h"
#include "Output.h"
#include "PlayControls.h"
#include "SongLoad.h"
#include "SpscRing.h"
#include "Varispeed.h"
#include "WaveSource.h"
#include "tunedeck/FileKind.h"
#include "tunedeck/MidiFile.h"
#include "tunedeck/Synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <malloc.h>

namespace tunedeck {

namespace {

constexpr int kDefaultSampleRate = 44100;
// Notices are rare (one per run at most), so a small ring never fills in practice.
constexpr std::size_t kNoticeRingSize = 64;
// How often the notice thread, when idle, checks that the sound device is still there.
constexpr auto kOutputCheckInterval = std::chrono::milliseconds(500);
// How long the stream stays with the sound server after a close, for an open to take back: a
// stream's close waits for PulseAudio for half a second or more, which a Play soon after a Stop
// would spend on the owner's thread.
constexpr auto kOutputRest = std::chrono::seconds(3);
// Songs larger than this are read on a thread of their own while open() returns: a real song of
// a megabyte parses in a few milliseconds, a file of millions of events takes most of a second.
constexpr std::uintmax_t kReadAtOnceBytes = std::uintmax_t { 1 } << 20;

constexpr std::uint64_t pack(std::uint32_t high, std::uint32_t low)
{
    return (std::uint64_t(high) << 32) | low;
}
constexpr std::uint32_t highOf(std::uint64_t value)
{
    return std::uint32_t(value >> 32);
}
constexpr std::uint32_t lowOf(std::uint64_t value)
{
    return std::uint32_t(value);
}

// The kind a song's first bytes name (a header the reader later refuses reads as format 1).
MediaKind headerKind(std::span<const std::uint8_t> head)
{
    if (head.size() < 10 || std::memcmp(head.data(), "MThd", 4) != 0)
        return MediaKind::Rmi;
    const int format = head[8] << 8 | head[9];
    return format == 0 ? MediaKind::Smf0 : format == 2 ? MediaKind::Smf2 : MediaKind::Smf1;
}

} // namespace

const char *mediaKindName(MediaKind kind) noexcept
{
    switch (kind) {
    case MediaKind::Smf0:
        return "smf0";
    case MediaKind::Smf1:
        return "smf1";
    case MediaKind::Smf2:
        return "smf2";
    case MediaKind::Rmi:
        return "rmi";
    case MediaKind::Wave:
        return "wav";
    }
    return "unknown";
}

struct Device::Impl {
    Listener listener;
    OutputMode mode = OutputMode::Auto;
    int sampleRate = kDefaultSampleRate;
    // Written by the owner only, under outputMutex, which the notice thread holds while it
    // checks the output for a loss. In OutputMode::Sdl the output exists while a file is open.
    std::unique_ptr<Output> output;
    std::mutex outputMutex;
    std::uint32_t outputGeneration = 0; // counts the outputs opened, under outputMutex
    SongText text; // what the open file says about itself, unless its source reads the file
    // The synthesiser, made on a worker after prepare() or at the first song.
    std::shared_ptr<SynthSlot> synth;
    // Owner's thread: the file prefetch() was last asked for, until it is opened or let go.
    std::shared_ptr<ReadAhead> ahead;

    // Owner's thread: what was read ahead for `path`, taken out; anything else read ahead goes.
    std::shared_ptr<ReadAhead> takeAhead(const std::filesystem::path *path = nullptr)
    {
        auto kept = std::move(ahead);
        if (kept && (!path || kept->path() != *path)) {
            // A worker still reading stops and frees what it read; what it finished (a whole
            // synthesiser) goes as the retired sources do.
            kept->cancel();
            letGo(std::move(kept));
        }
        return kept;
    }

    // Owner's thread, without a render thread (a song's worker does this otherwise): an RMID
    // song's own soundfont goes over the default for that song. It must be there before the
    // song's presets are chosen, so the synthesiser is made now if it is not yet.
    void addSongBank(const MidiFile &song)
    {
        const auto bank = song.soundfontBank();
        if (bank.empty())
            return;
        SlotLock lock(*synth);
        auto made = synth->obtain();
        if (!made)
            return; // the song then fails as any song without a soundfont does
        if (auto added = made.value()->addBank(bank, song.bankOffset())) {
            synth->songBank = added.value();
        } else {
            text.note = added.error().detail; // the song plays with the default soundfont
        }
    }
    // Owner's thread: the open song's own soundfont goes with it. The song is abandoned first,
    // so a worker reading it adds no bank after this.
    void dropSongBank()
    {
        if (Source *song = openSource())
            song->abandon();
        synth->dropBank();
    }

    // Why the last Failed notice was sent: set by the owner when the output cannot be opened
    // again for play(), or by the notice thread (outputLost) when the output went away.
    std::optional<Error> failure;
    std::atomic<bool> outputLost { false };
    // The reason of the last Failed notice a source gave (an Error::Code), -1 when none; set by
    // the render thread before it sends the notice.
    std::atomic<int> sourceFailure { -1 };
    // A run that failed on the owner's thread, reported by the notice thread; 0 when none.
    std::atomic<std::uint32_t> failedRun { 0 };

    // One source offered to the render thread (null: the file was closed), numbered in the
    // order offered.
    struct Handover {
        std::unique_ptr<Source> source;
        std::uint64_t serial = 0;
    };

    // Owner's thread: the hand-overs the render thread may still use or has yet to take, oldest
    // first. The newest holds what plays (or is about to).
    std::deque<std::unique_ptr<Handover>> handovers;
    std::uint64_t handoverSerial = 0;
    bool open = false;
    MediaKind kind = MediaKind::Smf0;
    std::uint32_t runId = 1;
    std::uint32_t commandSerial = 0;
    std::uint32_t seekSerial = 0;

    // Owner -> render thread. command: run id (high), command serial << 1 | playing (low); the
    // render thread only ever clears `playing`, by compare-and-swap, when a run ends.
    std::atomic<std::uint64_t> command { pack(1, 0) };
    // seek serial (high), target ms (low). Stored before `command`, loaded after it.
    std::atomic<std::uint64_t> seekRequest { 0 };
    // The newest hand-over that the render thread has not taken yet, or null. Either side takes
    // it by exchange, so one not yet taken can be replaced without waiting.
    std::atomic<Handover *> offered { nullptr };
    // Render thread -> owner: serial of the hand-over it plays; the older ones are free.
    std::atomic<std::uint64_t> taken { 0 };

    // Render thread -> owner: seek serial the position belongs to (high), position ms (low).
    std::atomic<std::uint64_t> published { 0 };

    // Render thread only (or the owner while the output is stopped).
    Source *current = nullptr;
    std::uint32_t appliedSeekSerial = 0;
    bool wasPlaying = false;
    std::size_t lastFileFrames = 0;

    // Render thread -> notice thread.
    SpscRing<Notice, kNoticeRingSize> notices;
    std::counting_semaphore<> noticeReady { 0 };
    std::atomic<bool> noticeStop { false };
    // True while an output exists for the notice thread to watch; owner -> notice thread.
    std::atomic<bool> watching { false };
    std::thread noticeThread;
    // Owner's thread: keeps the output close() let go of for kOutputRest, then closes it. An
    // open meanwhile takes it back; an open during the close, the next close and the destructor
    // wait for that close.
    std::thread closing;
    std::mutex restMutex;
    std::condition_variable restEnded;
    std::unique_ptr<Output> resting; // under restMutex

    // Output gain for every block, 1 for unchanged samples. Owner -> render thread.
    std::atomic<float> volume { 1.0f };

    // The listener's settings: the owner's copy, and the word the render thread reads.
    PlayControls settings;
    std::atomic<std::uint64_t> controls { PlayControls {}.pack() };
    // Render thread: a wave file at another speed (and whether the converter is in use: from a
    // change of speed to the next seek or file, even back at 100 %), and the passes of a wave file
    // played.
    Varispeed varispeed;
    bool varispeedInUse = false;
    int wavePasses = 0;
    // Whether the pass begun by the last jump back to the start has played nothing yet: a file
    // with no frames at all ends there, even when looped for ever.
    bool emptyPass = false;
    // Whether the speed converter filled the last block: at the file's end it may still hold
    // frames of it, and the run goes on until it has given them out.
    bool converterFull = false;

    void publishControls() { controls.store(settings.pack(), std::memory_order_release); }

    void resetVarispeed() noexcept
    {
        varispeed.reset();
        varispeedInUse = false;
    }

    // Render thread: the file's next frames at the listener's settings. A wave file is sped up
    // or slowed down here and looped whole here; a song does both itself.
    std::size_t renderFile(float *out, std::size_t frames) noexcept
    {
        const PlayControls now = PlayControls::unpack(controls.load(std::memory_order_acquire));
        current->applyControls(now);
        if (current->kind() != MediaKind::Wave)
            return current->render(out, frames);
        wavePasses += current->passesBegun();
        current->playOn(now.loopCount == 0 ? std::numeric_limits<int>::max()
                                           : std::max(now.loopCount - wavePasses - 1, 0));
        // At 100 % the file is read directly, unless the speed was changed since the last seek
        // (a pass that starts again through one included): back at 100 % the converter goes on,
        // at the file's own speed, or the frames it holds would be skipped.
        const bool convert = now.tempoPercent != 100 || varispeedInUse;
        varispeedInUse = convert;
        std::size_t written = convert
            ? varispeed.render(*current, out, frames, now.tempoPercent / 100.0)
            : current->render(out, frames);
        converterFull = convert && written == frames;
        emptyPass = emptyPass && written == 0;
        wavePasses += current->passesBegun(); // a fast block may go through several
        if (written < frames && current->atEnd() && !current->failed() && !emptyPass
            && (now.loopCount == 0 || wavePasses + 1 < now.loopCount)) {
            ++wavePasses;
            current->seekMs(0);
            resetVarispeed();
            emptyPass = true;
        }
        return written;
    }

    static void renderCallback(void *context, float *out, std::size_t frames) noexcept
    {
        auto *impl = static_cast<Impl *>(context);
        impl->renderBlock(out, frames);
        impl->applyVolume(out, frames);
    }

    // Render thread: scales the finished block by the owner's volume.
    void applyVolume(float *out, std::size_t frames) const noexcept
    {
        const float gain = volume.load(std::memory_order_relaxed);
        if (gain == 1.0f)
            return;
        for (std::size_t i = 0; i < 2 * frames; ++i)
            out[i] *= gain;
    }

    // Render thread. Takes a new source when one is offered; the old one is silenced first, as
    // the synthesiser outlives it.
    void applySwap() noexcept
    {
        Handover *next = offered.exchange(nullptr, std::memory_order_acq_rel);
        if (!next)
            return;
        if (current)
            current->silence();
        current = next->source.get();
        wasPlaying = false;
        resetVarispeed();
        wavePasses = 0;
        emptyPass = false;
        taken.store(next->serial, std::memory_order_release);
    }

    // Runs on the output's thread once per block and never waits for another thread.
    void renderBlock(float *out, std::size_t frames) noexcept
    {
        applySwap();
        const std::uint64_t commandNow = command.load(std::memory_order_acquire);
        const std::uint64_t seekNow = seekRequest.load(std::memory_order_acquire);
        lastFileFrames = 0;
        if (highOf(seekNow) != appliedSeekSerial) {
            if (current)
                current->seekMs(lowOf(seekNow));
            appliedSeekSerial = highOf(seekNow);
            resetVarispeed();
            emptyPass = false;
        }
        if (!current) {
            std::fill(out, out + 2 * frames, 0.0f);
            published.store(pack(appliedSeekSerial, 0), std::memory_order_release);
            return;
        }

        bool playing = (commandNow & 1) != 0;
        std::optional<Notice> notice;
        if (playing) {
            converterFull = false;
            const std::size_t written = renderFile(out, frames);
            lastFileFrames = written;
            if (written < frames)
                current->renderIdle(out + 2 * written, frames - written);
            if (current->failed() || (current->atEnd() && !converterFull)) {
                // The run ends here unless the owner has sent a newer command meanwhile.
                std::uint64_t expected = commandNow;
                if (command.compare_exchange_strong(
                        expected, commandNow & ~std::uint64_t(1), std::memory_order_acq_rel)) {
                    notice = Notice { current->failed() ? Notice::Kind::Failed
                                                        : Notice::Kind::Finished,
                        highOf(commandNow) };
                    if (current->failed()) {
                        notice->reason = current->failure();
                        sourceFailure.store(
                            static_cast<int>(notice->reason), std::memory_order_release);
                    }
                }
                playing = false;
            }
        } else {
            if (wasPlaying)
                current->silence();
            current->renderIdle(out, frames);
        }
        wasPlaying = playing;
        // Published before the notice goes out, so whoever acts on it reads the final position.
        published.store(pack(appliedSeekSerial, current->positionMs()), std::memory_order_release);
        if (notice && notices.push(*notice))
            noticeReady.release();
    }

    bool outputThreaded() const { return output != nullptr; }

    // The notice thread: hands the render thread's notices (and failures found on the owner's
    // thread) to the listener and, while an output exists, checks every kOutputCheckInterval
    // that it is still there. With no output it sleeps until woken.
    void deliverNotices()
    {
        std::uint32_t checkedGeneration = 0; // the last output found lost
        for (;;) {
            bool woken = true;
            if (watching.load(std::memory_order_relaxed))
                woken = noticeReady.try_acquire_for(kOutputCheckInterval);
            else
                noticeReady.acquire();
            // Notices sent before the device began to close are still delivered.
            const bool stopping = noticeStop.load(std::memory_order_acquire);
            while (auto notice = notices.pop()) {
                if (listener)
                    listener(*notice);
            }
            if (stopping)
                return;
            if (const std::uint32_t run = failedRun.exchange(0, std::memory_order_acq_rel);
                run != 0 && listener)
                listener(Notice { Notice::Kind::Failed, run });
            if (woken)
                continue;
            if (auto lost = checkOutputLost(checkedGeneration); lost && listener)
                listener(*lost);
        }
    }

    // Notice thread: the Failed notice of the run that was playing when the output went away,
    // once per output.
    std::optional<Notice> checkOutputLost(std::uint32_t &checkedGeneration)
    {
        std::lock_guard lock(outputMutex);
        if (!output || checkedGeneration == outputGeneration || !output->lost())
            return std::nullopt;
        // The render thread has stopped for good, so the run that was playing fails here; the
        // same compare-and-swap as at the end of a file keeps it to one notice.
        checkedGeneration = outputGeneration;
        std::uint64_t now = command.load(std::memory_order_acquire);
        if ((now & 1) == 0
            || !command.compare_exchange_strong(
                now, now & ~std::uint64_t(1), std::memory_order_acq_rel))
            return std::nullopt;
        outputLost.store(true, std::memory_order_release);
        return Notice { Notice::Kind::Failed, highOf(now) };
    }

    // Owner's thread: the source of the open file, the last one handed over (null when closed).
    Source *openSource() const
    {
        return handovers.empty() ? nullptr : handovers.back()->source.get();
    }

    // Owner's thread. Hands `next` to the render thread without waiting for it: a hand-over
    // still untaken is withdrawn and freed at once, and a source the render thread may still be
    // using is kept until it has taken a newer one.
    void swapSource(std::unique_ptr<Source> next)
    {
        if (!handovers.empty() && handovers.back()->source)
            handovers.back()->source->abandon();
        auto handover = std::make_unique<Handover>();
        handover->source = std::move(next);
        handover->serial = ++handoverSerial;
        if (Handover *withdrawn = offered.exchange(handover.get(), std::memory_order_acq_rel)) {
            const auto at = std::find_if(handovers.begin(), handovers.end(),
                [withdrawn](const auto &h) { return h.get() == withdrawn; });
            if (at != handovers.end()) {
                std::vector<std::unique_ptr<Handover>> gone;
                gone.push_back(std::move(*at));
                handovers.erase(at);
                dispose(std::move(gone));
            }
        }
        handovers.push_back(std::move(handover));
        if (!outputThreaded())
            applySwap(); // No render thread: the owner makes the hand-over itself.
        collectRetired();
    }

    // Owner's thread. Frees the sources that the render thread has let go of.
    void collectRetired()
    {
        const std::uint64_t playing = taken.load(std::memory_order_acquire);
        std::vector<std::unique_ptr<Handover>> retired;
        while (!handovers.empty() && handovers.front()->serial < playing) {
            retired.push_back(std::move(handovers.front()));
            handovers.pop_front();
        }
        dispose(std::move(retired));
    }

    // Owner's thread: frees what no one uses any more (sources the render thread let go of, a
    // synthesiser read ahead for a song not opened) on a thread of its own: giving back the
    // memory of a song of millions of events takes tens of milliseconds, which the owner's
    // thread need not wait for. What they held (a song's events, the samples of a synthesiser)
    // then goes back to the system: the program at rest grew by up to 40 MB over 200 songs
    // before. Offline, where all else is done on the owner's thread, it is freed here, so what
    // the next call does (the samples the next song finds cached) never depends on another one.
    template<typename Held> void letGo(Held held) const
    {
        if (mode == OutputMode::Offline)
            return; // freed as `held` goes
        freeAside(std::move(held));
    }

    void dispose(std::vector<std::unique_ptr<Handover>> retired) const
    {
        if (!retired.empty())
            letGo(std::move(retired));
    }

    void sendCommand(bool play)
    {
        ++commandSerial;
        command.store(
            pack(runId, (commandSerial << 1) | (play ? 1u : 0u)), std::memory_order_release);
    }

    void requestSeek(std::uint32_t positionMs)
    {
        ++seekSerial;
        seekRequest.store(pack(seekSerial, positionMs), std::memory_order_release);
    }

    // Owner's thread. Takes the output away from the render and notice threads and closes it
    // (`aside`: stopped, and closed by the thread `closing` unless taken back in time, as closing
    // waits for the sound server); a hand-over still pending is completed by the owner.
    void closeOutput(bool aside = false)
    {
        std::unique_ptr<Output> old;
        {
            std::lock_guard lock(outputMutex);
            old = std::move(output);
        }
        if (!old)
            return;
        watching.store(false, std::memory_order_relaxed);
        old->stop();
        // No render thread now: the owner takes any hand-over still pending itself.
        applySwap();
        collectRetired();
        if (!aside)
            return;
        takeResting(); // none: an open takes it back before there is another
        {
            std::lock_guard lock(restMutex);
            resting = std::move(old);
        }
        try {
            closing = std::thread([this] { restThenClose(); });
        } catch (const std::system_error &) {
            // No thread to be had: closed here.
            std::lock_guard lock(restMutex);
            old = std::move(resting);
        }
    }

    // The thread `closing`.
    void restThenClose()
    {
        std::unique_ptr<Output> gone; // closed last, with the lock let go of
        std::unique_lock lock(restMutex);
        restEnded.wait_for(lock, kOutputRest, [this] { return !resting; });
        gone = std::move(resting);
    }

    // Owner's thread: the output close() let go of, taken back from its rest, or null once its
    // close has begun. A close under way is waited for: a device that takes one stream at a time
    // (SDL's dummy driver, an ALSA card without a mixer) refuses another while it is open.
    std::unique_ptr<Output> takeResting()
    {
        std::unique_ptr<Output> back;
        {
            std::lock_guard lock(restMutex);
            back = std::move(resting);
        }
        restEnded.notify_one();
        if (closing.joinable())
            closing.join();
        return back;
    }

    // Owner's thread, OutputMode::Sdl: replaces the output by the one close() let go of, or by
    // a new one for the open file, so a sound server that went away and came back is found again.
    Result<void> reopenOutput()
    {
        closeOutput();
        auto next = takeResting();
        if (next && next->lost())
            next.reset();
        if (!next) {
            auto opened = openSdlOutput(sampleRate);
            if (!opened)
                return opened.error();
            next = std::move(opened).value();
        }
        {
            std::lock_guard lock(outputMutex);
            output = std::move(next);
            ++outputGeneration;
        }
        outputLost.store(false, std::memory_order_relaxed);
        output->start(&Impl::renderCallback, this);
        startWatching();
        return {};
    }

    // Owner's thread: the notice thread checks the new output from now on.
    void startWatching()
    {
        watching.store(true, std::memory_order_relaxed);
        noticeReady.release();
    }

    bool outputGone() const { return !output || output->lost(); }

    // Owner's thread: an output for the file opened to play through: the one open, else a new
    // one (none yet, or the one there was lost).
    Result<void> prepareOutput()
    {
        if (mode == OutputMode::Null && !output) {
            {
                std::lock_guard lock(outputMutex);
                output = openNullOutput(sampleRate);
                ++outputGeneration;
            }
            output->start(&Impl::renderCallback, this);
            startWatching();
        }
        // One stream plays file after file: closing one waits for the sound server (half a
        // second with PulseAudio), which a change of song would spend on the owner's thread.
        if (mode != OutputMode::Sdl || !outputGone())
            return {};
        return reopenOutput();
    }

    // Owner's thread: refuses a song when no soundfont is there (looked for again at every song,
    // so one installed meanwhile is found); the synthesiser itself is made on a worker.
    Result<void> checkSoundfont() const
    {
        if (auto found = findSoundfont(); !found)
            return found.error();
        return {};
    }

    // Owner's thread: the source that plays `song`. Without a render thread it is made ready
    // here; else a worker reads the samples it needs while the window goes on.
    Result<std::unique_ptr<Source>> songSource(MidiFile song, std::shared_ptr<ReadAhead> readAhead)
    {
        if (mode != OutputMode::Offline) {
            return std::unique_ptr<Source>(std::make_unique<SongLoad>(
                std::move(song), synth, settings.transpose, std::move(readAhead)));
        }
        addSongBank(song);
        std::shared_ptr<Synth> replaced; // goes after the mutex, or with the last song
        SlotLock lock(*synth);
        auto made = synth->obtainFor(readAhead.get(), replaced);
        if (!made)
            return made.error();
        made.value()->preload(song, nullptr, readAhead && readAhead->holding());
        readAhead.reset(); // after the synthesiser has taken its samples over
        return std::unique_ptr<Source>(
            std::make_unique<MidiSource>(std::move(song), std::move(made).value()));
    }

    Result<std::unique_ptr<Source>> build(const std::filesystem::path &path)
    {
        auto readAhead = takeAhead(&path);
        auto sniffed = sniff(path);
        if (!sniffed)
            return sniffed.error();
        const Sniffed &file = sniffed.value();
        if (file.container == Container::Wave) {
            if (auto ready = prepareOutput(); !ready)
                return ready.error();
            auto wave = WaveSource::open(path, sampleRate, mode == OutputMode::Offline);
            if (!wave)
                return wave.error();
            text = wave.value()->text();
            return std::unique_ptr<Source>(std::move(wave).value());
        }
        // A large song is read while it is already open (the offline output's owner has no
        // window to keep answering, and reads it here). What its first bytes already refuse is
        // refused now, as reading the whole would; one over the size limit is refused below
        // without being read.
        if (mode != OutputMode::Offline && file.size > kReadAtOnceBytes
            && file.size <= MidiFile::kMaxBytes) {
            if (!MidiFile::looksLikeMidi(file.headSpan()))
                return MidiFile::parse(file.headSpan()).error();
            if (auto ready = checkSoundfont(); !ready)
                return ready.error();
            if (auto ready = prepareOutput(); !ready)
                return ready.error();
            return std::unique_ptr<Source>(std::make_unique<SongLoad>(path,
                headerKind(file.headSpan()), synth, settings.transpose, std::move(readAhead)));
        }
        auto song = MidiFile::read(path);
        if (!song)
            return song.error();
        if (auto ready = checkSoundfont(); !ready)
            return ready.error();
        if (auto ready = prepareOutput(); !ready)
            return ready.error();
        text = song.value().text();
        return songSource(std::move(song).value(), std::move(readAhead));
    }
};

Device::Device(Listener listener, OutputMode mode)
    : m_impl(std::make_unique<Impl>())
{
    Impl &d = *m_impl;
    d.listener = std::move(listener);

    if (mode == OutputMode::Auto) {
        // The sound card unless the null output is asked for; never the null output silently.
        const char *forced = std::getenv("TUNEDECK_OUTPUT");
        mode = forced && std::string_view(forced) == "null" ? OutputMode::Null : OutputMode::Sdl;
    }
    d.mode = mode;
    // Songs are prepared, read ahead and freed on short-lived threads, a few at a time. glibc
    // gives each thread that overlaps another an arena of its own (up to eight a core), and each
    // arena keeps a little of what songs left in it: over two hundred songs the program at rest
    // grew by up to a few megabytes. With two arenas in the process it does not.
    mallopt(M_ARENA_MAX, 2);
    d.synth = std::make_shared<SynthSlot>(d.sampleRate);
    // Nothing else until a file is opened: the output is opened for it, the synthesiser made
    // for the first song (or after prepare()).
    d.noticeThread = std::thread([&d] { d.deliverNotices(); });
}

Device::~Device()
{
    Impl &d = *m_impl;
    d.takeAhead();
    d.closeOutput();
    d.takeResting(); // closed here
    d.noticeStop.store(true, std::memory_order_release);
    d.noticeReady.release();
    d.noticeThread.join();
    d.current = nullptr;
    d.offered.store(nullptr, std::memory_order_relaxed);
    std::vector<std::unique_ptr<Impl::Handover>> remaining;
    for (auto &handover : d.handovers) {
        if (handover->source)
            handover->source->abandon(); // before the synthesiser goes with this device
        remaining.push_back(std::move(handover));
    }
    d.handovers.clear();
    d.dispose(std::move(remaining));
}

Result<MediaInfo> Device::probe(const std::filesystem::path &path)
{
    auto sniffed = sniff(path);
    if (!sniffed)
        return sniffed.error();
    if (sniffed.value().container == Container::Wave) {
        auto facts = readWaveFacts(path);
        if (!facts)
            return facts.error();
        return MediaInfo { MediaKind::Wave, facts.value().lengthMs, facts.value().text };
    }
    auto song = MidiFile::read(path);
    if (!song)
        return song.error();
    return MediaInfo { mediaKindOf(song.value().kind()), song.value().lengthMs(),
        song.value().text() };
}

Result<void> Device::open(const std::filesystem::path &path)
{
    Impl &d = *m_impl;
    d.collectRetired();
    d.failure.reset();
    d.text = {};
    d.dropSongBank();
    d.outputLost.store(false, std::memory_order_relaxed);
    d.sourceFailure.store(-1, std::memory_order_relaxed);
    if (d.open) {
        // Silenced and its run ended now; the source itself is replaced in one step below, so
        // opening costs no wait for the render thread.
        ++d.runId;
        d.sendCommand(false);
    }
    auto built = d.build(path);
    if (!built) {
        close();
        return built.error();
    }
    std::unique_ptr<Source> source = std::move(built).value();
    d.kind = source->kind();
    d.settings.muted = d.settings.soloed = 0;
    d.publishControls();
    ++d.runId;
    d.requestSeek(0);
    d.sendCommand(false);
    d.swapSource(std::move(source));
    d.open = true;
    return {};
}

void Device::close()
{
    Impl &d = *m_impl;
    if (d.open) {
        ++d.runId;
        d.requestSeek(0);
        d.sendCommand(false);
        d.swapSource(nullptr);
        d.open = false;
        d.text = {};
        d.dropSongBank();
    }
    // Nothing left to play: the stream leaves the sound server a few seconds from now, unless a
    // file is opened before then.
    if (d.mode == OutputMode::Sdl)
        d.closeOutput(true);
}

const SongText &Device::text() const
{
    if (const Source *source = m_impl->openSource()) {
        if (const SongText *own = source->songText())
            return *own;
    }
    return m_impl->text;
}

bool Device::isOpen() const
{
    return m_impl->open;
}
MediaKind Device::kind() const
{
    return m_impl->kind;
}

void Device::play()
{
    Impl &d = *m_impl;
    d.collectRetired();
    if (!d.open)
        return;
    if (d.mode == OutputMode::Sdl && d.outputGone()) {
        // The output went away since the file was opened: try a new one before giving up.
        if (auto reopened = d.reopenOutput(); !reopened) {
            d.failure = reopened.error();
            d.failedRun.store(d.runId, std::memory_order_release);
            d.noticeReady.release();
            return;
        }
    }
    d.sendCommand(true);
}

void Device::pause()
{
    if (m_impl->open)
        m_impl->sendCommand(false);
}

void Device::stop()
{
    if (!m_impl->open)
        return;
    ++m_impl->runId;
    m_impl->sendCommand(false);
}

Result<void> Device::seekMs(std::uint32_t positionMs)
{
    Impl &d = *m_impl;
    if (!d.open)
        return Error { Error::Code::InvalidArgument, "no file is open", 0 };
    if (positionMs > lengthMs())
        return Error { Error::Code::InvalidArgument, "the position lies past the end", 0 };
    ++d.runId;
    if (!d.handovers.empty() && d.handovers.back()->source)
        d.handovers.back()->source->prepareSeek(positionMs);
    d.requestSeek(positionMs);
    d.sendCommand(false);
    return {};
}

bool Device::isPlaying() const
{
    return m_impl->open && (m_impl->command.load(std::memory_order_acquire) & 1) != 0;
}

std::uint32_t Device::positionMs() const
{
    const Impl &d = *m_impl;
    if (!d.open)
        return 0;
    const std::uint64_t request = d.seekRequest.load(std::memory_order_acquire);
    const std::uint64_t published = d.published.load(std::memory_order_acquire);
    return highOf(published) == highOf(request) ? lowOf(published) : lowOf(request);
}

std::uint32_t Device::lengthMs() const
{
    // A song still being read answers 0 until it is ready.
    const Impl &d = *m_impl;
    return d.open ? d.handovers.back()->source->lengthMs() : 0;
}

std::uint32_t Device::runId() const
{
    return m_impl->runId;
}
Error Device::lastFailure() const
{
    const Impl &d = *m_impl;
    if (d.failure)
        return *d.failure;
    if (d.outputLost.load(std::memory_order_acquire))
        return Error { Error::Code::OutputLost,
            "the sound server stopped or the sound device was removed", 0 };
    if (const int reason = d.sourceFailure.load(std::memory_order_acquire); reason >= 0) {
        const auto code = static_cast<Error::Code>(reason);
        std::string detail = d.open ? d.handovers.back()->source->failureDetail() : std::string();
        if (detail.empty())
            detail = code == Error::Code::Truncated ? "the file was cut short while it played"
                                                    : "the file could not be read while it played";
        return Error { code, std::move(detail), 0 };
    }
    return Error { Error::Code::Synth, "the sound could not be rendered", 0 };
}

int Device::sampleRate() const
{
    return m_impl->sampleRate;
}
OutputMode Device::outputMode() const
{
    return m_impl->mode;
}

std::size_t Device::pump(std::span<float> out)
{
    Impl &d = *m_impl;
    if (d.mode != OutputMode::Offline) {
        std::fill(out.begin(), out.end(), 0.0f);
        return 0;
    }
    d.renderBlock(out.data(), out.size() / 2);
    d.applyVolume(out.data(), out.size() / 2);
    return d.lastFileFrames;
}

void Device::setVolume(float gain)
{
    m_impl->volume.store(std::clamp(gain, 0.0f, 1.0f), std::memory_order_relaxed);
}

float Device::volume() const
{
    return m_impl->volume.load(std::memory_order_relaxed);
}

void Device::prepare()
{
    SynthSlot::prepareAhead(m_impl->synth);
}

void Device::prefetch(const std::filesystem::path &path)
{
    Impl &d = *m_impl;
    // Offline, a song is made ready for every key, since no worker reads other keys later.
    const bool offline = d.mode == OutputMode::Offline;
    const std::optional<int> key = offline ? std::nullopt : std::optional(d.settings.transpose);
    if (d.ahead && d.ahead->path() == path && d.ahead->key() == key)
        return;
    d.takeAhead();
    if (!path.empty())
        d.ahead = ReadAhead::start(path, d.sampleRate, offline, key);
}

ChannelState Device::channelState(int channel) const
{
    ChannelState state;
    SlotLock lock(*m_impl->synth);
    Synth *playing = m_impl->openSource() ? m_impl->openSource()->synthPlaying() : nullptr;
    if (!playing)
        playing = m_impl->synth->synth.get();
    fluid_synth_t *synth = playing ? playing->handle() : nullptr;
    if (!synth || channel < 0 || channel > 15)
        return state;
    int soundfontId = 0;
    fluid_synth_get_program(synth, channel, &soundfontId, &state.bank, &state.program);
    fluid_synth_get_pitch_bend(synth, channel, &state.pitchBend);
    fluid_synth_get_pitch_wheel_sens(synth, channel, &state.pitchBendRangeSemitones);
    for (int controller = 0; controller < 128; ++controller)
        fluid_synth_get_cc(synth, channel, controller, &state.controllers[controller]);
    return state;
}

} // namespace tunedeck

namespace tunedeck {

// A song's samples are read for every key a note can be moved to.
static_assert(Device::kMaxTranspose <= Synth::kKeyShiftRoom);

void Device::setTranspose(int semitones)
{
    Impl &d = *m_impl;
    d.settings.transpose = std::clamp(semitones, -kMaxTranspose, kMaxTranspose);
    if (Source *open = d.openSource())
        open->prepareKey(d.settings.transpose);
    if (d.ahead)
        prefetch(std::filesystem::path(d.ahead->path())); // again, for this key
    d.publishControls();
}
int Device::transpose() const
{
    return m_impl->settings.transpose;
}

void Device::setTempoPercent(int percent)
{
    m_impl->settings.tempoPercent = std::clamp(percent, kMinTempoPercent, kMaxTempoPercent);
    m_impl->publishControls();
}
int Device::tempoPercent() const
{
    return m_impl->settings.tempoPercent;
}
std::uint32_t Device::playLengthMs() const
{
    // A song near the longest length a file can give lasts longer than 32 bits of milliseconds
    // when slowed: it is as long as can be said.
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        std::uint64_t { lengthMs() } * 100 / unsigned(m_impl->settings.tempoPercent), UINT32_MAX));
}

void Device::setMutedChannels(std::uint16_t channels)
{
    m_impl->settings.muted = channels;
    m_impl->publishControls();
}
std::uint16_t Device::mutedChannels() const
{
    return m_impl->settings.muted;
}
void Device::setSoloChannels(std::uint16_t channels)
{
    m_impl->settings.soloed = channels;
    m_impl->publishControls();
}
std::uint16_t Device::soloChannels() const
{
    return m_impl->settings.soloed;
}

void Device::setLoopCount(int count)
{
    m_impl->settings.loopCount = std::clamp(count, kLoopForever, kMaxLoopCount);
    m_impl->publishControls();
}
int Device::loopCount() const
{
    return m_impl->settings.loopCount;
}

} // namespace tunedeck
