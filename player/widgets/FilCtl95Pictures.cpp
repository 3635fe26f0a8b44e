#include "FilCtl95Pictures.h"

#include <QBitmap>
#include <QPainter>
#include <QPolygon>

#include <array>

namespace filctl95 {

namespace {

// The sixteen colours of the VGA palette, as the old pictures used them.
constexpr std::array<QRgb, 16> kVga { 0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080,
    0xFF800080, 0xFF008080, 0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF,
    0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF };

// Olive never appears in a picture, so it can stand for "transparent".
constexpr QRgb kKey = 0xFF808000;
constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kGrey = 0xFF808080;
constexpr QRgb kSilver = 0xFFC0C0C0;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kYellow = 0xFFFFFF00;
constexpr QRgb kBrown = 0xFF800000;
constexpr QRgb kGreen = 0xFF008000;
constexpr QRgb kLime = 0xFF00FF00;
constexpr QRgb kNavy = 0xFF000080;
constexpr QRgb kBlue = 0xFF0000FF;
constexpr QRgb kTeal = 0xFF008080;
constexpr QRgb kRed = 0xFFFF0000;

void box(QPainter &p, int x, int y, int w, int h, QRgb fill, QRgb edge)
{
    p.fillRect(x, y, w, h, QColor(edge));
    p.fillRect(x + 1, y + 1, w - 2, h - 2, QColor(fill));
}

void dot(QPainter &p, int x, int y, QRgb colour)
{
    p.fillRect(x, y, 1, 1, QColor(colour));
}

// A disk drive's case, lying flat across the lower half.
void driveCase(QPainter &p, QRgb light)
{
    box(p, 0, 8, 16, 6, kSilver, kBlack);
    p.fillRect(1, 9, 14, 1, QColor(kWhite));
    dot(p, 12, 11, light);
    dot(p, 13, 11, light);
    p.fillRect(2, 11, 7, 1, QColor(kGrey));
}

void drawFloppy(QPainter &p)
{
    box(p, 2, 1, 12, 14, kNavy, kBlack);
    box(p, 5, 1, 6, 5, kSilver, kBlack);
    p.fillRect(8, 2, 2, 3, QColor(kNavy));
    box(p, 4, 8, 8, 6, kWhite, kBlack);
    p.fillRect(5, 10, 6, 1, QColor(kBlue));
    p.fillRect(5, 12, 6, 1, QColor(kBlue));
}

void drawFixed(QPainter &p)
{
    driveCase(p, kLime);
}

void drawNetwork(QPainter &p)
{
    box(p, 0, 2, 16, 6, kSilver, kBlack);
    p.fillRect(1, 3, 14, 1, QColor(kWhite));
    dot(p, 12, 5, kLime);
    dot(p, 13, 5, kLime);
    p.fillRect(7, 8, 2, 4, QColor(kBlack));
    p.fillRect(1, 12, 14, 2, QColor(kBlack));
    p.fillRect(2, 12, 12, 1, QColor(kTeal));
}

void drawCdRom(QPainter &p)
{
    driveCase(p, kLime);
    p.setPen(QColor(kBlack));
    p.setBrush(QColor(kSilver));
    p.drawEllipse(3, 0, 10, 9);
    p.setPen(Qt::NoPen);
    p.fillRect(5, 3, 2, 1, QColor(kWhite));
    p.fillRect(4, 4, 1, 2, QColor(kWhite));
    p.fillRect(10, 5, 2, 2, QColor(kTeal));
    p.fillRect(7, 4, 2, 2, QColor(kBlack));
}

void drawRam(QPainter &p)
{
    box(p, 0, 4, 16, 8, kGreen, kBlack);
    for (int x = 2; x < 14; x += 4)
        box(p, x, 5, 3, 4, kBlack, kGrey);
    for (int x = 1; x < 15; x += 2)
        dot(p, x, 11, kYellow);
    p.fillRect(7, 11, 2, 1, QColor(kBlack));
}

void folderBack(QPainter &p)
{
    // The tab and the back wall.
    box(p, 1, 2, 6, 3, kYellow, kBlack);
    box(p, 1, 4, 13, 10, kYellow, kBlack);
}

void drawClosedFolder(QPainter &p)
{
    folderBack(p);
    p.fillRect(2, 5, 11, 1, QColor(kWhite));
}

void drawOpenFolder(QPainter &p, QRgb inside)
{
    folderBack(p);
    p.fillRect(2, 5, 11, 3, QColor(inside));
    // The front flap, tilted open.
    const QPolygon flap { { 3, 8 }, { 15, 8 }, { 13, 13 }, { 1, 13 } };
    p.setPen(QColor(kBlack));
    p.setBrush(QColor(kYellow));
    p.drawPolygon(flap);
    p.setPen(Qt::NoPen);
}

void drawAudioFile(QPainter &p)
{
    const QPolygon page { { 2, 0 }, { 10, 0 }, { 13, 3 }, { 13, 14 }, { 2, 14 } };
    p.setPen(QColor(kBlack));
    p.setBrush(QColor(kWhite));
    p.drawPolygon(page);
    p.setPen(Qt::NoPen);
    // A quaver.
    p.fillRect(8, 4, 1, 7, QColor(kNavy));
    p.fillRect(9, 5, 2, 1, QColor(kNavy));
    p.fillRect(10, 6, 1, 1, QColor(kNavy));
    p.fillRect(5, 10, 4, 2, QColor(kNavy));
    p.fillRect(6, 12, 2, 1, QColor(kNavy));
    dot(p, 4, 2, kRed);
}

} // namespace

QImage pictureImage(Picture picture)
{
    QImage canvas(kPictureSize, kPictureSize, QImage::Format_RGB32);
    canvas.fill(kKey);
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(Qt::NoPen);
        switch (picture) {
        case Picture::Floppy:
            drawFloppy(p);
            break;
        case Picture::Fixed:
            drawFixed(p);
            break;
        case Picture::Network:
            drawNetwork(p);
            break;
        case Picture::CdRom:
            drawCdRom(p);
            break;
        case Picture::Ram:
            drawRam(p);
            break;
        case Picture::OpenFolder:
            drawOpenFolder(p, kGrey);
            break;
        case Picture::ClosedFolder:
            drawClosedFolder(p);
            break;
        case Picture::CurrentFolder:
            drawOpenFolder(p, kWhite);
            p.fillRect(4, 6, 6, 1, QColor(kBrown));
            break;
        case Picture::AudioFile:
            drawAudioFile(p);
            break;
        }
    }
    // The bottom-left pixel carries the transparent colour, whatever was drawn.
    canvas.setPixel(0, kPictureSize - 1, kKey);
    QList<QRgb> palette(kVga.begin(), kVga.end());
    return canvas.convertToFormat(
        QImage::Format_Indexed8, palette, Qt::ThresholdDither | Qt::AvoidDither);
}

QPixmap picturePixmap(Picture picture)
{
    const QImage image = pictureImage(picture);
    QPixmap pixmap = QPixmap::fromImage(image);
    const QColor transparent = image.pixelColor(0, kPictureSize - 1);
    pixmap.setMask(
        QBitmap::fromImage(image.createMaskFromColor(transparent.rgb(), Qt::MaskInColor)));
    return pixmap;
}

} // namespace filctl95
