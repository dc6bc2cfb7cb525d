#include "tools/disc/disc_image.h"

#include "tools/disc/frame_pattern.h"
#include "tools/disc/tone_synth.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace td_disc {

namespace {

constexpr uint32_t kLeadInFrames = 150; // MSF addresses count the two-second lead-in
constexpr uint32_t kSecondsPerMinute = 60;
constexpr size_t kSyncBytes = 12;
constexpr size_t kHeaderModeByte = 15;
constexpr uint8_t kMode1 = 1;
constexpr int kMaxNumberDigits = 9;
constexpr uint32_t kWriteChunkFrames = 75;
constexpr char kPregapOption[] = "--pregap";
constexpr char kSplitOption[] = "--split";
constexpr char kMusicOption[] = "--music";
constexpr char kDataPrefix[] = "data:";

bool ParseCount(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > size_t(kMaxNumberDigits)) return false;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint32_t(c - '0');
    }
    *value = v;
    return true;
}

// "[data:]FRAMES[/PREGAP]"
bool ParseTrack(std::string word, TrackPlan* track, bool* ownPregap) {
    size_t prefix = std::strlen(kDataPrefix);
    track->data = word.compare(0, prefix, kDataPrefix) == 0;
    if (track->data) word.erase(0, prefix);
    size_t slash = word.find('/');
    *ownPregap = slash != std::string::npos;
    if (*ownPregap && !ParseCount(word.substr(slash + 1), &track->pregap)) return false;
    return ParseCount(word.substr(0, slash), &track->frames) && track->frames > 0;
}

std::string Msf(uint32_t frames) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u",
                  frames / (kFramesPerSecond * kSecondsPerMinute),
                  frames / kFramesPerSecond % kSecondsPerMinute, frames % kFramesPerSecond);
    return text;
}

uint8_t Bcd(uint32_t v) {
    return uint8_t(v / 10 * 16 + v % 10);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Writes frames [first, end) of the image to one BIN.
bool WriteBin(const std::string& path, const DiscPlan& plan, const DiscLayout& layout,
              uint32_t first, uint32_t end, std::string* error) {
    File f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        *error = "cannot create " + path;
        return false;
    }
    std::vector<uint8_t> chunk(size_t(kWriteChunkFrames) * kFrameBytes);
    for (uint32_t lba = first; lba < end;) {
        uint32_t n = end - lba < kWriteChunkFrames ? end - lba : kWriteChunkFrames;
        for (uint32_t i = 0; i < n; i++)
            ImageFrame(plan, layout, lba + i, chunk.data() + size_t(i) * kFrameBytes);
        if (std::fwrite(chunk.data(), kFrameBytes, n, f.get()) != n) {
            *error = "cannot write " + path;
            return false;
        }
        lba += n;
    }
    if (std::fflush(f.get()) != 0) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace

DiscLayout LayOut(const DiscPlan& plan) {
    DiscLayout layout;
    uint32_t at = 0;
    int number = 1;
    for (const TrackPlan& t : plan.tracks) {
        TrackLayout tl;
        tl.number = number++;
        tl.pregapStart = at;
        tl.start = at + t.pregap;
        tl.frames = t.frames;
        tl.data = t.data;
        layout.tracks.push_back(tl);
        at = tl.start + t.frames;
    }
    layout.leadOut = at;
    return layout;
}

bool ParseDiscArgs(const std::vector<std::string>& args, DiscPlan* plan, std::string* error) {
    DiscPlan out;
    std::vector<bool> ownPregap;
    uint32_t pregap = 0;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        if (a == kPregapOption) {
            if (i + 1 >= args.size() || !ParseCount(args[i + 1], &pregap)) {
                *error = "--pregap needs a number of frames";
                return false;
            }
            i++;
        } else if (a == kSplitOption) {
            out.filePerTrack = true;
        } else if (a == kMusicOption) {
            out.music = true;
        } else {
            TrackPlan t;
            bool own = false;
            if (!ParseTrack(a, &t, &own)) {
                *error = "'" + a + "' is not a track ([data:]FRAMES[/PREGAP], FRAMES at least 1)";
                return false;
            }
            out.tracks.push_back(t);
            ownPregap.push_back(own);
        }
    }
    if (out.tracks.empty() || out.tracks.size() > size_t(kMaxTracks)) {
        *error = "a disc has 1 to 99 tracks";
        return false;
    }
    for (size_t i = 1; i < out.tracks.size(); i++)
        if (!ownPregap[i]) out.tracks[i].pregap = pregap;
    uint64_t total = 0;
    for (const TrackPlan& t : out.tracks) total += uint64_t(t.frames) + t.pregap;
    if (total >= kMaxPatternLba) {
        *error = "the disc is too long";
        return false;
    }
    *plan = out;
    return true;
}

