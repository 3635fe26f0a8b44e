#pragma once

#include "Source.h"
#include "tunedeck/MidiFile.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace tunedeck {

class Synth;

// The media kind a song reports, from the container it came in.
MediaKind mediaKindOf(MidiKind kind);

// Plays a MIDI song through a synthesiser, sending each event at its exact sample frame. The
// synthesiser is shared with the device, which keeps it for the next song unless one made ready
// for that song takes over.
//
// Work per block is bounded whatever the song holds: at most kEventsPerBlock events are sent
// per kBudgetFrames frames rendered, the rest are sent late in the blocks that follow; a seek's
// chase (see seekMs) is spread over blocks the same way, silent meanwhile.
class MidiSource final : public Source {
public:
    // Events sent at most per render() call of up to kBudgetFrames frames (longer calls get
    // as many more shares as they are longer): about 44 000 events a second, beyond any real
    // song's density, at a few milliseconds of synthesiser time per share at worst.
    static constexpr std::size_t kEventsPerBlock = 512;
    static constexpr std::size_t kBudgetFrames = 512;

    // Owner's thread. The source holds a share of `synth`, which then goes with the last song
    // that played on it (freed off the render thread, as sources are).
    MidiSource(MidiFile file, std::shared_ptr<Synth> synth);

    MediaKind kind() const override;
    std::uint32_t lengthMs() const override { return m_file.lengthMs(); }
    // The song; it does not change while the source lives, so any thread may read it.
    const MidiFile &file() const noexcept { return m_file; }
    // Any thread: `roomy` is preloaded with this song for every key the listener can choose,
    // and lives as long as this source. When the listener moves the key to one the synthesiser
    // playing has no notes for, the song goes on on `roomy` from where it is (its state
    // replayed, as a seek does); until it is offered, the key stays as it was.
    void offerRoomy(Synth *roomy) noexcept { m_roomy.store(roomy, std::memory_order_release); }
    Synth *synthPlaying() const noexcept override
    {
        return m_onRoomy.load(std::memory_order_acquire) ? m_roomy.load(std::memory_order_acquire)
                                                         : m_synth.get();
    }

    std::size_t render(float *out, std::size_t frames) noexcept override;
    void renderIdle(float *out, std::size_t frames) noexcept override;
    void silence() noexcept override;
    // Resets the synthesiser, then replays everything before the target except notes, so each
    // channel's bank, program, controllers, pitch bend and its range, and any sysex state are
    // what they would be there; pedals end released, no voice sounds. The replay runs in the
    // following render() and renderIdle() calls, a bounded share per call; until it is done
    // they give silence and the position stays at the target.
    void seekMs(std::uint32_t positionMs) noexcept override;
    std::uint32_t positionMs() const noexcept override;
    bool atEnd() const noexcept override { return m_atEnd; }
    bool failed() const noexcept override { return m_failed; }
    // Key, tempo, channels and loops from the next event on; see MidiControls.cpp.
    void applyControls(const PlayControls &controls) noexcept override;

private:
    enum class Chase { Done, Scanning, Sending };

    void send(const MidiEvent &event) noexcept;
    void releasePedalsAndNotes() noexcept;
    // Advances a pending chase by one share; true when none is left.
    bool chase() noexcept;
    std::uint64_t frameOfCursor() noexcept;
    // Starts the chase that leaves every channel as the song has it before event `index`, and
    // plays on from there; `frame` and `ms` are that point's time. Pedals end released unless
    // `keepPedals`.
    void restartAt(
        std::size_t index, std::uint32_t ms, std::uint64_t frame, bool keepPedals = false) noexcept;
    // Goes on on `roomy` from where the song is; what rings on in the synthesiser left is mixed
    // in until it dies away.
    void moveTo(Synth *roomy) noexcept;
    void mixFading(float *out, std::size_t frames) noexcept;

    // The listener's settings (MidiControls.cpp).
    void sendNote(const MidiEvent &event) noexcept;
    bool isDrum(int channel) const noexcept;
    std::uint16_t melodicChannels() const noexcept;
    void endSoundingNotes(std::uint16_t channels) noexcept;
    void findLoop();
    // Output frames from the current one until song frame `target` sounds at the tempo set.
    std::uint64_t outputFramesUntil(std::uint64_t target) const noexcept;
    void advance(std::uint64_t outputFrames) noexcept;
    // True while another pass of the loop is to come ...
    bool loopPending() const noexcept;
    // ... and when playing has gone on to the loop's end for it (not landed past it).
    bool loopDue() const noexcept;
    void jumpToLoopStart() noexcept;

    MidiFile m_file;
    const std::shared_ptr<Synth> m_synth;
    Synth *m_playing; // render thread: m_synth, or the roomy one once the song moved to it
    std::atomic<Synth *> m_roomy { nullptr };
    std::atomic<bool> m_onRoomy { false };
    Synth *m_fading = nullptr; // render thread: the one left, while its sound dies away ...
    std::uint64_t m_fadingFrames = 0; // ... for at most the idle tail
    std::vector<float> m_fadingBlock; // fixed size
    std::uint32_t m_sampleRate;
    std::uint64_t m_endFrame = 0; // frame of the last event, End of Track included
    std::vector<std::uint32_t> m_chaseList; // events the chase replays; fixed capacity

    // Seek state (render thread).
    Chase m_chase = Chase::Done;
    bool m_chaseKeepsPedals = false;
    std::size_t m_chaseScan = 0; // the backward scan looks at events before this index next
    bool m_controllerSeen[16][128] = {};
    bool m_programSeen[16] = {};
    bool m_pressureSeen[16] = {};
    bool m_bendSeen[16] = {};
    bool m_bankWanted[16][2] = {}; // bank selects (MSB, LSB) before a program kept past the cap
    std::size_t m_lateSysexKept = 0; // system exclusive messages kept past the cap
    TempoMap::Walker m_walker;

    // Render thread state.
    std::size_t m_cursor = 0; // next event to send
    std::uint64_t m_frame = 0; // next frame to render
    std::uint64_t m_baseFrame = 0; // frame of the last seek target ...
    std::uint32_t m_baseMs = 0; // ... and the target itself, so positions stay exact
    std::uint64_t m_idleFrames = 0; // frames rendered while not playing, for release tails
    bool m_atEnd = false;
    bool m_failed = false;

    // The listener's settings as applied (render thread).
    PlayControls m_controls;
    std::uint64_t m_tempoAnchor = 0; // song frame where the tempo last changed or a seek landed
    std::uint64_t m_outputSinceAnchor = 0; // output frames rendered since then
    // The key each held note of a channel sounds at (-1: not held), so a note ends where it
    // started whatever the key is now.
    std::int8_t m_soundingKey[16][128];
    // The marked loop (CC 111, or loopStart/loopEnd markers), else the whole song.
    std::size_t m_loopIndex = 0; // first event of the loop
    std::uint64_t m_loopTick = 0;
    std::uint64_t m_loopEndFrame = 0;
    int m_passes = 0; // loop passes completed (a seek moves within the pass playing)
    // The loop's end lay ahead (or right here) where the last seek or jump landed, or where
    // passes to come were asked for while none were: only playing on to it from there repeats.
    bool m_loopEndAhead = true;
};

} // namespace tunedeck
