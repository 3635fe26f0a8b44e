#pragma once

#include "tunedeck/SongText.h"

#include <QObject>
#include <QString>

#include <memory>
#include <stdexcept>

#include "tunedeck/Result.h"

namespace tunedeck {
class Device;
}

// Raised by TMediaPlayer operations that need an open file ("No MCI device open") and by a
// failed Open (message: ErrorText of the result code).
class EMCIDeviceError : public std::runtime_error {
public:
    explicit EMCIDeviceError(const QString &message);
    QString message() const { return QString::fromUtf8(what()); }
};

// The invisible media device the main window plays through (component LettoreMidi). It picks
// the back end by the file: the MIDI sequencer for songs, the wave player for wave files.
// Lives on the UI thread; every operation is called there and returns before the next begins.
// Completion notices reach the UI thread as queued events, in order, through OnNotify.
class TMediaPlayer : public QObject {
    Q_OBJECT

public:
    enum class TMPDeviceTypes { dtAutoSelect };
    enum class TMPNotifyValues { nvSuccessful, nvSuperseded, nvAborted, nvFailure };
    // Whether Play asks for a completion notice.
    enum class Notice { Requested, None };
    // Result codes stored in LastError; ErrorText gives each its text.
    enum ResultCode : quint32 {
        rcSuccess = 0,
        rcFileNotFound = 1,
        rcUnreadable = 2,
        rcUnknownFormat = 3,
        rcNotMidi = 4,
        rcCorrupt = 5,
        rcTruncated = 6,
        rcNotWave = 7,
        rcNoSoundfont = 8,
        rcNoOutput = 9,
        rcSynthFailed = 10,
        rcOutOfRange = 11,
        rcNotOpen = 12,
        rcWaveRate = 13,
        rcOutputLost = 14,
    };

    explicit TMediaPlayer(QObject *parent = nullptr);
    // Closes an open file (stopping its sound) and ends the engine's threads.
    ~TMediaPlayer() override;

    QString FileName() const;
    void setFileName(const QString &name);
    TMPDeviceTypes DeviceType() const;
    bool AutoRewind() const;
    void setAutoRewind(bool on);
    bool AutoOpen() const;
    bool Shareable() const;
    bool AutoEnable() const;
    bool IsOpen() const;
    // What the open file says about itself (title, artist, lyrics...); empty when none is open.
    const tunedeck::SongText &Text() const;
    quint16 DeviceId() const;
    quint32 LastError() const;
    // Why the last failed Open or the last Failure notice failed, as the engine explains it:
    // its sentence alone (ErrorDetail, e.g. what was looked for when no soundfont was found)
    // and with the code's text before it (ErrorReason, e.g. "No audio output can be opened:
    // SDL audio (alsa): ..."). Empty after a successful Open until the next failure.
    QString ErrorDetail() const;
    QString ErrorReason() const;
    TMPNotifyValues NotifyResult() const;

    // Loads the sound module (the engine and its audio libraries) and gets the soundfont ready
    // on a worker thread, so the first song does not wait for them. Open does it when this was
    // not called.
    void Prepare();
    // Reads ahead, on a worker thread, what the file `name` will need when it is opened next (a
    // song's samples), so it starts without waiting for them; returns at once. Kept, Close or
    // not, until that file is opened, another is opened or read ahead, or an empty name is given;
    // nothing is reported.
    void Prefetch(const QString &name);
    // Closes an open file first. Throws EMCIDeviceError(ErrorText(code)) when the file cannot be
    // opened; the device is then closed.
    void Open();
    // Does nothing when no file is open.
    void Close();
    void SetMillisecondFormat();
    // Length of the open file in ms. Throws "No MCI device open" when none is open.
    quint32 GetLength();
    // Position in ms; 0 when no file is open.
    quint32 GetPosition();
    // Plays from the current position to the end; returns at once. Throws when no file is open.
    void Play(Notice notice = Notice::Requested);
    void Stop();
    void Pause();
    void Seek(quint32 positionMs);
    // Output volume 0..1 (clamped), for this and every later file; 1 at the start. Takes
    // effect within one audio block.
    void SetVolume(double volume);
    double Volume() const;
    // Speed 0.25..4 (clamped; 1 at the start), for this and every later file: a song's tempo,
    // a wave file's speed and pitch. Positions and lengths stay in the file's own time.
    void SetRate(double rate);
    double Rate() const;
    // Whether each file, this and every later one, plays over and over until stopped or
    // skipped (a song that marks a loop repeats that part); off at the start.
    void SetRepeat(bool repeat);
    bool Repeat() const;
    // Text for a result code; "Unknown error code" for codes without one.
    QString ErrorText(quint32 code) const;

Q_SIGNALS:
    // A completion notice arrived; NotifyResult() tells its kind.
    void OnNotify();

private:
    // UI thread: a notice of the engine for run `runId` arrived.
    Q_INVOKABLE void engineNotice(bool failed, quint32 runId);
    // UI thread: ends a pending notice (if any) with `result`, delivered as a queued event.
    void endPendingNotice(TMPNotifyValues result);
    // UI thread: posts a notice of `result` to be raised after the current operation returns.
    void postNotice(TMPNotifyValues result);
    void requireOpen() const;
    // The engine's device, made (and the sound module loaded) the first time it is needed;
    // fails with Synth when the module cannot be loaded.
    tunedeck::Result<tunedeck::Device *> device();
    void rememberFailure(const tunedeck::Error &error);

    // Implementation detail of the owner of this class; see TMediaPlayer.cpp.
    struct Private;
    std::unique_ptr<Private> d;
};
