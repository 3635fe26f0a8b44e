#include "DesktopFiles.h"

#include "FileNames.h"
#include "FolderReader.h"
#include "MessageBoxes.h"
#include "PlayListFile.h"
#include "Player.h"
#include "SongFiles.h"
#include "Texts.h"
#include "TunedeckApplication.h"
#include "tunedeck/FileKind.h"
#include "tunedeck/PlayLists.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QLoggingCategory>
#include <QMimeData>
#include <QScopeGuard>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tunedeck::desktop {

namespace {

// Entries arriving from outside the window, for automation (off unless enabled with
// QT_LOGGING_RULES="tunedeck.desktop.debug=true").
Q_LOGGING_CATEGORY(lcDesktop, "tunedeck.desktop", QtWarningMsg)

bool endsWithTdl(QByteArrayView name)
{
    return name.size() > 4 && name[name.size() - 4] == '.'
        && name.last(3).compare("tdl", Qt::CaseInsensitive) == 0;
}

// Whether the file's first bytes are a song or a wave file as the engine tells them. Opened by
// its bytes, so a name that is not UTF-8 is found; without waiting, so a pipe cannot hang.
bool hasPlayableContent(const QByteArray &name)
{
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return false;
    const QByteArray head = file.read(12);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(head.constData());
    return tunedeck::containerOfHead({ bytes, std::size_t(head.size()) }).has_value();
}

QByteArray absoluteName(const QByteArray &name, const QByteArray &workingFolder)
{
    if (name.startsWith('/') || workingFolder.isEmpty())
        return name;
    return workingFolder.endsWith('/') ? workingFolder + name : workingFolder + '/' + name;
}

void appendEntry(ExpandedFiles &result, QByteArrayView bytes)
{
    if (result.paths.size() >= kMaxEntriesAtOnce) {
        ++result.leftOut;
        return;
    }
    result.paths.appendBytes(bytes);
    result.shown.append(result.paths.displayNameAt(result.paths.size() - 1));
}

// The folder's songs as the file view lists and orders them, less what is not a file.
void appendFolder(ExpandedFiles &result, const QByteArray &folder)
{
    const QByteArray prefix = folder.endsWith('/') ? folder : folder + '/';
    for (const QString &name : songfiles::songNames(folder)) {
        const QByteArray full = prefix + fileNameToBytes(name);
        struct stat info { };
        if (::stat(full.constData(), &info) == 0 && S_ISREG(info.st_mode))
            appendEntry(result, full);
    }
}

// The songs a play list of another player names: each entry that is a playable file, by the
// same rules as names given directly; the others (missing, other kinds of file, other lists,
// URIs of other schemes) are rejected, each once. False when the list cannot be read or names
// nothing at all.
bool appendForeignList(ExpandedFiles &result, const QByteArray &name)
{
    const auto entries = playlists::read(std::filesystem::path(name.toStdString()));
    if (!entries || (entries->files.empty() && entries->refused.empty()))
        return false;
    for (const std::filesystem::path &file : entries->files) {
        const QByteArray bytes = QByteArray::fromStdString(file.native());
        struct stat info { };
        if (::stat(bytes.constData(), &info) == 0 && S_ISREG(info.st_mode)
            && ::access(bytes.constData(), R_OK) == 0
            && (songfiles::hasSongExtension(bytes) || hasPlayableContent(bytes)))
            appendEntry(result, bytes);
        else
            result.rejected.append(fileNameFromBytes(bytes));
    }
    for (const std::string &refused : entries->refused)
        result.rejected.append(QString::fromStdString(refused));
    // The reader stops at as many entries as one list of names adds, so the report's note on
    // entries left out holds for the rest of the list too.
    static_assert(playlists::kMaxEntries == std::size_t(kMaxEntriesAtOnce));
    static_assert(playlistfile::kMaxEntries == kMaxEntriesAtOnce);
    if (entries->truncated)
        ++result.leftOut;
    return true;
}

// What files handed over leave to do: Play and the report of the names they could not use.
// Both may open a modal box, so they wait until the caller has returned (a caller on the bus
// must have its answer first) and until no box is up (a second box would run inside the
// first); the entries are in the list meanwhile. What several hand-overs leave in that time
// makes one Play and one report. A child of the player.
class AfterHandOver : public QObject {
public:
    static AfterHandOver &of(Player &player)
    {
        QObject *found = player.findChild<QObject *>(kName, Qt::FindDirectChildrenOnly);
        return found ? *static_cast<AfterHandOver *>(found) : *new AfterHandOver(player);
    }

