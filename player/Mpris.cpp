#include "Mpris.h"

#include "DesktopFiles.h"
#include "FileNames.h"
#include "TMediaPlayer.h"
#include "Trackbar95.h"
#include "TunedeckFormUnit.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace tunedeck::mpris {

namespace {

// How long a second start waits for the running program's answer before it runs on its own.
constexpr int kHandOverTimeoutMs = 5000;
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
    connect(m_form->PosBar, &QSlider::valueChanged, this, &Service::checkRepeated);
}

Service::~Service()
{
    if (m_registered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(kObjectPath);
        bus.unregisterService(kServiceName);
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
    map.insert(QStringLiteral("mpris:length"), qlonglong(state.lengthMs) * 1000);
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
        if (state.listEmpty) {
            // The button's warning box runs modally; the caller is answered first.
            QTimer::singleShot(0, m_form, [form = m_form] { form->PlayButtClick(); });
            return;
        }
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
    // The bar shows the device's position first, as the display timer would, so its handler
    // compares the request with where the song is.
    m_form->TimerPlayTimer();
    m_form->PosBar->setValue(int(std::clamp<qint64>(positionUs / 1000000, 0, INT_MAX)));
    checkSeeked();
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
    const qint64 target = std::max<qint64>(0, positionUs() + offsetUs);
    if (target > qint64(state.lengthMs) * 1000) {
        next();
        return;
    }
    moveBar(target);
}

void Service::setPosition(const QDBusObjectPath &track, qint64 positionUs)
{
    const PlayerSnapshot state = PlayerState::read(m_form);
    if (isStopped(state) || track != trackId(state) || positionUs < 0
        || positionUs > qint64(state.lengthMs) * 1000)
        return;
    moveBar(positionUs);
}

void Service::openUri(const QString &uri)
{
    const QUrl url(uri);
    if (!url.isLocalFile())
        return;
    addFiles({ fileNameToBytes(url.toLocalFile()) }, QByteArray());
}

void Service::setVolume(double volume)
{
    m_form->LettoreMidi->SetVolume(std::clamp(volume, 0.0, 1.0));
    m_state->refresh();
}

void Service::setRate(double rate)
{
    if (!std::isfinite(rate))
        return;
    if (rate <= 0) {
        pause();
        return;
    }
    TMediaPlayer *device = m_form->LettoreMidi;
    const double before = device->Rate();
    device->SetRate(rate);
    if (m_registered && device->Rate() != before)
        emitPropertiesChanged(kPlayerInterface, { { QStringLiteral("Rate"), device->Rate() } });
}

QString Service::loopStatus(bool repeat)
{
    return repeat ? QStringLiteral("Track") : QStringLiteral("None");
}

void Service::setLoopStatus(const QString &status)
{
    if (status != u"None" && status != u"Track" && status != u"Playlist")
        return;
    TMediaPlayer *device = m_form->LettoreMidi;
    const bool before = device->Repeat();
    device->SetRepeat(status == u"Track");
    if (m_registered && device->Repeat() != before) {
        emitPropertiesChanged(
            kPlayerInterface, { { QStringLiteral("LoopStatus"), loopStatus(device->Repeat()) } });
    }
}

void Service::checkRepeated()
{
    TMediaPlayer *device = m_form->LettoreMidi;
    const qint64 shownMs = qint64(m_form->PosBar->value()) * 1000;
    const bool jumped = device->IsOpen() && device->Repeat() && !m_form->ResTimer->isActive()
        && shownMs < m_lastShownMs
        && PlayerState::read(m_form).status == PlayerSnapshot::Status::Playing;
    m_lastShownMs = shownMs;
    if (jumped)
        Q_EMIT seeked(qint64(device->GetPosition()) * 1000);
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
    TTunedeckform *form = m_service->form();
    form->showNormal();
    form->raise();
    form->activateWindow();
}

void RootAdaptor::Quit()
{
    m_service->form()->Exit1Click();
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

double PlayerAdaptor::rate() const
{
    return m_service->form()->LettoreMidi->Rate();
}

QString PlayerAdaptor::loopStatus() const
{
    return Service::loopStatus(m_service->form()->LettoreMidi->Repeat());
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
    m_service->play();
}
void PlayerAdaptor::Pause()
{
    m_service->pause();
}
void PlayerAdaptor::PlayPause()
{
    m_service->playPause();
}
void PlayerAdaptor::Stop()
{
    m_service->stop();
}
void PlayerAdaptor::Next()
{
    m_service->next();
}
void PlayerAdaptor::Previous()
{ }
void PlayerAdaptor::Seek(qlonglong offset)
{
    m_service->seek(offset);
}
void PlayerAdaptor::SetPosition(const QDBusObjectPath &trackId, qlonglong position)
{
    m_service->setPosition(trackId, position);
}
void PlayerAdaptor::OpenUri(const QString &uri)
{
    m_service->openUri(uri);
}

InstanceAdaptor::InstanceAdaptor(Service *service)
    : QDBusAbstractAdaptor(service)
    , m_service(service)
{ }

void InstanceAdaptor::AddFiles(const QList<QByteArray> &names, const QByteArray &workingFolder)
{
    m_service->addFiles(names, workingFolder);
}

} // namespace tunedeck::mpris
