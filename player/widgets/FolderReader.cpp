#include "FolderReader.h"

#include "FileNames.h"

#include <QCollator>
#include <QEventLoop>
#include <QHash>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filctl95 {

namespace {

// A read in flight, shared by the worker and whoever waits for it. Every field is guarded by
// `mutex`.
struct PendingRead {
    std::mutex mutex;
    std::condition_variable ended; // told when done
    bool done = false;
    FolderListing result;
    // The event loops of the UI thread's waits for this read; the worker asks each to quit, by a
    // queued call, when it is done. A waiter removes its loop (under the mutex) before the loop
    // goes.
    std::vector<QEventLoop *> waiters;
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

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool followsToFolder(int folder, const char *name)
{
    struct stat info { };
    return ::fstatat(folder, name, &info, 0) == 0 && S_ISDIR(info.st_mode);
}

// A lookup that answers nothing for this long is taken as stuck (a link into a mount that
// stopped answering); after this many stuck ones, the names not yet looked up are not looked up.
constexpr auto kLookupWait = std::chrono::seconds(1);
constexpr int kMaxStuckLookups = 2;

// The names of one folder that must be looked up, shared by the read and the threads that look
// them up: a thread stuck in the kernel outlives the read, so it owns what it uses. The fields
// after `names` are guarded by `mutex`.
struct Lookups {
    Lookups(FolderProbe probe, int folder, std::vector<std::string> toLookUp)
        : isFolder(std::move(probe))
        , folderFd(folder)
        , names(std::move(toLookUp))
        , found(names.size(), -1)
    { }
    ~Lookups() { ::close(folderFd); }
    Lookups(const Lookups &) = delete;
    Lookups &operator=(const Lookups &) = delete;

    const FolderProbe isFolder;
    const int folderFd; // a descriptor of its own for the folder
    const std::vector<std::string> names;
    std::mutex mutex;
    std::condition_variable allAnswered;
    std::size_t claimed = 0; // the names before this one were taken by a thread
    std::size_t answered = 0;
    std::vector<signed char> found; // per name: -1 not answered, else whether it is a folder
};

// Looks up the names no thread has taken yet, one at a time.
void lookUp(const std::shared_ptr<Lookups> &lookups)
{
    std::unique_lock lock(lookups->mutex);
    while (lookups->claimed < lookups->names.size()) {
        const std::size_t index = lookups->claimed++;
        lock.unlock();
        const bool isFolder = lookups->isFolder(lookups->folderFd, lookups->names[index].c_str());
        lock.lock();
        lookups->found[index] = isFolder ? 1 : 0;
        if (++lookups->answered == lookups->names.size())
            lookups->allAnswered.notify_all();
    }
}

// Looks the names up on a thread of their own. One that answers nothing for kLookupWait is left
// to itself and another thread goes on with the names after the one it is stuck on, so a link
// that never answers holds up only itself. Returns the names found to be folders, and those that
// did not answer: listed, they are not lost from sight, and entering one says that its drive does
// not answer.
std::vector<std::string> foldersAmong(const std::shared_ptr<Lookups> &lookups)
{
    std::unique_lock lock(lookups->mutex);
    int stuck = 0;
    for (bool start = true; lookups->answered < lookups->names.size();) {
        if (start) {
            try {
                std::thread([lookups] { lookUp(lookups); }).detach();
            } catch (const std::system_error &) {
                lock.unlock(); // no thread to be had: looked up here
                lookUp(lookups);
                lock.lock();
            }
        }
        const std::size_t before = lookups->answered;
        if (lookups->allAnswered.wait_for(
                lock, kLookupWait, [&] { return lookups->answered == lookups->names.size(); }))
            break;
        start = lookups->answered == before;
        if (start && (++stuck > kMaxStuckLookups || lookups->claimed == lookups->names.size()))
            break;
    }
    std::vector<std::string> folders;
    for (std::size_t i = 0; i < lookups->names.size(); ++i) {
        if (lookups->found[i] != 0)
            folders.push_back(lookups->names[i]);
    }
    return folders;
}

} // namespace

FolderListing readFolder(const QString &folder)
{
    return readFolder(folder, &followsToFolder);
}

FolderListing readFolder(const QString &folder, const FolderProbe &isFolderAt)
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
    const auto append = [&listing](const char *name) {
        listing.subFolders.append(
            tunedeck::fileNameFromBytes(QByteArrayView(name, qsizetype(std::strlen(name)))));
    };
    // Links, and entries whose kind the file system does not say, are looked up afterwards.
    std::vector<std::string> toLookUp;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.') // ".", ".." and hidden folders
            continue;
        if (entry->d_type == DT_DIR)
            append(name);
        else if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK)
            toLookUp.emplace_back(name);
    }
    if (!toLookUp.empty()) {
        const int own = ::fcntl(::dirfd(dir), F_DUPFD_CLOEXEC, 0);
        if (own >= 0) {
            const auto lookups = std::make_shared<Lookups>(isFolderAt, own, std::move(toLookUp));
            for (const std::string &name : foldersAmong(lookups))
                append(name.c_str());
        } else {
            // No descriptor to be had for the threads: looked up here.
            for (const std::string &name : toLookUp) {
                if (isFolderAt(::dirfd(dir), name.c_str()))
                    append(name.c_str());
            }
        }
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
                pending->ended.notify_all();
                for (QEventLoop *waiter : pending->waiters)
                    QMetaObject::invokeMethod(waiter, "quit", Qt::QueuedConnection);
            }).detach();
        }
    }

    // A quick read is waited for as a plain call would be, so that it changes nothing of the
    // order of events around the caller; a slow one with the event loop running.
    constexpr std::chrono::milliseconds kQuietWait { 50 };
    const auto started = std::chrono::steady_clock::now();
    QEventLoop loop;
    {
        std::unique_lock lock(pending->mutex);
        if (pending->ended.wait_for(
                lock, std::min(timeout, kQuietWait), [&pending] { return pending->done; }))
            return pending->result;
        pending->waiters.push_back(&loop);
    }
    const auto left = timeout
        - std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
    if (left.count() > 0) {
        QTimer::singleShot(left, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    const std::lock_guard lock(pending->mutex);
    std::erase(pending->waiters, &loop);
    if (pending->done)
        return pending->result;
    FolderListing stuck;
    stuck.outcome = FolderListing::Outcome::TimedOut;
    stuck.error = QStringLiteral("The drive did not answer within %1 seconds")
                      .arg(double(timeout.count()) / 1000.0, 0, 'g', 3);
    return stuck;
}

bool runWithin(std::function<void()> work, std::chrono::milliseconds timeout)
{
    // Run as the read of a folder no one has: a key of its own each time (no folder's name
    // holds a NUL).
    static unsigned serial = 0;
    const auto thrown = std::make_shared<std::exception_ptr>();
    const FolderListing ran = readFolderWithin(
        [work = std::move(work), thrown](const QString &) {
            try {
                work();
            } catch (...) {
                *thrown = std::current_exception(); // the caller's, as if it had done the work
            }
            return FolderListing {};
        },
        QStringLiteral("work") + QChar(0) + QString::number(++serial), timeout);
    if (ran.outcome == FolderListing::Outcome::TimedOut)
        return false;
    if (*thrown)
        std::rethrow_exception(*thrown);
    return true;
}

} // namespace filctl95
