#include "figures/latticepicture.h"

#include "stdruntime/files.h"

#include <QBuffer>
#include <QFile>

#include <cstring>
#include <string_view>
#include <vector>

namespace ferro::batch {

namespace {

// The colour table's places, and the window's colours in them.
enum Shade : uchar { Up = 0, Down = 1, Blank = 2 };
const QList<QRgb> Colours = {qRgb(0x00, 0x00, 0x00), qRgb(0xFF, 0xFF, 0xFF), qRgb(0xC0, 0xC0, 0xC0)};

uchar shadeOf(engine::Spin spin)
{
    return spin > 0 ? Up : spin < 0 ? Down : Blank;
}

} // namespace

int pictureScale(int size)
{
    constexpr int Width = 256;
    return size >= Width ? 1 : (Width + size - 1) / size;
}

QImage latticePicture(std::span<const engine::Spin> spins, int size)
{
    return latticePicture(engine::rowsOf(spins, size), size);
}

QImage latticePicture(const engine::SpinRows &rows, int size)
{
    const int scale = pictureScale(size);
    QImage image(size * scale, size * scale, QImage::Format_Indexed8);
    if (image.isNull())
        return image;
    image.setColorTable(Colours);
    std::vector<engine::Spin> row(std::size_t(size), 0);
    for (int i = 0; i < size; ++i) {
        rows(i, row);
        uchar *line = image.scanLine(i * scale);
        for (int j = 0; j < size; ++j)
            std::memset(line + j * scale, shadeOf(row[std::size_t(j)]), std::size_t(scale));
        // The site's other pixel rows repeat its first.
        for (int r = 1; r < scale; ++r)
            std::memcpy(image.scanLine(i * scale + r), line, std::size_t(size) * std::size_t(scale));
    }
    return image;
}

QString saveLatticePicture(const QString &path, const engine::SpinRows &rows, int size)
{
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    const QImage image = latticePicture(rows, size);
    if (image.isNull() || !image.save(&png, "PNG") || png.data().isEmpty())
        return QStringLiteral("cannot write the picture %1: it could not be drawn").arg(path);
    const std::string why = replaceFile(QFile::encodeName(path).toStdString(),
                                        std::string_view(png.data().constData(), std::size_t(png.size())));
    return why.empty() ? QString()
                       : QStringLiteral("cannot write the picture %1: %2").arg(path, QString::fromStdString(why));
}

} // namespace ferro::batch
