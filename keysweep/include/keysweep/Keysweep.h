#pragma once

#include "keysweep/ServerLock.h"

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace keysweep {

// The program's own texts, used exactly.
inline constexpr std::string_view kNoKeyText = "no key specified";
inline constexpr std::string_view kNoKeyCaption = "error";

// Exit statuses. Every case of the deletion itself (done, key absent, key not openable) ends
// with kExitOk; the others mean the hive files were left exactly as they were.
inline constexpr int kExitOk = 0;
inline constexpr int kExitServerRunning = 2; // the prefix's wineserver runs
inline constexpr int kExitHiveRefused = 3; // not a regular file, not a Wine hive, hard-linked
inline constexpr int kExitWriteFailed = 4; // the new hive could not be written

// What one run needs from its surroundings, so tests can run it in-process.
struct RunContext {
    std::filesystem::path prefix; // the Wine prefix holding system.reg and user.reg
    ServerPlaces serverPlaces; // where that prefix's wineserver would be seen
    // Shows the error box (text, caption). Called at most once.
    std::function<void(std::string_view text, std::string_view caption)> showError;
    // Reports a refusal or failure to the user (one line, no line end).
    std::function<void(std::string_view message)> report;
};

// The prefix Wine uses: $WINEPREFIX, else ~/.wine.
std::filesystem::path defaultPrefix();

// Runs the program on its arguments (without the program name): the root switch, then the key
// path. Deletes that key tree under the chosen root and returns the exit status. While the
// prefix's wineserver runs nothing is read or changed (kExitServerRunning); otherwise the
// server lock is held from that check until the changed hive has been renamed into place.
int run(std::span<const std::string> arguments, const RunContext &context);

} // namespace keysweep
