#include "FolderReader.h"

#include "FileNames.h"

#include <QCollator>
#include <QEventLoop>
#include <QHash>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filctl95 {

namespace {

// A read in flight, shared by the worker and whoever waits for it. Every field is guarded by
// `mutex`.
struct PendingRead {
    std::mutex mutex;
    bool done = false;
    FolderListing result;
    // Event counters (eventfd) of the UI thread's waits for this read; the worker writes to
    // each when it is done. A waiter removes its descriptor (under the mutex) before closing it.
    // The wake-up goes through a descriptor rather than a posted Qt event so that the hand-over
    // is one that ThreadSanitizer can see.
    std::vector<int> waiters;
};

// Reads still running, by folder, so that retrying a stuck drive does not pile up threads.
// Deliberately never destroyed: a worker stuck on a dead mount may finish after main() returns.
struct Registry {
    std::mutex mutex;
    QHash<QString, std::shared_ptr<PendingRead>> pending;
};

Registry &registry()
{
    static auto *instance = new Registry;
    return *instance;
}

// How often a wait without an event counter looks whether its read is done, in milliseconds.
constexpr int kLookIntervalMs = 20;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

FolderListing readFolder(const QString &folder)
{
    FolderListing listing;
    const QByteArray path = tunedeck::fileNameToBytes(folder);
    DIR *dir = ::opendir(path.constData());
    if (!dir) {
        const int error = errno;
        listing.outcome = (error == ENOENT || error == ENOTDIR)
            ? FolderListing::Outcome::Missing
            : FolderListing::Outcome::Unreadable;
        listing.error = errorText(error);
        return listing;
    }
    const int dirFd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.') // ".", ".." and hidden folders
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info { };
            isFolder = ::fstatat(dirFd, name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        if (isFolder)
            listing.subFolders.append(
                tunedeck::fileNameFromBytes(QByteArrayView(name, qsizetype(std::strlen(name)))));
    }
    ::closedir(dir);
    return listing;
}

std::vector<qsizetype> collationOrder(
    const QStringList &names, Qt::CaseSensitivity sensitivity, const QLocale &locale)
{
    std::vector<qsizetype> order(std::size_t(names.size()));
    for (qsizetype i = 0; i < names.size(); ++i)
        order[std::size_t(i)] = i;
    // The C locale's collation is the code-point order, which puts every upper-case name before
    // every lower-case one. Names sort without regard to case there whatever `sensitivity`
    // asks; the code-point order only breaks ties, so a case-sensitive order differs from an
    // insensitive one only there, as a real collation's does.
    if (locale.language() == QLocale::C) {
        std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
            if (const int byCase = names[a].compare(names[b], Qt::CaseInsensitive); byCase != 0)
                return byCase < 0;
            return names[a] < names[b];
        });
        return order;
    }
    QCollator collator(locale);
    collator.setCaseSensitivity(sensitivity);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(std::size_t(names.size()));
    for (const QString &name : names)
        keys.push_back(collator.sortKey(name));
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        if (const int byKey = keys[std::size_t(a)].compare(keys[std::size_t(b)]); byKey != 0)
            return byKey < 0;
        return names[a] < names[b];
    });
    return order;
}

void sortByCollation(QStringList &names, Qt::CaseSensitivity sensitivity)
{
    const std::vector<qsizetype> order = collationOrder(names, sensitivity, QLocale());
    QStringList sorted;
    sorted.reserve(names.size());
    for (const qsizetype index : order)
        sorted.append(names[index]);
    names = std::move(sorted);
}

FolderListing readFolderWithin(
    const FolderReadFunction &read, const QString &folder, std::chrono::milliseconds timeout)
{
    std::shared_ptr<PendingRead> pending;
    {
        Registry &reg = registry();
        const std::lock_guard lock(reg.mutex);
        pending = reg.pending.value(folder);
        if (!pending) {
            pending = std::make_shared<PendingRead>();
            reg.pending.insert(folder, pending);
            // Detached: a read stuck in the kernel cannot be interrupted, and the window must
            // not wait for it. It holds its own share of everything it touches.
            std::thread([pending, read, folder] {
                FolderListing result = read(folder);
                {
                    Registry &workerReg = registry();
                    const std::lock_guard registryLock(workerReg.mutex);
                    if (workerReg.pending.value(folder) == pending)
                        workerReg.pending.remove(folder);
                }
                const std::lock_guard pendingLock(pending->mutex);
                pending->result = std::move(result);
                pending->done = true;
                for (const int waiter : pending->waiters) {
                    const std::uint64_t one = 1;
                    [[maybe_unused]] const auto written = ::write(waiter, &one, sizeof one);
                }
            }).detach();
        }
    }

    // Without a descriptor to be woken through, the wait ends on the time-out, or as soon after
    // the read as a periodic look notices it.
    const int wakeUp = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    QEventLoop loop;
    {
        const std::lock_guard lock(pending->mutex);
        if (pending->done) {
            if (wakeUp >= 0)
                ::close(wakeUp);
            return pending->result;
        }
        if (wakeUp >= 0)
            pending->waiters.push_back(wakeUp);
    }
    std::optional<QSocketNotifier> notifier;
    QTimer look;
    if (wakeUp >= 0) {
        notifier.emplace(wakeUp, QSocketNotifier::Read);
        QObject::connect(&*notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    } else {
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            const std::lock_guard lock(pending->mutex);
            if (pending->done)
                loop.quit();
        });
        look.start(kLookIntervalMs);
    }
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    notifier.reset();

    const std::lock_guard lock(pending->mutex);
    if (wakeUp >= 0) {
        std::erase(pending->waiters, wakeUp);
        ::close(wakeUp);
    }
    if (pending->done)
        return pending->result;
    FolderListing stuck;
    stuck.outcome = FolderListing::Outcome::TimedOut;
    stuck.error = QStringLiteral("The drive did not answer within %1 seconds")
                      .arg(double(timeout.count()) / 1000.0, 0, 'g', 3);
    return stuck;
}

} // namespace filctl95
