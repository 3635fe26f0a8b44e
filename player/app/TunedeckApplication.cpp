#include "TunedeckApplication.h"

#include "MessageBoxes.h"

#include <QFontDatabase>
#include <QWidget>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <exception>

QString TunedeckApplication::s_title;
QString TunedeckApplication::s_helpFile;
QPointer<QWidget> TunedeckApplication::s_titleWindow;

namespace {

// Qt's file dialogs remember their last folder and history in the user's QtProject.conf. The
// program keeps no settings, so Qt's user settings go to a folder of this run's own, removed
// when the program ends.
void keepQtSettingsPrivate()
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/tunedeck-settings-XXXXXX"));
    if (!folder.isValid())
        return;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
}

} // namespace

TunedeckApplication::TunedeckApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    keepQtSettingsPrivate();
}

bool TunedeckApplication::notify(QObject *receiver, QEvent *event)
{
    // The player's only catch-all: device and file errors that a handler does not turn into a
    // message of its own end here, and the event loop carries on.
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        tunedeck::showGeneralError(QString::fromUtf8(error.what()));
    } catch (...) {
        tunedeck::showGeneralError(QStringLiteral("Unknown error"));
    }
    return false;
}

void tunedeck::showGeneralError(const QString &message)
{
    showCaptionedMessage(
        MessageKind::Error, TunedeckApplication::title(), generalErrorText(message));
}

QString TunedeckApplication::title()
{
    return s_title;
}

void TunedeckApplication::setTitle(const QString &title)
{
    s_title = title;
    if (s_titleWindow)
        s_titleWindow->setWindowTitle(title);
}

void TunedeckApplication::setTitleWindow(QWidget *window)
{
    s_titleWindow = window;
    if (window)
        window->setWindowTitle(s_title);
}

QString TunedeckApplication::helpFile()
{
    return s_helpFile;
}

void TunedeckApplication::setHelpFile(const QString &path)
{
    s_helpFile = path;
}

namespace {

// Debian's fonts-wine puts these beside Wine, outside fontconfig's search path.
constexpr const char *kWineFontFolder = "/usr/share/wine/fonts/";
constexpr const char *kWineFonts[] = { "ms_sans_serif.ttf", "tahoma.ttf", "tahomabd.ttf" };

// Pixel heights of "MS Sans Serif" 8 pt: the bitmap font's 8-point strike is 13 pixels high;
// a scalable replacement matches the layout's 11-pixel font height.
constexpr int kBitmapWindowFontPx = 13;
constexpr int kScalableWindowFontPx = 11;

// Whether a font of `family` is installed (or was added by loadFonts(), which comes first). The
// list is made once: making it goes through every installed font.
bool hasFamily(const QString &family)
{
    static const QStringList installed = QFontDatabase::families();
    return installed.contains(family, Qt::CaseInsensitive);
}

// Whether `family` has a face of its own at bold weight or heavier.
bool hasBoldFace(const QString &family)
{
    const QStringList styles = QFontDatabase::styles(family);
    return std::any_of(styles.begin(), styles.end(),
        [&](const QString &style) { return QFontDatabase::weight(family, style) >= QFont::Bold; });
}

} // namespace

void TunedeckApplication::loadFonts()
{
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    for (const char *file : kWineFonts) {
        const QString path = QLatin1String(kWineFontFolder) + QLatin1String(file);
        if (QFile::exists(path))
            QFontDatabase::addApplicationFont(path);
    }
}

QString TunedeckApplication::fontFamily(const QString &layoutFamily)
{
    loadFonts();
    if (hasFamily(layoutFamily))
        return layoutFamily;
    const QString lower = layoutFamily.toLower();
    if (lower == u"arial" && hasFamily(QStringLiteral("Liberation Sans")))
        return QStringLiteral("Liberation Sans");
    for (const char *fallback : { "Liberation Sans", "DejaVu Sans" }) {
        if (hasFamily(QLatin1String(fallback)))
            return QLatin1String(fallback);
    }
    return QFont().defaultFamily();
}

QFont TunedeckApplication::windowFont()
{
    const QString family = fontFamily(QStringLiteral("MS Sans Serif"));
    QFont font(family);
    font.setPixelSize(family == u"MS Sans Serif" ? kBitmapWindowFontPx : kScalableWindowFontPx);
    return font;
}

QFont TunedeckApplication::boldWindowFont()
{
    QFont font = windowFont();
    if (!hasBoldFace(font.family())) {
        // Tahoma (Wine's, beside MS Sans Serif) is its closest relative.
        for (const char *fallback : { "Tahoma", "Liberation Sans", "DejaVu Sans" }) {
            const QString family = QLatin1String(fallback);
            if (hasFamily(family) && hasBoldFace(family)) {
                font.setFamily(family);
                font.setPixelSize(kScalableWindowFontPx);
                break;
            }
        }
    }
    font.setBold(true);
    // Drawn in whole pixels, as the bitmap face it stands in for: a smoothed edge would blend
    // into the one-pixel shadow that labels in this font draw.
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}