bool ParseDiscDescription(const std::string& text, DiscPlan* plan, std::string* error) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text + " ") {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return ParseDiscArgs(words, plan, error);
}

void FillDataFrame(uint32_t lba, uint8_t* frame) {
    FillFrame(lba, frame);
    frame[0] = 0;
    std::memset(frame + 1, 0xFF, kSyncBytes - 2);
    frame[kSyncBytes - 1] = 0;
    uint32_t a = lba + kLeadInFrames;
    frame[kSyncBytes] = Bcd(a / (kFramesPerSecond * kSecondsPerMinute));
    frame[kSyncBytes + 1] = Bcd(a / kFramesPerSecond % kSecondsPerMinute);
    frame[kSyncBytes + 2] = Bcd(a % kFramesPerSecond);
    frame[kHeaderModeByte] = kMode1;
}

void ImageFrame(const DiscPlan& plan, const DiscLayout& layout, uint32_t lba, uint8_t* frame) {
    size_t t = 0;
    while (t + 1 < layout.tracks.size() && lba >= layout.tracks[t + 1].pregapStart) t++;
    const TrackLayout& track = layout.tracks[t];
    if (track.data) {
        FillDataFrame(lba, frame);
    } else if (!plan.music) {
        FillFrame(lba, frame);
    } else if (lba < track.start) {
        std::memset(frame, 0, kFrameBytes); // a pregap is silence
    } else {
        uint32_t first = (lba - track.start) * kFrameSamples, total = track.frames * kFrameSamples;
        for (uint32_t i = 0; i < kFrameSamples; i++) {
            uint32_t v = ToneSample(track.number, first + i, total);
            std::memcpy(frame + i * kStereoBytes, &v, kStereoBytes);
        }
    }
}

bool WriteDiscImage(const std::string& cuePath, const DiscPlan& plan, std::string* error) {
    if (plan.tracks.empty() || plan.tracks.size() > size_t(kMaxTracks)) {
        *error = "a disc has 1 to 99 tracks";
        return false;
    }
    size_t sep = cuePath.find_last_of("/\\");
    std::string dir = sep == std::string::npos ? std::string() : cuePath.substr(0, sep + 1);
    std::string stem = cuePath.substr(dir.size());
    size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0) stem.erase(dot);

    DiscLayout layout = LayOut(plan);
    std::string cue = "REM made by mkdisc\r\n";
    uint32_t fileStart = 0;
    for (size_t i = 0; i < layout.tracks.size(); i++) {
        const TrackLayout& t = layout.tracks[i];
        if (i == 0 || plan.filePerTrack) {
            char suffix[8] = "";
            if (plan.filePerTrack) std::snprintf(suffix, sizeof suffix, "-%02d", t.number);
            std::string name = stem + suffix + ".bin";
            uint32_t end = plan.filePerTrack && i + 1 < layout.tracks.size()
                               ? layout.tracks[i + 1].pregapStart
                               : layout.leadOut;
            if (!WriteBin(dir + name, plan, layout, t.pregapStart, end, error)) return false;
            cue += "FILE \"" + name + "\" BINARY\r\n";
            fileStart = t.pregapStart;
        }
        char line[48];
        std::snprintf(line, sizeof line, "  TRACK %02d %s\r\n", t.number,
                      t.data ? "MODE1/2352" : "AUDIO");
        cue += line;
        if (t.start != t.pregapStart)
            cue += "    INDEX 00 " + Msf(t.pregapStart - fileStart) + "\r\n";
        cue += "    INDEX 01 " + Msf(t.start - fileStart) + "\r\n";
    }
    File f(std::fopen(cuePath.c_str(), "wb"));
    if (!f || std::fwrite(cue.data(), 1, cue.size(), f.get()) != cue.size() ||
        std::fflush(f.get()) != 0) {
        *error = "cannot write " + cuePath;
        return false;
    }
    return true;
}

} // namespace td_disc
