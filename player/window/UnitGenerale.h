#pragma once

#include <QString>
#include <QtGlobal>

// The playback sequencer's routines. They act on the single main window (Tunedeckform) and its
// player device, on the UI thread only; with no main window they do nothing.

// The mm:ss text of a millisecond count: whole minutes and the seconds left over, each with at
// least two digits, truncated (59 999 gives "00:59", 6 000 000 gives "100:00"). Negative counts
// show as "00:00".
QString FormatTime(qint64 ms);

// Shows the display name of `name` beside "Playing:" and in the application title
// ("Tunedeck [name]"), or the empty look ("Tunedeck ") for a blank name.
void ShowPlayingTitle(const QString &name);

// Puts the buttons, status text, label and title into the Stopped look.
void ShowStopped();

// ShowStopped, then stops and closes the device and forgets the file name. A pending restart
// after a seek is cancelled.
void StopPlayback();

// Takes the play list's first entry out of the list and starts it, or stops when the list is
// empty. A file that cannot be played is reported in a box and leaves the Stopped look.
void PlayNextEntry();

// Ends the current file and starts the next entry; does nothing while stopped.
void SkipEntry();

// Puts the position bar back to disabled, range 0 to 10, position 0, without seeking.
void ResetPosBar();
