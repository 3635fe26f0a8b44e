// The program on the desktop: files from the command line and from a second start, drops from
// other programs, the media-player interface on a private session bus, the volume set over it and
// the live texts assistive technology reads.
#include "PlayerTestMain.h"
#include "SongFixtures.h"

#include "DesktopFiles.h"
#include "FileNames.h"
#include "FileView.h"
#include "HelpEngine.h"
#include "Mpris.h"
#include "PlayListFile.h"
#include "Player.h"
#include "TMediaPlayer.h"
#include "Texts.h"
#include "Trackbar95.h"
#include "TunedeckFormUnit.h"

#include <sndfile.h>

#include <QAccessible>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 20000;
const QString kBusName = QStringLiteral("desktop-test-client");

QList<QByteArray> bytesOf(const QStringList &names)
{
    QList<QByteArray> result;
    for (const QString &name : names)
        result.append(tunedeck::fileNameToBytes(name));
    return result;
}

QStringList listTexts(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

// What assistive technology reads as the widget's name.
QString accessibleName(QWidget *widget)
{
    QAccessibleInterface *node = QAccessible::queryAccessibleInterface(widget);
    return node ? node->text(QAccessible::Name) : QString();
}

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT

private:
    QString song(const QString &name, std::uint32_t lengthMs = 60000)
    {
        const QString path = writeSong(m_dir->path(), name, lengthMs);
        if (path.isEmpty())
            qFatal("cannot write a test song");
        return path;
    }
    QString status() const { return m_form->StatusBar->panelText(1); }
    QString playing() const { return m_form->FNPlay->text(); }

    // Calls a method of the player over the bus from a connection of its own, answered while
    // this thread's event loop runs.
    QDBusMessage callPlayer(
        const QString &interface, const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            tunedeck::mpris::kServiceName, tunedeck::mpris::kObjectPath, interface, method);
        call.setArguments(arguments);
        QDBusPendingCallWatcher watcher(m_client.asyncCall(call));
        QSignalSpy finished(&watcher, &QDBusPendingCallWatcher::finished);
        if (!watcher.isFinished() && !finished.wait(kWaitMs))
            return {};
        return watcher.reply();
    }
    QVariant property(const QString &name)
    {
        const QDBusMessage reply = callPlayer(QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"), { tunedeck::mpris::kPlayerInterface, name });
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    void requireBus()
    {
        if (!m_busReady)
            QSKIP(qPrintable(m_busMissing));
    }
    void startPlaying(const QStringList &songs)
    {
        tunedeck::desktop::appendFiles(*m_form->player(), bytesOf(songs), QByteArray(), true);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Playing"), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_form->LettoreMidi->IsOpen(), kWaitMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A session bus of the test's own, so nothing reaches the desktop running the tests.
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            m_busMissing = QStringLiteral("dbus-daemon is not installed (scripts/deps.sh)");
            return;
        }
        m_daemon.start(daemon,
            { QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address") });
        if (!m_daemon.waitForStarted() || !m_daemon.waitForReadyRead(kWaitMs)) {
            m_busMissing = QStringLiteral("the private dbus-daemon did not start");
            return;
        }
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
        m_client = QDBusConnection::connectToBus(m_address, kBusName);
        m_busReady = m_client.isConnected() && QDBusConnection::sessionBus().isConnected();
        if (!m_busReady)
            m_busMissing = QStringLiteral("cannot connect to the private session bus");
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(kBusName);
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_form = std::make_unique<TTunedeckform>();
        m_form->show();
        m_service = new tunedeck::mpris::Service(m_form->player());
        if (m_busReady)
            QVERIFY(m_service->registerOnBus());
    }

    void cleanup()
    {
        m_form.reset();
        m_dir.reset();
    }

    // Names as a file manager passes them: each kind of argument in order, Play starting with
    // the first entry and the rest queued behind it; bad names reported once, together.
    void filesFromOutside_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QStringList>("queued");
        QTest::addColumn<QStringList>("rejected");
        QTest::newRow("songs in order") << QStringList { "b.mid", "a.mid", "c.wav" } << "b.mid"
                                        << QStringList { "a.mid", "c.wav" } << QStringList {};
        QTest::newRow("play-list file") << QStringList { "list.tdl", "a.mid" } << "c.wav"
                                        << QStringList { "b.mid", "a.mid" } << QStringList {};
        QTest::newRow("another player's list")
            << QStringList { "list.m3u8", "a.mid" } << "b.mid" << QStringList { "c.wav", "a.mid" }
            << QStringList { "$DIR/missing.mid", "$DIR/notes.txt", "$DIR/list.m3u8",
                   "http://example.org/x.mid" };
        QTest::newRow("folder in the file view's order")
            << QStringList { "folder" } << "A.mid" << QStringList { "b.RMI", "c.wav" }
            << QStringList {};
        QTest::newRow("song known by its content")
            << QStringList { "song-without-extension", "notes.txt" } << "song-without-extension"
            << QStringList {} << QStringList { "notes.txt" };
        QTest::newRow("RF64 wave known by its content")
            << QStringList { "song.dat", "a.mid" } << "song.dat" << QStringList { "a.mid" }
            << QStringList {};
        QTest::newRow("another player's list of nothing") << QStringList { "empty.pls",
            "a.mid" } << "a.mid" << QStringList {} << QStringList { "empty.pls" };
        QTest::newRow("unreadable file and folder") << QStringList { "locked.mid", "locked",
            "a.mid" } << "a.mid" << QStringList {} << QStringList { "locked.mid", "locked" };
        QTest::newRow("bad names reported once")
            << QStringList { "missing.mid", "a.mid", "", "b.mid" } << "a.mid"
            << QStringList { "b.mid" } << QStringList { "missing.mid", "" };
    }
    void filesFromOutside()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, first);
        QFETCH(QStringList, queued);
        QFETCH(QStringList, rejected);
        rejected.replaceInStrings(QStringLiteral("$DIR"), m_dir->path());
        if (arguments.contains(QStringLiteral("locked")) && ::geteuid() == 0)
            QSKIP("root reads every file");
        const QString a = song(QStringLiteral("a.mid"));
        const QString b = song(QStringLiteral("b.mid"));
        QFile::copy(a, m_dir->filePath(QStringLiteral("locked.mid")));
        QDir(m_dir->path()).mkdir(QStringLiteral("locked"));
        QFile::copy(a, m_dir->filePath(QStringLiteral("locked/inside.mid")));
        for (const char *locked : { "locked.mid", "locked" })
            QVERIFY(::chmod(QFile::encodeName(m_dir->filePath(QLatin1String(locked))), 0) == 0);
        song(QStringLiteral("c.wav")); // Listed by its extension; never opened here.
        QFile::copy(a, m_dir->filePath(QStringLiteral("song-without-extension")));
        QVERIFY(testsupport::writeTone(QFile::encodeName(m_dir->filePath("song.dat")).toStdString(),
            { .container = SF_FORMAT_RF64 }));
        QFile notes(m_dir->filePath(QStringLiteral("notes.txt")));
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("not a song") > 0);
        notes.close();
        tunedeck::PathList list;
        list.append(m_dir->filePath(QStringLiteral("c.wav")));
        list.append(b);
        tunedeck::playlistfile::save(m_dir->filePath(QStringLiteral("list.tdl")), list);
        QFile m3u(m_dir->filePath(QStringLiteral("list.m3u8")));
        QVERIFY(m3u.open(QIODevice::WriteOnly));
        m3u.write("#EXTM3U\n#EXTINF:60,B\nb.mid\r\n"
            + QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("c.wav"))).toEncoded()
            + "\nmissing.mid\nnotes.txt\nlist.m3u8\nhttp://example.org/x.mid\n");
        m3u.close();
        QFile empty(m_dir->filePath(QStringLiteral("empty.pls")));
        QVERIFY(empty.open(QIODevice::WriteOnly) && empty.write("[playlist]\nNumberOfEntries=0\n"));
        empty.close();
        QDir(m_dir->path()).mkdir(QStringLiteral("folder"));
        for (const char *name : { "c.wav", "A.mid", "b.RMI" })
            QFile::copy(a, m_dir->filePath(QStringLiteral("folder/") + QLatin1String(name)));
        QDir(m_dir->path()).mkdir(QStringLiteral("folder/sub.mid"));
        // The play-list file's first entry is a wave file that is a song in disguise.
        QFile::remove(m_dir->filePath(QStringLiteral("c.wav")));
        QFile::copy(writeSong(m_dir->path(), QStringLiteral("real.mid"), 60000),
            m_dir->filePath(QStringLiteral("c.wav")));

        BoxRecorder boxes;
        tunedeck::desktop::appendFiles(
            *m_form->player(), bytesOf(arguments), tunedeck::fileNameToBytes(m_dir->path()), true);
        for (const char *locked : { "locked.mid", "locked" }) // for the clean-up
            ::chmod(QFile::encodeName(m_dir->filePath(QLatin1String(locked))), 0700);
        QTRY_COMPARE_WITH_TIMEOUT(playing(), first, kWaitMs);
        QCOMPARE(listTexts(m_form->Lista), queued);
        QCOMPARE(m_form->PlayListPaths.size(), qsizetype(queued.size()));
        if (rejected.isEmpty()) {
            QVERIFY(boxes.boxes().isEmpty());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), 1, kWaitMs);
            QCOMPARE(boxes.boxes().first().text,
                tunedeck::generalErrorText(tunedeck::desktop::rejectedFilesText(rejected)));
        }
        QCOMPARE(status(), QStringLiteral("Playing"));
    }

    // What a song says about itself reaches a real client (playerctl): its title and lyrics;
    // Previous goes back to the start of the song.
    void songTextAndPreviousForClients()
    {
        requireBus();
        const QString playerctl = QStandardPaths::findExecutable(QStringLiteral("playerctl"));
        if (playerctl.isEmpty())
            QSKIP("playerctl is not installed (scripts/deps.sh)");
        testsupport::TrackWriter track;
        track.text(0, 0x03, "Ode to Joy").text(0, 0x02, "(c) Nobody").program(0, 0, 0);
        track.text(0, 0x05, "Freu").text(480, 0x05, "de\r").text(480, 0x05, "sch\xf6ner");
        track.noteOn(0, 0, 60, 100).noteOff(60 * kTicksPerSecond, 0, 60).endOfTrack();
        const QString path = m_dir->filePath(QStringLiteral("words.mid"));
        QVERIFY(testsupport::writeFile(QFile::encodeName(path).toStdString(),
            testsupport::SmfWriter(0, 480).track(track).bytes()));
        QCOMPARE(property(QStringLiteral("CanGoPrevious")).toBool(), false);
        startPlaying({ path });
        QCOMPARE(property(QStringLiteral("CanGoPrevious")).toBool(), true);

        const auto client = [&](const QStringList &arguments) {
            QProcess process;
            QSignalSpy finished(&process, &QProcess::finished);
            process.start(
                playerctl, QStringList { QStringLiteral("--player=tunedeck") } + arguments);
            // The event loop runs meanwhile: this thread answers the client's calls.
            if (!finished.wait(kWaitMs))
                return QStringLiteral("(no answer)");
            return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        };
        QCOMPARE(client({ QStringLiteral("metadata"), QStringLiteral("xesam:title") }),
            QStringLiteral("Ode to Joy"));
        QCOMPARE(client({ QStringLiteral("metadata"), QStringLiteral("xesam:asText") }),
            QStringLiteral("Freude\nschöner"));
        QCOMPARE(client({ QStringLiteral("metadata"), QStringLiteral("xesam:comment") }),
            QStringLiteral("(c) Nobody"));

        callPlayer(
            tunedeck::mpris::kPlayerInterface, QStringLiteral("Seek"), { qlonglong(30'000'000) });
        QTRY_VERIFY_WITH_TIMEOUT(m_form->LettoreMidi->GetPosition() >= 30'000, kWaitMs);
        client({ QStringLiteral("previous") });
        QTRY_VERIFY_WITH_TIMEOUT(m_form->LettoreMidi->GetPosition() < 3'000, kWaitMs);
        QCOMPARE(status(), QStringLiteral("Playing"));
        QCOMPARE(playing(), QStringLiteral("words.mid"));
    }

    // A paused song stays paused when more files arrive; they join the end.
    void filesWhilePaused()
    {
        startPlaying({ song(QStringLiteral("a.mid")) });
        m_form->PauseButtClick();
        tunedeck::desktop::appendFiles(
            *m_form->player(), bytesOf({ song(QStringLiteral("b.mid")) }), QByteArray(), true);
        QCoreApplication::processEvents();
        QCOMPARE(status(), QStringLiteral("Paused"));
        QCOMPARE(listTexts(m_form->Lista), QStringList { "b.mid" });
    }

    // A second start hands its files to the running window and ends at once with 0. While a
    // box is up they join the list at once; the Play they ask for waits until it closes.
    void secondStartHandsOver_data()
    {
        QTest::addColumn<bool>("boxUp");
        QTest::newRow("while playing") << false;
        QTest::newRow("while a box is up") << true;
    }
    void secondStartHandsOver()
    {
        requireBus();
        QFETCH(bool, boxUp);
        const QString program
            = QCoreApplication::applicationDirPath() + QStringLiteral("/tunedeck");
        if (!QFileInfo(program).isExecutable())
            QSKIP("the tunedeck program is not built beside the tests");
        if (!boxUp)
            startPlaying({ song(QStringLiteral("a.mid")) });
        song(QStringLiteral("c.mid"));
        QProcess second;
        second.setWorkingDirectory(m_dir->path());
        QSignalSpy finished(&second, &QProcess::finished);
        QStringList listWhileOpen;
        const auto handOver = [&] {
            second.start(program, { QStringLiteral("c.mid") });
            if (finished.wait(kWaitMs))
                (void)QTest::qWaitFor([&] { return m_form->Lista->count() > 0; }, kWaitMs);
            listWhileOpen = listTexts(m_form->Lista);
        };
        BoxRecorder boxes;
        if (boxUp) {
            // A missing file opened over the bus is reported in a box.
            boxes.whileNextBoxIsOpen(handOver);
            QDBusMessage open = QDBusMessage::createMethodCall(tunedeck::mpris::kServiceName,
                tunedeck::mpris::kObjectPath, tunedeck::mpris::kPlayerInterface,
                QStringLiteral("OpenUri"));
            open.setArguments(
                { QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("gone.mid"))).toString() });
            m_client.asyncCall(open);
            QTRY_COMPARE_WITH_TIMEOUT(playing(), QStringLiteral("c.mid"), kWaitMs);
        } else {
            handOver();
            QCOMPARE(m_form->PlayListPaths.at(0), m_dir->filePath(QStringLiteral("c.mid")));
            QCOMPARE(playing(), QStringLiteral("a.mid"));
        }
        QCOMPARE(listWhileOpen, QStringList { "c.mid" });
        QCOMPARE(boxes.texts().size(), boxUp ? 1 : 0);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
    }

    // Files dragged from a file manager join the play list's end; remote ones and drops on the
    // file view are refused.
    void dropsFromOtherPrograms_data()
    {
        QTest::addColumn<bool>("onPlayList");
        QTest::addColumn<bool>("withRemote");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("files and a folder on the play list")
            << true << false << QStringList { "x.mid", "a.mid", "b.mid", "f.mid" };
        QTest::newRow("a remote URL refuses the drop") << true << true << QStringList { "x.mid" };
        QTest::newRow("the file view takes nothing") << false << false << QStringList { "x.mid" };
    }
    void dropsFromOtherPrograms()
    {
        QFETCH(bool, onPlayList);
        QFETCH(bool, withRemote);
        QFETCH(QStringList, expected);
        m_form->Lista->addItem(QStringLiteral("x.mid"));
        m_form->PlayListPaths.append(QStringLiteral("/x.mid"));
        QDir(m_dir->path()).mkdir(QStringLiteral("folder"));
        writeSong(m_dir->filePath(QStringLiteral("folder")), QStringLiteral("f.mid"), 1000);
        QList<QUrl> urls { QUrl::fromLocalFile(song(QStringLiteral("a.mid"))),
            QUrl::fromLocalFile(song(QStringLiteral("b.mid"))),
            QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("folder"))) };
        if (withRemote)
            urls.append(QUrl(QStringLiteral("https://example.org/song.mid")));
        QMimeData data;
        data.setUrls(urls);
        QWidget *target = onPlayList ? m_form->Lista->viewport() : m_form->TdfileV->viewport();
        const QPoint at(10, 10);
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &enter);
        QCOMPARE(enter.isAccepted(), onPlayList && !withRemote);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &drop);
        QCOMPARE(listTexts(m_form->Lista), expected);
        QCOMPARE(m_form->PlayListPaths.size(), qsizetype(expected.size()));
        QCOMPARE(status(), QStringLiteral("Stopped"));
    }

    // Each command over the bus leaves the window exactly as its button does.
    void busCommandsMatchButtons_data()
    {
        QTest::addColumn<QString>("from"); // stopped, playing or paused
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("button");
        QTest::newRow("Play when stopped") << "stopped"
                                           << "Play"
                                           << "PlayButt";
        QTest::newRow("Play when paused") << "paused"
                                          << "Play"
                                          << "ResButt";
        QTest::newRow("Pause") << "playing"
                               << "Pause"
                               << "PauseButt";
        QTest::newRow("PlayPause when playing") << "playing"
                                                << "PlayPause"
                                                << "PauseButt";
        QTest::newRow("PlayPause when paused") << "paused"
                                               << "PlayPause"
                                               << "ResButt";
        QTest::newRow("Stop") << "playing"
                              << "Stop"
                              << "StopButt";
        QTest::newRow("Next") << "playing"
                              << "Next"
                              << "SkipButt";
    }
    void busCommandsMatchButtons()
    {
        requireBus();
        QFETCH(QString, from);
        QFETCH(QString, method);
        QFETCH(QString, button);
        const QStringList songs { song(QStringLiteral("a.mid")), song(QStringLiteral("b.mid")),
            song(QStringLiteral("c.mid")) };
        const auto prepare = [&] {
            m_form->StopButtClick();
            m_form->RemoveAllButtClick();
            tunedeck::desktop::appendFiles(*m_form->player(), bytesOf(songs), QByteArray(), false);
            if (from != u"stopped")
                m_form->PlayButtClick();
            if (from == u"paused")
                m_form->PauseButtClick();
        };
        const auto look = [&] {
            return QStringList { status(), playing(), m_form->windowTitle(),
                listTexts(m_form->Lista).join(u','), m_form->LettoreMidi->FileName(),
                QString::number(m_form->StopButt->isHidden()),
                QString::number(m_form->ResButt->isHidden()) };
        };
        prepare();
        m_form->findChild<QPushButton *>(button)->click();
        const QStringList byButton = look();
        prepare();
        const QDBusMessage reply = callPlayer(tunedeck::mpris::kPlayerInterface, method);
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(look(), byButton);
        // The bus reads back what the window shows.
        QCOMPARE(property(QStringLiteral("PlaybackStatus")).toString(), status());
    }

    // Properties read back the window's state, and changes arrive as PropertiesChanged.
    void propertiesFollowTheWindow()
    {
        requireBus();
        QStringList statuses;
        QStringList tracks;
        QDBusConnection::connectToBus(m_address, kBusName)
            .connect(tunedeck::mpris::kServiceName, tunedeck::mpris::kObjectPath,
                QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("PropertiesChanged"), this,
                SLOT(recordPropertiesChanged(QString, QVariantMap, QStringList)));
        m_statuses = &statuses;
        m_tracks = &tracks;
        QCOMPARE(property(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Stopped"));
        QCOMPARE(property(QStringLiteral("CanPlay")).toBool(), false);
        const QString a = song(QStringLiteral("a.mid"), 61000);
        tunedeck::desktop::appendFiles(
            *m_form->player(), bytesOf({ a, song(QStringLiteral("b.mid")) }), QByteArray(), false);
        m_form->PlayButt->click();
        QTRY_COMPARE_WITH_TIMEOUT(statuses, QStringList { "Playing" }, kWaitMs);
        m_form->PauseButt->click();
        QTRY_COMPARE_WITH_TIMEOUT(statuses, (QStringList { "Playing", "Paused" }), kWaitMs);
        const QVariantMap metadata = qdbus_cast<QVariantMap>(property(QStringLiteral("Metadata")));
        QCOMPARE(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("a.mid"));
        QCOMPARE(metadata.value(QStringLiteral("mpris:length")).toLongLong(), 61000000LL);
        QCOMPARE(metadata.value(QStringLiteral("xesam:url")).toString(),
            QUrl::fromLocalFile(a).toString(QUrl::FullyEncoded));
        QCOMPARE(property(QStringLiteral("CanGoNext")).toBool(), true);
        QCOMPARE(property(QStringLiteral("Volume")).toDouble(), 1.0);
        const qsizetype tracksBefore = tracks.size();
        m_form->SkipButt->click();
        QTRY_VERIFY_WITH_TIMEOUT(tracks.size() > tracksBefore, kWaitMs);
        QVERIFY(tracks.last().endsWith(QString::number(m_form->LettoreMidi->DeviceId())));
        QCOMPARE(qdbus_cast<QVariantMap>(property(QStringLiteral("Metadata")))
                     .value(QStringLiteral("xesam:title"))
                     .toString(),
            QStringLiteral("b.mid"));
        QCOMPARE(property(QStringLiteral("CanGoNext")).toBool(), false); // nothing follows b.mid
        m_form->StopButt->click();
        QTRY_COMPARE_WITH_TIMEOUT(statuses.last(), QStringLiteral("Stopped"), kWaitMs);
        QCOMPARE(statuses, (QStringList { "Playing", "Paused", "Playing", "Stopped" }));
        // The volume: set over the bus, held by the device, announced.
        QDBusMessage set
            = callPlayer(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                { tunedeck::mpris::kPlayerInterface, QStringLiteral("Volume"),
                    QVariant::fromValue(QDBusVariant(0.5)) });
        QCOMPARE(set.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(m_form->LettoreMidi->Volume(), 0.5);
        QTRY_COMPARE_WITH_TIMEOUT(m_volumes, QList<double> { 0.5 }, kWaitMs);
        m_statuses = nullptr;
        m_tracks = nullptr;
    }

    void recordPropertiesChanged(const QString &, const QVariantMap &changed, const QStringList &)
    {
        if (m_statuses && changed.contains(QStringLiteral("PlaybackStatus")))
            m_statuses->append(changed.value(QStringLiteral("PlaybackStatus")).toString());
        if (m_tracks && changed.contains(QStringLiteral("Metadata"))) {
            m_tracks->append(qdbus_cast<QVariantMap>(changed.value(QStringLiteral("Metadata")))
                                 .value(QStringLiteral("mpris:trackid"))
                                 .value<QDBusObjectPath>()
                                 .path());
        }
        if (changed.contains(QStringLiteral("Volume")))
            m_volumes.append(changed.value(QStringLiteral("Volume")).toDouble());
        if (changed.contains(QStringLiteral("Rate")))
            m_rates.append(changed.value(QStringLiteral("Rate")).toDouble());
        if (changed.contains(QStringLiteral("LoopStatus")))
            m_loops.append(changed.value(QStringLiteral("LoopStatus")).toString());
    }

    // Seek and SetPosition move the song where the bus asks, however near, and Seeked says
    // so; the bar in the window leaves moves within three seconds of the song alone.
    void seeksAsTheBarDoes_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<qlonglong>("argumentUs");
        QTest::addColumn<bool>("rightTrack");
        QTest::addColumn<qint64>("expectedMs"); // -1: unchanged; -2: moved on by the offset
        QTest::newRow("Seek of three seconds") << "Seek" << 3000000LL << true << qint64(-2);
        QTest::newRow("Seek further") << "Seek" << 20000000LL << true << qint64(-2);
        QTest::newRow("SetPosition") << "SetPosition" << 40500000LL << true << qint64(40500);
        QTest::newRow("SetPosition of another track")
            << "SetPosition" << 40000000LL << false << qint64(-1);
        QTest::newRow("the bar in the window") << "" << 30000000LL << true << qint64(30000);
        QTest::newRow("the bar, three seconds on") << "" << -3LL << true << qint64(-1);
    }
    void seeksAsTheBarDoes()
    {
        requireBus();
        QFETCH(QString, method);
        QFETCH(qlonglong, argumentUs);
        QFETCH(bool, rightTrack);
        QFETCH(qint64, expectedMs);
        startPlaying({ song(QStringLiteral("a.mid")) });
        m_form->PauseButtClick();
        const qint64 before = m_form->LettoreMidi->GetPosition();
        QSignalSpy seeked(m_service, &tunedeck::mpris::Service::seeked);
        QVariantList arguments { argumentUs };
        if (method == u"SetPosition") {
            const QString track = rightTrack ? tunedeck::mpris::Service::trackId(
                                      tunedeck::mpris::Announced::read(*m_form->player()))
                                                   .path()
                                             : QStringLiteral("/org/tunedeck/track/9999");
            arguments.prepend(QVariant::fromValue(QDBusObjectPath(track)));
        }
        if (expectedMs == -2)
            expectedMs = before + argumentUs / 1000;
        if (method.isEmpty()) {
            m_form->TimerPlayTimer();
            const int bar = m_form->PosBar->value();
            m_form->PosBar->setValue(argumentUs < 0 ? bar + 3 : int(argumentUs / 1000000));
            if (expectedMs >= 0)
                QTRY_COMPARE_WITH_TIMEOUT(seeked.size(), 1, kWaitMs);
        } else {
            QCOMPARE(callPlayer(tunedeck::mpris::kPlayerInterface, method, arguments).type(),
                QDBusMessage::ReplyMessage);
        }
        if (expectedMs < 0) {
            QCOMPARE(qint64(m_form->LettoreMidi->GetPosition()), before);
            QCOMPARE(seeked.size(), 0);
        } else {
            QCOMPARE(qint64(m_form->LettoreMidi->GetPosition()), expectedMs);
            QCOMPARE(m_form->PosBar->value(), int(expectedMs / 1000));
            QCOMPARE(seeked.size(), 1);
            QCOMPARE(seeked.first().first().toLongLong(), expectedMs * 1000);
        }
        QCOMPARE(status(), QStringLiteral("Paused"));
    }

    // Rate and LoopStatus (the loop by playerctl, which has no command for the rate): held by
    // the device for this song and the next, announced; a repeating song's restart is a seek.
    void rateAndLoopStatusFromOtherPrograms()
    {
        requireBus();
        const QString playerctl = QStandardPaths::findExecutable(QStringLiteral("playerctl"));
        if (playerctl.isEmpty())
            QSKIP("playerctl is not installed (scripts/deps.sh)");
        const auto loop = [&](const QStringList &arguments) {
            QProcess process;
            QSignalSpy finished(&process, &QProcess::finished);
            process.start(playerctl, QStringList { "--player=tunedeck", "loop" } + arguments);
            return finished.wait(kWaitMs) ? QString(process.readAllStandardOutput()).trimmed()
                                          : QStringLiteral("(no answer)");
        };
        const auto setRate = [&](double rate) {
            return callPlayer(QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("Set"),
                { tunedeck::mpris::kPlayerInterface, QStringLiteral("Rate"),
                    QVariant::fromValue(QDBusVariant(rate)) })
                .type();
        };
        m_client.connect(tunedeck::mpris::kServiceName, tunedeck::mpris::kObjectPath,
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
            this, SLOT(recordPropertiesChanged(QString, QVariantMap, QStringList)));
        startPlaying({ song(QStringLiteral("a.mid"), 2000), song(QStringLiteral("b.mid")) });
        QCOMPARE(property(QStringLiteral("MinimumRate")).toDouble(), 0.25);
        QCOMPARE(property(QStringLiteral("MaximumRate")).toDouble(), 4.0);
        const std::pair<double, double> rates[] = { { 1.5, 1.5 }, { 8.0, 4.0 }, { 0.1, 0.25 },
            { std::nan(""), 0.25 }, { std::numeric_limits<double>::infinity(), 0.25 }, { 2, 2 } };
        for (const auto &[set, rate] : rates) {
            QCOMPARE(setRate(set),
                std::isfinite(set) ? QDBusMessage::ReplyMessage : QDBusMessage::ErrorMessage);
            QCOMPARE(m_form->LettoreMidi->Rate(), rate);
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_rates, (QList<double> { 1.5, 4.0, 0.25, 2.0 }), kWaitMs);
        for (const QString shown : { "Track", "None", "Track" }) {
            loop({ shown == u"None" ? QStringLiteral("Playlist") : shown });
            QCOMPARE(m_form->LettoreMidi->Repeat(), shown == u"Track");
            QCOMPARE(loop({}), shown);
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_loops, (QStringList { "Track", "None", "Track" }), kWaitMs);

        // The two-second song at twice the speed comes back to its start instead of ending.
        QSignalSpy seeked(m_service, &tunedeck::mpris::Service::seeked);
        QVERIFY(seeked.wait(kWaitMs));
        QVERIFY(seeked.first().first().toLongLong() < 1000000);
        QCOMPARE(playing(), QStringLiteral("a.mid"));
        // Without the loop it ends, and the next song keeps the speed; a rate of 0 pauses.
        loop({ QStringLiteral("None") });
        QTRY_COMPARE_WITH_TIMEOUT(playing(), QStringLiteral("b.mid"), kWaitMs);
        QCOMPARE(property(QStringLiteral("Rate")).toDouble(), 2.0);
        QCOMPARE(setRate(0.0), QDBusMessage::ReplyMessage);
        QCOMPARE(status(), QStringLiteral("Paused"));
        // Not while a box is up, where Pause is ignored too (and Play, that would resume).
        callPlayer(tunedeck::mpris::kPlayerInterface, QStringLiteral("Play"));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Playing"), kWaitMs);
        BoxRecorder boxes;
        QDBusMessage::MessageType setWhileOpen = QDBusMessage::InvalidMessage;
        boxes.whileNextBoxIsOpen([&] { setWhileOpen = setRate(0.0); });
        callPlayer(tunedeck::mpris::kPlayerInterface, QStringLiteral("OpenUri"),
            { QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("missing.mid"))).toString() });
        QTRY_COMPARE_WITH_TIMEOUT(setWhileOpen, QDBusMessage::ReplyMessage, kWaitMs);
        QCOMPARE(status(), QStringLiteral("Playing"));
    }

    // A client that keeps calling while a box is up: every call is answered at once, no box
    // opens inside another, nothing raised by a handler escapes, and the window is left as it
    // was. Seek far past the end skips instead of wrapping round to the start.
    void busCallsWhileABoxIsUp()
    {
        requireBus();
        BoxRecorder boxes;
        std::vector<std::unique_ptr<QDBusPendingCallWatcher>> replies;
        const auto allAnswered = [&replies] {
            return std::all_of(replies.begin(), replies.end(),
                [](const auto &reply) { return reply->isFinished(); });
        };
        const QString missing = m_dir->filePath(QStringLiteral("missing.mid"));
        const QVariantList none;
        const QList<std::pair<QString, QVariantList>> calls {
            { QStringLiteral("Play"), none },
            { QStringLiteral("PlayPause"), none },
            { QStringLiteral("Pause"), none },
            { QStringLiteral("OpenUri"), { QUrl::fromLocalFile(missing).toString() } },
            { QStringLiteral("Next"), none },
            { QStringLiteral("Seek"), { qlonglong(INT64_MAX) } },
            { QStringLiteral("Stop"), none },
        };
        const auto send = [&](const QString &method, const QVariantList &arguments) {
            QDBusMessage call = QDBusMessage::createMethodCall(tunedeck::mpris::kServiceName,
                tunedeck::mpris::kObjectPath, tunedeck::mpris::kPlayerInterface, method);
            call.setArguments(arguments);
            replies.push_back(
                std::make_unique<QDBusPendingCallWatcher>(m_client.asyncCall(call, kWaitMs)));
        };
        // With nothing to play, Play does nothing, as CanPlay says: no warning box.
        QCOMPARE(property(QStringLiteral("CanPlay")).toBool(), false);
        for (const char *method : { "Play", "PlayPause" })
            QCOMPARE(
                callPlayer(tunedeck::mpris::kPlayerInterface, QString::fromLatin1(method)).type(),
                QDBusMessage::ReplyMessage);
        // A missing file opened over the bus opens a box; while it is up, the client calls on.
        bool answeredWhileOpen = false;
        boxes.whileNextBoxIsOpen([&] {
            for (int round = 0; round < 50; ++round) {
                for (const auto &[method, arguments] : calls)
                    send(method, arguments);
            }
            answeredWhileOpen = QTest::qWaitFor(allAnswered, kWaitMs);
        });
        send(calls[3].first, calls[3].second);
        QTRY_VERIFY_WITH_TIMEOUT(answeredWhileOpen, kWaitMs);
        for (const auto &reply : replies)
            QCOMPARE(reply->reply().type(), QDBusMessage::ReplyMessage);
        // The missing files named while the box was up make one report, once it has closed.
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts(),
            QStringList({ tunedeck::generalErrorText(
                              tunedeck::desktop::rejectedFilesText(QStringList(1, missing))),
                tunedeck::generalErrorText(
                    tunedeck::desktop::rejectedFilesText(QStringList(50, missing))) }),
            kWaitMs);
        QCOMPARE(status(), QStringLiteral("Stopped"));
        QVERIFY(!m_form->LettoreMidi->IsOpen());

        // Seek(INT64_MAX) goes on to the next entry, as do a position and a seek exactly at the
        // end (where a Play would start the entry again).
        startPlaying({ song(QStringLiteral("a.mid")), song(QStringLiteral("b.mid")),
            song(QStringLiteral("c.mid")), song(QStringLiteral("d.mid")) });
        for (const QString next : { "b.mid", "c.mid", "d.mid" }) {
            m_form->PauseButtClick();
            const auto shown = tunedeck::mpris::Announced::read(*m_form->player());
            const qlonglong endUs = shown.lengthMs * 1000;
            const QVariantList arguments = next == u"b.mid" ? QVariantList { qlonglong(INT64_MAX) }
                : next == u"c.mid"
                ? QVariantList { QVariant::fromValue(tunedeck::mpris::Service::trackId(shown)),
                      endUs }
                : QVariantList { endUs - m_form->player()->positionMs() * 1000 };
            const QString method
                = next == u"c.mid" ? QStringLiteral("SetPosition") : QStringLiteral("Seek");
            QCOMPARE(callPlayer(tunedeck::mpris::kPlayerInterface, method, arguments).type(),
                QDBusMessage::ReplyMessage);
            QCOMPARE(playing(), next);
        }
    }

    // Properties set over the bus: numbers out of range are clamped; NaN, infinities, other
    // types and unknown words are refused with InvalidArgs and change nothing.
    void propertySettersValidate_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("sent");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<QString>("error");
        const QString invalid = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
        const QString volume = QStringLiteral("Volume");
        QTest::newRow("within range") << volume << QVariant(0.3) << QVariant(0.3) << QString();
        QTest::newRow("above one") << volume << QVariant(2.0) << QVariant(1.0) << QString();
        QTest::newRow("below zero") << volume << QVariant(-1.0) << QVariant(0.0) << QString();
        QTest::newRow("an integer") << volume << QVariant(0) << QVariant(0.0) << QString();
        QTest::newRow("NaN") << volume << QVariant(std::nan("")) << QVariant(0.5) << invalid;
        QTest::newRow("infinity") << volume << QVariant(HUGE_VAL) << QVariant(0.5) << invalid;
        QTest::newRow("minus infinity")
            << volume << QVariant(-HUGE_VAL) << QVariant(0.5) << invalid;
        QTest::newRow("a string") << volume << QVariant(QStringLiteral("loud")) << QVariant(0.5)
                                  << invalid;
        QTest::newRow("rate as a string")
            << QStringLiteral("Rate") << QVariant(QStringLiteral("2")) << QVariant(1.0) << invalid;
        QTest::newRow("an unknown loop")
            << QStringLiteral("LoopStatus") << QVariant(QStringLiteral("Forever"))
            << QVariant(QStringLiteral("None")) << invalid;
        QTest::newRow("a loop as a number") << QStringLiteral("LoopStatus") << QVariant(1)
                                            << QVariant(QStringLiteral("None")) << invalid;
        QTest::newRow("a read-only property")
            << QStringLiteral("PlaybackStatus") << QVariant(QStringLiteral("Playing"))
            << QVariant(QStringLiteral("Stopped"))
            << QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly");
    }
    void propertySettersValidate()
    {
        requireBus();
        QFETCH(QString, name);
        QFETCH(QVariant, sent);
        QFETCH(QVariant, expected);
        QFETCH(QString, error);
        m_form->LettoreMidi->SetVolume(0.5);
        const QDBusMessage reply = callPlayer(QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Set"),
            { tunedeck::mpris::kPlayerInterface, name, QVariant::fromValue(QDBusVariant(sent)) });
        QCOMPARE(reply.type() == QDBusMessage::ErrorMessage ? reply.errorName() : QString(), error);
        QCOMPARE(property(name), expected);
        if (name == u"Volume")
            QCOMPARE(m_form->LettoreMidi->Volume(), expected.toDouble());
    }

    // A song longer than 2^31 ms shows and reports its length, and seeks within it.
    void songsLongerThanAnInt()
    {
        requireBus();
        constexpr qint64 kLengthMs = 3'000'000'000;
        testsupport::TrackWriter track;
        // Ten seconds a quarter, one tick a quarter.
        track.tempo(0, 10'000'000)
            .noteOn(0, 0, 60, 1)
            .noteOff(kLengthMs / 10000, 0, 60)
            .endOfTrack();
        const QString path = m_dir->filePath(QStringLiteral("long.mid"));
        QVERIFY(testsupport::writeFile(QFile::encodeName(path).toStdString(),
            testsupport::SmfWriter(0, 1).track(track).bytes()));
        startPlaying({ path });
        m_form->PauseButtClick();
        m_form->TimerPlayTimer();
        QCOMPARE(m_form->StatusBar->panelText(3), QStringLiteral("50000:00"));
        const QVariantMap metadata = qdbus_cast<QVariantMap>(property(QStringLiteral("Metadata")));
        QCOMPARE(metadata.value(QStringLiteral("mpris:length")).toLongLong(), kLengthMs * 1000);
        const QString track0
            = tunedeck::mpris::Service::trackId(tunedeck::mpris::Announced::read(*m_form->player()))
                  .path();
        callPlayer(tunedeck::mpris::kPlayerInterface, QStringLiteral("SetPosition"),
            { QVariant::fromValue(QDBusObjectPath(track0)), qlonglong(kLengthMs - 60000) * 1000 });
        QCOMPARE(qint64(m_form->LettoreMidi->GetPosition()), kLengthMs - 60000);
    }

    // Names from every way in as the file system's bytes: one that is not UTF-8 plays; one
    // with a NUL byte is refused by the bus with its own message and adds nothing.
    void namesAsBytes_data()
    {
        QTest::addColumn<QString>("way"); // appendFiles (the first start), AddFiles, OpenUri
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("plays");
        for (const char *way : { "appendFiles", "AddFiles", "OpenUri" }) {
            QTest::addRow("not UTF-8, %s", way) << way << QByteArray("caf\xe9.mid") << true;
            QTest::addRow("not UTF-8, known by its content, %s", way)
                << way << QByteArray("caf\xe9") << true;
        }
        QTest::newRow("NUL, AddFiles") << "AddFiles" << QByteArray("a.mid\0.txt", 10) << false;
        QTest::newRow("NUL, OpenUri") << "OpenUri" << QByteArray("a.mid\0.txt", 10) << false;
    }
    void namesAsBytes()
    {
        requireBus();
        QFETCH(QString, way);
        QFETCH(QByteArray, name);
        QFETCH(bool, plays);
        const QByteArray folder = tunedeck::fileNameToBytes(m_dir->path());
        const QString a = song(QStringLiteral("a.mid"));
        const QByteArray full = folder + '/' + name;
        BoxRecorder boxes;
        if (plays)
            QVERIFY(std::filesystem::copy_file(a.toStdString(), full.toStdString()));
        QDBusMessage reply;
        if (way == u"appendFiles") {
            tunedeck::desktop::appendFiles(*m_form->player(), { full }, QByteArray(), true);
        } else if (way == u"AddFiles") {
            reply = callPlayer(tunedeck::mpris::kInstanceInterface, way,
                { QVariant::fromValue(QList<QByteArray> { full }), QByteArray() });
        } else {
            reply = callPlayer(tunedeck::mpris::kPlayerInterface, way,
                { QStringLiteral("file://") + QString::fromLatin1(full.toPercentEncoding("/")) });
        }
        if (plays) {
            QTRY_COMPARE_WITH_TIMEOUT(playing(), tunedeck::fileNameFromBytes(name), kWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(m_form->LettoreMidi->IsOpen(), kWaitMs);
        } else {
            QCOMPARE(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
            QVERIFY(reply.errorMessage().startsWith(u"A file name cannot contain a NUL byte"));
            QCOMPARE(m_form->Lista->count(), 0);
            QCOMPARE(status(), QStringLiteral("Stopped"));
        }
        QCoreApplication::processEvents();
        QCOMPARE(boxes.texts(), QStringList());
    }

    // A file URI names a local file only without a host, or with localhost, and by a whole path.
    void urisOfOtherHostsAreNotLocal()
    {
        using tunedeck::mpris::Service;
        QCOMPARE(Service::localFileName(QStringLiteral("file:///m/a%20b.mid")), "/m/a b.mid");
        QCOMPARE(Service::localFileName(QStringLiteral("file://LocalHost/m/a.mid")), "/m/a.mid");
        QCOMPARE(Service::localFileName(QStringLiteral("file://other/m/a.mid")), QByteArray());
        // A file URI's path is absolute: one that is not names no file, here or anywhere.
        QCOMPARE(Service::localFileName(QStringLiteral("file:songs/a.mid")), QByteArray());
    }

    // Many bad names make one report of the first few and a count, on the screen; a folder
    // named again and again is read once.
    void boundedReports()
    {
        QList<QByteArray> names;
        for (int i = 0; i < 10000; ++i)
            names.append("/missing/" + QByteArray::number(i) + ".mid");
        names.prepend(QByteArray(1 << 20, 'x'));
        BoxRecorder boxes;
        tunedeck::desktop::appendFiles(*m_form->player(), names, QByteArray(), true);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), 1, kWaitMs);
        const ShownBox &box = boxes.boxes().first();
        QVERIFY(box.text.endsWith(QStringLiteral("and 9981 more.")));
        QVERIFY(box.text.split(tunedeck::texts::kLineBreak).size() <= 22);
        QTRY_VERIFY_WITH_TIMEOUT(!box.frame.isNull(), kWaitMs);
        QVERIFY2(QGuiApplication::primaryScreen()->geometry().contains(box.frame),
            qPrintable(QStringLiteral("%1 %2 %3 %4")
                           .arg(box.frame.x())
                           .arg(box.frame.y())
                           .arg(box.frame.width())
                           .arg(box.frame.height())));

        const QByteArray folder = tunedeck::fileNameToBytes(m_dir->path());
        song(QStringLiteral("a.mid"));
        song(QStringLiteral("b.mid"));
        const auto expanded = tunedeck::desktop::expandFileNames(
            QList<QByteArray>(100, folder) << folder + "/." << folder + "/a.mid", QByteArray());
        QCOMPARE(expanded.paths.size(), 3);

        // A list file named twice is read once too. One message adds at most so many entries;
        // the report says the rest were left out.
        tunedeck::PathList many;
        for (int i = 0; i < 60000; ++i)
            many.append(QStringLiteral("/songs/%1.mid").arg(i));
        QList<QByteArray> lists;
        for (const QString name : { "many.tdl", "more.tdl" }) {
            tunedeck::playlistfile::save(m_dir->filePath(name), many);
            lists.append(tunedeck::fileNameToBytes(m_dir->filePath(name)));
        }
        QCOMPARE(tunedeck::desktop::expandFileNames(QList<QByteArray>(5, lists.first()), {})
                     .paths.size(),
            many.size());
        const auto capped = tunedeck::desktop::expandFileNames(lists, QByteArray());
        QCOMPARE(capped.paths.size(), tunedeck::desktop::kMaxEntriesAtOnce);
        QVERIFY(capped.leftOut > 0);
        QVERIFY(tunedeck::desktop::rejectedFilesText({}, capped.leftOut)
                    .startsWith(u"Some files were not added"));
        // So does another player's list cut short where its reader stops.
        QFile m3u(m_dir->filePath(QStringLiteral("long.m3u")));
        QVERIFY(m3u.open(QIODevice::WriteOnly));
        QVERIFY(
            m3u.write(QByteArray("a.mid\n").repeated(tunedeck::desktop::kMaxEntriesAtOnce + 1)));
        m3u.close();
        const auto cut = tunedeck::desktop::expandFileNames({ "long.m3u" }, folder);
        QCOMPARE(cut.paths.size(), tunedeck::desktop::kMaxEntriesAtOnce);
        QVERIFY(cut.leftOut > 0);
    }

    // The live texts: status panels, the "Playing:" label and the window carry their values in
    // the names assistive technology reads; Delete removes like Remove. (The name-changed events
    // go to the platform's bridge, which the offscreen platform has not.)
    void accessibleLiveTexts()
    {
        QLabel *statusPanel = m_form->StatusBar->panel(1);
        QCOMPARE(accessibleName(statusPanel), QStringLiteral("Status: Stopped"));
        QCOMPARE(accessibleName(m_form->FNPlay), QStringLiteral("Playing: nothing"));
        QCOMPARE(accessibleName(m_form.get()), QStringLiteral("Tunedeck"));
        startPlaying({ song(QStringLiteral("a.mid"), 119000), song(QStringLiteral("b.mid")) });
        QTRY_COMPARE_WITH_TIMEOUT(
            accessibleName(statusPanel), QStringLiteral("Status: Playing"), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(
            accessibleName(m_form->StatusBar->panel(3)), QStringLiteral("Length: 01:59"), kWaitMs);
        QCOMPARE(accessibleName(m_form->FNPlay), QStringLiteral("Playing: a.mid"));
        QCOMPARE(accessibleName(m_form.get()), QStringLiteral("Tunedeck [a.mid]"));
        m_form->PauseButt->click();
        QTRY_COMPARE_WITH_TIMEOUT(
            accessibleName(statusPanel), QStringLiteral("Status: Paused"), kWaitMs);
        m_form->StopButt->click();
        QTRY_COMPARE_WITH_TIMEOUT(
            accessibleName(m_form.get()), QStringLiteral("Tunedeck"), kWaitMs);
        QCOMPARE(accessibleName(m_form->FNPlay), QStringLiteral("Playing: nothing"));

        m_form->Lista->setFocus();
        m_form->Lista->setCurrentRow(0);
        QTest::keyClick(m_form->Lista, Qt::Key_Delete);
        QCOMPARE(m_form->Lista->count(), 0);
        QCOMPARE(m_form->PlayListPaths.size(), 0);
    }

    // The help window opens fully on the screen, beside the main window when there is room.
    void helpWindowBesideTheOwner_data()
    {
        QTest::addColumn<QRect>("owner");
        QTest::addColumn<QRect>("expectedFrame");
        QTest::newRow("room on the right")
            << QRect(100, 100, 460, 330) << QRect(568, 100, 524, 464);
        QTest::newRow("room on the left") << QRect(800, 100, 460, 330) << QRect(268, 100, 524, 464);
        QTest::newRow("low on the screen")
            << QRect(100, 900, 460, 124) << QRect(568, 560, 524, 464);
        QTest::newRow("no room beside") << QRect(400, 100, 460, 330) << QRect(400, 100, 524, 464);
    }
    void helpWindowBesideTheOwner()
    {
        QFETCH(QRect, owner);
        QFETCH(QRect, expectedFrame);
        const QMargins frame(2, 22, 2, 2);
        const QRect placed
            = HelpEngine::placeBeside(owner, QSize(520, 440), frame, QRect(0, 0, 1280, 1024));
        QCOMPARE(placed.marginsAdded(frame), expectedFrame);
    }

    // While the File or Help menu is open, its items hang below its tool button in the tree.
    void menusInTheAccessibleTree_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("item");
        QTest::newRow("File") << "ToolButton1"
                              << "Open Play List";
        QTest::newRow("Help") << "ToolButton2"
                              << "About Orvane Labs";
    }
    void menusInTheAccessibleTree()
    {
        QFETCH(QString, button);
        QFETCH(QString, item);
        auto *tool = m_form->findChild<QToolButton *>(button);
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(m_form.get());
        QAccessibleInterface *node = QAccessible::queryAccessibleInterface(tool);
        QVERIFY(window && node);
        // The button is reached from the window through its parents' children.
        QAccessibleInterface *up = node;
        while (up && up->object() != m_form.get())
            up = up->parent();
        QVERIFY(up);
        QCOMPARE(node->childCount(), 0);
        QStringList seen;
        QAccessibleInterface *menuParent = nullptr;
        QTimer::singleShot(0, this, [&] {
            QMenu *menu = tool->menu();
            QTRY_VERIFY(menu->isVisible());
            if (node->childCount() == 1) {
                QAccessibleInterface *popup = node->child(0);
                menuParent = popup->parent();
                for (int i = 0; i < popup->childCount(); ++i)
                    seen.append(popup->child(i)->text(QAccessible::Name));
            }
            menu->close();
        });
        tool->showMenu();
        QCOMPARE(menuParent ? menuParent->object() : nullptr, static_cast<QObject *>(tool));
        QVERIFY2(seen.contains(item), qPrintable(seen.join(u'|')));
        QCOMPARE(node->childCount(), 0);
    }

private:
    QProcess m_daemon;
    QString m_address;
    QString m_busMissing;
    bool m_busReady = false;
    QDBusConnection m_client { QString() };
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TTunedeckform> m_form;
    tunedeck::mpris::Service *m_service = nullptr;
    QStringList *m_statuses = nullptr;
    QStringList *m_tracks = nullptr;
    QList<double> m_volumes;
    QList<double> m_rates;
    QStringList m_loops;
};

TUNEDECK_PLAYER_TEST_MAIN(DesktopTest)
#include "DesktopTest.moc"
