// Play-list files: the reading rules, the exact bytes written, names that are not UTF-8, and
// failures that must leave the user's files alone.
#include "PlayListFile.h"
#include "FileNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tunedeck;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Writes past `bytes` into any file are refused while it lives, as a full disk would refuse them
// (a child process started meanwhile inherits the limit); no limit when `bytes` is negative.
class FileSizeLimit {
public:
    explicit FileSizeLimit(long long bytes)
        : m_handler(std::signal(SIGXFSZ, SIG_IGN)) // a refused write fails instead of killing
    {
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limited = m_previous;
        limited.rlim_cur = bytes < 0 ? m_previous.rlim_cur : rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_previous {};
    void (*m_handler)(int);
};

// Started as "PlayListFileTest --save-two-names PATH" (by a test that saves as another user):
// saves two names to PATH and ends with the outcome as its exit status.
const char kSaveSwitch[] = "--save-two-names";
constexpr int kSaveNotRun = 4;

// Saves "/m/a.mid" and "/m/b.mid" to `path`: 0 when saved, 1 for "Cannot create file", 2 for
// another error.
int saveTwoNames(const QString &path)
{
    try {
        playlistfile::save(path,
            PathList::fromStringList({ QStringLiteral("/m/a.mid"), QStringLiteral("/m/b.mid") }));
        return 0;
    } catch (const EFCreateError &) {
        return 1;
    } catch (...) {
        return 2;
    }
}

// The names of `list` as bytes.
QList<QByteArray> names(const PathList &list)
{
    QList<QByteArray> bytes;
    for (qsizetype i = 0; i < list.size(); ++i)
        bytes.append(list.bytesAt(i).toByteArray());
    return bytes;
}

} // namespace

class PlayListFileTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readingSplitsLinesByEveryKindOfLineEnd_data();
    void readingSplitsLinesByEveryKindOfLineEnd();
    void loadingSomethingThatIsNotAFileThrowsCannotOpen();
    void aHugeListIsCutOrRefused();
    void writingEndsEveryLineWithCrLfAndAddsNothingElse();
    void savedListLoadsBackUnchanged();
    void namesThatAreNotUtf8SurviveSaveAndLoadByteForByte();
    void fileNameConversionIsLosslessForAnyBytes();
    void fileNameConversionAgreesWithQtForUtf8();
    void loadingAMissingFileThrowsCannotOpen();
    void savingOverAReadOnlyFileThrowsAndKeepsIt();
    void aNameWithALineBreakIsNotSavedAndTheFileIsKept();
    void savingIntoAFolderThatCannotBeWrittenThrowsCannotCreate();
    void savingOverAWritableFileWithNoRoomForATemporaryOneWritesInPlace_data();
    void savingOverAWritableFileWithNoRoomForATemporaryOneWritesInPlace();
    void aWriteThatFailsPartWayThrowsStreamErrorAndKeepsTheOldFile_data();
    void aWriteThatFailsPartWayThrowsStreamErrorAndKeepsTheOldFile();
};

void PlayListFileTest::readingSplitsLinesByEveryKindOfLineEnd_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QByteArray>>("lines");

    const QList<QByteArray> abc { "a", "b", "c" };
    QTest::newRow("empty file") << QByteArray() << QList<QByteArray>();
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\nc\r\n") << abc;
    QTest::newRow("LF only") << QByteArray("a\nb\nc\n") << abc;
    QTest::newRow("CR only") << QByteArray("a\rb\rc\r") << abc;
    QTest::newRow("last line without end") << QByteArray("a\r\nb\r\nc") << abc;
    QTest::newRow("LF CR is two line ends")
        << QByteArray("a\n\rb") << QList<QByteArray> { "a", "", "b" };
    QTest::newRow("empty line in the middle")
        << QByteArray("a\r\n\r\nb\r\n") << QList<QByteArray> { "a", "", "b" };
    QTest::newRow("only a line end") << QByteArray("\r\n") << QList<QByteArray> { "" };
    QTest::newRow("no line end at all") << QByteArray("abc") << QList<QByteArray> { "abc" };
    QTest::newRow("CR at the very end, no LF after it")
        << QByteArray("a\r\nb\r") << QList<QByteArray> { "a", "b" };
    QTest::newRow("CR LF then a NUL") << QByteArray("a\r\n\0\r\n", 5) << QList<QByteArray> { "a" };
    QTest::newRow("blanks are kept")
        << QByteArray("  /m/a.mid  \r\n\t\r\n") << QList<QByteArray> { "  /m/a.mid  ", "\t" };
    QTest::newRow("NUL ends the text") << QByteArray("a\r\nb", 4).append('\0').append("x\r\nc\r\n")
                                       << QList<QByteArray> { "a", "b" };
    QTest::newRow("NUL first") << QByteArray("\0a\r\n", 4) << QList<QByteArray>();
    QTest::newRow("equal lines stay two entries")
        << QByteArray("x.mid\r\nx.mid\r\n") << QList<QByteArray> { "x.mid", "x.mid" };
}