    void add(bool startPlay, const QStringList &rejected, qsizetype leftOut)
    {
        m_startPlay = m_startPlay || startPlay;
        // Bounded, should a box stay up while hand-overs keep coming; the report shows only the
        // first names and how many more there were anyway.
        m_rejected
            += rejected.first(std::min(rejected.size(), kMaxEntriesAtOnce - m_rejected.size()));
        m_leftOut += leftOut;
        if (!m_box)
            QTimer::singleShot(0, this, &AfterHandOver::run);
    }

private:
    static constexpr QLatin1StringView kName { "tunedeck-after-hand-over" };

    explicit AfterHandOver(Player &player)
        : QObject(&player)
        , m_player(player)
    {
        setObjectName(kName);
    }

    void run()
    {
        if (waitForTheBox())
            return;
        if (std::exchange(m_startPlay, false) && m_player.state() == Player::State::Stopped
            && m_player.listSize() > 0)
            m_player.play();
        if (waitForTheBox() || (m_rejected.isEmpty() && m_leftOut == 0))
            return;
        const QStringList rejected = std::exchange(m_rejected, {});
        showGeneralError(rejectedFilesText(rejected, std::exchange(m_leftOut, 0)));
    }

    // Whether a box is up; if one is, runs again once it has closed.
    bool waitForTheBox()
    {
        if (m_box)
            return true;
        m_box = QApplication::activeModalWidget();
        if (!m_box)
            return false;
        m_box->installEventFilter(this);
        connect(m_box, &QObject::destroyed, this, [this] { closed(false); });
        return true;
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_box && event->type() == QEvent::Hide)
            closed(true);
        return false;
    }
    void closed(bool alive)
    {
        if (alive) {
            m_box->removeEventFilter(this);
            disconnect(m_box, nullptr, this, nullptr);
        }
        m_box = nullptr;
        // Another box may be up by then (the one beneath, or a new one): run waits for it.
        QTimer::singleShot(0, this, &AfterHandOver::run);
    }

    Player &m_player;
    QWidget *m_box = nullptr;
    bool m_startPlay = false;
    QStringList m_rejected;
    qsizetype m_leftOut = 0;
};

} // namespace

ExpandedFiles expandFileNames(const QList<QByteArray> &names, const QByteArray &workingFolder)
{
    ExpandedFiles result;
    // Folders and list files already expanded: one named again adds nothing and is not read
    // again.
    QSet<std::pair<dev_t, ino_t>> expanded;
    const auto firstTime = [&expanded](const struct stat &info) {
        const std::pair<dev_t, ino_t> file { info.st_dev, info.st_ino };
        if (expanded.contains(file))
            return false;
        expanded.insert(file);
        return true;
    };
    for (const QByteArray &given : names) {
        // Once the list is full, the names left are not even looked at.
        if (result.paths.size() >= kMaxEntriesAtOnce) {
            ++result.leftOut;
            continue;
        }
        const QByteArray name = absoluteName(given, workingFolder);
        const QString text = fileNameFromBytes(name);
        struct stat info { };
        if (given.isEmpty() || ::stat(name.constData(), &info) != 0) {
            result.rejected.append(fileNameFromBytes(given));
            continue;
        }
        // What cannot be read is reported now, not when its turn to play comes.
        if (::access(name.constData(), S_ISDIR(info.st_mode) ? R_OK | X_OK : R_OK) != 0) {
            result.rejected.append(fileNameFromBytes(given));
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            if (firstTime(info))
                appendFolder(result, name);
            continue;
        }
        const bool isList = endsWithTdl(name)
            || playlists::formatOf(std::filesystem::path(name.toStdString())).has_value();
        if (!S_ISREG(info.st_mode)) {
            result.rejected.append(fileNameFromBytes(given));
        } else if (songfiles::hasSongExtension(name)) {
            appendEntry(result, name);
        } else if (isList && !firstTime(info)) {
            continue;
        } else if (endsWithTdl(name)) {
            try {
                bool cut = false;
                const PathList entries = playlistfile::load(text, &cut);
                for (qsizetype i = 0; i < entries.size(); ++i)
                    appendEntry(result, entries.bytesAt(i));
                result.leftOut += cut ? 1 : 0;
            } catch (const std::exception &) {
                result.rejected.append(fileNameFromBytes(given));
            }
        } else if (isList) {
            if (!appendForeignList(result, name))
                result.rejected.append(fileNameFromBytes(given));
        } else if (hasPlayableContent(name)) {
            appendEntry(result, name);
        } else {
            result.rejected.append(fileNameFromBytes(given));
        }
    }
    return result;
}

