// Loading the progress dialog's banner: a device-dependent bitmap made from a
// bitmap resource, with a palette built from the resource's colour table.
#pragma once

#include <windows.h>

namespace orvex {

// The bitmap of resource id, or null when the module has none (the palette
// slot is then left alone). The palette, null for a bitmap without a colour
// table, goes to *palette.
HBITMAP LoadBannerBitmap(HINSTANCE instance, int resourceId, HPALETTE* palette);

// A palette from the colour table that follows header, or null when the bitmap
// has none; *colorCount receives the number of colour-table entries.
HPALETTE CreateDibPalette(const BITMAPINFOHEADER* header, DWORD* colorCount);

}  // namespace orvex
