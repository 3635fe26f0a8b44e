#include "AboutFormUnit.h"

#include "Texts.h"
#include "TunedeckApplication.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

// The window's fixed client size, in pixels; the layout is not scaled.
constexpr QSize kClientSize(347, 131);

} // namespace

TAboutForm::TAboutForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("AboutForm"));
    setFont(TunedeckApplication::windowFont());
    setFixedSize(kClientSize);
    setWindowTitle(QStringLiteral("AboutForm"));
    FormCreate();
}

void TAboutForm::FormCreate()
{
    setWindowTitle(tunedeck::texts::kAboutCaption);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}
