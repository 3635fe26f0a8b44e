#include "MidiSource.h"

#include "tunedeck/Synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace tunedeck {

namespace {

// After pause, stop or the end, the synthesiser renders this long for release and reverb tails,
// then the idle output is plain silence and costs nothing.
constexpr std::uint64_t kIdleTailMs = 3000;

// A chase looks at this many events per call on its way back from the target ...
constexpr std::size_t kChaseScanPerCall = std::size_t { 1 } << 17;
// ... and replays this many per call (controllers and programs cost far less than notes) ...
constexpr std::size_t kChaseSendsPerCall = std::size_t { 1 } << 14;
// ... and keeps at most this many to replay; a song with more order-dependent messages (bank
// selects, data entry, sysex) before the target keeps the latest ones, and of what comes before
// them only the last value of each controller, program, pressure and bend (and the bank selects
// before a program kept so), at most this many more, and the latest system exclusive messages
// (a part made a drum part, a reset), at most this many more.
constexpr std::size_t kChaseCapacity = std::size_t { 1 } << 16;
constexpr std::size_t kChaseLatestOnly = 16 * (128 + 3 + 2);
constexpr std::size_t kChaseLateSysex = 256;

constexpr std::uint64_t frameAt(std::int64_t timeUs, std::uint32_t sampleRate)
{
    return timeUs <= 0 ? 0 : static_cast<std::uint64_t>(timeUs) * sampleRate / 1'000'000u;
}

} // namespace

MidiSource::MidiSource(MidiFile file, std::shared_ptr<Synth> synth)
    : m_file(std::move(file))
    , m_synth(std::move(synth))
    , m_playing(m_synth.get())
    , m_sampleRate(static_cast<std::uint32_t>(m_synth->sampleRate()))
    , m_walker(m_file.tempoMap())
{
    const auto events = m_file.events();
    if (!events.empty())
        m_endFrame = m_file.frameOf(events.back(), m_sampleRate);
    m_chaseList.reserve(
        std::min(events.size(), kChaseCapacity + kChaseLatestOnly + kChaseLateSysex));
    // The end is never before the length in ms (the length is truncated from the same time).
    m_endFrame
        = std::max<std::uint64_t>(m_endFrame, std::uint64_t(lengthMs()) * m_sampleRate / 1000);
    std::memset(m_soundingKey, -1, sizeof m_soundingKey);
    m_fadingBlock.resize(2 * kBudgetFrames);
    m_controls.transpose = m_synth->nearestKeyShift(0);
    findLoop();
}

MediaKind mediaKindOf(MidiKind kind)
{
    switch (kind) {
    case MidiKind::Smf0:
        return MediaKind::Smf0;
    case MidiKind::Smf1:
        return MediaKind::Smf1;
    case MidiKind::Smf2:
        return MediaKind::Smf2;
    case MidiKind::Rmi:
        return MediaKind::Rmi;
    }
    return MediaKind::Smf1;
}

MediaKind MidiSource::kind() const
{
    return mediaKindOf(m_file.kind());
}

void MidiSource::send(const MidiEvent &event) noexcept
{
    fluid_synth_t *synth = m_playing->handle();
    const int channel = event.status & 0x0F;
    switch (event.status & 0xF0) {
    case 0x80:
    case 0x90:
    case 0xA0:
        sendNote(event);
        return;
    case 0xB0:
        fluid_synth_cc(synth, channel, event.data1(), event.data2());
        return;
    case 0xC0:
        fluid_synth_program_change(synth, channel, event.data1());
        return;
    case 0xD0:
        fluid_synth_channel_pressure(synth, channel, event.data1());
        return;
    case 0xE0:
        fluid_synth_pitch_bend(synth, channel, event.data1() | (event.data2() << 7));
        return;
    default:
        break;
    }
    const auto payload
        = event.status == 0xF0 ? m_file.payloadOf(event) : std::span<const std::uint8_t> {};
    if (!payload.empty()) {
        // Payload without F0; FluidSynth wants it without the closing F7 as well.
        const char *data = reinterpret_cast<const char *>(payload.data());
        int length = static_cast<int>(payload.size());
        if (length > 0 && static_cast<std::uint8_t>(data[length - 1]) == 0xF7)
            --length;
        if (length > 0)
            fluid_synth_sysex(synth, data, length, nullptr, nullptr, nullptr, 0);
    }
    // Meta events carry nothing to play: tempo is already in every event's time. F7 escapes hold
    // raw bytes that FluidSynth cannot take.
}

void MidiSource::releasePedalsAndNotes() noexcept
{
    fluid_synth_t *synth = m_playing->handle();
    for (int channel = 0; channel < 16; ++channel) {
        fluid_synth_cc(synth, channel, 64, 0); // sustain
        fluid_synth_cc(synth, channel, 66, 0); // sostenuto
    }
    fluid_synth_all_notes_off(synth, -1);
}