void PlayListFileTest::readingSplitsLinesByEveryKindOfLineEnd()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QByteArray>, lines);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rules.tdl"));
    writeAll(path, bytes);
    QCOMPARE(names(playlistfile::parseList(bytes)), lines);
    QCOMPARE(names(playlistfile::load(path)), lines);
}

void PlayListFileTest::loadingSomethingThatIsNotAFileThrowsCannotOpen()
{
    QTemporaryDir dir;
    QVERIFY_THROWS_EXCEPTION(EFOpenError, playlistfile::load(dir.path()));

    // A pipe nobody writes to would block a plain open forever.
    const QString fifo = dir.filePath(QStringLiteral("pipe.tdl"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY_THROWS_EXCEPTION(EFOpenError, playlistfile::load(fifo));
}

void PlayListFileTest::aHugeListIsCutOrRefused()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.tdl"));
    const qsizetype limit = playlistfile::kMaxEntries;
    const struct {
        QByteArray bytes;
        bool cut;
    } rows[] = {
        { QByteArray("a\r\n").repeated(limit), false },
        { QByteArray("a\r\n").repeated(limit) + "b", true },
        { QByteArray("a\n").repeated(limit + 1), true },
    };
    for (const auto &row : rows) {
        writeAll(path, row.bytes);
        bool cut = !row.cut;
        const PathList names = playlistfile::load(path, &cut);
        QCOMPARE(cut, row.cut);
        QCOMPARE(names.size(), limit);
        QCOMPARE(names.bytesAt(limit - 1), QByteArrayView("a"));
    }

    // Over the size limit: refused before it is read, whatever its lines.
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(playlistfile::kMaxBytes + 1));
    file.close();
    try {
        playlistfile::load(path);
        QFAIL("no error");
    } catch (const EFOpenError &error) {
        QVERIFY(QString::fromUtf8(error.what())
                    .startsWith(QStringLiteral("Cannot open file ") + path + QStringLiteral(": ")));
    }
}

void PlayListFileTest::writingEndsEveryLineWithCrLfAndAddsNothingElse()
{
    QCOMPARE(PathList().toLines(), QByteArray());
    QCOMPARE(PathList::fromStringList({ "/m/a.mid", "", "b.wav " }).toLines(),
        QByteArray("/m/a.mid\r\n\r\nb.wav \r\n"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("empty.tdl"));
    playlistfile::save(path, PathList());
    QVERIFY(QFile::exists(path));
    QCOMPARE(QFileInfo(path).size(), 0);
    QCOMPARE(playlistfile::load(path).toStringList(), QStringList());
}

void PlayListFileTest::savedListLoadsBackUnchanged()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.tdl"));
    const QStringList names { QStringLiteral("/music/Ode to Joy.mid"),
        QStringLiteral("/music/ä ö ü.rmi"), QStringLiteral("chime.wav"),
        QStringLiteral("/music/Ode to Joy.mid") };
    playlistfile::save(path, PathList::fromStringList(names));
    QCOMPARE(readAll(path),
        QByteArray("/music/Ode to Joy.mid\r\n/music/\xc3\xa4 \xc3\xb6 \xc3\xbc.rmi\r\nchime.wav\r\n"
                   "/music/Ode to Joy.mid\r\n"));
    QCOMPARE(playlistfile::load(path).toStringList(), names);

    // Saving again replaces the whole file.
    playlistfile::save(path, PathList::fromStringList({ QStringLiteral("x") }));
    QCOMPARE(readAll(path), QByteArray("x\r\n"));
}

