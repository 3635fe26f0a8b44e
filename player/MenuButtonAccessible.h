#pragma once

#include <QList>

class QToolButton;

// Assistive technology sees a tool button that drops down a menu as a menu button whose child,
// while the menu is open, is that menu (with its items below it), and whose actions press it
// and show the menu. Qt's own view of such a button has no children, and an open pop-up menu is
// no child of any window, so without this the menu could not be reached from the window.
// Reparents each button's menu to the button. UI thread only.
void makeMenuButtonsAccessible(const QList<QToolButton *> &buttons);
