#pragma once
// A picture of a lattice as the window shows it: black for a spin up, white
// for a spin down, silver grey for a blank site; one square of whole pixels
// a site, row 0 at the top. Painted into a QImage, which needs no
// application object.

#include "engine/spinforms.h"

#include <QImage>
#include <QString>

#include <span>

namespace ferro::batch {

// Pixels a site takes: the smallest whole number that makes an L x L
// lattice at least 256 pixels wide (1 from L = 256 on).
int pictureScale(int size);

// The picture of the L x L spins (row-major, L i + j) scaled by
// pictureScale(L): an indexed image of the three colours.
QImage latticePicture(std::span<const engine::Spin> spins, int size);
// The same from the spins read a row at a time.
QImage latticePicture(const engine::SpinRows &rows, int size);

// Writes latticePicture() as a PNG file, whole or not at all. Empty on
// success, else one line ("cannot write the picture NAME: reason").
QString saveLatticePicture(const QString &path, const engine::SpinRows &rows, int size);

} // namespace ferro::batch