void PlayListFileTest::namesThatAreNotUtf8SurviveSaveAndLoadByteForByte()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("latin1.tdl"));
    const QByteArray original(
        "/musik/M\xfcller \xff\xfe.mid\r\n/a/\xc3\x28.mid\r\n/b/\xed\xa0\x80.wav\r\n");
    writeAll(path, original);

    // Through text and back: what the window shows and stores must not lose a byte either.
    const QStringList names = playlistfile::load(path).toStringList();
    QCOMPARE(names.size(), 3);
    QVERIFY(names[0].startsWith(QStringLiteral("/musik/M")));

    const QString copy = dir.filePath(QStringLiteral("copy.tdl"));
    playlistfile::save(copy, PathList::fromStringList(names));
    QCOMPARE(readAll(copy), original);
}

void PlayListFileTest::fileNameConversionIsLosslessForAnyBytes()
{
    auto *random = QRandomGenerator::global();
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(random->bounded(0, 24), Qt::Uninitialized);
        for (char &c : bytes) {
            // Mostly high bytes, so broken and valid sequences both turn up often.
            c = static_cast<char>(random->bounded(0, 4) == 0 ? random->bounded(1, 0x80)
                                                             : random->bounded(0x80, 0x100));
        }
        QCOMPARE(fileNameToBytes(fileNameFromBytes(bytes)), bytes);
    }
}

void PlayListFileTest::fileNameConversionAgreesWithQtForUtf8()
{
    const QStringList names { QStringLiteral("plain.mid"), QStringLiteral("Grüße/曲.rmi"),
        QString::fromUtf8("\xf0\x9f\x8e\xb5 song.wav"), QString() };
    for (const QString &name : names) {
        QCOMPARE(fileNameToBytes(name), QFile::encodeName(name));
        QCOMPARE(fileNameFromBytes(QFile::encodeName(name)), name);
    }
}

void PlayListFileTest::loadingAMissingFileThrowsCannotOpen()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gone.tdl"));
    try {
        playlistfile::load(path);
        QFAIL("no error");
    } catch (const EFOpenError &error) {
        QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("Cannot open file ") + path);
    }
}

void PlayListFileTest::savingOverAReadOnlyFileThrowsAndKeepsIt()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kept.tdl"));
    writeAll(path, "old\r\n");
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    try {
        playlistfile::save(path, PathList::fromStringList({ QStringLiteral("new") }));
        QFAIL("no error");
    } catch (const EFCreateError &error) {
        QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("Cannot create file ") + path);
    }
    QCOMPARE(readAll(path), QByteArray("old\r\n"));
}

void PlayListFileTest::aNameWithALineBreakIsNotSavedAndTheFileIsKept()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kept.tdl"));
    writeAll(path, "old\r\n");
    try {
        playlistfile::save(path,
            PathList::fromStringList(
                { QStringLiteral("/m/a.mid"), QStringLiteral("/m/b\nc.mid") }));
        QFAIL("no error");
    } catch (const EFCreateError &error) {
        QCOMPARE(QString::fromUtf8(error.what()),
            QStringLiteral("Cannot create file ") + path
                + QStringLiteral(": the name /m/b\\nc.mid holds a line break, which a play list "
                                 "cannot"));
    }
    QCOMPARE(readAll(path), QByteArray("old\r\n"));
}

void PlayListFileTest::savingIntoAFolderThatCannotBeWrittenThrowsCannotCreate()
{
    QTemporaryDir dir;
    // A folder that is gone cannot be written by anyone, root included.
    const QString missing = dir.filePath(QStringLiteral("removed/list.tdl"));
    QVERIFY_THROWS_EXCEPTION(EFCreateError,
        playlistfile::save(missing, PathList::fromStringList({ QStringLiteral("a") })));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("removed"))));
}

