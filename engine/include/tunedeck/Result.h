#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <variant>

namespace tunedeck {

// Why an engine operation failed. Each code has its own text (errorText) so the device layer can
// map it to a result code and a message of its own.
struct Error {
    enum class Code {
        FileNotFound, // the path names nothing
        Io, // the file exists but could not be read (permissions, a folder, I/O)
        UnknownFormat, // neither a MIDI song nor a wave file
        NotMidi, // claims to be MIDI (name or magic) but the header is wrong
        Malformed, // a MIDI file whose structure cannot be (no tracks, bad counts, bad events)
        Truncated, // cut short where nothing usable is left
        NotWave, // claims to be a wave file but libsndfile refuses it
        WaveRate, // a wave file whose sample rate is too far from any output's to play
        NoSoundfont, // no General MIDI soundfont could be found or loaded
        NoOutput, // no audio output could be opened
        OutputLost, // the audio output went away while playing
        Synth, // FluidSynth refused to start
        InvalidArgument, // a call the engine cannot honour (a seek past the end, ...)
    };

    Code code;
    std::string detail; // a sentence for people; may be empty
    std::size_t offset = 0; // byte offset in the input where one applies, else 0
};

// A short, stable English text for a code, without detail.
const char *errorText(Error::Code code) noexcept;

// The outcome of an engine call: a value or an Error. No exception leaves the engine.
template<typename T> class [[nodiscard]] Result {
public:
    Result(T success)
        : m_value(std::move(success))
    { }
    Result(Error error)
        : m_value(std::move(error))
    { }

    bool ok() const { return std::holds_alternative<T>(m_value); }
    explicit operator bool() const { return ok(); }

    T &value() & { return std::get<T>(m_value); }
    const T &value() const & { return std::get<T>(m_value); }
    T &&value() && { return std::get<T>(std::move(m_value)); }
    const Error &error() const { return std::get<Error>(m_value); }

private:
    std::variant<T, Error> m_value;
};

template<> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error)
        : m_error(std::move(error))
        , m_failed(true)
    { }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Error &error() const { return m_error; }

private:
    Error m_error { Error::Code::InvalidArgument, {}, 0 };
    bool m_failed = false;
};

} // namespace tunedeck
