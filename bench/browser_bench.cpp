// Times the browser on a large folder: listing it into the file view against a bare readdir of
// the same folder, then Add all, Remove of every other entry and Remove all on the play list.
// Prints one line per figure (milliseconds, best of several runs) and "over limit" where a
// figure exceeds its budget; exits with 1 when any does.
//
//   browser_bench <folder>    (run on the offscreen platform; see bench/browser.sh)
#include "FilCtl95.h"
#include "TunedeckApplication.h"
#include "TunedeckFormUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelection>
#include <QListWidget>
#include <QPushButton>
#include "FileView.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <dirent.h>

namespace {

constexpr int kRuns = 5;
constexpr double kListingRatioLimit = 3.0;
constexpr double kEditLimitMs = 200.0;

// Best of kRuns of `work`, each after `prepare` (not timed), in milliseconds.
double bestOf(const std::function<void()> &prepare, const std::function<void()> &work)
{
    double best = 1e300;
    for (int run = 0; run < kRuns; ++run) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

// What a program does at the least to list a folder: read every name into memory.
std::size_t bareReaddir(const char *folder)
{
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(folder)) {
        while (const dirent *entry = ::readdir(dir))
            names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    return names.size();
}

bool report(const char *what, double ms, double limitMs)
{
    const bool over = ms > limitMs;
    std::printf(
        "%-44s %9.2f ms   (limit %.0f ms)%s\n", what, ms, limitMs, over ? "   OVER LIMIT" : "");
    return !over;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    TTunedeckform form;
    if (!form.TdDirectory->setDirectory(folder)) {
        std::fprintf(
            stderr, "cannot open %s: %s\n", argv[1], qPrintable(form.TdDirectory->lastError()));
        return 2;
    }

    std::size_t entries = 0;
    const double readdirMs = bestOf([] {}, [&] { entries = bareReaddir("."); });
    // Listing proper: the view starts empty, as after a folder without songs. Replacing a view
    // that already holds every item of the folder also pays for deleting those items.
    const double fillMs = bestOf([&] { form.TdfileV->clear(); }, [&] { form.FillFileView(); });
    const double refillMs = bestOf([&] { form.FillFileView(); }, [&] { form.FillFileView(); });
    const int files = form.TdfileV->count();
    std::printf("folder: %zu entries, %d listed by the file view\n", entries, files);
    std::printf("%-44s %9.2f ms\n", "bare readdir", readdirMs);
    bool ok = report("FillFileView into an empty view", fillMs, readdirMs * kListingRatioLimit);
    std::printf("%-44s %9.2f x\n", "FillFileView / bare readdir", fillMs / readdirMs);
    std::printf("%-44s %9.2f ms   (%.2f x)\n", "FillFileView replacing the same items", refillMs,
        refillMs / readdirMs);
    const double changeMs
        = bestOf([&] { (void)form.TdDirectory->setDirectory(QStringLiteral("/")); },
            [&] { (void)form.TdDirectory->setDirectory(folder); });
    std::printf(
        "%-44s %9.2f ms   (folder list and file view)\n", "change of folder into it", changeMs);

    const auto clear = [&] { form.RemoveAllButtClick(); };
    ok &= report(qPrintable(QStringLiteral("Add all of %1").arg(files)),
        bestOf(clear, [&] { form.AddAllButtClick(); }), kEditLimitMs);

    const auto selectEveryOther = [&] {
        form.RemoveAllButtClick();
        form.AddAllButtClick();
        QItemSelection selection;
        for (int row = 0; row < form.Lista->count(); row += 2)
            selection.select(
                form.Lista->model()->index(row, 0), form.Lista->model()->index(row, 0));
        form.Lista->selectionModel()->select(selection, QItemSelectionModel::Select);
    };
    ok &= report(
        qPrintable(QStringLiteral("Remove of %1 selected of %2").arg((files + 1) / 2).arg(files)),
        bestOf(selectEveryOther, [&] { form.RemoveOneButtClick(); }), kEditLimitMs);

    const auto fill = [&] {
        form.RemoveAllButtClick();
        form.AddAllButtClick();
    };
    ok &= report(qPrintable(QStringLiteral("Remove all of %1").arg(files)),
        bestOf(fill, [&] { form.RemoveAllButtClick(); }), kEditLimitMs);
    return ok ? 0 : 1;
}
