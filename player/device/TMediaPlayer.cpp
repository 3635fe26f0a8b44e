#include "TMediaPlayer.h"

#include "FileNames.h"

#include "tunedeck/Device.h"

#include <QMetaObject>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace {

// The message of the operations that need an open file.
const char kNoDeviceOpen[] = "No MCI device open";

TMediaPlayer::ResultCode resultCodeOf(tunedeck::Error::Code code)
{
    using Code = tunedeck::Error::Code;
    switch (code) {
    case Code::FileNotFound:
        return TMediaPlayer::rcFileNotFound;
    case Code::Io:
        return TMediaPlayer::rcUnreadable;
    case Code::UnknownFormat:
        return TMediaPlayer::rcUnknownFormat;
    case Code::NotMidi:
        return TMediaPlayer::rcNotMidi;
    case Code::Malformed:
        return TMediaPlayer::rcCorrupt;
    case Code::Truncated:
        return TMediaPlayer::rcTruncated;
    case Code::NotWave:
        return TMediaPlayer::rcNotWave;
    case Code::WaveRate:
        return TMediaPlayer::rcWaveRate;
    case Code::NoSoundfont:
        return TMediaPlayer::rcNoSoundfont;
    case Code::NoOutput:
        return TMediaPlayer::rcNoOutput;
    case Code::OutputLost:
        return TMediaPlayer::rcOutputLost;
    case Code::Synth:
        return TMediaPlayer::rcSynthFailed;
    case Code::InvalidArgument:
        return TMediaPlayer::rcOutOfRange;
    }
    return TMediaPlayer::rcCorrupt;
}

// The engine with its audio libraries is a module loaded the first time a device is needed, so
// the program's start does not wait for FluidSynth and the libraries it brings. It is looked for
// where it is installed beside the program, else beside the program itself (the build tree).
// Loaded once and never unloaded. Fails with the loader's message.
tunedeck::Result<tunedeck::MakeDevice> soundModule()
{
    static tunedeck::MakeDevice s_make = nullptr;
    static std::string s_failure;
    if (s_make)
        return s_make;
    if (!s_failure.empty())
        return tunedeck::Error { tunedeck::Error::Code::Synth, s_failure };
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    // Never a name relative to the working folder, whatever is in it.
    if (!program.is_absolute()) {
        s_failure = "the program's own folder cannot be known (/proc/self/exe)";
        return tunedeck::Error { tunedeck::Error::Code::Synth, s_failure };
    }
    const std::filesystem::path dir = program.parent_path();
    const char kModule[] = "tunedeck-sound.so";
    for (const std::filesystem::path &candidate :
        { dir / TUNEDECK_SOUND_MODULE_DIR / kModule, dir / kModule }) {
        if (!std::filesystem::exists(candidate, ec))
            continue;
        void *handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            s_failure = dlerror();
            return tunedeck::Error { tunedeck::Error::Code::Synth, s_failure };
        }
        s_make = reinterpret_cast<tunedeck::MakeDevice>(dlsym(handle, tunedeck::kMakeDeviceSymbol));
        if (s_make)
            return s_make;
        s_failure = candidate.string() + " has no " + tunedeck::kMakeDeviceSymbol;
        return tunedeck::Error { tunedeck::Error::Code::Synth, s_failure };
    }
    s_failure = std::string("the sound module ") + kModule + " is not installed beside "
        + program.string();
    return tunedeck::Error { tunedeck::Error::Code::Synth, s_failure };
}

} // namespace

EMCIDeviceError::EMCIDeviceError(const QString &message)
    : std::runtime_error(message.toStdString())
{ }

