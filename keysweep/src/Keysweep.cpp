#include "keysweep/Keysweep.h"

#include "keysweep/KeyName.h"
#include "keysweep/KeyStore.h"
#include "keysweep/TRegistry.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <unistd.h>
#include <variant>

namespace keysweep {

std::filesystem::path defaultPrefix()
{
    if (const char *prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return prefix;
    if (const char *home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::filesystem::path(home) / ".wine";
    if (const passwd *user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr)
        return std::filesystem::path(user->pw_dir) / ".wine";
    return ".wine";
}

namespace {

// Whether the process `pid` is another keysweep: it holds the server lock while it edits.
bool isKeysweep(pid_t pid, const std::filesystem::path &proc)
{
    std::ifstream comm(proc / std::to_string(pid) / "comm");
    std::string name;
    return pid != 0 && std::getline(comm, name) && name == "keysweep";
}

} // namespace

int run(std::span<const std::string> arguments, const RunContext &context)
{
    KeyStore store(context.prefix);
    // Taken before any hive is read and held until this function returns, past the rename in
    // commit(), so no wineserver can start and load a half-edited prefix.
    std::optional<ServerLock> serverLock;
    int status = kExitOk;
    {
        TRegistry registry(store);
        if (!arguments.empty()) {
            if (arguments[0] == "-L")
                registry.setRootKey(kLocalMachine);
            else if (arguments[0] == "-C")
                registry.setRootKey(kCurrentUser);
        }

        std::string path = arguments.size() > 1 ? arguments[1] : std::string();
        path.erase(std::remove(path.begin(), path.end(), '"'), path.end());
        if (path.empty()) {
            context.showError(kNoKeyText, kNoKeyCaption);
            return kExitOk;
        }

        // A folder with no hive holds no key; nothing is made in it for a server either.
        std::error_code error;
        if (!std::filesystem::exists(context.prefix / "user.reg", error)
            && !std::filesystem::exists(context.prefix / "system.reg", error))
            return kExitOk;

        auto lock = ServerLock::acquire(context.prefix, context.serverPlaces);
        if (const auto *running = std::get_if<ServerRunning>(&lock)) {
            const std::string pid = " (pid " + std::to_string(running->pid) + ")";
            if (isKeysweep(running->pid, context.serverPlaces.proc)) {
                context.report("another keysweep" + pid + " is editing " + context.prefix.string()
                    + "; nothing was changed. Try again once it has finished");
                return kExitServerRunning;
            }
            std::string message = "the wineserver of " + context.prefix.string() + " is running";
            if (running->pid != 0)
                message += pid;
            message += "; nothing was changed. Stop it with 'wineserver -k' and try again";
            context.report(message);
            return kExitServerRunning;
        }
        serverLock.emplace(std::move(std::get<ServerLock>(lock)));

        // Names cross the command line as UTF-8; Wine keeps them as UTF-16.
        const std::u16string name = fromUtf8(path);
        if (const auto key = registry.openKey(name)) {
            registry.closeKey(*key);
            registry.deleteKey(name);
        }
        // The accessor is released before the hives are written.
    }
    for (const Error &problem : store.problems()) {
        context.report(problem.detail);
        status = kExitHiveRefused;
    }
    for (const Error &error : store.commit()) {
        if (error.code == Error::Code::NotSynced) { // the key is gone: only a warning
            context.report("warning: " + error.detail
                + "; the hive was replaced, but a crash now could undo it");
            continue;
        }
        context.report(error.code == Error::Code::HardLinked
                ? error.detail + "; it was left untouched"
                : error.detail + "; the hive was left as it was");
        status = error.code == Error::Code::HardLinked ? kExitHiveRefused : kExitWriteFailed;
    }
    return status;
}

} // namespace keysweep
