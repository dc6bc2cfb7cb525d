// Every bitmap of the skin, with the size and cell layout the program draws it
// at. The skin compiler refuses art that disagrees with this table, and the
// tests check the built resources against it, so the two can never drift.
#pragma once

struct SkinBitmapInfo {
    const char* name;
    int width;
    int height;
    int cellWidth; // cells are numbered row by row from the top-left
    int cellHeight;
};

constexpr int kSkinColours = 16;
constexpr int kSkinBitsPerPixel = 4;

constexpr SkinBitmapInfo kSkinBitmaps[] = {
    {"IDCD_DECK", 300, 80, 300, 80}, {"IDB_PLIST", 20, 60, 20, 20},
    {"IDB_PLAY", 20, 60, 20, 20},    {"IDB_PAUSE", 20, 60, 20, 20},
    {"IDB_STOP", 20, 60, 20, 20},    {"IDB_LTSKIP", 20, 60, 20, 20},
    {"IDB_LSKIP", 20, 60, 20, 20},   {"IDB_RSKIP", 20, 60, 20, 20},
    {"IDB_RTSKIP", 20, 60, 20, 20},  {"IDB_EJECT", 20, 60, 20, 20},
    {"IDB_PMODE", 20, 60, 20, 20},   {"IDWAV_REC", 20, 60, 20, 20},
    {"IDB_ICON", 20, 60, 20, 20},    {"IDB_POWER", 20, 60, 20, 20},
    {"ID_MIX_BACK", 17, 66, 17, 66}, {"ID_MIX_CUR", 13, 17, 13, 17},
    {"ID_LOCK_OFF", 19, 19, 19, 19}, {"ID_LOCK_ON", 7, 7, 7, 7},
    {"IDL_NUM", 168, 21, 14, 21},    {"IDL_MODE", 246, 11, 41, 11},
    {"IDL_MAP", 160, 50, 8, 10},     {"ID_CUR_MODE", 55, 13, 11, 13},
};

constexpr int kSkinBitmapCount = sizeof(kSkinBitmaps) / sizeof(kSkinBitmaps[0]);

// The program's icon, drawn like the skin: one 16-colour image of each size,
// largest first, with whatever its source leaves undrawn transparent.
constexpr char kSkinIconName[] = "IDI_TUNEDECK";
constexpr int kSkinIconSizes[] = {32, 16};
