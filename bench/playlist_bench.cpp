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

    tunedeck::PathList names;
    for (int i = 0; i < entries; ++i)
        names.append(QStringLiteral("/home/user/Music/Collection %1/Track %2 - Some Song.mid").arg(i / 100).arg(i));
    const QByteArray bytes = names.toLines();

    const int runs = 15;
    const double saveMs = bestOfMs(runs, [&] { tunedeck::playlistfile::save(path, names); });
    qsizetype loaded = 0;
    const double loadMs = bestOfMs(runs, [&] { loaded = tunedeck::playlistfile::load(path).size(); });
    qsizetype split = 0;
    const double splitMs = bestOfMs(runs, [&] { split = tunedeck::playlistfile::parseList(bytes).size(); });

    const double writeMs = bestOfMs(runs, [&] {
        // A new file, one write, renamed over the old one: the save without its fsync.
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
    std::printf("save                 %8.2f ms   (target <= 200 ms)\n", saveMs);
    std::printf("plain write+fsync    %8.2f ms   save ratio %.2f\n", durableWriteMs, saveMs / durableWriteMs);
    std::printf("plain write          %8.2f ms   save ratio %.2f (no fsync: not crash-safe)\n", writeMs,
        saveMs / writeMs);
    std::printf("load                 %8.2f ms   (target <= 200 ms), %lld entries\n", loadMs,
        static_cast<long long>(loaded));
    std::printf("plain read           %8.2f ms   load ratio %.2f (target <= 2.0)\n", readMs, loadMs / readMs);
    std::printf("split, in memory     %8.2f ms\n", splitMs);
    return loaded == entries && split == entries ? 0 : 1;
}
