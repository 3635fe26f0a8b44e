// Times the browser on a large folder: listing it into the file view, then Add all, Remove of
// half of a play list and Remove all. Prints each figure (milliseconds, best of several runs)
// beside its budget; exits with 1 when any is over it.
//
//   browser_bench <folder>    (run on the offscreen platform; see bench/browser.sh)
#include "FilCtl95.h"
#include "FileView.h"
#include "TunedeckApplication.h"
#include "TunedeckFormUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelection>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>

namespace {

constexpr int kRuns = 5;
constexpr double kListingBudgetMs = 1000.0;
constexpr double kEditBudgetMs = 200.0;

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

bool report(const char *what, double ms, double budgetMs)
{
    const bool over = ms > budgetMs;
    std::printf(
        "%-44s %9.2f ms   (budget %.0f ms)%s\n", what, ms, budgetMs, over ? "   OVER BUDGET" : "");
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

    const auto entries = std::distance(std::filesystem::directory_iterator(folder.toStdString()),
        std::filesystem::directory_iterator());
    // Listing proper: the view starts empty, as after a folder without songs; and the change of
    // folder the user makes, folder list and file view together.
    const double fillMs = bestOf([&] { form.TdfileV->clear(); }, [&] { form.FillFileView(); });
    const int files = form.TdfileV->count();
    std::printf("folder: %td entries, %d listed by the file view\n", entries, files);
    bool ok = report("FillFileView into an empty view", fillMs, kListingBudgetMs);
    ok &= report("change of folder into it",
        bestOf([&] { (void)form.TdDirectory->setDirectory(QStringLiteral("/")); },
            [&] { (void)form.TdDirectory->setDirectory(folder); }),
        kListingBudgetMs);

    const auto clear = [&] { form.RemoveAllButtClick(); };
    ok &= report(qPrintable(QStringLiteral("Add all of %1").arg(files)),
        bestOf(clear, [&] { form.AddAllButtClick(); }), kEditBudgetMs);

    // A play list twice the folder's songs long, every other entry selected.
    const auto selectEveryOther = [&] {
        form.RemoveAllButtClick();
        form.AddAllButtClick();
        form.AddAllButtClick();
        QItemSelection selection;
        for (int row = 0; row < form.Lista->count(); row += 2)
            selection.select(
                form.Lista->model()->index(row, 0), form.Lista->model()->index(row, 0));
        form.Lista->selectionModel()->select(selection, QItemSelectionModel::Select);
    };
    ok &= report(
        qPrintable(QStringLiteral("Remove of %1 selected of %2").arg(files).arg(2 * files)),
        bestOf(selectEveryOther, [&] { form.RemoveOneButtClick(); }), kEditBudgetMs);

    const auto fill = [&] {
        form.RemoveAllButtClick();
        form.AddAllButtClick();
    };
    ok &= report(qPrintable(QStringLiteral("Remove all of %1").arg(files)),
        bestOf(fill, [&] { form.RemoveAllButtClick(); }), kEditBudgetMs);
    return ok ? 0 : 1;
}
