// Times the tip dialog's file work on a tip file of the largest supported size: counting the
// lines when the dialog opens, and the re-read from the file's beginning that every "Next >>"
// makes (worst case: the last line). Prints milliseconds, best of several runs.
#include "BestOf.h"
#include "OrvTip.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 65535;
    const int lineBytes = argc > 2 ? std::atoi(argv[2]) : 80;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("tips.txt")));
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return 1;
    const QByteArray line = QByteArray(lineBytes, 'x') + "\r\n";
    for (int i = 0; i < lines; ++i)
        file.write(line);

    std::uint16_t counted = 0;
    QString last;
    const double countMs = bestOfMs(5, [&] { counted = orvkit::countTips(file); });
    const double lastMs = bestOfMs(5, [&] { last = orvkit::readTip(file, counted); });
    const double firstMs = bestOfMs(5, [&] { last = orvkit::readTip(file, 1); });
    std::printf("tip file: %d lines of %d bytes (%.1f MiB), %u counted\n", lines, lineBytes,
        double(file.size()) / (1024.0 * 1024.0), unsigned(counted));
    std::printf("count on opening:   %8.2f ms\n", countMs);
    std::printf("Next to last line:  %8.2f ms\n", lastMs);
    std::printf("Next to first line: %8.2f ms\n", firstMs);
    return 0;
}
