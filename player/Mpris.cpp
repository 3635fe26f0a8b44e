#include "Mpris.h"

#include "DesktopFiles.h"
#include "FileNames.h"
#include "TMediaPlayer.h"
#include "Trackbar95.h"
#include "TunedeckFormUnit.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QLoggingCategory>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <exception>

namespace tunedeck::mpris {

namespace {

// How long a second start waits for the running program's answer before it runs on its own.
constexpr int kHandOverTimeoutMs = 5000;
// Commands from the bus that failed after their caller was answered (off unless enabled with
// QT_LOGGING_RULES="tunedeck.mpris.debug=true").
Q_LOGGING_CATEGORY(lcMpris, "tunedeck.mpris", QtWarningMsg)

// MPRIS' own "no track" object path.
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<QList<QByteArray>>();
        return true;
    }();
    Q_UNUSED(registered);
}

bool isStopped(const PlayerSnapshot &state)
{
    return state.status == PlayerSnapshot::Status::Stopped;
}

void emitPropertiesChanged(const QString &interface, const QVariantMap &changed)
{
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << interface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

} // namespace

bool handOverFiles(const QList<QByteArray> &names, const QByteArray &workingFolder)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()
        || !bus.interface()->isServiceRegistered(kServiceName).value())
        return false;
    registerTypes();
    QDBusMessage call = QDBusMessage::createMethodCall(
        kServiceName, kObjectPath, kInstanceInterface, QStringLiteral("AddFiles"));
    call << QVariant::fromValue(names) << workingFolder;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kHandOverTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

Service::Service(TTunedeckform *form)
    : QObject(form)
    , m_form(form)
    , m_state(form->findChild<PlayerState *>(QStringLiteral("PlayerState")))
{
    setObjectName(QStringLiteral("MprisService"));
    if (!m_state)
        m_state = new PlayerState(form);
    registerTypes();
    new RootAdaptor(this);
    auto *player = new PlayerAdaptor(this);
    new InstanceAdaptor(this);
    connect(this, &Service::seeked, player, &PlayerAdaptor::Seeked);
    connect(m_state, &PlayerState::changed, this, &Service::stateChanged);
    // A seek made with the bar in the window is announced like one made over the bus.
    connect(m_form->PosBar, &QSlider::valueChanged, this,
        [this] { QMetaObject::invokeMethod(this, &Service::checkSeeked, Qt::QueuedConnection); });
}

Service::~Service()
{
    if (m_registered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(kObjectPath);
        bus.unregisterService(kServiceName);
    }
}

template<typename Command> void Service::fromBus(Command command)
{
    if (calledFromDBus()) {
        setDelayedReply(true);
        connection().send(message().createReply());
    }
    if (QApplication::activeModalWidget())
        return;
    try {
        command();
    } catch (const std::exception &error) {
        qCWarning(lcMpris, "command failed: %s", error.what());
    } catch (...) {
        qCWarning(lcMpris, "command failed");
    }
}

bool Service::registerOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (!bus.registerService(kServiceName))
        return false;
    if (!bus.registerObject(kObjectPath, this)) {
        bus.unregisterService(kServiceName);
        return false;
    }
    m_registered = true;
    return true;
}

QString Service::playbackStatus(const PlayerSnapshot &state)
{
    return PlayerState::statusName(state.status);
}

QDBusObjectPath Service::trackId(const PlayerSnapshot &state)
{
    if (isStopped(state) || state.fileName.isEmpty())
        return QDBusObjectPath(kNoTrack);
    return QDBusObjectPath(QStringLiteral("/org/tunedeck/track/%1").arg(state.track));
}

QVariantMap Service::metadata(const PlayerSnapshot &state)
{
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId(state)));
    if (isStopped(state) || state.fileName.isEmpty())
        return map;
    map.insert(QStringLiteral("mpris:length"), qlonglong(state.lengthMs * 1000));
    map.insert(
        QStringLiteral("xesam:title"), state.fileName.mid(state.fileName.lastIndexOf(u'/') + 1));
    map.insert(QStringLiteral("xesam:url"),
        QString::fromLatin1("file://" + fileNameToBytes(state.fileName).toPercentEncoding("/")));
    return map;
}

qint64 Service::positionUs() const
{
    TMediaPlayer *device = m_form->LettoreMidi;
    if (isStopped(m_state->current()) || !device->IsOpen())
        return 0;
    return qint64(device->GetPosition()) * 1000;
}

