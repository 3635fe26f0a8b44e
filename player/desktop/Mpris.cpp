#include "Mpris.h"

#include "DesktopFiles.h"
#include "FileNames.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <exception>

namespace tunedeck::mpris {

namespace {

// How long a second start waits for the running program's answer before it runs on its own, and
// how often it asks again while that program is still starting.
constexpr int kHandOverTimeoutMs = 5000;
constexpr int kAskAgainMs = 25;
// Commands from the bus that failed after their caller was answered; a warning each.
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

bool isStopped(const Announced &state)
{
    return state.state == Player::State::Stopped;
}

void emitPropertiesChanged(const QString &interface, const QVariantMap &changed)
{
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << interface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

} // namespace

bool claimName()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.registerService(kServiceName);
}

bool handOverFiles(const QList<QByteArray> &names, const QByteArray &workingFolder)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    registerTypes();
    QDBusMessage call = QDBusMessage::createMethodCall(
        kServiceName, kObjectPath, kInstanceInterface, QStringLiteral("AddFiles"));
    call << QVariant::fromValue(names) << workingFolder;
    // A program that has claimed the name but is still making its window answers that it has no
    // such object yet: the files wait for it, asking again, until the time is up.
    const QDeadlineTimer deadline(kHandOverTimeoutMs);
    for (;;) {
        if (!bus.interface()->isServiceRegistered(kServiceName).value())
            return false;
        const QDBusMessage reply
            = bus.call(call, QDBus::Block, int(std::max<qint64>(deadline.remainingTime(), 1)));
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
        const QString error = reply.errorName();
        const bool starting = error == QDBusError::errorString(QDBusError::UnknownObject)
            || error == QDBusError::errorString(QDBusError::UnknownInterface)
            || error == QDBusError::errorString(QDBusError::UnknownMethod);
        if (!starting || deadline.hasExpired())
            return false;
        QThread::msleep(kAskAgainMs);
    }
}

bool Announced::playable(const Player &player)
{
    return player.state() != Player::State::Stopped || player.listSize() > 0;
}

bool Announced::nextable(const Player &player)
{
    return player.state() != Player::State::Stopped && player.listSize() > 0;
}

Announced Announced::read(const Player &player)
{
    Announced state;
    state.state = player.state();
    state.entry = player.entry();
    state.entryNumber = player.entryNumber();
    state.lengthMs = player.lengthMs();
    state.volume = player.volume();
    state.canPlay = playable(player);
    state.canGoNext = nextable(player);
    state.rate = player.rate();
    state.loopTrack = player.loopTrack();
    const SongText text = player.text();
    state.title = QString::fromStdString(text.title);
    state.artist = QString::fromStdString(text.artist);
    state.copyright = QString::fromStdString(text.copyright);
    state.lyrics = QString::fromStdString(lyricsText(text));
    return state;
}

Service::Service(Player *player)
    : QObject(player)
    , m_player(player)
    , m_announced(Announced::read(*player))
{
    setObjectName(QStringLiteral("MprisService"));
    registerTypes();
    new RootAdaptor(this);
    auto *adaptor = new PlayerAdaptor(this);
    new InstanceAdaptor(this);
    new PropertiesAdaptor(this);
    connect(player, &Player::seeked, this,
        [this](qint64 positionMs) { Q_EMIT seeked(positionMs * 1000); });
    connect(this, &Service::seeked, adaptor, &PlayerAdaptor::Seeked);
    for (auto change : { &Player::stateChanged, &Player::entryChanged, &Player::listChanged,
             &Player::volumeChanged, &Player::rateOrLoopChanged })
        connect(player, change, this, &Service::announceSoon);
}

Service::~Service()
{
    if (m_registered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(kObjectPath);
        bus.unregisterService(kServiceName);
    }
}