std::uint64_t MidiSource::frameOfCursor() noexcept
{
    return m_walker.tickToFrame(m_file.events()[m_cursor].tick(), m_sampleRate);
}

bool MidiSource::chase() noexcept
{
    if (m_chase == Chase::Done)
        return true;
    const auto events = m_file.events();
    if (m_chase == Chase::Scanning) {
        // Walking back from the target, keep each controller, program, pressure and bend only
        // where no later event of the same kind on the same channel overrides it; everything
        // whose effect depends on what came before (bank selects, RPN/NRPN selection and data
        // entry, channel mode messages, sysex) is kept as it is. Replayed in order, the kept
        // events leave every channel as the whole song would.
        // Once as many are kept as the chase holds, the rest of the way back keeps only the last
        // values, and a program's bank selects.
        std::size_t budget = kChaseScanPerCall;
        while (m_chaseScan > 0 && budget > 0 && m_chaseList.size() < m_chaseList.capacity()) {
            --budget;
            const std::size_t i = --m_chaseScan;
            const MidiEvent &event = events[i];
            const int channel = event.status & 0x0F;
            const bool full = m_chaseList.size() >= kChaseCapacity;
            bool keep = false;
            switch (event.status & 0xF0) {
            case 0xB0: {
                const int number = event.data1();
                const bool bank = number == 0 || number == 32;
                const bool dependent = bank || number == 6 || number == 38
                    || (number >= 96 && number <= 101) || number >= 120;
                if (!full)
                    keep = dependent || !m_controllerSeen[channel][number];
                else if (bank)
                    keep = std::exchange(m_bankWanted[channel][number == 32], false)
                        || !m_controllerSeen[channel][number];
                else
                    keep = !dependent && !m_controllerSeen[channel][number];
                m_controllerSeen[channel][number] = true;
                break;
            }
            case 0xC0:
                keep = !m_programSeen[channel];
                if (keep && full)
                    m_bankWanted[channel][0] = m_bankWanted[channel][1] = true;
                m_programSeen[channel] = true;
                break;
            case 0xD0:
                keep = !m_pressureSeen[channel];
                m_pressureSeen[channel] = true;
                break;
            case 0xE0:
                keep = !m_bendSeen[channel];
                m_bendSeen[channel] = true;
                break;
            default:
                if (event.status == 0xF0)
                    keep = !full || m_lateSysexKept++ < kChaseLateSysex;
                break;
            }
            if (keep)
                m_chaseList.push_back(static_cast<std::uint32_t>(i));
        }
        if (m_chaseScan > 0 && m_chaseList.size() < m_chaseList.capacity())
            return false;
        m_chase = Chase::Sending;
        return false; // the sending starts with the next share
    }
    std::size_t budget = kChaseSendsPerCall;
    while (!m_chaseList.empty() && budget > 0) {
        --budget;
        send(events[m_chaseList.back()]);
        m_chaseList.pop_back();
    }
    if (!m_chaseList.empty())
        return false;
    fluid_synth_t *synth = m_playing->handle();
    for (int channel = 0; channel < 16 && !m_chaseKeepsPedals; ++channel) {
        fluid_synth_cc(synth, channel, 64, 0);
        fluid_synth_cc(synth, channel, 66, 0);
    }
    fluid_synth_all_sounds_off(synth, -1);
    m_playing->dropBuffered();
    m_chase = Chase::Done;
    return true;
}

std::size_t MidiSource::render(float *out, std::size_t frames) noexcept
{
    m_idleFrames = 0;
    if (!chase()) {
        std::fill(out, out + 2 * frames, 0.0f);
        mixFading(out, frames);
        return 0;
    }
    const auto events = m_file.events();
    std::size_t done = 0;
    std::size_t budget = kEventsPerBlock * std::max<std::size_t>(1, frames / kBudgetFrames);
    bool jumped = false;
    while (done < frames) {
        if (loopDue()) {
            // One jump a call at most: a loop shorter than a block waits for the next one.
            if (jumped)
                break;
            jumpToLoopStart();
            jumped = true;
            if (m_chase != Chase::Done)
                break; // silent until the state at the loop's start is restored
            continue;
        }
        // Events fall due at their frame; past the budget they wait for the next call, late
        // rather than holding up the block.
        bool behind = false;
        while (m_cursor < events.size() && frameOfCursor() <= m_frame) {
            if (budget == 0) {
                behind = true;
                break;
            }
            --budget;
            send(events[m_cursor++]);
        }
        if (!behind && m_frame >= m_endFrame) {
            if (!m_atEnd)
                releasePedalsAndNotes();
            m_atEnd = true;
            break;
        }
        // Output frames, which the tempo turns into more or fewer of the song's.
        std::uint64_t next = frames - done;
        if (!behind) {
            next = std::min(next, outputFramesUntil(m_endFrame));
            if (loopPending() && m_frame < m_loopEndFrame)
                next = std::min(next, outputFramesUntil(m_loopEndFrame));
            if (m_cursor < events.size())
                next = std::min(next, outputFramesUntil(frameOfCursor()));
        }
        const int length = static_cast<int>(next);
        float *block = out + 2 * done;
        if (!m_playing->write(block, length)) {
            m_failed = true;
            break;
        }
        done += static_cast<std::size_t>(length);
        advance(next);
    }
    mixFading(out, done);
    return done;
}

