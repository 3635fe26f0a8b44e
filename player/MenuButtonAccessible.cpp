#include "MenuButtonAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMenu>
#include <QToolButton>

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

QAccessibleInterface *menuButtonFactory(const QString &, QObject *object)
{
    auto *button = qobject_cast<QToolButton *>(object);
    if (button && button->property(kMarker).toBool())
        return new MenuButtonAccessible(button);
    return nullptr;
}

} // namespace

void makeMenuButtonsAccessible(const QList<QToolButton *> &buttons)
{
    static const bool installed = [] {
        QAccessible::installFactory(&menuButtonFactory);
        return true;
    }();
    Q_UNUSED(installed);
    for (QToolButton *button : buttons) {
        button->setProperty(kMarker, true);
        // The menu's accessible parent is its parent widget: the button, as the tree above.
        if (QMenu *menu = button->menu())
            menu->setParent(button, menu->windowFlags());
    }
}
