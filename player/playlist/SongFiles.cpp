#include "SongFiles.h"

#include "FileNames.h"
#include "FolderReader.h"

#include <QLocale>

#include <cstring>

#include <dirent.h>

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

QStringList songNames(const QByteArray &folder)
{
    QStringList names;
    if (DIR *dir = ::opendir(folder.constData())) {
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

} // namespace tunedeck::songfiles
