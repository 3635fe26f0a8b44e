#pragma once

#include <QString>

// Every text the player shows to the user in its own message boxes and captions, used exactly as
// they stand (the spelling of "Unknow Format" is the product's own). One header, so a wording
// change happens in one place and tests compare against the same constants.
namespace tunedeck::texts {

// The application title: the task-bar text while nothing is chosen for playing. The trailing
// blank belongs to it.
inline const QString kApplicationTitle = QStringLiteral("Tunedeck ");
// The application title during start-up, before the main window has been created.
inline const QString kStartupTitle = QStringLiteral("Tunedeck");
// The main window's caption (what the painted title bar shows).
inline const QString kMainCaption = QStringLiteral("Tunedeck V1.6.0");
// Name of the help file, looked for in the program's own folder.
inline const QString kHelpFileName = QStringLiteral("Tunedeck.hlp");
// Caption of the about window.
inline const QString kAboutCaption = QStringLiteral("About Tunedeck");

// Message-box captions, one per kind.
inline const QString kWarningCaption = QStringLiteral("Warning");
inline const QString kErrorCaption = QStringLiteral("Error");
inline const QString kInformationCaption = QStringLiteral("Information");

// The line break inside message texts: carriage return and line feed.
inline const QString kLineBreak = QStringLiteral("\r\n");

// Sequencer messages. The last three are followed by kLineBreak and the entry's full name.
inline const QString kNoMidiToPlay = QStringLiteral("No midi to play in the playlist");
inline const QString kUnableToPlayFile = QStringLiteral("Unable to play the file: ");
inline const QString kUnknowFormat = QStringLiteral("Unknow Format");
inline const QString kUnableToPlayAudio = QStringLiteral("Unable to play audio file");
// When playing stops because the sound output went away; followed by kLineBreak, the name,
// kLineBreak and the reason.
inline const QString kPlayingStopped = QStringLiteral("Playing stopped: ");

// Shown once when a song cannot play for want of a soundfont: the first line, then (each after
// kLineBreak) what was looked for and kSoundfontAdvice.
inline const QString kNoSoundfont
    = QStringLiteral("No General MIDI soundfont was found, so MIDI songs cannot be played.");
inline const QString kSoundfontAdvice
    = QStringLiteral("Install one (on Debian: fluid-soundfont-gm or timgm6mb-soundfont), or name "
                     "a soundfont file in TUNEDECK_SOUNDFONT.");

// Status panel 1.
inline const QString kStatusStopped = QStringLiteral("Stopped");
inline const QString kStatusPlaying = QStringLiteral("Playing");
inline const QString kStatusPaused = QStringLiteral("Paused");
// Status panel 1 after playing stopped because no sound output is left.
inline const QString kStatusNoSound = QStringLiteral("No sound");
// Status panels 3 and 5 with nothing loaded.
inline const QString kZeroTime = QStringLiteral("00:00");

// The browser's unreadable-drive box (error kind, "&Abort" and "&Retry").
inline const QString kDriveNotReady = QStringLiteral("Drive not ready");

} // namespace tunedeck::texts