struct TMediaPlayer::Private {
    // Made by the first Prepare or Open; the listener's settings wait here until then.
    std::unique_ptr<tunedeck::Device> device;
    double volume = 1.0; // as set: 0.3 reads back as 0.3, not as the float nearest it
    int tempoPercent = 100;
    bool repeat = false;
    QString fileName;
    bool autoRewind = true;
    bool isOpen = false;
    quint16 deviceId = 0;
    quint32 lastError = rcSuccess;
    // The engine's explanation of the last failure (ErrorDetail) and its code's text.
    QString errorDetail;
    QString errorReason;
    TMPNotifyValues notifyResult = TMPNotifyValues::nvSuccessful;
    // The notice asked for by the last Play with a notice, until it is reported.
    bool noticePending = false;
    std::uint32_t pendingRunId = 0;
    // Identifiers of open files, shared by all players of the process; never 0.
    static inline quint16 s_lastDeviceId = 0;
};

TMediaPlayer::TMediaPlayer(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    setObjectName(QStringLiteral("LettoreMidi"));
}

tunedeck::Result<tunedeck::Device *> TMediaPlayer::device()
{
    if (d->device)
        return d->device.get();
    const auto make = soundModule();
    if (!make)
        return make.error();
    d->device.reset(make.value()(
        [this](tunedeck::Notice notice) {
            // On the engine's notice thread: hop to this object's thread before touching
            // anything. The device joins that thread in its destructor, before QObject's
            // destructor runs, and events still queued for this object are dropped when it is
            // destroyed.
            const bool failed = notice.kind == tunedeck::Notice::Kind::Failed;
            const quint32 runId = notice.runId;
            QMetaObject::invokeMethod(this, "engineNotice", Qt::QueuedConnection,
                Q_ARG(bool, failed), Q_ARG(quint32, runId));
        },
        tunedeck::OutputMode::Auto));
    if (!d->device)
        return tunedeck::Error { tunedeck::Error::Code::Synth, "out of memory" };
    d->device->setVolume(static_cast<float>(d->volume));
    d->device->setTempoPercent(d->tempoPercent);
    d->device->setLoopCount(d->repeat ? tunedeck::Device::kLoopForever : 1);
    return d->device.get();
}

TMediaPlayer::~TMediaPlayer()
{
    // Closing here sends no notice: nobody is left to receive it.
    d->noticePending = false;
    d->device.reset();
}

QString TMediaPlayer::FileName() const
{
    return d->fileName;
}
void TMediaPlayer::setFileName(const QString &name)
{
    d->fileName = name;
}
TMediaPlayer::TMPDeviceTypes TMediaPlayer::DeviceType() const
{
    return TMPDeviceTypes::dtAutoSelect;
}
bool TMediaPlayer::AutoRewind() const
{
    return d->autoRewind;
}
void TMediaPlayer::setAutoRewind(bool on)
{
    d->autoRewind = on;
}
bool TMediaPlayer::AutoOpen() const
{
    return false;
}
bool TMediaPlayer::Shareable() const
{
    return false;
}
bool TMediaPlayer::AutoEnable() const
{
    return false;
}
bool TMediaPlayer::IsOpen() const
{
    return d->isOpen;
}
const tunedeck::SongText &TMediaPlayer::Text() const
{
    static const tunedeck::SongText kNone;
    return d->isOpen && d->device ? d->device->text() : kNone;
}
quint16 TMediaPlayer::DeviceId() const
{
    return d->deviceId;
}
quint32 TMediaPlayer::LastError() const
{
    return d->lastError;
}
QString TMediaPlayer::ErrorDetail() const
{
    return d->errorDetail;
}
QString TMediaPlayer::ErrorReason() const
{
    return d->errorReason;
}

void TMediaPlayer::rememberFailure(const tunedeck::Error &error)
{
    d->errorDetail = QString::fromStdString(error.detail);
    d->errorReason = QString::fromUtf8(tunedeck::errorText(error.code));
    if (!d->errorDetail.isEmpty())
        d->errorReason += QStringLiteral(": ") + d->errorDetail;
}
TMediaPlayer::TMPNotifyValues TMediaPlayer::NotifyResult() const
{
    return d->notifyResult;
}

void TMediaPlayer::requireOpen() const
{
    if (!d->isOpen)
        throw EMCIDeviceError(QString::fromLatin1(kNoDeviceOpen));
}

