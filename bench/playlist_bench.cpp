// Saves and loads a play list of many entries and compares that with writing and reading the
// same bytes with plain write(2)/read(2). Prints milliseconds and the ratios.
#include "BestOf.h"
#include "PlayListFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.tdl"));
    const QByteArray rawPath = QFile::encodeName(dir.filePath(QStringLiteral("raw.tdl")));

    QStringList names;
    names.reserve(entries);
    for (int i = 0; i < entries; ++i)
        names.append(QStringLiteral("/home/user/Music/Collection %1/Track %2 - Some Song.mid").arg(i / 100).arg(i));
    const QByteArray bytes = tunedeck::playlistfile::serialise([&] {
        QList<QByteArray> lines;
        for (const QString &name : names)
            lines.append(QFile::encodeName(name));
        return lines;
    }());

    const int runs = 7;
    const double saveMs = bestOfMs(runs, [&] { tunedeck::playlistfile::save(path, names); });
    qsizetype loaded = 0;
    const double loadMs = bestOfMs(runs, [&] { loaded = tunedeck::playlistfile::load(path).size(); });

    const double writeMs = bestOfMs(runs, [&] {
        // Same steps as the save: a new file, one write, flushed to the page cache, renamed.
        const QByteArray tmp = rawPath + ".tmp";
        const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, bytes.constData(), bytes.size()) != bytes.size())
            std::perror("write");
        ::close(fd);
        ::rename(tmp.constData(), rawPath.constData());
    });
    const double durableWriteMs = bestOfMs(runs, [&] {
        // What a save that survives a crash must do: the same, with fsync before the rename.
        const QByteArray tmp = rawPath + ".tmp";
        const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, bytes.constData(), bytes.size()) != bytes.size() || ::fsync(fd) != 0)
            std::perror("write");
        ::close(fd);
        ::rename(tmp.constData(), rawPath.constData());
    });
    const double readMs = bestOfMs(runs, [&] {
        std::vector<char> buffer(bytes.size());
        const int fd = ::open(rawPath.constData(), O_RDONLY);
        if (fd < 0 || ::read(fd, buffer.data(), buffer.size()) != bytes.size())
            std::perror("read");
        ::close(fd);
    });

    std::printf("play list of %d entries (%lld bytes), best of %d\n", entries,
        static_cast<long long>(bytes.size()), runs);
    std::printf("save        %8.2f ms   (target <= 200 ms)\n", saveMs);
    std::printf("plain write %8.2f ms   ratio %.2f (target <= 2.0)\n", writeMs, saveMs / writeMs);
    std::printf("plain write + fsync %8.2f ms   ratio %.2f (the save fsyncs before it replaces)\n",
        durableWriteMs, saveMs / durableWriteMs);
    std::printf("load        %8.2f ms   (target <= 200 ms), %lld entries\n", loadMs, static_cast<long long>(loaded));
    std::printf("plain read  %8.2f ms   ratio %.2f (target <= 2.0)\n", readMs, loadMs / readMs);
    return loaded == entries ? 0 : 1;
}
