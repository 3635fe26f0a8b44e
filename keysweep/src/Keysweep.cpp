#include "keysweep/Keysweep.h"

#include "keysweep/KeyStore.h"
#include "keysweep/TRegistry.h"

#include <algorithm>
#include <cstdlib>
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

std::string_view parentPath(std::string_view path)
{
    // As the accessor reads it from the root: one leading backslash is dropped.
    if (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    const std::size_t last = path.rfind('\\');
    return last == std::string_view::npos ? std::string_view() : path.substr(0, last);
}

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

        auto lock = ServerLock::acquire(context.prefix, context.serverPlaces);
        if (const auto *running = std::get_if<ServerRunning>(&lock)) {
            std::string message = "the wineserver of " + context.prefix.string() + " is running";
            if (running->pid != 0)
                message += " (pid " + std::to_string(running->pid) + ")";
            message += "; nothing was changed. Stop it with 'wineserver -k' and try again";
            context.report(message);
            return kExitServerRunning;
        }
        serverLock.emplace(std::move(std::get<ServerLock>(lock)));

        // Only the key's parent and what lies below it take part in the deletion (the parent
        // for the siblings that keep it alive), so only that part of the hive is modelled.
        store.limitTo(registry.rootKey(), parentPath(path));
        if (const auto key = registry.openKey(path)) {
            registry.closeKey(*key);
            registry.deleteKey(path);
        }
        // The accessor is released before the hives are written.
    }
    for (const Error &problem : store.problems()) {
        context.report(problem.detail);
        status = kExitHiveRefused;
    }
    for (const Error &error : store.commit()) {
        context.report(error.code == Error::Code::HardLinked
                ? error.detail + "; it was left untouched"
                : error.detail + "; the hive was left as it was");
        status = error.code == Error::Code::HardLinked ? kExitHiveRefused : kExitWriteFailed;
    }
    return status;
}

} // namespace keysweep
