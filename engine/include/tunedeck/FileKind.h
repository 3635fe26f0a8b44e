#pragma once

#include "tunedeck/Result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace tunedeck {

// What the engine plays a file as: a song (standard MIDI file or RIFF MIDI) or a wave file.
enum class Container { Midi, Wave };

// What the first bytes say, whatever the name: "MThd" or RIFF "RMID" is a song; RIFF, RIFX or
// RF64 "WAVE" is a wave file; anything else (or fewer than the bytes needed) is neither.
std::optional<Container> containerOfHead(std::span<const std::uint8_t> head);

// A file as the device is about to open it.
struct Sniffed {
    Container container = Container::Midi;
    std::uintmax_t size = 0;
    std::array<std::uint8_t, 12> head {};
    std::size_t headBytes = 0;

    std::span<const std::uint8_t> headSpan() const { return { head.data(), headBytes }; }
};

// Decides song or wave by the first bytes (containerOfHead); for content that is neither, the
// extension only decides which reader gets to say what is wrong with it. A missing, unreadable
// or empty file, or one neither its bytes nor its extension name, is an error. Any thread.
Result<Sniffed> sniff(const std::filesystem::path &path);

// The extension of `path`'s name in lower case (".kar"), empty when it has none.
std::string lowerExtension(const std::filesystem::path &path);

} // namespace tunedeck
