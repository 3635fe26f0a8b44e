#include "tunedeck/Result.h"

namespace tunedeck {

const char *errorText(Error::Code code) noexcept
{
    switch (code) {
    case Error::Code::FileNotFound:
        return "File not found";
    case Error::Code::Io:
        return "The file cannot be read";
    case Error::Code::UnknownFormat:
        return "Not a MIDI song or a wave file";
    case Error::Code::NotMidi:
        return "Not a MIDI file";
    case Error::Code::Malformed:
        return "The MIDI file is corrupt";
    case Error::Code::Truncated:
        return "The file is cut short";
    case Error::Code::NotWave:
        return "Not a playable wave file";
    case Error::Code::WaveRate:
        return "The wave file's sample rate cannot be played";
    case Error::Code::NoSoundfont:
        return "No General MIDI soundfont found";
    case Error::Code::NoOutput:
        return "No audio output can be opened";
    case Error::Code::OutputLost:
        return "The audio output was lost";
    case Error::Code::Synth:
        return "The synthesiser cannot start";
    case Error::Code::InvalidArgument:
        return "Invalid argument";
    }
    return "Unknown error";
}

} // namespace tunedeck
