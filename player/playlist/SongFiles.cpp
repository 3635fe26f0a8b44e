#include "SongFiles.h"

#include "FileNames.h"
#include "FolderReader.h"

#include <QLocale>

#include <climits>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tunedeck::songfiles {

bool hasSongExtension(QByteArrayView name)
{
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < 0 || name.size() - dot != 4 || name.sliced(dot).contains('/'))
        return false;
    char upper[3];
    for (int i = 0; i < 3; ++i) {
        const char c = name[dot + 1 + i];
        upper[i] = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    }
    const QByteArrayView extension(upper, 3);
    return extension == "MID" || extension == "RMI" || extension == "WAV";
}

namespace {

// The song names `dir` lists, sorted; closes `dir`.
QStringList songNamesOf(DIR *dir)
{
    QStringList names;
    if (dir) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArrayView name(entry->d_name, qsizetype(std::strlen(entry->d_name)));
            if (hasSongExtension(name))
                names.append(fileNameFromBytes(name));
        }
        ::closedir(dir);
    }
    QStringList sorted;
    sorted.reserve(names.size());
    for (const qsizetype index : filctl95::collationOrder(names, Qt::CaseSensitive, QLocale()))
        sorted.append(names.at(index));
    return sorted;
}

} // namespace

QStringList songNames(const QByteArray &folder)
{
    return songNamesOf(::opendir(folder.constData()));
}

QStringList songNamesAt(int folderFd)
{
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (fd >= 0 && !dir)
        ::close(fd);
    return songNamesOf(dir);
}

QStringList currentSongNames(
    std::chrono::milliseconds timeout, const std::function<QStringList(int folderFd)> &read)
{
    // A path-only descriptor: taking it asks the folder's file system nothing, and it stays
    // the folder read when the folder list moves on meanwhile.
    const int fd = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const std::shared_ptr<const int> folder(new int(fd), [](const int *held) {
        ::close(*held);
        delete held;
    });
    // A read of this folder still stuck is joined rather than started again. Its key cannot be
    // a folder's name (it holds a NUL), so it is never taken for the folder list's read; a folder
    // whose name is too long to be had joins none.
    static int unnamed = 0;
    char here[PATH_MAX];
    const QString key = QStringLiteral("songs") + QChar(0)
        + (::getcwd(here, sizeof here)
                ? fileNameFromBytes(QByteArrayView(here, qsizetype(std::strlen(here))))
                : QString::number(++unnamed));
    const filctl95::FolderListing listing = filctl95::readFolderWithin(
        [folder, read](const QString &) {
            filctl95::FolderListing found;
            found.files = read(*folder);
            return found;
        },
        key, timeout);
    return listing.files;
}

} // namespace tunedeck::songfiles
