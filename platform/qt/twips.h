#pragma once

#include <QRect>

// Layout numbers stay in twips as designed; 15 twips make one pixel.
inline constexpr int TwipsPerPixel = 15;

constexpr int Pixels(int twips) { return (twips + TwipsPerPixel / 2) / TwipsPerPixel; }
constexpr int Twips(int pixels) { return pixels * TwipsPerPixel; }

inline QRect PixelRect(int left, int top, int width, int height)
{
    return QRect(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
}
