#include "OrvkitCalls.h"

#include <orvkit/orvkit.h>

#include <QWidget>

void showOrvaneAboutBox(const QWidget *mainWindow)
{
    const uintptr_t owner = mainWindow ? static_cast<uintptr_t>(mainWindow->window()->winId()) : 0;
    OrvAboutBox(owner);
}

void openOrvaneSite()
{
    GoOrvaneURL(0);
}
