// mkdisc: writes a CUE/BIN disc image from a short description of its tracks.
#include "tools/disc/disc_image.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] =
    "usage: mkdisc OUT.cue [--pregap N] [--split] [--wave] [--silent-pregaps] [--music]\n"
    "              [--title N TEXT] [--performer N TEXT]\n"
    "              TRACK... [--session TRACK...]...\n"
    "  TRACK        FRAMES, or data:FRAMES (mode2:FRAMES) for a MODE1/2352 (MODE2/2352)\n"
    "               data track, either with /PREGAP for a pregap of its own and +POSTGAP\n"
    "               for a postgap: 9000, 6000/150, data:1500+150 (75 frames make a second)\n"
    "  --pregap N   N frames of pregap before every track after the first that has none\n"
    "               of its own\n"
    "  --session    the tracks after it are a new session (as on a CD Extra)\n"
    "  --split      one file per track (OUT-01.bin, ...) instead of OUT.bin\n"
    "  --wave       the audio in WAVE files, data tracks in BINs of their own\n"
    "  --silent-pregaps  pregaps as PREGAP lines (silence in no file), not INDEX 00\n"
    "  --music      a synthesized tune in the audio tracks instead of the test pattern\n"
    "  --title N TEXT, --performer N TEXT  CD-Text of track N (0: the disc)\n"
    "example: mkdisc demo.cue 9000 6000 --session data:1500 --pregap 150 --music\n";

bool EndsWithCue(const std::string& path) {
    return path.size() > 4 && (path.compare(path.size() - 4, 4, ".cue") == 0 ||
                               path.compare(path.size() - 4, 4, ".CUE") == 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || !EndsWithCue(argv[1])) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    td_disc::DiscPlan plan;
    std::string error;
    if (!td_disc::ParseDiscArgs(args, &plan, &error)) {
        std::fprintf(stderr, "mkdisc: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (!td_disc::WriteDiscImage(argv[1], plan, &error)) {
        std::fprintf(stderr, "mkdisc: %s\n", error.c_str());
        return 1;
    }
    td_disc::DiscLayout layout = td_disc::LayOut(plan);
    std::printf("%s: %zu tracks, lead-out at %u\n", argv[1], layout.tracks.size(), layout.leadOut);
    for (const td_disc::TrackLayout& t : layout.tracks)
        std::printf("  track %2d %-5s session %d  start %7u  frames %7u  pregap %u  postgap %u\n",
                    t.number, t.data ? "data" : "audio", t.session, t.start, t.frames,
                    t.start - t.pregapStart, t.postgap);
    return 0;
}
