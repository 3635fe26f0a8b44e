// Times the scrolling text panel with the about window's text: the layout computed on
// activation, one tick with its frame (what the worker does every 70 ms), and a whole pass run
// by the worker with a 1 ms interval. Prints one line per figure, in milliseconds.
//
//   scrolltext_bench [passes]    (run on the offscreen platform; see bench/scrolltext.sh)
#include "ScrollTextPanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <vector>

namespace {

double msSince(const QElapsedTimer &timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

QStringList aboutLikeText()
{
    QStringList lines;
    for (int i = 0; i < 150; ++i)
        lines << (i % 4 == 0 ? QStringLiteral("All that we see or seem, line %1").arg(i)
                             : QString());
    return lines;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    TScrollTextPanel panel;
    QFont font = panel.font();
    font.setPixelSize(11);
    panel.setFont(font);
    panel.resize(281, 105);
    panel.setLines(aboutLikeText());
    panel.setIntervalMs(0); // Ticks by hand first.

    std::vector<double> layouts, ticks;
    for (int pass = 0; pass < passes; ++pass) {
        QElapsedTimer timer;
        timer.start();
        panel.setActive(true);
        layouts.push_back(msSince(timer));
        while (panel.isActive()) {
            timer.restart();
            panel.tick();
            ticks.push_back(msSince(timer));
        }
    }
    std::sort(ticks.begin(), ticks.end());
    const double meanTick
        = std::accumulate(ticks.begin(), ticks.end(), 0.0) / static_cast<double>(ticks.size());
    std::printf("activation with layout, mean: %.3f ms\n",
        std::accumulate(layouts.begin(), layouts.end(), 0.0) / static_cast<double>(layouts.size()));
    std::printf("tick with frame (UI thread), mean: %.4f ms, median %.4f ms, p99 %.4f ms, max %.4f "
                "ms (%zu ticks, line height %d px, limit %d)\n",
        meanTick, ticks[ticks.size() / 2], ticks[ticks.size() * 99 / 100], ticks.back(),
        ticks.size(), panel.lineHeight(), panel.scrollLimit());

    // The worker at a 1 ms interval: the pass takes limit x (1 ms + tick) plus scheduling.
    panel.setIntervalMs(1);
    QEventLoop loop;
    QObject::connect(&panel, &TScrollTextPanel::OnStopPlay, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    panel.setActive(true);
    loop.exec();
    const double passMs = msSince(timer);
    std::printf("pass on the worker at 1 ms interval: %.1f ms for %d ticks, %.3f ms per period\n",
        passMs, panel.scrollLimit() + 1, passMs / (panel.scrollLimit() + 1));
    return 0;
}
