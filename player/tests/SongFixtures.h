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
inline QString writeSong(const QString &folder, const QString &name, std::uint32_t lengthMs)
{
    testsupport::TrackWriter track;
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