bool Service::canPlay(const PlayerSnapshot &state)
{
    return !isStopped(state) || !state.listEmpty;
}

void Service::play()
{
    const PlayerSnapshot state = PlayerState::read(m_form);
    if (state.status == PlayerSnapshot::Status::Paused) {
        m_form->ResButtClick();
    } else if (isStopped(state)) {
        // The button's warning box for an empty list runs modally; the caller has its answer.
        m_form->PlayButtClick();
    }
    m_state->refresh();
}

void Service::pause()
{
    if (PlayerState::read(m_form).status == PlayerSnapshot::Status::Playing)
        m_form->PauseButtClick();
    m_state->refresh();
}

void Service::playPause()
{
    if (PlayerState::read(m_form).status == PlayerSnapshot::Status::Playing)
        pause();
    else
        play();
}

void Service::stop()
{
    if (!isStopped(PlayerState::read(m_form)))
        m_form->StopButtClick();
    m_state->refresh();
}

void Service::next()
{
    m_form->SkipButtClick();
    m_state->refresh();
}

void Service::moveBar(qint64 positionUs)
{
    // The bus asked for this place: the bar's rule against small moves is the bar's own.
    const auto positionMs
        = static_cast<quint32>(std::clamp<qint64>(positionUs / 1000, 0, UINT32_MAX));
    m_form->SeekTo(positionMs);
    m_form->TimerPlayTimer();
    const qint64 reachedMs = m_form->LettoreMidi->GetPosition();
    m_lastSeekedMs = reachedMs;
    Q_EMIT seeked(reachedMs * 1000);
}

void Service::checkSeeked()
{
    // A seek that took place leaves the device exactly at the bar's second, with the restart
    // pending.
    TMediaPlayer *device = m_form->LettoreMidi;
    if (!device->IsOpen() || !m_form->ResTimer->isActive())
        return;
    const qint64 positionMs = device->GetPosition();
    if (positionMs != qint64(m_form->PosBar->value()) * 1000 || positionMs == m_lastSeekedMs)
        return;
    m_lastSeekedMs = positionMs;
    Q_EMIT seeked(positionMs * 1000);
}

void Service::seek(qint64 offsetUs)
{
    const PlayerSnapshot state = PlayerState::read(m_form);
    if (isStopped(state) || !m_form->LettoreMidi->IsOpen() || state.lengthMs <= 0)
        return;
    // Past the end skips to the next entry; the sum is not formed, so INT64_MAX cannot wrap.
    const qint64 lengthUs = state.lengthMs * 1000;
    const qint64 fromUs = positionUs();
    if (offsetUs > lengthUs - fromUs) {
        next();
        return;
    }
    moveBar(std::max<qint64>(0, fromUs + offsetUs));
}

void Service::setPosition(const QDBusObjectPath &track, qint64 positionUs)
{
    const PlayerSnapshot state = PlayerState::read(m_form);
    if (isStopped(state) || track != trackId(state) || positionUs < 0
        || positionUs > state.lengthMs * 1000)
        return;
    moveBar(positionUs);
}