template<typename Command> void Service::fromBus(Command command, WhileABoxIsUp whileABoxIsUp)
{
    if (calledFromDBus()) {
        setDelayedReply(true);
        connection().send(message().createReply());
    }
    if (whileABoxIsUp == WhileABoxIsUp::Ignore && QApplication::activeModalWidget())
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

QString Service::playbackStatus(Player::State state)
{
    switch (state) {
    case Player::State::Playing:
        return QStringLiteral("Playing");
    case Player::State::Paused:
        return QStringLiteral("Paused");
    case Player::State::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QDBusObjectPath Service::trackId(const Announced &state)
{
    if (isStopped(state) || state.entry.isEmpty())
        return QDBusObjectPath(kNoTrack);
    return QDBusObjectPath(QStringLiteral("/org/tunedeck/track/%1").arg(state.entryNumber));
}

QVariantMap Service::metadata(const Announced &state)
{
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId(state)));
    if (isStopped(state) || state.entry.isEmpty())
        return map;
    map.insert(QStringLiteral("mpris:length"), qlonglong(state.lengthMs * 1000));
    map.insert(QStringLiteral("xesam:title"), pathTail(state.entry));
    map.insert(QStringLiteral("xesam:url"),
        QString::fromLatin1("file://" + fileNameToBytes(state.entry).toPercentEncoding("/")));
    // The song's own words where it has them; its title stands for the file name.
    if (!state.title.isEmpty())
        map.insert(QStringLiteral("xesam:title"), state.title);
    if (!state.artist.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList { state.artist });
    if (!state.copyright.isEmpty())
        map.insert(QStringLiteral("xesam:comment"), QStringList { state.copyright });
    if (!state.lyrics.isEmpty())
        map.insert(QStringLiteral("xesam:asText"), state.lyrics);
    return map;
}

qint64 Service::positionUs() const
{
    return m_player->positionMs() * 1000;
}

void Service::play()
{
    if (m_player->state() == Player::State::Paused) {
        m_player->resume();
    } else if (m_player->state() == Player::State::Stopped && m_player->listSize() > 0) {
        // With nothing to play, Play does nothing (CanPlay is false): a media key is no reason
        // for the Play button's warning box.
        m_player->play();
    }
    announce();
}

void Service::pause()
{
    if (m_player->state() == Player::State::Playing)
        m_player->pause();
    announce();
}

void Service::playPause()
{
    if (m_player->state() == Player::State::Playing)
        pause();
    else
        play();
}

void Service::stop()
{
    if (m_player->state() != Player::State::Stopped)
        m_player->stop();
    announce();
}

void Service::next()
{
    m_player->skip();
    announce();
}

void Service::previous()
{
    // Back to the start of the entry, as a seek there would go.
    if (m_player->state() != Player::State::Stopped && !m_player->entry().isEmpty())
        m_player->seek(0);
}

void Service::seek(qint64 offsetUs)
{
    const qint64 lengthMs = m_player->lengthMs();
    if (m_player->state() == Player::State::Stopped || m_player->entry().isEmpty() || lengthMs <= 0)
        return;
    // To the end or past it skips to the next entry (a Play at the end would start the entry
    // again); the sum is not formed, so INT64_MAX cannot wrap.
    const qint64 fromUs = positionUs();
    if (offsetUs >= lengthMs * 1000 - fromUs) {
        next();
        return;
    }
    m_player->seek(std::max<qint64>(0, fromUs + offsetUs) / 1000);
}

void Service::setPosition(const QDBusObjectPath &track, qint64 positionUs)
{
    const Announced state = Announced::read(*m_player);
    if (isStopped(state) || track != trackId(state) || positionUs < 0
        || positionUs > state.lengthMs * 1000)
        return;
    if (state.lengthMs > 0 && positionUs == state.lengthMs * 1000) {
        next(); // the entry ends there (a length of 0 is a large song's, not known yet)
        return;
    }
    m_player->seek(positionUs / 1000);
}

QByteArray Service::localFileName(const QString &uri)
{
    const QUrl url(uri);
    // file://host/… names a file on that host, not here.
    if (!url.isLocalFile()
        || (!url.host().isEmpty() && url.host().compare(u"localhost", Qt::CaseInsensitive) != 0))
        return {};
    // The path's bytes as they were escaped, so a name that is not UTF-8 survives. A file URI's
    // path is whole ("file:songs/a.mid" would be taken from the program's own folder).
    const QByteArray path
        = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return path.startsWith('/') ? path : QByteArray();
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
    m_player->setVolume(volume);
    announce();
}

void Service::setRate(double rate)
{
    if (!std::isfinite(rate))
        return;
    if (rate <= 0) {
        // A pause, and so ignored while a box is up, as the Pause command is: nothing could
        // resume it until the box closed.
        if (!QApplication::activeModalWidget())
            pause();
        return;
    }
    m_player->setRate(rate);
    announce();
}

void Service::setLoopStatus(const QString &status)
{
    if (status != u"None" && status != u"Track" && status != u"Playlist")
        return;
    m_player->setLoopTrack(status == u"Track");
    announce();
}

QString Service::loopStatus(bool loopTrack)
{
    return loopTrack ? QStringLiteral("Track") : QStringLiteral("None");
}

void Service::addFiles(const QList<QByteArray> &names, const QByteArray &workingFolder)
{
    desktop::appendFiles(*m_player, names, workingFolder, true);
}

void Service::announceSoon()
{
    if (m_announceQueued)
        return;
    m_announceQueued = true;
    QMetaObject::invokeMethod(this, &Service::announce, Qt::QueuedConnection);
}

void Service::announce()
{
    m_announceQueued = false;
    const Announced after = Announced::read(*m_player);
    const Announced before = std::exchange(m_announced, after);
    QVariantMap changed;
    if (before.state != after.state)
        changed.insert(QStringLiteral("PlaybackStatus"), playbackStatus(after.state));
    if (before.entryNumber != after.entryNumber || before.entry != after.entry
        || before.lengthMs != after.lengthMs || isStopped(before) != isStopped(after)
        || before.title != after.title || before.lyrics != after.lyrics)
        changed.insert(QStringLiteral("Metadata"), metadata(after));
    if (before.volume != after.volume)
        changed.insert(QStringLiteral("Volume"), after.volume);
    if (before.canPlay != after.canPlay)
        changed.insert(QStringLiteral("CanPlay"), after.canPlay);
    if (before.canGoNext != after.canGoNext)
        changed.insert(QStringLiteral("CanGoNext"), after.canGoNext);
    if (before.rate != after.rate)
        changed.insert(QStringLiteral("Rate"), after.rate);
    if (before.loopTrack != after.loopTrack)
        changed.insert(QStringLiteral("LoopStatus"), loopStatus(after.loopTrack));
    if (isStopped(before) != isStopped(after)) {
        changed.insert(QStringLiteral("CanPause"), !isStopped(after));
        changed.insert(QStringLiteral("CanGoPrevious"), !isStopped(after));
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
    // The desktop file's MimeType list, which the build reads from it (commas for semicolons).
    return QString::fromLatin1(TUNEDECK_MIME_TYPES).split(u',', Qt::SkipEmptyParts);
}

void RootAdaptor::Raise()
{
    // Never opens a box, so it is not held back while one is up.
    m_service->player()->raise();
}

void RootAdaptor::Quit()
{
    // Also while a box is up: quitting ends its loop with the program's.
    m_service->fromBus([this] { m_service->player()->quit(); }, Service::WhileABoxIsUp::Run);
}

PlayerAdaptor::PlayerAdaptor(Service *service)
    : QDBusAbstractAdaptor(service)
    , m_service(service)
{ }

QString PlayerAdaptor::playbackStatus() const
{
    return Service::playbackStatus(m_service->player()->state());
}

QVariantMap PlayerAdaptor::metadata() const
{
    return Service::metadata(Announced::read(*m_service->player()));
}

double PlayerAdaptor::volume() const
{
    return m_service->player()->volume();
}

void PlayerAdaptor::setVolume(double volume)
{
    m_service->setVolume(volume);
}

double PlayerAdaptor::rate() const
{
    return m_service->player()->rate();
}

QString PlayerAdaptor::loopStatus() const
{
    return Service::loopStatus(m_service->player()->loopTrack());
}

qlonglong PlayerAdaptor::position() const
{
    return m_service->positionUs();
}

bool PlayerAdaptor::canGoNext() const
{
    return Announced::nextable(*m_service->player());
}

bool PlayerAdaptor::canGoPrevious() const
{
    return m_service->player()->state() != Player::State::Stopped;
}

bool PlayerAdaptor::canPlay() const
{
    return Announced::playable(*m_service->player());
}

bool PlayerAdaptor::canPause() const
{
    return m_service->player()->state() != Player::State::Stopped;
}

bool PlayerAdaptor::canSeek() const
{
    return m_service->player()->state() != Player::State::Stopped;
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
{
    m_service->fromBus([&] { m_service->previous(); });
}
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
    m_service->fromBus([&] { m_service->openUri(uri); }, Service::WhileABoxIsUp::Run);
}

InstanceAdaptor::InstanceAdaptor(Service *service)
    : QDBusAbstractAdaptor(service)
    , m_service(service)
{ }

void InstanceAdaptor::AddFiles(const QList<QByteArray> &names, const QByteArray &workingFolder)
{
    if (m_service->refusedNames(names) || m_service->refusedNames({ workingFolder }))
        return;
    m_service->fromBus(
        [&] { m_service->addFiles(names, workingFolder); }, Service::WhileABoxIsUp::Run);
}

PropertiesAdaptor::PropertiesAdaptor(Service *service)
    : QDBusAbstractAdaptor(service)
    , m_service(service)
{ }

QList<QObject *> PropertiesAdaptor::adaptorsFor(const QString &interfaceName)
{
    QList<QObject *> found;
    for (QObject *adaptor :
        m_service->findChildren<QDBusAbstractAdaptor *>(Qt::FindDirectChildrenOnly)) {
        const QMetaObject *meta = adaptor->metaObject();
        const QLatin1StringView name(
            meta->classInfo(meta->indexOfClassInfo("D-Bus Interface")).value());
        if (adaptor != this && (interfaceName.isEmpty() || interfaceName == name))
            found.append(adaptor);
    }
    if (found.isEmpty())
        m_service->sendErrorReply(QDBusError::UnknownInterface,
            QStringLiteral("Interface %1 was not found in object %2")
                .arg(interfaceName, kObjectPath));
    return found;
}

std::pair<QObject *, QMetaProperty> PropertiesAdaptor::find(
    const QString &interfaceName, const QString &name)
{
    const QList<QObject *> adaptors = adaptorsFor(interfaceName);
    for (QObject *adaptor : adaptors) {
        const int index = adaptor->metaObject()->indexOfProperty(name.toUtf8().constData());
        if (index >= QObject::staticMetaObject.propertyCount())
            return { adaptor, adaptor->metaObject()->property(index) };
    }
    if (!adaptors.isEmpty())
        m_service->sendErrorReply(QDBusError::UnknownProperty,
            QStringLiteral("Property %1 was not found in object %2").arg(name, kObjectPath));
    return {};
}

QDBusVariant PropertiesAdaptor::Get(const QString &interfaceName, const QString &name)
{
    const auto [adaptor, property] = find(interfaceName, name);
    return QDBusVariant(property.isValid() ? property.read(adaptor) : QVariant());
}

QVariantMap PropertiesAdaptor::GetAll(const QString &interfaceName)
{
    QVariantMap all;
    for (QObject *adaptor : adaptorsFor(interfaceName)) {
        const QMetaObject *meta = adaptor->metaObject();
        for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i)
            all.insert(
                QString::fromLatin1(meta->property(i).name()), meta->property(i).read(adaptor));
    }
    return all;
}

void PropertiesAdaptor::Set(
    const QString &interfaceName, const QString &name, const QDBusVariant &value)
{
    const auto [adaptor, property] = find(interfaceName, name);
    if (!property.isValid())
        return;
    if (!property.isWritable()) {
        m_service->sendErrorReply(
            QDBusError::PropertyReadOnly, QStringLiteral("Property %1 is read-only").arg(name));
        return;
    }
    QVariant sent = value.variant();
    bool valid = sent.metaType() == property.metaType();
    if (property.metaType() == QMetaType::fromType<double>()) {
        switch (sent.metaType().id()) {
        case QMetaType::Double:
        case QMetaType::UChar:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            valid = std::isfinite(sent.toDouble());
            sent = sent.toDouble();
            break;
        default:
            valid = false;
        }
    } else if (name == u"LoopStatus") {
        valid = valid
            && QStringList { QStringLiteral("None"), QStringLiteral("Track"),
                   QStringLiteral("Playlist") }
                   .contains(sent.toString());
    }
    if (!valid) {
        m_service->sendErrorReply(QDBusError::InvalidArgs,
            QStringLiteral("%1 cannot be set to a %2 of %3")
                .arg(name, QString::fromLatin1(sent.metaType().name()), sent.toString()));
        return;
    }
    property.write(adaptor, sent);
}

} // namespace tunedeck::mpris
