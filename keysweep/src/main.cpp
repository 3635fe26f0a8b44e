// keysweep -L|-C "Key\Path": deletes a registry key tree in the Wine prefix $WINEPREFIX (or
// ~/.wine). The shell has already split the command line, quotes included.
#include "keysweep/ErrorBox.h"
#include "keysweep/Keysweep.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    keysweep::RunContext context;
    context.prefix = keysweep::defaultPrefix();
    context.serverPlaces = keysweep::ServerPlaces::forThisProcess();
    context.showError = [](std::string_view text, std::string_view caption) {
        // The program is otherwise windowless: without a display the text goes to stderr.
        if (keysweep::displayAvailable())
            keysweep::showErrorBox(text, caption);
        else
            std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
    };
    context.report = [](std::string_view message) {
        std::fprintf(stderr, "keysweep: %.*s\n", int(message.size()), message.data());
    };
    return keysweep::run(arguments, context);
}