QByteArray Service::localFileName(const QString &uri)
{
    const QUrl url(uri);
    if (!url.isLocalFile())
        return {};
    // The path's bytes as they were escaped, so a name that is not UTF-8 survives.
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

void Service::openUri(const QString &uri)
{
    const QByteArray name = localFileName(uri);
    if (!name.isEmpty())
        addFiles({ name }, QByteArray());
}

bool Service::refusedNames(const QList<QByteArray> &names)
{
    const std::optional<QString> refused = desktop::refuseNames(names);
    if (refused && calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, *refused);
    return refused.has_value();
}

void Service::setVolume(double volume)
{
    if (!std::isfinite(volume))
        return;
    m_form->LettoreMidi->SetVolume(std::clamp(volume, 0.0, 1.0));
    m_state->refresh();
}

void Service::addFiles(const QList<QByteArray> &names, const QByteArray &workingFolder)
{
    desktop::appendFiles(m_form, names, workingFolder, true);
}

void Service::stateChanged(const PlayerSnapshot &before, const PlayerSnapshot &after)
{
    QVariantMap changed;
    if (before.status != after.status)
        changed.insert(QStringLiteral("PlaybackStatus"), playbackStatus(after));
    if (before.track != after.track || before.fileName != after.fileName
        || before.lengthMs != after.lengthMs || isStopped(before) != isStopped(after))
        changed.insert(QStringLiteral("Metadata"), metadata(after));
    if (before.volume != after.volume)
        changed.insert(QStringLiteral("Volume"), after.volume);
    if (canPlay(before) != canPlay(after))
        changed.insert(QStringLiteral("CanPlay"), canPlay(after));
    if (isStopped(before) != isStopped(after)) {
        changed.insert(QStringLiteral("CanPause"), !isStopped(after));
        changed.insert(QStringLiteral("CanGoNext"), !isStopped(after));
        changed.insert(QStringLiteral("CanSeek"), !isStopped(after));
    }
    if (m_registered && !changed.isEmpty())
        emitPropertiesChanged(kPlayerInterface, changed);
}

RootAdaptor::RootAdaptor(Service *service)
    : QDBusAbstractAdaptor(service)
    , m_service(service)
{ }

QStringList RootAdaptor::supportedMimeTypes() const
{
    return { QStringLiteral("audio/midi"), QStringLiteral("audio/x-midi"),
        QStringLiteral("audio/mid"), QStringLiteral("audio/x-wav"), QStringLiteral("audio/wav"),
        QStringLiteral("audio/vnd.wave"), QStringLiteral("application/x-tunedeck-playlist") };
}

void RootAdaptor::Raise()
{
    // Never opens a box, so it is not held back while one is up.
    TTunedeckform *form = m_service->form();
    form->showNormal();
    form->raise();
    form->activateWindow();
}

void RootAdaptor::Quit()
{
    m_service->fromBus([this] { m_service->form()->Exit1Click(); });
}

PlayerAdaptor::PlayerAdaptor(Service *service)
    : QDBusAbstractAdaptor(service)
    , m_service(service)
{ }

QString PlayerAdaptor::playbackStatus() const
{
    return Service::playbackStatus(PlayerState::read(m_service->form()));
}

QVariantMap PlayerAdaptor::metadata() const
{
    return Service::metadata(PlayerState::read(m_service->form()));
}

double PlayerAdaptor::volume() const
{
    return m_service->form()->LettoreMidi->Volume();
}

void PlayerAdaptor::setVolume(double volume)
{
    m_service->setVolume(volume);
}

qlonglong PlayerAdaptor::position() const
{
    return m_service->positionUs();
}

bool PlayerAdaptor::canGoNext() const
{
    return !isStopped(PlayerState::read(m_service->form()));
}

bool PlayerAdaptor::canPlay() const
{
    return Service::canPlay(PlayerState::read(m_service->form()));
}

bool PlayerAdaptor::canPause() const
{
    return !isStopped(PlayerState::read(m_service->form()));
}

bool PlayerAdaptor::canSeek() const
{
    return !isStopped(PlayerState::read(m_service->form()));
}

void PlayerAdaptor::Play()
{
    m_service->fromBus([&] { m_service->play(); });
}
void PlayerAdaptor::Pause()
{
    m_service->fromBus([&] { m_service->pause(); });
}
void PlayerAdaptor::PlayPause()
{
    m_service->fromBus([&] { m_service->playPause(); });
}
void PlayerAdaptor::Stop()
{
    m_service->fromBus([&] { m_service->stop(); });
}
void PlayerAdaptor::Next()
{
    m_service->fromBus([&] { m_service->next(); });
}
void PlayerAdaptor::Previous()
{ }
void PlayerAdaptor::Seek(qlonglong offset)
{
    m_service->fromBus([&] { m_service->seek(offset); });
}
void PlayerAdaptor::SetPosition(const QDBusObjectPath &trackId, qlonglong position)
{
    m_service->fromBus([&] { m_service->setPosition(trackId, position); });
}
void PlayerAdaptor::OpenUri(const QString &uri)
{
    if (m_service->refusedNames({ Service::localFileName(uri) }))
        return;
    m_service->fromBus([&] { m_service->openUri(uri); });
}

InstanceAdaptor::InstanceAdaptor(Service *service)
    : QDBusAbstractAdaptor(service)
    , m_service(service)
{ }

void InstanceAdaptor::AddFiles(const QList<QByteArray> &names, const QByteArray &workingFolder)
{
    if (m_service->refusedNames(names) || m_service->refusedNames({ workingFolder }))
        return;
    m_service->fromBus([&] { m_service->addFiles(names, workingFolder); });
}

} // namespace tunedeck::mpris
