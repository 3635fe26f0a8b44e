#pragma once

// Short generated songs for the player's tests, written with the shared MIDI writer.

#include <testsupport/MidiWriter.h>
#include <testsupport/WaveWriter.h>

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
    constexpr int rate = 22050;
    const QString path = QDir(folder).filePath(name);
    if (!testsupport::writeTone(QFile::encodeName(path).toStdString(),
            { .rate = rate, .frames = testsupport::framesOf(rate, lengthMs) }))
        return {};
    return path;
}
