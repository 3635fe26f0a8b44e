// Feeds arbitrary bytes to the MIDI reader. Beyond the sanitizers' checks it traps when a song
// that was accepted breaks what the player relies on: events in time order, payloads inside the
// payload buffer, a length that is the last event's time, nothing larger than the input allows.
#include "Require.h"
#include "tunedeck/MidiFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto result = tunedeck::MidiFile::parse({ data, size });
    if (!result.ok()) {
        require(result.error().offset <= size);
        return 0;
    }
    const tunedeck::MidiFile &file = result.value();
    require(file.trackCount() >= 1);
    require(file.events().size() <= size);
    require(file.payload().size() <= size);

    std::uint64_t lastTick = 0;
    std::int64_t lastUs = 0;
    for (const tunedeck::MidiEvent &event : file.events()) {
        require(event.tick() >= lastTick);
        require(event.tick() <= tunedeck::MidiEvent::kMaxTick);
        const std::int64_t us = file.timeUsOf(event);
        require(us >= lastUs);
        require(event.isChannelMessage() || event.isMeta() || event.isSysex());
        require(event.data1() < 0x80 && event.data2() < 0x80);
        const auto payload = file.payloadOf(event);
        require(payload.empty()
            || (payload.data() >= file.payload().data()
                && payload.data() + payload.size()
                    <= file.payload().data() + file.payload().size()));
        lastTick = event.tick();
        lastUs = us;
    }
    if (!file.events().empty()) {
        const auto &last = file.events().back();
        require(file.lengthUs() == file.timeUsOf(last));
        require(file.lengthMs() == file.tempoMap().tickToMs(last.tick()));
        require(file.frameOf(last, 44'100) >= file.frameOf(file.events().front(), 44'100));
    }
    return 0;
}
