#include "MenuButtonAccessible.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QToolButton>
#include <QWindow>

void tunedeck::setLiveName(QWidget *widget, const QString &name)
{
    // Qt announces the new name itself, even when it is the same.
    if (widget->accessibleName() != name)
        widget->setAccessibleName(name);
}

namespace {

constexpr const char *kMarker = "tunedeckMenuButton";

// The text with its mnemonic marks taken out ("&File" reads "File", "&&" reads "&").
QString withoutMnemonic(const QString &text)
{
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'&' && i + 1 < text.size())
            ++i;
        plain.append(text.at(i));
    }
    return plain;
}

class MenuButtonAccessible final : public QAccessibleWidget {
public:
    explicit MenuButtonAccessible(QToolButton *button)
        : QAccessibleWidget(button, QAccessible::ButtonMenu)
    { }

    QToolButton *button() const { return static_cast<QToolButton *>(object()); }

    // The menu while it is shown, else nullptr.
    QMenu *openMenu() const
    {
        QMenu *menu = button()->menu();
        return menu && menu->isVisible() ? menu : nullptr;
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && button()->accessibleName().isEmpty())
            return withoutMnemonic(button()->text());
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.hasPopup = true;
        state.expandable = true;
        state.expanded = openMenu() != nullptr;
        state.pressed = button()->isDown();
        return state;
    }

    int childCount() const override { return openMenu() ? 1 : 0; }

    QAccessibleInterface *child(int index) const override
    {
        QMenu *menu = openMenu();
        return index == 0 && menu ? QAccessible::queryAccessibleInterface(menu) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        QMenu *menu = openMenu();
        return menu && child && child->object() == menu ? 0 : -1;
    }

    QStringList actionNames() const override
    {
        if (!button()->isEnabled())
            return {};
        return { pressAction(), showMenuAction() };
    }

    void doAction(const QString &action) override
    {
        if (!button()->isEnabled())
            return;
        // Showing the menu runs its own event loop; the assistive tool gets its answer first.
        if (action == pressAction() || action == showMenuAction())
            QMetaObject::invokeMethod(button(), &QToolButton::showMenu, Qt::QueuedConnection);
    }
};

// One item of a drop-down menu: its caption, shortcut and state, and pressing it.
class MenuItemAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    MenuItemAccessible(QMenu *menu, QAction *action)
        : m_menu(menu)
        , m_action(action)
    { }

    bool isValid() const override { return m_menu && m_action; }
    QObject *object() const override { return m_action; }
    QWindow *window() const override { return m_menu ? m_menu->windowHandle() : nullptr; }
    QList<std::pair<QAccessibleInterface *, QAccessible::Relation>> relations(
        QAccessible::Relation) const override
    {
        return {};
    }
    QAccessibleInterface *focusChild() const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_menu.data());
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text kind) const override
    {
        if (!isValid())
            return {};
        if (kind == QAccessible::Name)
            return withoutMnemonic(m_action->text());
        if (kind == QAccessible::Accelerator)
            return m_action->shortcut().toString(QKeySequence::NativeText);
        return {};
    }
    void setText(QAccessible::Text, const QString &) override { }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect inMenu = m_menu->actionGeometry(m_action);
        return QRect(m_menu->mapToGlobal(inMenu.topLeft()), inMenu.size());
    }
    QAccessible::Role role() const override
    {
        return isValid() && m_action->isSeparator() ? QAccessible::Separator
                                                    : QAccessible::MenuItem;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.disabled = !m_action->isEnabled();
        state.invisible = !m_action->isVisible() || !m_menu->isVisible();
        state.focusable = !m_action->isSeparator();
        state.focused = m_menu->activeAction() == m_action;
        state.checkable = m_action->isCheckable();
        state.checked = m_action->isChecked();
        return state;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }

    QStringList actionNames() const override
    {
        if (!isValid() || m_action->isSeparator() || !m_action->isEnabled())
            return {};
        return { pressAction() };
    }
    void doAction(const QString &action) override
    {
        if (action != pressAction() || actionNames().isEmpty())
            return;
        // As a click on the item: the menu closes, then the command runs.
        QPointer<QAction> item = m_action;
        m_menu->close();
        QMetaObject::invokeMethod(
            m_menu,
            [item] {
                if (item)
                    item->trigger();
            },
            Qt::QueuedConnection);
    }
    QStringList keyBindingsForAction(const QString &) const override
    {
        if (!isValid() || m_action->shortcut().isEmpty())
            return {};
        return { m_action->shortcut().toString(QKeySequence::NativeText) };
    }