void TMediaPlayer::postNotice(TMPNotifyValues result)
{
    // Queued even when raised by an operation, so the notice arrives after it has returned and
    // in order with the engine's notices.
    QMetaObject::invokeMethod(
        this,
        [this, result] {
            d->notifyResult = result;
            Q_EMIT OnNotify();
        },
        Qt::QueuedConnection);
}

void TMediaPlayer::endPendingNotice(TMPNotifyValues result)
{
    if (!d->noticePending)
        return;
    d->noticePending = false;
    postNotice(result);
}

void TMediaPlayer::engineNotice(bool failed, quint32 runId)
{
    // A notice of a run that has since been stopped, sought, closed or replaced is stale: its
    // own notice has already been ended as Aborted or Superseded.
    if (!d->noticePending || !d->isOpen || runId != d->pendingRunId)
        return;
    d->noticePending = false;
    if (failed) {
        // Kept for the sequencer, which says why playing stopped when the output went away.
        const tunedeck::Error failure = d->device->lastFailure();
        d->lastError = resultCodeOf(failure.code);
        rememberFailure(failure);
    }
    d->notifyResult = failed ? TMPNotifyValues::nvFailure : TMPNotifyValues::nvSuccessful;
    Q_EMIT OnNotify();
}

void TMediaPlayer::Prepare()
{
    // A module that cannot be loaded is reported by the first Open.
    if (const auto made = device())
        made.value()->prepare();
}

void TMediaPlayer::Prefetch(const QString &name)
{
    if (d->device)
        d->device->prefetch(std::filesystem::path(tunedeck::fileNameToBytes(name).toStdString()));
}

void TMediaPlayer::Open()
{
    // The engine closes the open file itself, keeping what was read ahead for this one.
    if (d->deviceId != 0) {
        endPendingNotice(TMPNotifyValues::nvAborted);
        d->isOpen = false;
        d->deviceId = 0;
    }
    // The browser keeps names that are not UTF-8 as escaped bytes; these give the bytes back.
    const QByteArray encoded = tunedeck::fileNameToBytes(d->fileName);
    const auto made = device();
    const auto result = made ? made.value()->open(std::filesystem::path(encoded.toStdString()))
                             : tunedeck::Result<void>(made.error());
    if (!result) {
        d->lastError = resultCodeOf(result.error().code);
        rememberFailure(result.error());
        throw EMCIDeviceError(ErrorText(d->lastError));
    }
    d->lastError = rcSuccess;
    d->errorDetail.clear();
    d->errorReason.clear();
    d->isOpen = true;
    if (++Private::s_lastDeviceId == 0)
        ++Private::s_lastDeviceId;
    d->deviceId = Private::s_lastDeviceId;
}

void TMediaPlayer::Close()
{
    if (d->deviceId == 0)
        return;
    endPendingNotice(TMPNotifyValues::nvAborted);
    d->device->close();
    d->lastError = rcSuccess;
    d->isOpen = false;
    d->deviceId = 0;
}

void TMediaPlayer::SetMillisecondFormat()
{
    // Positions and lengths are always milliseconds here; the command only needs a device.
    d->lastError = d->isOpen ? rcSuccess : rcNotOpen;
}

quint32 TMediaPlayer::GetLength()
{
    requireOpen();
    d->lastError = rcSuccess;
    return d->device->lengthMs();
}

quint32 TMediaPlayer::GetPosition()
{
    if (!d->isOpen) {
        d->lastError = rcNotOpen;
        return 0;
    }
    d->lastError = rcSuccess;
    return d->device->positionMs();
}

