// Times the maker's about box: composing one frame (the animation thread's work every 30 ms),
// the OrvAboutBox call itself (which must return at once), and closing the box (which stops
// and joins the animation thread). Prints one line per figure, in milliseconds, and
// "over budget" where a figure exceeds its budget; exits with 1 when any does.
//
//   orvkit_about_bench [frames]    (run on the offscreen platform; see bench/orvkit_about.sh)
#include "OrvAboutBox.h"

#include <orvkit/orvkit.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Figure {
    const char *name;
    double ms;
    double budgetMs;
};

double msSince(const QElapsedTimer &timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;

    std::vector<Figure> figures;
    {
        QElapsedTimer timer;
        timer.start();
        orvkit::AboutAnimation animation;
        figures.push_back({ "opening: canvases, tiling, title", msSince(timer), 100.0 });

        std::vector<double> times;
        times.reserve(static_cast<std::size_t>(frames));
        int n = 0;
        for (int i = 0; i < frames; ++i) {
            timer.restart();
            animation.composeFrame(n);
            times.push_back(msSince(timer));
            n = n >= orvkit::kTileSize ? 0 : n + 1;
        }
        std::sort(times.begin(), times.end());
        double sum = 0;
        for (double t : times)
            sum += t;
        figures.push_back({ "frame: mean", sum / frames, 10.0 });
        figures.push_back({ "frame: median", times[times.size() / 2], 10.0 });
        figures.push_back({ "frame: 99th percentile", times[times.size() * 99 / 100], 30.0 });
        figures.push_back({ "frame: worst", times.back(), 30.0 });
    }

    // The export, then closing, with the event loop running as in a program.
    double callMs = 0;
    double closeMs = 0;
    QTimer::singleShot(0, [&] {
        QElapsedTimer timer;
        timer.start();
        OrvAboutBox(0);
        callMs = msSince(timer);
        QTimer::singleShot(500, [&] {
            QPointer<orvkit::AboutWindow> box = orvkit::currentAboutBox();
            QElapsedTimer closing;
            closing.start();
            if (box)
                box->close();
            closeMs = msSince(closing);
            QApplication::quit();
        });
    });
    QApplication::exec();
    figures.push_back({ "OrvAboutBox call", callMs, 50.0 });
    figures.push_back({ "closing (stop and join)", closeMs, 50.0 });

    bool over = false;
    std::printf("about box, %d frames composed\n", frames);
    for (const Figure &figure : figures) {
        const bool late = figure.ms > figure.budgetMs;
        over = over || late;
        std::printf("%-34s %8.3f ms  (budget %5.1f)%s\n", figure.name, figure.ms, figure.budgetMs,
            late ? "  over budget" : "");
    }
    return over ? 1 : 0;
}
