// Saves a play list of many entries, and loads it and shows it as the Open handler does (the
// display names into a list box). Prints each figure in milliseconds, the best of several runs,
// beside its budget; exits with 1 when a figure is over it.
#include "BestOf.h"
#include "PlayListFile.h"

#include <QApplication>
#include <QFileInfo>
#include <QListWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kBudgetMs = 200.0;

bool report(const char *what, double ms)
{
    const bool over = ms > kBudgetMs;
    std::printf(
        "%-28s %8.2f ms   (budget %.0f ms)%s\n", what, ms, kBudgetMs, over ? "   OVER BUDGET" : "");
    return !over;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.tdl"));

    tunedeck::PathList names;
    for (int i = 0; i < entries; ++i)
        names.append(QStringLiteral("/home/user/Music/Collection %1/Track %2 - Some Song.mid")
                         .arg(i / 100)
                         .arg(i));

    const int runs = 15;
    const double saveMs = bestOfMs(runs, [&] { tunedeck::playlistfile::save(path, names); });
    QListWidget shownList;
    const double loadMs = bestOfMs(runs, [&] {
        const tunedeck::PathList loaded = tunedeck::playlistfile::load(path);
        QStringList shown;
        shown.reserve(loaded.size());
        for (qsizetype i = 0; i < loaded.size(); ++i)
            shown.append(loaded.displayNameAt(i));
        shownList.clear();
        shownList.addItems(shown);
    });

    std::printf("play list of %d entries (%lld bytes), best of %d\n", entries,
        static_cast<long long>(QFileInfo(path).size()), runs);
    bool ok = report("save", saveMs);
    ok &= report("load and show", loadMs);
    return ok && shownList.count() == entries ? 0 : 1;
}