void PlayListFileTest::savingOverAWritableFileWithNoRoomForATemporaryOneWritesInPlace_data()
{
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::addColumn<int>("limit"); // a file-size limit, as a full disk; -1 for none
    // A folder the user may not write to, holding a file the user may: run as an unprivileged
    // user (root writes into any folder, so as root the save runs in a child process that has
    // given up root for "nobody").
    QTest::newRow("read-only folder") << true << -1;
    // A name of the longest length the file system allows leaves no room for the suffix of a
    // temporary name beside it: this stops the temporary file for root as well.
    QTest::newRow("longest name") << false << -1;
    // No room for the list either: the old one stays whole.
    QTest::newRow("read-only folder, no room") << true << 8;
}

void PlayListFileTest::savingOverAWritableFileWithNoRoomForATemporaryOneWritesInPlace()
{
    QFETCH(bool, readOnlyFolder);
    QFETCH(int, limit);
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
            | QFileDevice::ReadOther | QFileDevice::ExeOther));
    const QString folder = dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkdir(folder));
    const long nameMax = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    QVERIFY(nameMax > 8);
    const QString name = readOnlyFolder
        ? QStringLiteral("list.tdl")
        : QString(int(nameMax) - 4, QLatin1Char('n')) + QStringLiteral(".tdl");
    const QString path = folder + u'/' + name;
    // Longer than the list, which must cut it; shorter when the list must find room to grow.
    const QByteArray old = limit < 0 ? QByteArray(4000, 'o') + "\r\n" : QByteArray("old\r\n");
    writeAll(path, old);
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
        | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    QVERIFY(QFile::setPermissions(path, everyone));
    if (readOnlyFolder) {
        QVERIFY(QFile::setPermissions(folder,
            QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                | QFileDevice::ExeOther));
    }
    std::optional<FileSizeLimit> limited(std::in_place, limit);
    int outcome = -1;
    if (readOnlyFolder && geteuid() == 0) {
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody)
            QSKIP("runs as root and the system has no user \"nobody\" to save as");
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        // The child starts this program afresh (only system calls between fork and exec, as
        // the test's watchdog is another thread), as "nobody", to do the save.
        const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
        const QByteArray target = QFile::encodeName(path);
        char *const arguments[] = { const_cast<char *>(program.constData()),
            const_cast<char *>(kSaveSwitch), const_cast<char *>(target.constData()), nullptr };
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            if (::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0)
                ::execv(arguments[0], arguments);
            ::_exit(kSaveNotRun);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        outcome = WEXITSTATUS(status);
        if (outcome == kSaveNotRun) {
            QFile::setPermissions(
                folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QSKIP("runs as root, and \"nobody\" cannot start this test program to save as");
        }
    } else {
        outcome = saveTwoNames(path);
    }
    QFile::setPermissions(
        folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    limited.reset();

    QCOMPARE(outcome, limit < 0 ? 0 : 2); // 1: "Cannot create file", 2: another error
    QCOMPARE(readAll(path), limit < 0 ? QByteArray("/m/a.mid\r\n/m/b.mid\r\n") : old);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList { name }); // No leftovers.
}

void PlayListFileTest::aWriteThatFailsPartWayThrowsStreamErrorAndKeepsTheOldFile_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("limit");
    QTest::newRow("a long list, refused after 4 KiB") << 2000 << 4096;
    // Small enough to be held back until the file is committed.
    QTest::newRow("a short list, no room at all") << 2 << 0;
}

void PlayListFileTest::aWriteThatFailsPartWayThrowsStreamErrorAndKeepsTheOldFile()
{
    QFETCH(int, count);
    QFETCH(int, limit);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.tdl"));
    writeAll(path, "old\r\n");

    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(QStringLiteral("/music/song number %1.mid").arg(i));
    bool threw = false;
    try {
        const FileSizeLimit limited(limit);
        playlistfile::save(path, PathList::fromStringList(names));
    } catch (const EWriteError &error) {
        threw = QString::fromUtf8(error.what()) == QStringLiteral("Stream write error");
    }

    QVERIFY(threw);
    QCOMPARE(readAll(path), QByteArray("old\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { QStringLiteral("big.tdl") });
}

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], kSaveSwitch) == 0)
        return saveTwoNames(QFile::decodeName(argv[2]));
    QCoreApplication application(argc, argv);
    PlayListFileTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "PlayListFileTest.moc"
