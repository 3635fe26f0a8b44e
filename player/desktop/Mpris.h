#pragma once

#include "Player.h"

#include <QByteArray>
#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QMetaProperty>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <utility>

// The program on the session bus: the media-player interfaces every desktop's media keys and
// sound widgets speak (name org.mpris.MediaPlayer2.tunedeck, object /org/mpris/MediaPlayer2),
// and the hand-over of files from a second start of the program. Every command and every
// property goes through the Player, so the window and the bus cannot disagree. UI thread.
namespace tunedeck::mpris {

inline const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.tunedeck");
inline const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
inline const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
inline const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
// The program's own interface on the same object: files from a second start.
inline const QString kInstanceInterface = QStringLiteral("org.tunedeck.Instance");

// Takes the bus name for this program before its window is made, so a second start meanwhile
// hands its files over instead of opening a window of its own. False without a session bus or
// when another program holds the name.
bool claimName();

// A second start's side: hands `names` (file-system bytes, relative to `workingFolder`) to the
// program that holds the name on the session bus, waiting for one still making its window.
// False when there is no bus, no such program or it did not answer in time; the caller then
// runs on its own.
bool handOverFiles(const QList<QByteArray> &names, const QByteArray &workingFolder);

// What the player's properties last announced on the bus said.
struct Announced {
    Player::State state = Player::State::Stopped;
    QString entry;
    quint16 entryNumber = 0;
    qint64 lengthMs = 0;
    double volume = 1.0;
    bool canPlay = false;
    bool canGoNext = false; // an entry plays and another waits: Next changes the track
    double rate = 1.0;
    bool loopTrack = false;
    // What the entry says about itself; empty where it says nothing.
    QString title;
    QString artist;
    QString copyright;
    QString lyrics;

    static Announced read(const Player &player);
    // CanPlay and CanGoNext of `player`, read without the rest (its text may be megabytes).
    static bool playable(const Player &player);
    static bool nextable(const Player &player);
    bool operator==(const Announced &) const = default;
};

// The running program's side: registered on the session bus for the player's lifetime (a child
// of it). The adaptors' calls reach it with the bus message at hand (QDBusContext), so a command
// can answer its caller before it runs.
class Service : public QObject, public QDBusContext {
    Q_OBJECT

public:
    explicit Service(Player *player);
    ~Service() override;

    // Takes the bus name and exports the object. False (and nothing exported) without a
    // session bus or when another program holds the name.
    bool registerOnBus();

    Player *player() const { return m_player; }

    // Runs a command that came over the bus: the caller is answered first, so a box the
    // command opens does not keep it waiting; while one of the window's boxes is up the
    // command is ignored (the window takes no clicks then either, and a second box would
    // nest inside the first), unless it opens none itself (files handed over join the list;
    // what they start waits for the box to close); an error a handler raises stops at the bus
    // and is logged.
    enum class WhileABoxIsUp { Ignore, Run };
    template<typename Command>
    void fromBus(Command command, WhileABoxIsUp whileABoxIsUp = WhileABoxIsUp::Ignore);

    // The commands, as the interfaces' methods call them.
    void play();
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    void seek(qint64 offsetUs);
    void setPosition(const QDBusObjectPath &track, qint64 positionUs);
    void openUri(const QString &uri);
    void setVolume(double volume);
    // The speed (0.25..4; 0 pauses, as MPRIS asks; NaN and infinities are ignored) and whether
    // the song repeats ("Track"; "Playlist" is taken as "None": the queue gives up its entries
    // as they play).
    void setRate(double rate);
    void setLoopStatus(const QString &status);
    static QString loopStatus(bool loopTrack);
    void addFiles(const QList<QByteArray> &names, const QByteArray &workingFolder);
    // The bytes of a file: URI's path; empty for any other URI.
    static QByteArray localFileName(const QString &uri);
    // True, and the caller answered with InvalidArgs, when a name cannot name a file.
    bool refusedNames(const QList<QByteArray> &names);

    // Properties of the player interface.
    static QString playbackStatus(Player::State state);
    static QVariantMap metadata(const Announced &state);
    static QDBusObjectPath trackId(const Announced &state);
    qint64 positionUs() const;

Q_SIGNALS:
    void seeked(qint64 positionUs);

private:
    // Announces what changed since the last announcement, once the running handler has
    // returned (several changes make one announcement).
    void announceSoon();
    void announce();

    Player *m_player;
    Announced m_announced;
    bool m_registered = false;
    bool m_announceQueued = false;
};

class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    explicit RootAdaptor(Service *service);

    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Tunedeck"); }
    QString desktopEntry() const { return QStringLiteral("tunedeck"); }
    QStringList supportedUriSchemes() const { return { QStringLiteral("file") }; }
    QStringList supportedMimeTypes() const;

public Q_SLOTS:
    void Raise();
    void Quit();

private:
    Service *m_service;
};

class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ minimumRate)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)

public:
    explicit PlayerAdaptor(Service *service);

    QString playbackStatus() const;
    double rate() const;
    void setRate(double rate) { m_service->setRate(rate); }
    double minimumRate() const { return 0.25; }
    double maximumRate() const { return 4.0; }
    QString loopStatus() const;
    void setLoopStatus(const QString &status) { m_service->setLoopStatus(status); }
    QVariantMap metadata() const;
    double volume() const;
    void setVolume(double volume);
    qlonglong position() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canPlay() const;
    bool canPause() const;
    bool canSeek() const;
    bool canControl() const { return true; }

public Q_SLOTS:
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    void Seek(qlonglong offset);
    void SetPosition(const QDBusObjectPath &trackId, qlonglong position);
    void OpenUri(const QString &uri);

Q_SIGNALS:
    void Seeked(qlonglong position);

private:
    Service *m_service;
};

// The object's properties interface, answered here rather than by the bus library: that one
// converts whatever a caller sends and answers a value the setter cannot take with
// InternalError, where the caller should learn that its value was wrong (InvalidArgs).
class PropertiesAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.Properties")
    // The bus library describes this interface with every object already.
    Q_CLASSINFO("D-Bus Introspection", "")

public:
    explicit PropertiesAdaptor(Service *service);

public Q_SLOTS:
    QDBusVariant Get(const QString &interfaceName, const QString &name);
    QVariantMap GetAll(const QString &interfaceName);
    // Numbers must be finite numbers, other values of the property's own type; LoopStatus one
    // of its three words. Anything else is refused with InvalidArgs and changes nothing.
    void Set(const QString &interfaceName, const QString &name, const QDBusVariant &value);

private:
    // The adaptors that answer for `interfaceName` (all of them for an empty name); none, and
    // the caller answered with UnknownInterface, for an interface the object does not have.
    QList<QObject *> adaptorsFor(const QString &interfaceName);
    // The property `name` of those adaptors; an invalid one, and the caller answered with
    // UnknownProperty, when none has it.
    std::pair<QObject *, QMetaProperty> find(const QString &interfaceName, const QString &name);

    Service *m_service;
};

class InstanceAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tunedeck.Instance")

public:
    explicit InstanceAdaptor(Service *service);

public Q_SLOTS:
    void AddFiles(const QList<QByteArray> &names, const QByteArray &workingFolder);

private:
    Service *m_service;
};

} // namespace tunedeck::mpris
