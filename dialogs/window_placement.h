#pragma once

#include <QRect>
#include <QSize>

class QWidget;

// Where the result windows (size distribution, velocity profile) open: beside the main
// window, never over it while the screen has room.

// The frame of a window of `wanted` frame size beside `main` (a frame) on `screen` (its
// free area): in the largest free band around `main` (right, left, below, above: the first
// of equal ones) that holds `least`, at most `wanted` and as large as the band lets, level
// with `main`'s top or left; where no band holds `least`, at `least` on the screen where
// it covers the least of `main`.
QRect PlaceBeside(const QRect& main, QSize wanted, QSize least, const QRect& screen);

// Shows `window` placed beside `main` (its size as wanted, its frame taken as wide as
// `main`'s) on `main`'s screen; one already shown stays where the user left it. Raised
// and activated either way.
void ShowBeside(const QWidget& main, QWidget& window, QSize least);
