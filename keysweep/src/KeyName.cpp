#include "keysweep/KeyName.h"

#include <QChar>
#include <QString>
#include <QStringDecoder>

#include <algorithm>

namespace keysweep {

namespace {

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

bool isAscii(char c)
{
    return static_cast<unsigned char>(c) < 0x80;
}

char16_t cEscape(char c)
{
    switch (c) {
    case 'a':
        return 0x07;
    case 'b':
        return 0x08;
    case 'e':
        return 0x1B;
    case 'f':
        return 0x0C;
    case 'n':
        return 0x0A;
    case 'r':
        return 0x0D;
    case 't':
        return 0x09;
    case 'v':
        return 0x0B;
    default:
        return 0;
    }
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
        if (c == '\\') {
            if (++i >= text.size() || text[i] == '\0')
                return std::nullopt;
        }
        const char next = text[i];
        if (c == '\\' && isAscii(next)) {
            if (const char16_t unit = cEscape(next)) {
                sink(unit, start);
                ++i;
            } else if (next == 'x') {
                ++i;
                unsigned value = 'x';
                if (i < text.size() && hexValue(text[i]) >= 0) {
                    value = 0;
                    for (int digits = 0; digits < 4 && i < text.size() && hexValue(text[i]) >= 0;
                         ++digits)
                        value = value * 16 + unsigned(hexValue(text[i++]));
                }
                sink(char16_t(value), start);
            } else if (isOctal(next)) {
                unsigned value = 0;
                for (int digits = 0; digits < 3 && i < text.size() && isOctal(text[i]); ++digits)
                    value = value * 8 + unsigned(text[i++] - '0');
                sink(char16_t(value), start);
            } else {
                sink(char16_t(next), start); // any other character stands for itself
                ++i;
            }
            continue;
        }
        if (isAscii(next)) {
            sink(char16_t(next), start);
            ++i;
            continue;
        }
        // A run of raw non-ASCII bytes (after a backslash too): UTF-8. The decoder marks bytes
        // that are not UTF-8 with NUL, which cannot occur otherwise, and those are dropped. A
        // surrogate written as a character of its own (ED A0..BF 80..BF), which UTF-8 does not
        // allow, is the unit it encodes, as Wine reads it.
        std::size_t runEnd = i;
        while (runEnd < text.size() && !isAscii(text[runEnd]))
            ++runEnd;
        const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
        const auto surrogateAt = [&](std::size_t at) {
            return at + 2 < runEnd && byte(at) == 0xED && byte(at + 1) >= 0xA0
                && byte(at + 1) <= 0xBF && byte(at + 2) >= 0x80 && byte(at + 2) <= 0xBF;
        };
        while (i < runEnd) {
            std::size_t part = i;
            while (part < runEnd && !surrogateAt(part))
                ++part;
            QStringDecoder decoder(
                QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInvalidToNull);
            const QString decoded = decoder(QByteArrayView(text.data() + i, qsizetype(part - i)));
            for (const QChar unit : decoded) {
                if (unit.unicode() != 0)
                    sink(char16_t(unit.unicode()), start);
            }
            if (part < runEnd) {
                sink(char16_t(0xD000 | (byte(part + 1) & 0x3F) << 6 | (byte(part + 2) & 0x3F)),
                    start);
                part += 3;
            }
            i = part;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::u16string> decodeEscaped(std::string_view text, char end)
{
    std::u16string units;
    if (!unescape(text, end, [&](char16_t unit, std::size_t) { units.push_back(unit); }))
        return std::nullopt;
    return units;
}

std::optional<DecodedPath> decodeKeyPath(std::string_view text, char end)
{
    DecodedPath path;
    PathComponent *current = nullptr;
    const auto endOffset = unescape(text, end, [&](char16_t unit, std::size_t rawStart) {
        if (unit == u'\\') {
            if (current != nullptr)
                current->rawEnd = rawStart;
            current = nullptr;
            return;
        }
        if (current == nullptr) {
            current = &path.components.emplace_back();
            current->rawBegin = rawStart;
        }
        current->name.push_back(unit);
    });
    if (!endOffset)
        return std::nullopt;
    if (current != nullptr)
        current->rawEnd = *endOffset;
    path.endOffset = *endOffset;
    return path;
}

std::u16string fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size())).toStdU16String();
}

std::u16string lowerCase(std::u16string_view units)
{
    // Wine's table is Unicode's simple lower-case mapping of single units, except that it leaves
    // the title-case digraphs and these capitals (whose lower-case letter has a capital of its
    // own) as they are: ǅ ǈ ǋ ǲ ϴ ẞ Ω K Å.
    static constexpr char16_t kUnmapped[]
        = { 0x01C5, 0x01C8, 0x01CB, 0x01F2, 0x03F4, 0x1E9E, 0x2126, 0x212A, 0x212B };
    std::u16string lowered(units);
    for (char16_t &unit : lowered) {
        if (unit < 0x80) {
            if (unit >= u'A' && unit <= u'Z')
                unit = char16_t(unit + (u'a' - u'A'));
        } else if (std::find(std::begin(kUnmapped), std::end(kUnmapped), unit)
            == std::end(kUnmapped)) {
            unit = QChar(unit).toLower().unicode();
        }
    }
    return lowered;
}

} // namespace keysweep
