// cuecheck: reads a cue sheet as the virtual drive would take it into its tray
// (the sheet, its files, their layout) and says why the drive would refuse it.
// ./run asks it before the deck starts.
#include "vdrive/cue_image.h"

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: cuecheck IMAGE.cue\n", stderr);
        return 2;
    }
    char error[vdrive::kImageErrorChars] = "";
    std::unique_ptr<vdrive::CueImage> image(vdrive::CueImage::Load(argv[1], error, sizeof error));
    if (!image) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error);
        return 1;
    }
    return 0;
}
