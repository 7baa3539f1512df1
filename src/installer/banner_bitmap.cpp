#include "banner_bitmap.h"

namespace orvex {

HPALETTE CreateDibPalette(const BITMAPINFOHEADER* header, DWORD* colorCount) {
  DWORD count = header->biBitCount <= 8 ? (1u << header->biBitCount) : 0;
  if (header->biClrUsed != 0) count = header->biClrUsed;
  *colorCount = count;
  if (count == 0) return nullptr;
  // A palette holds at most 65535 entries; a larger count is no colour table.
  if (count > 0xFFFF) return nullptr;

  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8 + 4 * static_cast<SIZE_T>(count));
  if (memory == nullptr) return nullptr;
  auto* logical = static_cast<LOGPALETTE*>(::GlobalLock(memory));
  HPALETTE palette = nullptr;
  if (logical != nullptr) {
    logical->palVersion = 0x300;
    logical->palNumEntries = static_cast<WORD>(count);
    const auto* table =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(header) + header->biSize);
    for (DWORD i = 0; i < count; ++i) {
      logical->palPalEntry[i].peRed = table[i].rgbRed;
      logical->palPalEntry[i].peGreen = table[i].rgbGreen;
      logical->palPalEntry[i].peBlue = table[i].rgbBlue;
      logical->palPalEntry[i].peFlags = 0;
    }
    palette = ::CreatePalette(logical);
    ::GlobalUnlock(memory);
  }
  ::GlobalFree(memory);
  return palette;
}

HBITMAP LoadBannerBitmap(HINSTANCE instance, int resourceId, HPALETTE* palette) {
  HRSRC resource = ::FindResourceA(instance, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(2));
  if (resource == nullptr) return nullptr;
  HGLOBAL loaded = ::LoadResource(instance, resource);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(::LockResource(loaded));
  const DWORD resourceSize = ::SizeofResource(instance, resource);
  if (header == nullptr || resourceSize < sizeof(BITMAPINFOHEADER) || header->biSize > resourceSize) return nullptr;

  HDC screen = ::GetDC(nullptr);
  DWORD colorCount = 0;
  *palette = CreateDibPalette(header, &colorCount);
  // The colour table must lie inside the resource, with the bits after it.
  if (static_cast<unsigned long long>(header->biSize) + 4ull * colorCount >= resourceSize) {
    if (*palette != nullptr) ::DeleteObject(*palette);
    *palette = nullptr;
    ::ReleaseDC(nullptr, screen);
    return nullptr;
  }
  if (*palette != nullptr) {
    ::SelectPalette(screen, *palette, FALSE);
    ::RealizePalette(screen);
  }
  const BYTE* bits = reinterpret_cast<const BYTE*>(header) + header->biSize + 4 * colorCount;
  HBITMAP bitmap = ::CreateDIBitmap(screen, header, CBM_INIT, bits, reinterpret_cast<const BITMAPINFO*>(header),
                                    DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  ::FreeResource(loaded);
  return bitmap;
}

}  // namespace orvex
