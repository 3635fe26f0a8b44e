#pragma once

#include "PathList.h"
#include "tunedeck/SongText.h"

#include <QObject>
#include <QString>
#include <QtGlobal>

namespace tunedeck {

// The player as everything outside the main window sees it: the media-player bus, the command
// line, a second start and drops. The main window implements it with its own handlers, which
// stay the one place where transport happens; each signal is raised by the handler that makes
// the change. UI thread only.
class Player : public QObject {
    Q_OBJECT

public:
    enum class State { Stopped, Playing, Paused };

    using QObject::QObject;

    virtual State state() const = 0;
    // The file playing or paused, and a number that changes with every file opened (the same
    // file queued twice is two entries); empty and 0 while stopped.
    virtual QString entry() const = 0;
    virtual quint16 entryNumber() const = 0;
    // Where the entry is and how long it is; 0 while stopped. A large song's length is known
    // once it has been read.
    virtual qint64 positionMs() const = 0;
    virtual qint64 lengthMs() const = 0;
    // What the entry says about itself (title, artist, copyright, lyrics); empty while stopped.
    virtual SongText text() const { return {}; }
    // The output volume, 0 to 1.
    virtual double volume() const = 0;
    // How many entries wait in the play list.
    virtual qsizetype listSize() const = 0;
    // The speed, 0.25 to 4 (1 at the start): a song's tempo, a wave file's speed and pitch.
    // Positions and lengths stay in the entry's own time.
    virtual double rate() const { return 1.0; }
    // Whether the entry playing repeats until stopped or skipped (off at the start).
    virtual bool loopTrack() const { return false; }

    // The transport buttons' commands: Play (takes the list's first entry; warns when the list
    // is empty), Pause, Resume, Stop and Skip, each as its button does it.
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void stop() = 0;
    virtual void skip() = 0;
    // Moves the entry to `positionMs`, however near it is (the position bar's rule against
    // small moves is the bar's own), and raises seeked.
    virtual void seek(qint64 positionMs) = 0;
    // Sets the volume for this and every later file, clamped to 0 to 1; NaN and infinities
    // change nothing.
    virtual void setVolume(double volume) = 0;
    // Sets the speed (clamped to 0.25..4) and the repeat, for this and every later file, for
    // this run only.
    virtual void setRate(double rate) { Q_UNUSED(rate); }
    virtual void setLoopTrack(bool loop) { Q_UNUSED(loop); }
    // Appends the entries at the play list's end.
    virtual void append(const PathList &entries) = 0;
    // Gets the sound ready ahead of the first file (finds the soundfont and reads its preset
    // table, on a worker), so the first song mostly finds it ready; returns at once.
    virtual void prepare() = 0;
    // Brings the window to the front; ends the program.
    virtual void raise() = 0;
    virtual void quit() = 0;

Q_SIGNALS:
    void stateChanged();
    // Another file opened, its length became known, or the entry ended.
    void entryChanged();
    void listChanged();
    // A seek moved the entry to `positionMs`.
    void seeked(qint64 positionMs);
    void volumeChanged();
    // The speed or the repeat changed.
    void rateOrLoopChanged();
};

} // namespace tunedeck
