#include "FileNames.h"

#include <algorithm>
#include <cstdint>

namespace tunedeck {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// Length of the valid UTF-8 sequence starting at `at`, or 0 when it is not one (overlong forms,
// encoded surrogates and code points past U+10FFFF count as invalid). Stores its code point.
qsizetype validSequence(QByteArrayView bytes, qsizetype at, char32_t &codePoint)
{
    const auto byte = [&](qsizetype i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(at);
    qsizetype length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
        codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
        codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        const std::uint8_t next = byte(at + i);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

void appendUtf8(QByteArray &out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out.append(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.append(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.append(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.append(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.append(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.append(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.append(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.append(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

} // namespace

QString fileNameFromBytes(QByteArrayView bytes)
{
    // Nearly every name is valid UTF-8: Qt's decoder is much faster than the loop below.
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);

    QString name;
    name.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        char32_t codePoint = 0;
        if (const qsizetype length = validSequence(bytes, at, codePoint); length > 0) {
            if (codePoint >= 0x10000) {
                name.append(QChar(QChar::highSurrogate(codePoint)));
                name.append(QChar(QChar::lowSurrogate(codePoint)));
            } else {
                name.append(QChar(static_cast<char16_t>(codePoint)));
            }
            at += length;
        } else {
            name.append(
                QChar(static_cast<char16_t>(kEscapeBase + static_cast<std::uint8_t>(bytes[at]))));
            ++at;
        }
    }
    return name;
}

void appendFileNameBytes(QByteArray &bytes, QStringView name)
{
    // Plain ASCII needs no encoding at all, and most other names hold no surrogates, which Qt's
    // encoder would turn into '?'; only names with escaped bytes take the loop below.
    const auto isAscii = [](QChar c) { return c.unicode() < 0x80; };
    if (std::all_of(name.begin(), name.end(), isAscii)) {
        const qsizetype start = bytes.size();
        bytes.resize(start + name.size());
        char *out = bytes.data() + start;
        for (const QChar c : name)
            *out++ = static_cast<char>(c.unicode());
        return;
    }
    if (std::none_of(name.begin(), name.end(), [](QChar c) { return c.isSurrogate(); })) {
        bytes.append(name.toUtf8());
        return;
    }

    for (qsizetype at = 0; at < name.size(); ++at) {
        const char16_t unit = name[at].unicode();
        if (QChar::isHighSurrogate(unit) && at + 1 < name.size()
            && QChar::isLowSurrogate(name[at + 1].unicode())) {
            appendUtf8(bytes, QChar::surrogateToUcs4(unit, name[at + 1].unicode()));
            ++at;
        } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
            bytes.append(static_cast<char>(unit - kEscapeBase));
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(bytes, 0xFFFD); // A lone surrogate that no byte turned into.
        } else {
            appendUtf8(bytes, unit);
        }
    }
}

QByteArray fileNameToBytes(QStringView name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    appendFileNameBytes(bytes, name);
    return bytes;
}

QString pathTail(const QString &name)
{
    return name.mid(name.lastIndexOf(u'/') + 1);
}

QByteArrayView pathTail(QByteArrayView name)
{
    return name.sliced(name.lastIndexOf('/') + 1);
}

} // namespace tunedeck