private:
    QPointer<QMenu> m_menu;
    QPointer<QAction> m_action;
};

// The drop-down menu: a pop-up whose parent is its tool button and whose children are its items.
class MenuAccessible final : public QAccessibleWidget {
public:
    explicit MenuAccessible(QMenu *menu)
        : QAccessibleWidget(menu, QAccessible::PopupMenu)
    { }

    QMenu *menu() const { return static_cast<QMenu *>(object()); }

    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(menu()->parentWidget());
    }
    int childCount() const override { return int(menu()->actions().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QAction *> actions = menu()->actions();
        if (index < 0 || index >= actions.size())
            return nullptr;
        QAction *action = actions.at(index);
        auto found = m_items.constFind(action);
        if (found != m_items.constEnd()) {
            if (QAccessibleInterface *item = QAccessible::accessibleInterface(found.value()))
                return item;
        }
        auto *item = new MenuItemAccessible(menu(), action);
        m_items.insert(action, QAccessible::registerAccessibleInterface(item));
        return item;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child)
            return -1;
        return int(menu()->actions().indexOf(qobject_cast<QAction *>(child->object())));
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        QAction *action = menu()->actionAt(menu()->mapFromGlobal(QPoint(x, y)));
        return action ? child(int(menu()->actions().indexOf(action))) : nullptr;
    }
    QAccessibleInterface *focusChild() const override
    {
        QAction *active = menu()->activeAction();
        return active ? child(int(menu()->actions().indexOf(active))) : nullptr;
    }
    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && menu()->accessibleName().isEmpty())
            return withoutMnemonic(menu()->title());
        return QAccessibleWidget::text(kind);
    }

private:
    // The items' interfaces, made on first use; QAccessible owns them and drops each with its
    // action.
    mutable QHash<QAction *, QAccessible::Id> m_items;
};

constexpr const char *kCoverableMarker = "tunedeckCoverable";
constexpr const char *kCovered = "tunedeckCovered";

// A covered widget (setCovered) is not shown, nor can it take the focus.
QAccessible::State unlessCovered(const QWidget *widget, QAccessible::State state)
{
    if (widget->property(kCovered).toBool()) {
        state.invisible = true;
        state.focusable = false;
    }
    return state;
}

// A push button another one can cover. Qt finds a covered button showing, so a screen reader
// would read two buttons at one place; this one is not shown while covered. Otherwise it is what
// Qt's own button is: its text for a name, pressing it, and its Alt letter.
class CoverableButtonAccessible final : public QAccessibleWidget {
public:
    explicit CoverableButtonAccessible(QAbstractButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    { }

    QAbstractButton *button() const { return static_cast<QAbstractButton *>(object()); }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && button()->accessibleName().isEmpty())
            return withoutMnemonic(button()->text());
        if (kind == QAccessible::Accelerator)
            return QKeySequence::mnemonic(button()->text()).toString(QKeySequence::NativeText);
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = button()->isDown();
        return unlessCovered(button(), state);
    }

    QStringList actionNames() const override
    {
        return button()->isEnabled() ? QStringList { pressAction() } : QStringList {};
    }

    void doAction(const QString &action) override
    {
        if (action == pressAction() && button()->isEnabled())
            button()->animateClick();
    }

    QStringList keyBindingsForAction(const QString &action) const override
    {
        const QString key = text(QAccessible::Accelerator);
        return action == pressAction() && !key.isEmpty() ? QStringList { key } : QStringList {};
    }
};

