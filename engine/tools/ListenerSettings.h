// tdplay's listener settings: key, tempo, muted and soloed channels, loops; read from the
// command line, changed by keys on a terminal, shown on the status line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tunedeck {
class Device;
}

struct ListenerSettings {
    int transpose = 0;
    int tempoPercent = 100;
    std::uint16_t muted = 0; // bit n: channel n + 1
    std::uint16_t soloed = 0;
    int loopCount = 1; // 0: for ever

    // Gives the device every setting (after open(), which unmutes every channel).
    void applyTo(tunedeck::Device &device) const;
    // The settings that differ from the start, for the status line ("" when none do):
    // "key +2  tempo 150%  mute 1,10  solo 3  loop 2". For a wave file only those that change
    // it: the tempo and the loop.
    std::string describe(bool song = true) const;
    // A key typed on the terminal: true when it changed a setting. '+'/'-' key, '['/']' tempo,
    // '1'..'9' and '0' (channel 10) mute, 's' then a digit solo, 'm' all sounding, 'l' loop.
    bool onKey(char key, std::optional<char> (*next)(int timeoutMs));
};

// The option values, each checked: nothing when accepted, else the one-line reason.
std::optional<std::string> readTranspose(const char *text, ListenerSettings &settings);
std::optional<std::string> readTempo(const char *text, ListenerSettings &settings);
// A list of channels 1..16 ("1,10", "1-4,9"), added to `channels` when the whole list is read:
// an option given again adds its channels.
std::optional<std::string> readChannels(const char *text, std::uint16_t &channels);
// A number of times to play, 1..65535; nullptr for ever.
std::optional<std::string> readLoop(const char *text, ListenerSettings &settings);

// The key lines for --help.
extern const char kListenerKeysHelp[];
