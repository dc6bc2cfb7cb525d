#include "controls/skin.h"

#include "controls/gdi.h"

namespace {

constexpr WORD kSkinBitCount = 4;
constexpr DWORD kSkinColours = 16;
constexpr int kColourTableBytes = kSkinColours * sizeof(RGBQUAD);
constexpr WORD kPlanes = 1;
constexpr UINT kTwiceDpi = 144, kThriceDpi = 240;

HINSTANCE g_skinModule = nullptr;
int g_skinScale = 1;

} // namespace

static_assert(sizeof(BITMAPINFOHEADER) == 40, "packed DIB header");
static_assert(kColourTableBytes == 64, "16-entry colour table");

void SetSkinModule(HINSTANCE module) {
    g_skinModule = module;
}

HINSTANCE SkinModule() {
    return g_skinModule ? g_skinModule : GetModuleHandleA(nullptr);
}

void SetSkinScale(int scale) {
    g_skinScale = scale;
}

int SkinScale() {
    return g_skinScale;
}

int SkinScaleForDpi(UINT dpi) {
    return dpi >= kThriceDpi ? 3 : dpi >= kTwiceDpi ? 2 : 1;
}

bool IsSkinDib(const BITMAPINFOHEADER* header) {
    return header && header->biSize >= sizeof(BITMAPINFOHEADER) && header->biWidth > 0 &&
           header->biHeight > 0 && header->biPlanes == kPlanes &&
           header->biBitCount == kSkinBitCount &&
           (header->biCompression == BI_RGB ||
            (header->biCompression == BI_RLE4 && header->biSizeImage > 0)) &&
           (header->biClrUsed == 0 || header->biClrUsed == kSkinColours);
}

DibBlit SettleDibBlit(LONG bitmapWidth, LONG bitmapHeight, int dstX, int dstY, int dstWidth,
                      int dstHeight, int srcX, int srcTop, int srcWidth, int srcHeight) {
    // The natural size comes from the low words; each pair settles on its own.
    if (dstWidth == 0 || srcWidth == 0) dstWidth = srcWidth = LOWORD(bitmapWidth);
    if (dstHeight == 0 || srcHeight == 0) dstHeight = srcHeight = LOWORD(bitmapHeight);
    // Rows are stored bottom-up, and StretchDIBits counts source y from the bottom.
    int srcY = (int)bitmapHeight - srcTop - srcHeight;
    return {dstX, dstY, dstWidth, dstHeight, srcX, srcY, srcWidth, srcHeight};
}

int ButtonCellTop(UINT itemState, int cellHeight) {
    if (itemState & ODS_SELECTED) return cellHeight;
    if (itemState & ODS_DISABLED) return 2 * cellHeight;
    return 0;
}

bool ButtonFaceWanted(const DRAWITEMSTRUCT& item) {
    return item.CtlType == ODT_BUTTON && (item.itemAction & (ODA_DRAWENTIRE | ODA_SELECT)) != 0;
}

void DrawPackedDib(HGLOBAL resource, HDC dc, int dstX, int dstY, int dstWidth, int dstHeight,
                   int srcX, int srcTop, int srcWidth, int srcHeight) {
    if (!resource) return;
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(resource));
    if (!IsSkinDib(header)) return;
    const BYTE* bits =
        reinterpret_cast<const BYTE*>(header) + LOWORD(header->biSize) + kColourTableBytes;
    DibBlit b = SettleDibBlit(header->biWidth, header->biHeight, dstX, dstY, dstWidth, dstHeight,
                              srcX, srcTop, srcWidth, srcHeight);
    // Whole-number enlargement repeats pixels in every stretch mode but halftone.
    const int s = g_skinScale;
    StretchDIBits(dc, b.dstX * s, b.dstY * s, b.dstWidth * s, b.dstHeight * s, b.srcX, b.srcY,
                  b.srcWidth, b.srcHeight, bits, reinterpret_cast<const BITMAPINFO*>(header),
                  DIB_RGB_COLORS, SRCCOPY);
}

void DrawSkinBitmap(HDC dc, const char* name, int dstX, int dstY, int dstWidth, int dstHeight,
                    int srcX, int srcTop, int srcWidth, int srcHeight) {
    LockedResource dib(SkinModule(), name, RT_BITMAP);
    if (!dib) return;
    DrawPackedDib(dib.Handle(), dc, dstX, dstY, dstWidth, dstHeight, srcX, srcTop, srcWidth,
                  srcHeight);
}

void DrawButtonFace(const DRAWITEMSTRUCT* item, const char* name, int column, int cellWidth,
                    int cellHeight) {
    if (!item || item->CtlType != ODT_BUTTON) return;
    LockedResource dib(SkinModule(), name, RT_BITMAP);
    if (!dib || !ButtonFaceWanted(*item)) return;
    // A button's own item rectangle starts at (0, 0): right and bottom are its
    // size, in device pixels.
    const RECT& r = item->rcItem;
    const int s = g_skinScale;
    DrawPackedDib(dib.Handle(), item->hDC, r.left / s, r.top / s, r.right / s, r.bottom / s,
                  column * cellWidth, ButtonCellTop(item->itemState, cellHeight), cellWidth,
                  cellHeight);
}
