// Drawing the skin: 16-colour bitmaps carried as named RT_BITMAP resources,
// copied 1:1 onto a device context.
#pragma once
#include <windows.h>

// The module the skin is loaded from (and the toggle's class is registered
// in). Until the program sets it, the process's own executable.
void SetSkinModule(HINSTANCE module);
HINSTANCE SkinModule();

// Every skin pixel is drawn as a scale x scale block, never smoothed, and the
// controls are that much larger: a whole number, so the skin stays crisp at
// any DPI. Drawing coordinates stay in skin pixels. 1 until the program sets it.
void SetSkinScale(int scale);
int SkinScale();
// The scale for a DPI: 1 up to 143, 2 from 144 (150%), 3 from 240.
int SkinScaleForDpi(UINT dpi);

// Draws from an already loaded packed DIB, at the skin's scale. Zero widths or
// heights take the bitmap's own; source x and top count from the picture's
// top-left corner.
void DrawPackedDib(HGLOBAL resource, HDC dc, int dstX, int dstY, int dstWidth, int dstHeight,
                   int srcX, int srcTop, int srcWidth, int srcHeight);

// Finds, loads, draws and frees the named skin bitmap; a missing name draws nothing.
void DrawSkinBitmap(HDC dc, const char* name, int dstX, int dstY, int dstWidth, int dstHeight,
                    int srcX, int srcTop, int srcWidth, int srcHeight);

// Draws an owner-drawn button's face from a bitmap of stacked cells: normal,
// pressed, disabled.
void DrawButtonFace(const DRAWITEMSTRUCT* item, const char* name, int column, int cellWidth,
                    int cellHeight);

// The geometry behind the drawing, kept apart so it can be checked alone.
struct DibBlit {
    int dstX, dstY, dstWidth, dstHeight;
    int srcX, srcY, srcWidth, srcHeight; // srcY counts from the bottom row, as stored
};

DibBlit SettleDibBlit(LONG bitmapWidth, LONG bitmapHeight, int dstX, int dstY, int dstWidth,
                      int dstHeight, int srcX, int srcTop, int srcWidth, int srcHeight);

// Top of the cell that shows an item state: pressed wins over disabled.
int ButtonCellTop(UINT itemState, int cellHeight);

// Whether a draw-item request repaints the face (a focus change alone does not).
bool ButtonFaceWanted(const DRAWITEMSTRUCT& item);

// A header the renderer can draw: 4 bits a pixel, 16 colours at most, rows
// as they stand or run-length encoded (BI_RLE4, the skin as built: the
// system decodes it, and the program stays small).
bool IsSkinDib(const BITMAPINFOHEADER* header);
