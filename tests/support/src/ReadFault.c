// A read fault for tests, loaded into a program with LD_PRELOAD: read() on the file named by
// TUNEDECK_READ_FAULT_FILE fails with EIO from byte TUNEDECK_READ_FAULT_AFTER of the file on,
// the way a failing disk or a lost network share answers. Every other read passes through.
// With TUNEDECK_READ_FAULT_SIGNAL set to a signal's number, reaching that byte sends the
// program that signal once instead (an interrupt at a known place) and reads go on.
// With TUNEDECK_READ_FAULT_HOLD naming a FIFO, the first read() or pread() of the file that
// takes in that byte waits (a disk that takes its time) until the FIFO, which it opens for
// reading, is written to or closed; the test's open of it for writing returns once a read waits.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

typedef ssize_t (*ReadFunction)(int, void *, size_t);
typedef ssize_t (*PreadFunction)(int, void *, size_t, off_t);

static ReadFunction realRead;
static PreadFunction realPread;
static int faulty; // whether a file to fail on is named
static dev_t faultyDevice;
static ino_t faultyInode;
static off_t faultAfter;
static int faultSignal; // 0: fail with EIO
static int signalled;
static const char *holdFifo;
static int held;
static pthread_once_t once = PTHREAD_ONCE_INIT;

static void setUp(void)
{
    // Through a pointer to the pointer: ISO C has no cast from void * to a function pointer.
    *(void **)&realRead = dlsym(RTLD_NEXT, "read");
    *(void **)&realPread = dlsym(RTLD_NEXT, "pread");
    const char *path = getenv("TUNEDECK_READ_FAULT_FILE");
    const char *after = getenv("TUNEDECK_READ_FAULT_AFTER");
    struct stat status;
    if (!path || !after || stat(path, &status) != 0)
        return;
    faulty = 1;
    faultyDevice = status.st_dev;
    faultyInode = status.st_ino;
    faultAfter = (off_t)strtoll(after, NULL, 10);
    const char *signalNumber = getenv("TUNEDECK_READ_FAULT_SIGNAL");
    faultSignal = signalNumber ? atoi(signalNumber) : 0;
    holdFifo = getenv("TUNEDECK_READ_FAULT_HOLD");
}

// In the hold mode: waits once, if the `count` bytes from `at` take in the faulty byte.
static void holdAt(off_t at, size_t count)
{
    if (at < 0 || at > faultAfter || faultAfter - at >= (off_t)count
        || __atomic_exchange_n(&held, 1, __ATOMIC_SEQ_CST))
        return;
    const int fifo = open(holdFifo, O_RDONLY | O_CLOEXEC);
    if (fifo < 0)
        return;
    char byte;
    while (realRead(fifo, &byte, 1) < 0 && errno == EINTR) { }
    close(fifo);
}

// The file `fd` is open on is the one to fail on.
static int isFaulty(int fd)
{
    struct stat status;
    return faulty && fstat(fd, &status) == 0 && status.st_dev == faultyDevice
        && status.st_ino == faultyInode;
}

ssize_t read(int fd, void *buffer, size_t count)
{
    pthread_once(&once, setUp);
    if (isFaulty(fd) && holdFifo) {
        holdAt(lseek(fd, 0, SEEK_CUR), count);
    } else if (isFaulty(fd)) {
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (at >= faultAfter) {
            if (faultSignal == 0) {
                errno = EIO;
                return -1;
            }
            if (!__atomic_exchange_n(&signalled, 1, __ATOMIC_SEQ_CST))
                kill(getpid(), faultSignal);
        } else if (at >= 0 && (off_t)count > faultAfter - at) {
            // Up to the faulty place only; the next read meets the fault.
            count = (size_t)(faultAfter - at);
        }
    }
    return realRead(fd, buffer, count);
}

// The sample reads of a soundfont come this way; only the hold mode applies to them.
ssize_t pread(int fd, void *buffer, size_t count, off_t offset)
{
    pthread_once(&once, setUp);
    if (holdFifo && isFaulty(fd))
        holdAt(offset, count);
    return realPread(fd, buffer, count, offset);
}
