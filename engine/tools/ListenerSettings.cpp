#include "ListenerSettings.h"

#include "tunedeck/Device.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace {

constexpr int kTempoStep = 10; // percent per key

// A whole number with an optional sign, nothing around it, within `min`..`max`; `value` is
// changed only when it is.
bool readInteger(const char *text, int min, int max, int &value)
{
    const std::string_view digits(text);
    const std::size_t start = !digits.empty() && (digits[0] == '+' || digits[0] == '-') ? 1 : 0;
    if (digits.size() == start || digits.size() > start + 6
        || !std::all_of(digits.begin() + std::ptrdiff_t(start), digits.end(),
            [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const long read = std::strtol(text, nullptr, 10);
    if (read < min || read > max)
        return false;
    value = int(read);
    return true;
}

std::string channelList(std::uint16_t channels)
{
    std::string text;
    for (int channel = 0; channel < 16; ++channel) {
        if ((channels >> channel & 1) != 0)
            text += (text.empty() ? "" : ",") + std::to_string(channel + 1);
    }
    return text;
}

// '1'..'9' are channels 1..9, '0' channel 10; -1 for anything else.
int channelOfDigit(char key)
{
    return key >= '1' && key <= '9' ? key - '1' : key == '0' ? 9 : -1;
}

} // namespace

const char kListenerKeysHelp[]
    = "+ and - change the key by a semitone, [ and ] the tempo by 10 %,\n"
      "1 to 9 and 0 mute or unmute channels 1 to 10, s and a digit solo one,\n"
      "m lets every channel sound again, l loops the file for ever or stops looping.\n";

void ListenerSettings::applyTo(tunedeck::Device &device) const
{
    device.setTranspose(transpose);
    device.setTempoPercent(tempoPercent);
    device.setMutedChannels(muted);
    device.setSoloChannels(soloed);
    device.setLoopCount(loopCount);
}

std::string ListenerSettings::describe(bool song) const
{
    std::string text;
    const auto add
        = [&text](const std::string &part) { text += (text.empty() ? "" : "  ") + part; };
    if (song && transpose != 0)
        add("key " + std::string(transpose > 0 ? "+" : "") + std::to_string(transpose));
    if (tempoPercent != 100)
        add("tempo " + std::to_string(tempoPercent) + "%");
    if (song && muted != 0)
        add("mute " + channelList(muted));
    if (song && soloed != 0)
        add("solo " + channelList(soloed));
    if (loopCount != 1)
        add(loopCount == 0 ? std::string("loop") : "loop " + std::to_string(loopCount));
    return text;
}

bool ListenerSettings::onKey(char key, std::optional<char> (*next)(int timeoutMs))
{
    switch (key) {
    case '+':
    case '=':
    case '-':
    case '_': {
        const int step = key == '+' || key == '=' ? 1 : -1;
        const int changed = std::clamp(
            transpose + step, -tunedeck::Device::kMaxTranspose, tunedeck::Device::kMaxTranspose);
        return std::exchange(transpose, changed) != changed;
    }
    case '[':
    case ']': {
        const int changed = std::clamp(tempoPercent + (key == ']' ? kTempoStep : -kTempoStep),
            tunedeck::Device::kMinTempoPercent, tunedeck::Device::kMaxTempoPercent);
        return std::exchange(tempoPercent, changed) != changed;
    }
    case 'm': {
        const bool changed = muted != 0 || soloed != 0;
        muted = 0;
        soloed = 0;
        return changed;
    }
    case 's': {
        const auto digit = next(1000);
        const int channel = digit ? channelOfDigit(*digit) : -1;
        if (channel < 0)
            return false;
        soloed ^= std::uint16_t(1u << channel);
        return true;
    }
    case 'l':
        loopCount = loopCount == 1 ? tunedeck::Device::kLoopForever : 1;
        return true;
    default: {
        const int channel = channelOfDigit(key);
        if (channel < 0)
            return false;
        muted ^= std::uint16_t(1u << channel);
        return true;
    }
    }
}

std::optional<std::string> readTranspose(const char *text, ListenerSettings &settings)
{
    const int max = tunedeck::Device::kMaxTranspose;
    if (!readInteger(text, -max, max, settings.transpose))
        return "--transpose takes a whole number of semitones from -12 to 12";
    return std::nullopt;
}

std::optional<std::string> readTempo(const char *text, ListenerSettings &settings)
{
    std::string number(text);
    if (!number.empty() && number.back() == '%')
        number.pop_back();
    if (number.empty() || number[0] == '+' || number[0] == '-'
        || !readInteger(number.c_str(), tunedeck::Device::kMinTempoPercent,
            tunedeck::Device::kMaxTempoPercent, settings.tempoPercent))
        return "--tempo takes a percentage from 25 to 400";
    return std::nullopt;
}

std::optional<std::string> readChannels(const char *text, std::uint16_t &channels)
{
    std::uint16_t read = 0;
    std::string_view rest(text);
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string item(rest.substr(0, comma));
        const std::size_t dash = item.find('-', 1);
        int first = 0;
        int last = 0;
        const bool whole = dash == std::string::npos
            ? readInteger(item.c_str(), 1, 16, first) && (last = first) != 0
            : readInteger(item.substr(0, dash).c_str(), 1, 16, first)
                && readInteger(item.substr(dash + 1).c_str(), 1, 16, last) && first <= last;
        if (!whole || item[0] == '+' || item[0] == '-')
            return std::string("takes channels from 1 to 16, as in 1,10 or 2-4");
        for (int channel = first; channel <= last; ++channel)
            read |= std::uint16_t(1u << (channel - 1));
        if (comma == std::string_view::npos) {
            channels |= read;
            return std::nullopt;
        }
        rest.remove_prefix(comma + 1);
    }
}

std::optional<std::string> readLoop(const char *text, ListenerSettings &settings)
{
    if (!text) {
        settings.loopCount = tunedeck::Device::kLoopForever;
        return std::nullopt;
    }
    if (text[0] == '+' || text[0] == '-'
        || !readInteger(text, 1, tunedeck::Device::kMaxLoopCount, settings.loopCount))
        return "--loop takes a number of times from 1 to 65535";
    return std::nullopt;
}
