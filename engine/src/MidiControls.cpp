// The listener's settings on a song: key, tempo, muted channels and loops. All of it runs on the
// render thread except findLoop(), which the constructor calls.

#include "MidiSource.h"

#include "tunedeck/Synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>

namespace tunedeck {

namespace {

constexpr int kDrumChannel = 9; // channel 10, percussion in General MIDI
constexpr int kPercussionBank = 128; // where a soundfont keeps its drum kits
constexpr std::uint8_t kMetaMarker = 0x06;
constexpr int kLoopStartController = 111;

bool sameText(std::span<const std::uint8_t> bytes, std::string_view text)
{
    return bytes.size() == text.size()
        && std::equal(bytes.begin(), bytes.end(), text.begin(), [](std::uint8_t a, char b) {
               return std::tolower(a) == std::tolower(static_cast<unsigned char>(b));
           });
}

} // namespace

bool MidiSource::isDrum(int channel) const noexcept
{
    // A drum part is one the synthesiser plays from its percussion bank: channel 10, and a part
    // a message made one as the synthesiser understood it (not bank 127, an instrument to it).
    fluid_preset_t *preset = fluid_synth_get_channel_preset(m_playing->handle(), channel);
    return preset ? fluid_preset_get_banknum(preset) == kPercussionBank : channel == kDrumChannel;
}

std::uint16_t MidiSource::melodicChannels() const noexcept
{
    std::uint16_t melodic = 0;
    for (int channel = 0; channel < 16; ++channel) {
        if (!isDrum(channel))
            melodic |= static_cast<std::uint16_t>(1u << channel);
    }
    return melodic;
}

void MidiSource::moveTo(Synth *roomy) noexcept
{
    // The melodic notes end as at any change of key, and the pedals are let go so that they do;
    // drums and releases ring on in the synthesiser left, while every channel's state is replayed
    // into `roomy`, pedals as the song has them.
    endSoundingNotes(melodicChannels());
    for (int channel = 0; channel < 16; ++channel) {
        fluid_synth_cc(m_playing->handle(), channel, 64, 0);
        fluid_synth_cc(m_playing->handle(), channel, 66, 0);
    }
    Synth *left = m_playing;
    m_playing = roomy;
    m_onRoomy.store(true, std::memory_order_release);
    // A seek's chase still under way ends with the pedals released, as it would have.
    restartAt(m_cursor, positionMs(), m_frame, m_chase == Chase::Done);
    m_fading = left;
    m_fadingFrames = 0;
}

void MidiSource::sendNote(const MidiEvent &event) noexcept
{
    fluid_synth_t *synth = m_playing->handle();
    const int channel = event.status & 0x0F;
    const int key = event.data1();
    std::int8_t &sounding = m_soundingKey[channel][key];
    switch (event.status & 0xF0) {
    case 0x90:
        if (event.data2() != 0) {
            if ((m_controls.audible() >> channel & 1) == 0)
                return;
            const int played = isDrum(channel) ? key : key + m_controls.transpose;
            if (played < 0 || played > 127)
                return;
            if (sounding >= 0 && sounding != played)
                fluid_synth_noteoff(synth, channel, sounding);
            sounding = static_cast<std::int8_t>(played);
            fluid_synth_noteon(synth, channel, played, event.data2());
            return;
        }
        [[fallthrough]];
    case 0x80:
        if (sounding >= 0)
            fluid_synth_noteoff(synth, channel, sounding);
        sounding = -1;
        return;
    default: // polyphonic key pressure
        if (sounding >= 0)
            fluid_synth_key_pressure(synth, channel, sounding, event.data2());
        return;
    }
}

void MidiSource::endSoundingNotes(std::uint16_t channels) noexcept
{
    fluid_synth_t *synth = m_playing->handle();
    for (int channel = 0; channel < 16; ++channel) {
        if ((channels >> channel & 1) == 0)
            continue;
        for (std::int8_t &sounding : m_soundingKey[channel]) {
            if (sounding >= 0)
                fluid_synth_noteoff(synth, channel, sounding);
            sounding = -1;
        }
    }
}

void MidiSource::applyControls(const PlayControls &asked) noexcept
{
    PlayControls controls = asked;
    if (m_playing->nearestKeyShift(controls.transpose) != controls.transpose) {
        // The synthesiser playing has no notes for that key: the song moves to the one with
        // room for every key, or keeps its key until that one is ready.
        Synth *roomy = m_roomy.load(std::memory_order_acquire);
        if (roomy && roomy != m_playing) {
            moveTo(roomy);
        } else {
            controls.transpose = m_controls.transpose;
        }
    }
    if (controls == m_controls)
        return;
    if (controls.transpose != m_controls.transpose) {
        // Each note ends at the key it started on; the song's own note-off would miss it.
        endSoundingNotes(melodicChannels());
    }
    const auto silenced = static_cast<std::uint16_t>(m_controls.audible() & ~controls.audible());
    for (int channel = 0; channel < 16; ++channel) {
        if ((silenced >> channel & 1) != 0) {
            fluid_synth_all_sounds_off(m_playing->handle(), channel);
            std::memset(m_soundingKey[channel], -1, sizeof m_soundingKey[channel]);
        }
    }
    // A pass that falls due from here on repeats only if playing reaches the loop's end from
    // where it is now: from past the end the song plays on to its own end.
    if (!loopPending())
        m_loopEndAhead = m_frame <= m_loopEndFrame;
    if (controls.tempoPercent != m_controls.tempoPercent) {
        m_tempoAnchor = m_frame;
        m_outputSinceAnchor = 0;
    }
    m_controls = controls;
}

std::uint64_t MidiSource::outputFramesUntil(std::uint64_t target) const noexcept
{
    if (target <= m_frame)
        return 0;
    const auto percent = static_cast<detail::Uint128>(m_controls.tempoPercent);
    const detail::Uint128 total
        = (static_cast<detail::Uint128>(target - m_tempoAnchor) * 100 + percent - 1) / percent;
    const detail::Uint128 left = total - m_outputSinceAnchor;
    return left > ~std::uint64_t { 0 } ? ~std::uint64_t { 0 } : static_cast<std::uint64_t>(left);
}

void MidiSource::advance(std::uint64_t outputFrames) noexcept
{
    m_outputSinceAnchor += outputFrames;
    m_frame = m_tempoAnchor
        + static_cast<std::uint64_t>(static_cast<detail::Uint128>(m_outputSinceAnchor)
            * static_cast<unsigned>(m_controls.tempoPercent) / 100);
}

void MidiSource::findLoop()
{
    const auto events = m_file.events();
    std::optional<std::uint64_t> start;
    std::optional<std::uint64_t> end;
    for (const MidiEvent &event : events) {
        if ((event.status & 0xF0) == 0xB0 && event.data1() == kLoopStartController) {
            start = start.value_or(event.tick());
        } else if (event.isMeta() && event.metaType == kMetaMarker) {
            const auto text = m_file.payloadOf(event);
            if (sameText(text, "loopStart"))
                start = start.value_or(event.tick());
            else if (sameText(text, "loopEnd"))
                end = end.value_or(event.tick());
        }
    }
    m_loopTick = start.value_or(0);
    m_loopIndex = static_cast<std::size_t>(
        std::lower_bound(events.begin(), events.end(), m_loopTick,
            [](const MidiEvent &event, std::uint64_t tick) { return event.tick() < tick; })
        - events.begin());
    const std::uint64_t startFrame = m_file.tempoMap().tickToFrame(m_loopTick, m_sampleRate);
    m_loopEndFrame = m_endFrame;
    if (end && *end > m_loopTick)
        m_loopEndFrame = std::min(m_endFrame, m_file.tempoMap().tickToFrame(*end, m_sampleRate));
    if (m_loopEndFrame <= startFrame)
        m_loopEndFrame = 0; // nothing to repeat
}

bool MidiSource::loopPending() const noexcept
{
    const int count = m_controls.loopCount;
    return count != 1 && m_loopEndFrame != 0 && (count == 0 || m_passes + 1 < count);
}

bool MidiSource::loopDue() const noexcept
{
    return m_loopEndAhead && loopPending() && m_frame >= m_loopEndFrame;
}

void MidiSource::jumpToLoopStart() noexcept
{
    const TempoMap &map = m_file.tempoMap();
    restartAt(m_loopIndex, map.tickToMs(m_loopTick), map.tickToFrame(m_loopTick, m_sampleRate));
    ++m_passes;
}

} // namespace tunedeck
