#pragma once

#include <QList>
#include <QString>

class QAbstractButton;
class QLabel;
class QToolButton;
class QWidget;

namespace tunedeck {

// Gives `widget` the accessible name of a live text (a status panel, the "Playing:" label, the
// window's title) and announces the change to assistive technology.
void setLiveName(QWidget *widget, const QString &name);

} // namespace tunedeck

// Assistive technology sees a tool button that drops down a menu as a menu button whose child,
// while the menu is open, is that menu (with its items below it), and whose actions press it
// and show the menu. Qt's own view of such a button has no children, and an open pop-up menu is
// no child of any window, so without this the menu could not be reached from the window.
// Reparents each button's menu to the button. UI thread only.
void makeMenuButtonsAccessible(const QList<QToolButton *> &buttons);

// Assistive technology sees `window`, a plain widget made a window, as a window, as it sees Qt's
// main windows and dialogs (a plain widget reads as a filler, which screen readers do not
// present as a window). UI thread only.
void makeWindowAccessible(QWidget *window);

// Assistive technology sees each of `buttons` as Qt shows a push button, except while it is
// covered (setCovered): then it is not shown, as it is not to the eye. UI thread only.
void makeCoverableAccessible(const QList<QAbstractButton *> &buttons);
// Assistive technology sees `label` as a link, whose press emits the label's linkActivated() with
// no address; it is not shown while covered. UI thread only.
void makeLinkAccessible(QLabel *label);
// Whether another widget covers `widget` now (shown over it at its place), for a widget made
// accessible by one of the two above; a change is announced.
void setCovered(QWidget *widget, bool covered);
