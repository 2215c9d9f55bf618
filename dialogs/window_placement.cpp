#include "dialogs/window_placement.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <array>

namespace {

enum class Side { kRight, kLeft, kBelow, kAbove };

// The free band of `screen` on `side` of `main`.
QRect Band(const QRect& main, const QRect& screen, Side side)
{
    switch (side) {
    case Side::kRight:
        return QRect(QPoint(main.right() + 1, screen.top()), screen.bottomRight());
    case Side::kLeft:
        return QRect(screen.topLeft(), QPoint(main.left() - 1, screen.bottom()));
    case Side::kBelow:
        return QRect(QPoint(screen.left(), main.bottom() + 1), screen.bottomRight());
    case Side::kAbove:
        return QRect(screen.topLeft(), QPoint(screen.right(), main.top() - 1));
    }
    return {};
}

// `from` moved by as little as lets [from, from + length) lie within [low, high).
int Clamped(int from, int length, int low, int high)
{
    return std::max(low, std::min(from, high - length));
}

// A window of `size` in `band`, against the side of the band that touches `main`, level
// with `main` along it.
QRect InBand(const QRect& main, const QRect& band, QSize size, Side side)
{
    const int x = Clamped(main.left(), size.width(), band.left(), band.right() + 1);
    const int y = Clamped(main.top(), size.height(), band.top(), band.bottom() + 1);
    switch (side) {
    case Side::kRight:
        return QRect(QPoint(band.left(), y), size);
    case Side::kLeft:
        return QRect(QPoint(band.right() + 1 - size.width(), y), size);
    case Side::kBelow:
        return QRect(QPoint(x, band.top()), size);
    case Side::kAbove:
        return QRect(QPoint(x, band.bottom() + 1 - size.height()), size);
    }
    return {};
}

long long Area(const QRect& rect)
{
    return rect.isEmpty() ? 0 : static_cast<long long>(rect.width()) * rect.height();
}

}  // namespace

QRect PlaceBeside(const QRect& main, QSize wanted, QSize least, const QRect& screen)
{
    constexpr std::array<Side, 4> kSides = {Side::kRight, Side::kLeft, Side::kBelow, Side::kAbove};
    least = least.boundedTo(screen.size());
    wanted = wanted.expandedTo(least);
    QRect best;
    for (Side side : kSides) {
        const QRect band = Band(main, screen, side).intersected(screen);
        if (band.width() < least.width() || band.height() < least.height())
            continue;
        const QRect place = InBand(main, band, wanted.boundedTo(band.size()), side);
        if (Area(place) > Area(best))
            best = place;
    }
    if (!best.isNull())
        return best;
    // No room beside it: against the screen's edge on the side that covers least.
    long long covered = -1;
    for (Side side : kSides) {
        const QRect place = InBand(main, screen, least, side);
        const QRect edge = side == Side::kRight   ? place.translated(screen.right() - place.right(), 0)
                           : side == Side::kLeft  ? place.translated(screen.left() - place.left(), 0)
                           : side == Side::kBelow ? place.translated(0, screen.bottom() - place.bottom())
                                                  : place.translated(0, screen.top() - place.top());
        const long long over = Area(edge.intersected(main));
        if (covered < 0 || over < covered) {
            covered = over;
            best = edge;
        }
    }
    return best;
}

void ShowBeside(const QWidget& main, QWidget& window, QSize least)
{
    if (!window.isVisible()) {
        // Before it is first shown a window knows no frame: the main window's stands in.
        const QRect mainFrame = main.frameGeometry();
        const QRect mainInner = main.geometry();
        const QMargins frame(mainInner.left() - mainFrame.left(), mainInner.top() - mainFrame.top(),
                             mainFrame.right() - mainInner.right(), mainFrame.bottom() - mainInner.bottom());
        const QSize margins(frame.left() + frame.right(), frame.top() + frame.bottom());
        const QRect screen = main.screen()->availableGeometry();
        const QRect place = PlaceBeside(mainFrame, window.size() + margins, least + margins, screen);
        window.setGeometry(place.marginsRemoved(frame));
        window.show();
    }
    window.raise();
    window.activateWindow();
}
