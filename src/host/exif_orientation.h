#pragma once
// The EXIF orientations: where pixel (x, y) of a w × h picture as stored lands in the upright
// picture under orientation o (1 to 8; anything else is taken as 1). Shared by the decoder and
// the photo-making tool, which writes tagged photos the decoder must turn back.

inline void uprightPosition(int o, int x, int y, int w, int h, int &ux, int &uy)
{
    ux = x;
    uy = y;
    switch (o) {
    case 2:
        ux = w - 1 - x;
        break;
    case 3:
        ux = w - 1 - x;
        uy = h - 1 - y;
        break;
    case 4:
        uy = h - 1 - y;
        break;
    case 5:
        ux = y;
        uy = x;
        break;
    case 6:
        ux = h - 1 - y;
        uy = x;
        break;
    case 7:
        ux = h - 1 - y;
        uy = w - 1 - x;
        break;
    case 8:
        ux = y;
        uy = w - 1 - x;
        break;
    default:
        break;
    }
}
