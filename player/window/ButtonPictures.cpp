#include "ButtonPictures.h"

#include "FilCtl95Pictures.h"
#include "ProgramIconPixels.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>

namespace buttonpictures {

namespace {

constexpr int kSize = 16;
const QColor kBlack(0xFF000000);
const QColor kWhite(0xFFFFFFFF);
const QColor kGreen(0xFF008000);
const QColor kLime(0xFF00FF00);
const QColor kRed(0xFFFF0000);
const QColor kMaroon(0xFF800000);
const QColor kNavy(0xFF000080);
const QColor kBlue(0xFF0000FF);

// A filled outline: black edge, `fill` inside.
void shape(QPainter &p, const QPolygon &outline, const QColor &fill)
{
    p.setPen(kBlack);
    p.setBrush(fill);
    p.drawPolygon(outline);
}

void box(QPainter &p, int x, int y, int w, int h, const QColor &fill)
{
    p.fillRect(x, y, w, h, kBlack);
    p.fillRect(x + 1, y + 1, w - 2, h - 2, fill);
}

// A head pointing right with its tip at column `tip`.
QPolygon headRight(int tip)
{
    return QPolygon({ QPoint(tip - 6, 1), QPoint(tip, 7), QPoint(tip, 8), QPoint(tip - 6, 14) });
}

// Every picture but those borrowed from the folder list; the arrows are drawn pointing right and
// those of Remove and Remove all mirrored afterwards.
QImage drawn(Picture picture)
{
    QImage canvas(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    switch (picture) {
    case Picture::Add:
    case Picture::Remove:
        box(p, 1, 5, 9, 6, picture == Picture::Add ? kLime : kRed);
        shape(p, headRight(14), picture == Picture::Add ? kLime : kRed);
        p.fillRect(8, 6, 2, 4, picture == Picture::Add ? kLime : kRed);
        break;
    case Picture::AddAll:
    case Picture::RemoveAll:
        shape(p, headRight(8), picture == Picture::AddAll ? kGreen : kMaroon);
        shape(p, headRight(14), picture == Picture::AddAll ? kLime : kRed);
        break;
    case Picture::Play:
        shape(p, headRight(12).translated(-1, 0), kLime);
        shape(p, QPolygon({ QPoint(4, 1), QPoint(12, 7), QPoint(12, 8), QPoint(4, 14) }), kGreen);
        break;
    case Picture::Stop:
        box(p, 3, 3, 10, 10, kNavy);
        break;
    case Picture::Pause:
        box(p, 3, 2, 4, 12, kNavy);
        box(p, 9, 2, 4, 12, kNavy);
        break;
    case Picture::Skip:
        shape(p, headRight(9), kGreen);
        box(p, 11, 1, 3, 14, kNavy);
        break;
    case Picture::Exit:
        p.setPen(QPen(kRed, 3));
        p.drawLine(3, 3, 12, 12);
        p.drawLine(12, 3, 3, 12);
        break;
    case Picture::About:
    case Picture::Help:
        p.setPen(kBlack);
        p.setBrush(kBlue);
        p.drawEllipse(1, 1, 13, 13);
        if (picture == Picture::About) {
            p.fillRect(7, 3, 2, 2, kWhite);
            p.fillRect(7, 6, 2, 6, kWhite);
        } else {
            p.fillRect(5, 3, 5, 2, kWhite);
            p.fillRect(9, 4, 2, 3, kWhite);
            p.fillRect(7, 6, 3, 2, kWhite);
            p.fillRect(7, 8, 2, 2, kWhite);
            p.fillRect(7, 11, 2, 2, kWhite);
        }
        break;
    case Picture::Open:
    case Picture::Save:
        break;
    }
    p.end();
    const bool mirrored = picture == Picture::Remove || picture == Picture::RemoveAll;
    return mirrored ? canvas.mirrored(true, false) : canvas;
}

} // namespace

QIcon icon(Picture picture)
{
    if (picture == Picture::Open)
        return QIcon(filctl95::picturePixmap(filctl95::Picture::OpenFolder));
    if (picture == Picture::Save)
        return QIcon(filctl95::picturePixmap(filctl95::Picture::Floppy));
    return QIcon(QPixmap::fromImage(drawn(picture)));
}

QIcon programIcon()
{
    const QImage pixels(reinterpret_cast<const uchar *>(kPicturePixels), kPictureWidth,
        kPictureHeight, QImage::Format_ARGB32_Premultiplied);
    return QIcon(QPixmap::fromImage(pixels));
}

} // namespace buttonpictures