void TMediaPlayer::Play(Notice notice)
{
    requireOpen();
    // A large song's length is 0 until it has been read: it is at its start, not its end.
    const quint32 lengthMs = d->device->lengthMs();
    if (d->autoRewind && lengthMs != 0 && d->device->positionMs() == lengthMs) {
        // Rewind: a seek to the start, which ends a pending notice like any seek.
        endPendingNotice(TMPNotifyValues::nvAborted);
        static_cast<void>(d->device->seekMs(0));
    }
    if (notice == Notice::Requested) {
        endPendingNotice(TMPNotifyValues::nvSuperseded);
        d->noticePending = true;
        d->pendingRunId = d->device->runId();
    }
    d->device->play();
    d->lastError = rcSuccess;
}

void TMediaPlayer::Stop()
{
    requireOpen();
    endPendingNotice(TMPNotifyValues::nvAborted);
    d->device->stop();
    d->lastError = rcSuccess;
}

void TMediaPlayer::Pause()
{
    // The result is dropped, so pausing with no open file quietly does nothing.
    if (d->isOpen)
        d->device->pause();
}

void TMediaPlayer::Seek(quint32 positionMs)
{
    requireOpen();
    if (positionMs > d->device->lengthMs()) {
        // Refused before anything changes: the file plays on and its notice stays pending.
        d->lastError = rcOutOfRange;
        return;
    }
    endPendingNotice(TMPNotifyValues::nvAborted);
    const auto result = d->device->seekMs(positionMs);
    d->lastError = result ? rcSuccess : resultCodeOf(result.error().code);
}

QString TMediaPlayer::ErrorText(quint32 code) const
{
    using Code = tunedeck::Error::Code;
    switch (code) {
    case rcSuccess:
        return QStringLiteral("The command was carried out");
    case rcFileNotFound:
        return QString::fromUtf8(tunedeck::errorText(Code::FileNotFound));
    case rcUnreadable:
        return QString::fromUtf8(tunedeck::errorText(Code::Io));
    case rcUnknownFormat:
        return QString::fromUtf8(tunedeck::errorText(Code::UnknownFormat));
    case rcNotMidi:
        return QString::fromUtf8(tunedeck::errorText(Code::NotMidi));
    case rcCorrupt:
        return QString::fromUtf8(tunedeck::errorText(Code::Malformed));
    case rcTruncated:
        return QString::fromUtf8(tunedeck::errorText(Code::Truncated));
    case rcNotWave:
        return QString::fromUtf8(tunedeck::errorText(Code::NotWave));
    case rcWaveRate:
        return QString::fromUtf8(tunedeck::errorText(Code::WaveRate));
    case rcNoSoundfont:
        return QString::fromUtf8(tunedeck::errorText(Code::NoSoundfont));
    case rcNoOutput:
        return QString::fromUtf8(tunedeck::errorText(Code::NoOutput));
    case rcOutputLost:
        return QString::fromUtf8(tunedeck::errorText(Code::OutputLost));
    case rcSynthFailed:
        return QString::fromUtf8(tunedeck::errorText(Code::Synth));
    case rcOutOfRange:
        return QStringLiteral("The position lies outside the file");
    case rcNotOpen:
        return QStringLiteral("No file is open on the device");
    default:
        return QStringLiteral("Unknown error code");
    }
}

void TMediaPlayer::SetVolume(double volume)
{
    if (!std::isfinite(volume))
        return;
    d->volume = std::clamp(volume, 0.0, 1.0);
    if (d->device)
        d->device->setVolume(static_cast<float>(d->volume));
}

double TMediaPlayer::Volume() const
{
    return d->volume;
}

void TMediaPlayer::SetRate(double rate)
{
    d->tempoPercent = int(std::lround(std::clamp(rate, 0.25, 4.0) * 100));
    if (d->device)
        d->device->setTempoPercent(d->tempoPercent);
}

double TMediaPlayer::Rate() const
{
    return d->tempoPercent / 100.0;
}

void TMediaPlayer::SetRepeat(bool repeat)
{
    d->repeat = repeat;
    if (d->device)
        d->device->setLoopCount(repeat ? tunedeck::Device::kLoopForever : 1);
}

bool TMediaPlayer::Repeat() const
{
    return d->repeat;
}
