#include "keysweep/KeyName.h"

#include <QChar>

namespace keysweep {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

enum class BadByte { AsUnit, AsReplacement };

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Decodes the UTF-8 sequence at `i` and moves `i` past it. Encoded surrogates (ED A0..BF xx) are
// accepted and returned as the surrogate value, so names written by toUtf8 come back unchanged.
char32_t decodeOne(std::string_view text, std::size_t &i, BadByte badByte)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    const auto bad = [&] {
        ++i;
        return badByte == BadByte::AsUnit ? char32_t(lead) : kReplacement;
    };
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    char32_t value = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return bad();
    }
    if (i + length > text.size())
        return bad();
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if (second < low || second > high)
        return bad();
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        if (!isContinuation(byte))
            return bad();
        value = (value << 6) | (byte & 0x3F);
    }
    i += length;
    return value;
}

template<typename Sink> void appendUnits(char32_t codePoint, Sink &&sink)
{
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        sink(char16_t(0xD800 + (codePoint >> 10)));
        sink(char16_t(0xDC00 + (codePoint & 0x3FF)));
    } else {
        sink(char16_t(codePoint));
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

// The loader's unescaping. `sink(unit, rawStart)` receives each unit with the offset of the text
// it came from. Returns the offset of `end`, or nothing for a malformed string.
template<typename Sink>
std::optional<std::size_t> unescape(std::string_view text, char end, Sink &&sink)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\0')
            return std::nullopt;
        if (c == end)
            return i;
        const std::size_t start = i;
        const auto emit = [&](char16_t unit) { sink(unit, start); };
        if (c == '\\') {
            ++i;
            if (i >= text.size() || text[i] == '\0')
                return std::nullopt;
            const char escaped = text[i];
            char16_t simple = 0;
            switch (escaped) {
            case 'a':
                simple = 0x07;
                break;
            case 'b':
                simple = 0x08;
                break;
            case 'e':
                simple = 0x1B;
                break;
            case 'f':
                simple = 0x0C;
                break;
            case 'n':
                simple = 0x0A;
                break;
            case 'r':
                simple = 0x0D;
                break;
            case 't':
                simple = 0x09;
                break;
            case 'v':
                simple = 0x0B;
                break;
            default:
                break;
            }
            if (simple != 0) {
                ++i;
                emit(simple);
                continue;
            }
            if (escaped == 'x') {
                ++i;
                if (i >= text.size() || hexValue(text[i]) < 0) {
                    emit(u'x');
                    continue;
                }
                unsigned value = 0;
                for (int digits = 0; digits < 4 && i < text.size() && hexValue(text[i]) >= 0;
                     ++digits)
                    value = value * 16 + unsigned(hexValue(text[i++]));
                emit(char16_t(value));
                continue;
            }
            if (isOctal(escaped)) {
                unsigned value = 0;
                for (int digits = 0; digits < 3 && i < text.size() && isOctal(text[i]); ++digits)
                    value = value * 8 + unsigned(text[i++] - '0');
                emit(char16_t(value));
                continue;
            }
            // Any other escaped character stands for itself; fall through to decode it.
        }
        appendUnits(decodeOne(text, i, BadByte::AsUnit), emit);
    }
    return std::nullopt;
}

// Nearly every header is plain ASCII with `\\` between levels; this decodes those without the
// per-unit work of unescape(). False means "not plain": the general decoder takes over.
bool decodePlainPath(std::string_view text, char end, DecodedPath &path)
{
    std::size_t used = 0;
    std::size_t start = 0;
    bool inLevel = false;
    path.leadingSeparator = false;
    const auto closeLevel = [&](std::size_t at) {
        if (used == path.components.size())
            path.components.emplace_back();
        PathComponent &level = path.components[used++];
        level.name.assign(text.begin() + std::ptrdiff_t(start), text.begin() + std::ptrdiff_t(at));
        level.rawBegin = start;
        level.rawEnd = at;
        inLevel = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == end) {
            if (inLevel)
                closeLevel(i);
            path.components.resize(used);
            path.endOffset = i;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= text.size() || text[i + 1] != '\\')
                return false;
            if (i == 0)
                path.leadingSeparator = true;
            if (inLevel)
                closeLevel(i);
            ++i;
            continue;
        }
        if (c == '\0' || static_cast<unsigned char>(c) >= 0x80)
            return false;
        if (!inLevel) {
            start = i;
            inLevel = true;
        }
    }
    return false;
}

} // namespace

std::optional<std::u16string> decodeEscaped(std::string_view text, char end)
{
    std::u16string units;
    if (!unescape(text, end, [&](char16_t unit, std::size_t) { units.push_back(unit); }))
        return std::nullopt;
    return units;
}

bool decodeKeyPath(std::string_view text, char end, DecodedPath &path)
{
    if (decodePlainPath(text, end, path))
        return true;
    // Levels are reused rather than rebuilt, so their strings keep their capacity.
    std::size_t used = 0;
    PathComponent *current = nullptr;
    path.leadingSeparator = false;
    bool first = true;
    const auto endOffset = unescape(text, end, [&](char16_t unit, std::size_t rawStart) {
        if (unit == u'\\') {
            if (first)
                path.leadingSeparator = true;
            if (current != nullptr) {
                current->rawEnd = rawStart;
                current = nullptr;
            }
        } else {
            if (current == nullptr) {
                if (used == path.components.size())
                    path.components.emplace_back();
                current = &path.components[used++];
                current->name.clear();
                current->rawBegin = rawStart;
            }
            current->name.push_back(unit);
        }
        first = false;
    });
    if (!endOffset)
        return false;
    if (current != nullptr)
        current->rawEnd = *endOffset;
    path.components.resize(used);
    path.endOffset = *endOffset;
    return true;
}

std::optional<DecodedPath> decodeKeyPath(std::string_view text, char end)
{
    DecodedPath path;
    if (!decodeKeyPath(text, end, path))
        return std::nullopt;
    return path;
}

std::u16string fromUtf8(std::string_view text)
{
    std::u16string units;
    units.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        appendUnits(decodeOne(text, i, BadByte::AsReplacement),
            [&](char16_t unit) { units.push_back(unit); });
    return units;
}

std::string toUtf8(std::u16string_view units)
{
    std::string text;
    text.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00
            && units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            text.push_back(char(cp));
        } else if (cp < 0x800) {
            text.push_back(char(0xC0 | (cp >> 6)));
            text.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            text.push_back(char(0xE0 | (cp >> 12)));
            text.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            text.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            text.push_back(char(0xF0 | (cp >> 18)));
            text.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            text.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            text.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return text;
}

std::u16string foldCase(std::u16string_view units)
{
    std::u16string folded;
    folded.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t cp = units[i];
        if (cp < 0x80) {
            folded.push_back(cp >= 'A' && cp <= 'Z' ? char16_t(cp + ('a' - 'A')) : char16_t(cp));
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00
            && units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            folded.push_back(char16_t(cp));
            continue;
        }
        appendUnits(QChar::toCaseFolded(cp), [&](char16_t unit) { folded.push_back(unit); });
    }
    return folded;
}

} // namespace keysweep