constexpr const char *kLinkMarker = "tunedeckLink";

// A label that opens a place when pressed (by a click, or Space once focused). Qt finds it as
// plain text; a screen reader then offers no way to press it.
class LinkAccessible final : public QAccessibleWidget {
public:
    explicit LinkAccessible(QLabel *label)
        : QAccessibleWidget(label, QAccessible::Link)
    { }

    QLabel *label() const { return static_cast<QLabel *>(object()); }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && label()->accessibleName().isEmpty())
            return label()->text();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        return unlessCovered(label(), QAccessibleWidget::state());
    }

    QStringList actionNames() const override
    {
        return state().invisible || !label()->isEnabled() ? QStringList {}
                                                          : QStringList { pressAction() };
    }

    void doAction(const QString &action) override
    {
        // The assistive tool gets its answer before the place opens.
        if (actionNames().contains(action))
            QMetaObject::invokeMethod(
                label(), "linkActivated", Qt::QueuedConnection, Q_ARG(QString, QString()));
    }
};

constexpr const char *kWindowMarker = "tunedeckWindow";

// The interfaces of the widgets marked above: windows, coverable buttons, links, menu buttons and
// their menus.
QAccessibleInterface *accessibleFactory(const QString &, QObject *object)
{
    if (object && object->isWidgetType() && object->property(kWindowMarker).toBool())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    if (object && object->property(kLinkMarker).toBool()) {
        if (auto *label = qobject_cast<QLabel *>(object))
            return new LinkAccessible(label);
    }
    if (object && object->property(kCoverableMarker).toBool()) {
        if (auto *button = qobject_cast<QAbstractButton *>(object))
            return new CoverableButtonAccessible(button);
    }
    if (!object || !object->property(kMarker).toBool())
        return nullptr;
    if (auto *button = qobject_cast<QToolButton *>(object))
        return new MenuButtonAccessible(button);
    if (auto *menu = qobject_cast<QMenu *>(object))
        return new MenuAccessible(menu);
    return nullptr;
}

} // namespace

namespace {

void installFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(&accessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

// An interface Qt made before the widget was marked (assistive technology was already
// listening while the window was built) gives way to the factory's.
void remake(QWidget *widget)
{
    if (QAccessibleInterface *made = QAccessible::queryAccessibleInterface(widget))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace

void makeWindowAccessible(QWidget *window)
{
    installFactory();
    window->setProperty(kWindowMarker, true);
    remake(window);
}

void makeMenuButtonsAccessible(const QList<QToolButton *> &buttons)
{
    installFactory();
    for (QToolButton *button : buttons) {
        button->setProperty(kMarker, true);
        // The menu's accessible parent is its parent widget: the button, as the tree above.
        QList<QWidget *> marked { button };
        if (QMenu *menu = button->menu()) {
            menu->setParent(button, menu->windowFlags());
            menu->setProperty(kMarker, true);
            marked.append(menu);
        }
        for (QWidget *widget : marked)
            remake(widget);
    }
}

void makeCoverableAccessible(const QList<QAbstractButton *> &buttons)
{
    installFactory();
    for (QAbstractButton *button : buttons) {
        button->setProperty(kCoverableMarker, true);
        remake(button);
    }
}

void makeLinkAccessible(QLabel *label)
{
    installFactory();
    label->setProperty(kLinkMarker, true);
    remake(label);
}

void setCovered(QWidget *widget, bool covered)
{
    if (widget->property(kCovered).toBool() == covered)
        return;
    widget->setProperty(kCovered, covered);
    QAccessible::State changed;
    changed.invisible = true;
    QAccessibleStateChangeEvent event(widget, changed);
    QAccessible::updateAccessibility(&event);
}