bool acceptsDroppedUrls(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return !urls.isEmpty()
        && std::all_of(urls.begin(), urls.end(), [](const QUrl &url) { return url.isLocalFile(); });
}

void dropFiles(Player &player, const QMimeData *data)
{
    if (!acceptsDroppedUrls(data))
        return;
    QList<QByteArray> names;
    for (const QUrl &url : data->urls()) {
        // The URL's path as the file system's bytes, so names that are not UTF-8 survive.
        names.append(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    }
    appendFiles(player, names, QByteArray(), false);
}

QString rejectedFilesText(const QStringList &rejected, qsizetype leftOut)
{
    QString text;
    if (!rejected.isEmpty()) {
        text = texts::kUnableToPlayFile + texts::kLineBreak
            + rejected.first(std::min(rejected.size(), kMaxReportedNames)).join(texts::kLineBreak);
    }
    if (rejected.size() > kMaxReportedNames)
        text += texts::kLineBreak
            + QStringLiteral("and %1 more").arg(rejected.size() - kMaxReportedNames);
    if (leftOut > 0) {
        if (!text.isEmpty())
            text += texts::kLineBreak;
        text += QStringLiteral("Some files were not added: at most %1 are added at a time")
                    .arg(kMaxEntriesAtOnce);
    }
    return text;
}

std::optional<QString> refuseNames(const QList<QByteArray> &names)
{
    for (const QByteArray &name : names) {
        if (name.contains('\0')) {
            return QStringLiteral("A file name cannot contain a NUL byte: ")
                + fileNameFromBytes(name.left(name.indexOf('\0')));
        }
    }
    return std::nullopt;
}

ExpandedFiles expandFileNamesWithin(const QList<QByteArray> &names, const QByteArray &workingFolder)
{
    // The names are looked at on a worker: one on a drive that stopped answering (a network or
    // FUSE mount) would hold the window for good. Names not looked at in time are reported
    // with the others that cannot be played.
    constexpr std::chrono::seconds kLookingWait { 10 };
    const auto looked = std::make_shared<ExpandedFiles>();
    if (filctl95::runWithin(
            [looked, names, workingFolder] { *looked = expandFileNames(names, workingFolder); },
            kLookingWait))
        return std::move(*looked);
    ExpandedFiles files;
    for (const QByteArray &name : names.first(std::min(names.size(), kMaxEntriesAtOnce)))
        files.rejected.append(fileNameFromBytes(name));
    files.leftOut = names.size() > kMaxEntriesAtOnce ? 1 : 0;
    return files;
}

qsizetype appendFiles(Player &player, const QList<QByteArray> &names,
    const QByteArray &workingFolder, bool startPlaying)
{
    const ExpandedFiles files = expandFileNamesWithin(names, workingFolder);
    const qsizetype added = files.paths.size();
    player.append(files.paths);
    for (const QString &name : std::as_const(files.shown))
        qCDebug(lcDesktop, "appended %s", qUtf8Printable(name));
    AfterHandOver::of(player).add(startPlaying && added > 0, files.rejected, files.leftOut);
    return added;
}

} // namespace tunedeck::desktop
