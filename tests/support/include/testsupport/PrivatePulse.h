#pragma once

// A private PulseAudio server for tests: its runtime folder, home and client settings live in one
// temporary folder, and every client of the test process (SDL, pactl, parec) finds it through the
// environment that PrivateServer sets. Needs pulseaudio and pulseaudio-utils (scripts/deps.sh).

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

inline constexpr auto kServerTimeout = std::chrono::seconds(15);

// The output of a shell command, or nullopt when it failed.
inline std::optional<std::string> capture(const std::string &command)
{
    FILE *pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string out;
    std::array<char, 4096> buffer {};
    while (std::size_t got = std::fread(buffer.data(), 1, buffer.size(), pipe))
        out.append(buffer.data(), got);
    return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

// Waits for a condition of the sound server that it announces only by its state; checked every
// 20 ms until `timeout`.
template<typename Predicate>
bool waitUntil(Predicate predicate, std::chrono::milliseconds timeout = kServerTimeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline std::string sinkInputs()
{
    return capture("pactl list sink-inputs").value_or("");
}

// A private PulseAudio: its runtime folder, home and client settings live in one temporary
// folder, and clients of this process (SDL, pactl, parec) find it through the environment.
class PrivateServer {
public:
    explicit PrivateServer(std::filesystem::path dir)
        : m_dir(std::move(dir))
    {
        // The server's socket is in its runtime folder, and a socket's path holds at most 107
        // bytes: a short folder of its own in /tmp, whatever the test's folder is called.
        char runtime[] = "/tmp/tunedeck-pulse-XXXXXX";
        if (::mkdtemp(runtime))
            m_runtime = runtime; // else start() says so
        std::filesystem::create_directories(m_dir / "home");
        // No client may start a server of its own when ours is down.
        std::ofstream(m_dir / "client.conf") << "autospawn = no\n";
        ::setenv("HOME", (m_dir / "home").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
        ::setenv("PULSE_SERVER", ("unix:" + (m_runtime / "pulse/native").string()).c_str(), 1);
        ::setenv("PULSE_CLIENTCONFIG", (m_dir / "client.conf").c_str(), 1);
        ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        ::unsetenv("TUNEDECK_OUTPUT");
    }
    ~PrivateServer()
    {
        kill();
        std::error_code ignored;
        if (!m_runtime.empty())
            std::filesystem::remove_all(m_runtime, ignored);
    }

    // Starts the server and returns once it accepts clients; false (with the reason in
    // `failure`) when it cannot.
    bool start(std::string &failure)
    {
        if (m_runtime.empty()) {
            failure = "no runtime folder could be made in /tmp";
            return false;
        }
        // --daemonize returns once the server is ready (or has failed).
        const std::string command = "pulseaudio --daemonize=yes -n --exit-idle-time=-1 "
                                    "--system=false --disallow-exit --log-target=file:"
            + (m_dir / "pulse.log").string()
            + " -L module-null-sink -L 'module-native-protocol-unix auth-anonymous=1'";
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
            failure = "pulseaudio did not start (see " + (m_dir / "pulse.log").string() + ")";
            return false;
        }
        std::ifstream pidFile(m_runtime / "pulse/pid");
        if (!(pidFile >> m_pid)) {
            failure = "pulseaudio left no pid file";
            return false;
        }
        if (!capture("pactl info")) {
            failure = "pactl cannot reach the private pulseaudio";
            return false;
        }
        return true;
    }

    // Kills the server as a crash would, and returns once it is gone.
    void kill()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        waitUntil([this] { return ::kill(m_pid, 0) != 0 && errno == ESRCH; });
        m_pid = 0;
    }

private:
    std::filesystem::path m_dir;
    std::filesystem::path m_runtime;
    pid_t m_pid = 0;
};

// Why a private server cannot run here (a tool missing), or empty when it can be tried.
inline std::string missingSoundServerTools()
{
    for (const char *tool : { "pulseaudio", "pactl", "parec" })
        if (!capture(std::string("command -v ") + tool))
            return std::string(tool) + " is not installed (scripts/deps.sh installs it)";
    return {};
}

} // namespace testsupport