void MidiSource::renderIdle(float *out, std::size_t frames) noexcept
{
    if (!chase()) {
        std::fill(out, out + 2 * frames, 0.0f);
        mixFading(out, frames);
        return;
    }
    if (m_idleFrames >= kIdleTailMs * m_sampleRate / 1000) {
        std::fill(out, out + 2 * frames, 0.0f);
        return;
    }
    m_idleFrames += frames;
    if (!m_playing->write(out, static_cast<int>(frames)))
        std::fill(out, out + 2 * frames, 0.0f);
    mixFading(out, frames);
}

void MidiSource::silence() noexcept
{
    fluid_synth_all_sounds_off(m_playing->handle(), -1);
    m_playing->dropBuffered();
    m_fading = nullptr;
}

void MidiSource::mixFading(float *out, std::size_t frames) noexcept
{
    if (!m_fading)
        return;
    for (std::size_t done = 0; done < frames;) {
        const std::size_t length = std::min(frames - done, m_fadingBlock.size() / 2);
        if (!m_fading->write(m_fadingBlock.data(), static_cast<int>(length))) {
            m_fading = nullptr;
            return;
        }
        for (std::size_t i = 0; i < 2 * length; ++i)
            out[2 * done + i] += m_fadingBlock[i];
        done += length;
    }
    m_fadingFrames += frames;
    if (m_fadingFrames >= kIdleTailMs * m_sampleRate / 1000
        || fluid_synth_get_active_voice_count(m_fading->handle()) == 0)
        m_fading = nullptr;
}

void MidiSource::seekMs(std::uint32_t positionMs) noexcept
{
    positionMs = std::min(positionMs, lengthMs());
    const auto events = m_file.events();
    const std::int64_t targetUs = std::int64_t(positionMs) * 1000;
    // The first event that sounds at or after the target: every tick up to `before` sounds
    // earlier (time never stands still, a tempo of 0 being ignored).
    std::size_t index = 0;
    if (targetUs > 0) {
        const std::uint64_t before = m_file.tempoMap().usToTick(targetUs - 1);
        index = static_cast<std::size_t>(
            std::upper_bound(events.begin(), events.end(), before,
                [](std::uint64_t tick, const MidiEvent &event) { return tick < event.tick(); })
            - events.begin());
    }
    restartAt(index, positionMs, frameAt(targetUs, m_sampleRate));
}

void MidiSource::restartAt(
    std::size_t index, std::uint32_t ms, std::uint64_t frame, bool keepPedals) noexcept
{
    m_fading = nullptr;
    m_chaseKeepsPedals = keepPedals;
    // Back to the power-on state of every channel, with no voice left sounding.
    fluid_synth_system_reset(m_playing->handle());
    m_playing->dropBuffered();
    std::memset(m_soundingKey, -1, sizeof m_soundingKey);
    m_chaseList.clear(); // capacity reserved, so this never allocates
    std::memset(m_controllerSeen, 0, sizeof m_controllerSeen);
    std::memset(m_programSeen, 0, sizeof m_programSeen);
    std::memset(m_pressureSeen, 0, sizeof m_pressureSeen);
    std::memset(m_bendSeen, 0, sizeof m_bendSeen);
    std::memset(m_bankWanted, 0, sizeof m_bankWanted);
    m_lateSysexKept = 0;
    m_chaseScan = index;
    m_chase = Chase::Scanning;
    // One share of scanning and one of sending right away: the chase of any ordinary song ends
    // here, so the next block already plays from the target.
    if (!chase())
        chase();
    // Events at the target itself, notes included, are sent by the next render.
    m_cursor = index;
    m_baseMs = ms;
    m_baseFrame = frame;
    m_frame = m_baseFrame;
    m_loopEndAhead = m_frame <= m_loopEndFrame;
    m_tempoAnchor = frame;
    m_outputSinceAnchor = 0;
    m_atEnd = false;
    m_idleFrames = 0;
}

std::uint32_t MidiSource::positionMs() const noexcept
{
    if (m_atEnd)
        return lengthMs();
    const std::uint64_t ms = m_baseMs + (m_frame - m_baseFrame) * 1000 / m_sampleRate;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, lengthMs()));
}

} // namespace tunedeck
