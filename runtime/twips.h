#pragma once
// Window geometry is given in twips (1/1440 inch) from the top-left corner of
// a window's client area; 15 twips make one device-independent pixel. Qt
// scales device-independent pixels on high-DPI screens.

#include <QRect>
#include <QWidget>

#include <cmath>

namespace ferro {

constexpr double TwipsPerPixel = 15.0;

inline int px(double twips) { return static_cast<int>(std::lround(twips / TwipsPerPixel)); }
inline double pxF(double twips) { return twips / TwipsPerPixel; }
inline int twipsOf(int pixels) { return static_cast<int>(std::lround(pixels * TwipsPerPixel)); }

// Rounds the edges, not the size, so that rectangles laid side by side keep
// their pitch.
inline QRect twipsRect(double left, double top, double width, double height)
{
    const int l = px(left);
    const int t = px(top);
    return QRect(l, t, px(left + width) - l, px(top + height) - t);
}

inline void place(QWidget *w, double left, double top, double width, double height)
{
    w->setGeometry(twipsRect(left, top, width, height));
}

} // namespace ferro
