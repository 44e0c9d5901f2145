// The transparent signature PNG, written in one pass over the canvas.
//
// Qt's PNG writer leaves the choice of row filters to libpng, which tries
// every filter on every row: on a 1000 x 500 canvas that search costs three
// times what the compression does, whatever zlib level is asked for. A
// signature is mostly one background colour, which compresses as well
// unfiltered, so the rows go out with filter "none" at a low zlib level.
#pragma once

#include <QByteArray>
#include <QImage>

// Exactly opaque white becomes fully transparent, every other pixel fully
// opaque (as MakeWhiteTransparent), written as an 8-bit RGBA PNG with the
// image's resolution. Empty for a null image.
QByteArray TransparentPngBytes(const QImage& image);
