#pragma once

// Short generated songs for the player's tests, written with the shared MIDI writer.

#include <testsupport/MidiWriter.h>

#include <QDir>
#include <QFile>
#include <QString>

// At the default tempo (120 beats a minute) and 480 ticks a quarter, a second is 960 ticks.
inline constexpr std::uint32_t kTicksPerSecond = 960;

// Writes a one-note song of `lengthMs` milliseconds to `folder`/`name` and returns its full
// name, or an empty string when it cannot be written.
inline QString writeSong(
    const QString &folder, const QString &name, std::uint32_t lengthMs, int paddingBytes = 0)
{
    testsupport::TrackWriter track;
    if (paddingBytes > 0)
        track.text(0, 0x01, std::string(std::size_t(paddingBytes), ' '));
    track.program(0, 0, 0)
        .noteOn(0, 0, 60, 100)
        .noteOff(lengthMs * kTicksPerSecond / 1000, 0, 60)
        .endOfTrack();
    const testsupport::Bytes bytes = testsupport::SmfWriter(0, 480).track(track).bytes();
    const QString path = QDir(folder).filePath(name);
    if (!testsupport::writeFile(QFile::encodeName(path).toStdString(), bytes))
        return {};
    return path;
}

// Writes a 16-bit mono 22050 Hz tone of `lengthMs` milliseconds to `folder`/`name` and returns
// its full name, or an empty string when it cannot be written.
inline QString writeTone(const QString &folder, const QString &name, std::uint32_t lengthMs)
{
    constexpr quint32 rate = 22050;
    const quint32 frames = rate * lengthMs / 1000;
    QByteArray bytes;
    const auto u32 = [&bytes](quint32 value) {
        for (int i = 0; i < 4; ++i)
            bytes.append(char((value >> (8 * i)) & 0xFF));
    };
    const auto u16 = [&bytes](quint16 value) {
        bytes.append(char(value & 0xFF));
        bytes.append(char(value >> 8));
    };
    bytes.append("RIFF");
    u32(36 + frames * 2);
    bytes.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    bytes.append("data");
    u32(frames * 2);
    for (quint32 i = 0; i < frames; ++i)
        u16(quint16(qint16(i % 50 < 25 ? 6000 : -6000))); // a square wave near 441 Hz
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}
