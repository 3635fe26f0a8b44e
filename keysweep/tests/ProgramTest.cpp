// The keysweep program itself, started as a process with its own environment: exit statuses
// and what it prints when no display is available.
#include "PrefixFixture.h"
#include "keysweep/KeyStore.h"
#include "keysweep/ServerLock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <thread>

using namespace keysweep;
using namespace keysweep::test;

namespace {

struct Outcome {
    int status = -1;
    std::string standardError;
};

// Runs the program with only the variables given (no DISPLAY, so no window can open). A run
// that has not ended within the time limit is killed and reported as status -2.
Outcome runProgram(const std::vector<std::string> &arguments,
    const std::vector<std::string> &environment, const std::filesystem::path &errorFile)
{
    constexpr int kLimitMs = 20000;
    std::vector<std::string> argv { KEYSWEEP_PROGRAM };
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char *> args;
    for (auto &argument : argv)
        args.push_back(argument.data());
    args.push_back(nullptr);
    std::vector<std::string> envCopy = environment;
    std::vector<char *> env;
    for (auto &variable : envCopy)
        env.push_back(variable.data());
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(
        &actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    Outcome outcome;
    if (::posix_spawn(&pid, KEYSWEEP_PROGRAM, &actions, nullptr, args.data(), env.data()) == 0) {
        // The process's descriptor becomes readable when it ends.
        const int processFd = int(::syscall(SYS_pidfd_open, pid, 0));
        pollfd ended { processFd, POLLIN, 0 };
        const bool timedOut = processFd >= 0 && ::poll(&ended, 1, kLimitMs) == 0;
        if (timedOut)
            ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        outcome.status = timedOut ? -2 : WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (processFd >= 0)
            ::close(processFd);
    }
    posix_spawn_file_actions_destroy(&actions);
    outcome.standardError = readFile(errorFile);
    return outcome;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFile(prefix.user(), kUserHive);
        writeFile(prefix.machine(), kMachineHive);
    }

    Outcome run(const std::vector<std::string> &arguments)
    {
        return runProgram(arguments,
            { "WINEPREFIX=" + prefix.path().string(), "TMPDIR=" + prefix.tmp().string(),
                "HOME=/nonexistent" },
            prefix.tmp() / "stderr.txt");
    }

    TempPrefix prefix;
};

// An X display whose socket answers and hangs up at once, as a server that refuses us does.
class RefusingDisplay {
public:
    explicit RefusingDisplay(const std::string &number)
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const std::string path = "/tmp/.X11-unix/X" + number; // abstract: leaves no file
        std::memcpy(address.sun_path + 1, path.data(), path.size());
        const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size());
        if (::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), length) != 0
            || ::listen(m_fd, 8) != 0)
            return;
        m_listening = true;
        m_thread = std::thread([this] {
            for (int client; (client = ::accept(m_fd, nullptr, nullptr)) >= 0;)
                ::close(client);
        });
    }
    ~RefusingDisplay()
    {
        ::shutdown(m_fd, SHUT_RDWR); // ends the accept()
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
    }
    bool listening() const { return m_listening; }

private:
    int m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool m_listening = false;
    std::thread m_thread;
};

// Without a display, or with one that refuses the program, the error box's text goes to
// standard error; the status is still 0.
TEST_F(Program, SingleArgumentPrintsTheErrorWithoutADisplay)
{
    RefusingDisplay refusing("4713");
    ASSERT_TRUE(refusing.listening());
    for (const std::string display : { "", "DISPLAY=:4713" }) {
        SCOPED_TRACE(display);
        std::vector<std::string> environment { "WINEPREFIX=" + prefix.path().string(),
            "TMPDIR=" + prefix.tmp().string(), "HOME=/nonexistent" };
        if (!display.empty())
            environment.push_back(display);
        const Outcome outcome = runProgram(
            { "Software\\The toolTest\\Alpha" }, environment, prefix.tmp() / "stderr.txt");
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.standardError, "no key specified\n");
        EXPECT_EQ(readFile(prefix.user()), kUserHive);
    }
}

// $WINEPREFIX names the prefix; the tree goes silently with status 0.
TEST_F(Program, DeletesTheTreeInTheNamedPrefix)
{
    const Outcome outcome = run({ "-L", "Software\\The toolTest\\Alpha" });
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.standardError, "");
    KeyStore store(prefix.path());
    EXPECT_FALSE(
        store.openKey(kLocalMachine, u"Software\\The toolTest\\Alpha", Access::Read).has_value());
    EXPECT_TRUE(
        store.openKey(kLocalMachine, u"Software\\The toolTest\\Other", Access::Read).has_value());
    EXPECT_EQ(readFile(prefix.user()), kUserHive);
}

// A running wineserver (found through $TMPDIR and the prefix's `wineserver` file) makes the
// program refuse with status 2 and say why.
TEST_F(Program, RefusesWhileTheServerRuns)
{
    writeFile(prefix.path() / "wineserver", "wine-Xy1234");
    const auto folder = prefix.tmp() / "wine-Xy1234" / serverFolderName(prefix.path());
    std::filesystem::create_directories(folder);
    ChildHolding server(ChildHolding::What::LockOf, folder / "lock");
    const Outcome outcome = run({ "-C", "Software\\The toolTest\\Alpha" });
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.standardError.find("is running"), std::string::npos);
    EXPECT_EQ(readFile(prefix.user()), kUserHive);
}

// A file that is not a hive is refused with status 3 and a message naming it.
TEST_F(Program, RefusesAFileThatIsNotAHive)
{
    writeFile(prefix.user(), "not a hive\n");
    const Outcome outcome = run({ "-C", "Software" });
    EXPECT_EQ(outcome.status, 3);
    EXPECT_NE(outcome.standardError.find(prefix.user().string()), std::string::npos);
    EXPECT_EQ(readFile(prefix.user()), "not a hive\n");
}

// A hive that is a FIFO used to block the program in open() while it held the server lock. It
// must be refused at once (status 3, naming the file), whether or not anything writes to it.
TEST_F(Program, RefusesAFifoHiveWithoutWaiting)
{
    std::filesystem::remove(prefix.user());
    ASSERT_EQ(::mkfifo(prefix.user().c_str(), 0600), 0);
    const Outcome outcome = run({ "-C", "Software\\The toolTest\\Alpha" });
    EXPECT_EQ(outcome.status, 3) << "-2 means it hung";
    EXPECT_NE(outcome.standardError.find(prefix.user().string() + " is not a regular file"),
        std::string::npos)
        << outcome.standardError;
    EXPECT_EQ(std::filesystem::status(prefix.user()).type(), std::filesystem::file_type::fifo);
}

} // namespace
