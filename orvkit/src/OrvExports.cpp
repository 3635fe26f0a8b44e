// The exported entry points of the about box and the web-site routine. Each one catches
// everything at the library's edge and returns its failure value instead: a C caller cannot
// take a C++ exception, and the library never reports errors of its own.
#include <orvkit/orvkit.h>

#include "OrvAboutBox.h"
#include "OrvShell.h"

extern "C" ORVKIT_EXPORT intptr_t GoOrvaneURL(uintptr_t)
{
    try {
        return orvkit::openMakerSite();
    } catch (...) {
        return orvkit::kShellCannotRun;
    }
}

extern "C" ORVKIT_EXPORT uintptr_t OrvAboutBox(uintptr_t)
{
    try {
        return orvkit::openAboutBox();
    } catch (...) {
        return 0;
    }
}
