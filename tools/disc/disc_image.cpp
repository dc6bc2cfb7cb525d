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
// Before a later session: the lead-out (the first session's longer) and
// lead-in, then a 150-frame pregap (the track's own, as far as it goes), as
// the drive lays them.
constexpr uint32_t kFirstSessionLeadOutAndIn = 6750 + 4500;
constexpr uint32_t kLaterSessionLeadOutAndIn = 2250 + 4500;
constexpr uint32_t kSessionPregap = 150;
constexpr size_t kSyncBytes = 12;
constexpr size_t kHeaderModeByte = 15;
constexpr uint8_t kMode1 = 1, kMode2 = 2;
constexpr int kMaxNumberDigits = 9;
constexpr uint32_t kWriteChunkFrames = 75;
constexpr char kPregapOption[] = "--pregap";
constexpr char kSplitOption[] = "--split";
constexpr char kMusicOption[] = "--music";
constexpr char kSessionOption[] = "--session";
constexpr char kWaveOption[] = "--wave";
constexpr char kSilentPregapsOption[] = "--silent-pregaps";
constexpr char kTitleOption[] = "--title";
constexpr char kPerformerOption[] = "--performer";
constexpr char kDataPrefix[] = "data:";
constexpr char kMode2Prefix[] = "mode2:";
// The WAVE files: an odd-sized LIST chunk (padded) and the format after it,
// so that whatever reads them must walk the chunks as the format says.
constexpr char kWaveSoftware[] = "mkdisc"; // INFO/ISFT, 7 bytes with its terminator
constexpr uint32_t kWavePcmFormatBytes = 16;
constexpr uint16_t kWaveChannels = 2, kWaveBits = 16;
constexpr uint32_t kWaveRate = 44100;

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

bool TakePrefix(std::string* word, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (word->compare(0, n, prefix) != 0) return false;
    word->erase(0, n);
    return true;
}

// "[data:|mode2:]FRAMES[/PREGAP][+POSTGAP]"
bool ParseTrack(std::string word, TrackPlan* track, bool* ownPregap) {
    track->mode2 = TakePrefix(&word, kMode2Prefix);
    track->data = track->mode2 || TakePrefix(&word, kDataPrefix);
    size_t plus = word.find('+');
    if (plus != std::string::npos) {
        if (!ParseCount(word.substr(plus + 1), &track->postgap)) return false;
        word.erase(plus);
    }
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

std::string Two(int number) {
    char text[4];
    std::snprintf(text, sizeof text, "%02d", number % 100);
    return text;
}

uint8_t Bcd(uint32_t v) {
    return uint8_t(v / 10 * 16 + v % 10);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void PutLe(std::string* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++, value >>= 8) *out += char(value & 0xFF);
}

// The chunks of a WAVE file before `dataBytes` bytes of samples.
std::string WaveHeader(uint32_t dataBytes) {
    std::string info = "INFOISFT";
    PutLe(&info, sizeof kWaveSoftware, 4);
    info.append(kWaveSoftware, sizeof kWaveSoftware);
    std::string chunks = "LIST";
    PutLe(&chunks, uint32_t(info.size()), 4);
    chunks += info;
    if (info.size() % 2) chunks += '\0';
    chunks += "fmt ";
    PutLe(&chunks, kWavePcmFormatBytes, 4);
    PutLe(&chunks, 1, 2); // PCM
    PutLe(&chunks, kWaveChannels, 2);
    PutLe(&chunks, kWaveRate, 4);
    PutLe(&chunks, kWaveRate * kStereoBytes, 4);
    PutLe(&chunks, kStereoBytes, 2);
    PutLe(&chunks, kWaveBits, 2);
    chunks += "data";
    PutLe(&chunks, dataBytes, 4);
    std::string header = "RIFF";
    PutLe(&header, uint32_t(4 + chunks.size() + dataBytes), 4);
    return header + "WAVE" + chunks;
}

struct Range {
    uint32_t first, end;
};

// The frames of the image in `ranges` as one file, a BIN or a WAVE.
bool WriteImageFile(const std::string& path, const DiscPlan& plan, const DiscLayout& layout,
                    const std::vector<Range>& ranges, bool wave, std::string* error) {
    File f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        *error = "cannot create " + path;
        return false;
    }
    uint32_t frames = 0;
    for (const Range& r : ranges) frames += r.end - r.first;
    std::string header = wave ? WaveHeader(frames * kFrameBytes) : std::string();
    bool ok = std::fwrite(header.data(), 1, header.size(), f.get()) == header.size();
    std::vector<uint8_t> chunk(size_t(kWriteChunkFrames) * kFrameBytes);
    for (const Range& r : ranges) {
        for (uint32_t lba = r.first; ok && lba < r.end;) {
            uint32_t n = r.end - lba < kWriteChunkFrames ? r.end - lba : kWriteChunkFrames;
            for (uint32_t i = 0; i < n; i++)
                ImageFrame(plan, layout, lba + i, chunk.data() + size_t(i) * kFrameBytes);
            ok = std::fwrite(chunk.data(), kFrameBytes, n, f.get()) == n;
            lba += n;
        }
    }
    if (!ok || std::fflush(f.get()) != 0) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace

DiscLayout LayOut(const DiscPlan& plan) {
    DiscLayout layout;
    uint32_t at = 0;
    int number = 1, session = plan.tracks.empty() ? 1 : plan.tracks[0].session;
    for (const TrackPlan& t : plan.tracks) {
        if (t.session != session)
            at += (session == 1 ? kFirstSessionLeadOutAndIn : kLaterSessionLeadOutAndIn) +
                  (t.pregap < kSessionPregap ? kSessionPregap - t.pregap : 0);
        session = t.session;
        TrackLayout tl;
        tl.number = number++;
        tl.pregapStart = at;
        tl.start = at + t.pregap;
        tl.frames = t.frames;
        tl.postgap = t.postgap;
        tl.data = t.data;
        tl.mode2 = t.mode2;
        tl.session = t.session;
        layout.tracks.push_back(tl);
        at = tl.start + t.frames + t.postgap;
    }
    layout.leadOut = at;
    return layout;
}

bool ParseDiscArgs(const std::vector<std::string>& args, DiscPlan* plan, std::string* error) {
    DiscPlan out;
    std::vector<bool> ownPregap;
    uint32_t pregap = 0;
    int session = 1;
    bool newSession = false;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        if (a == kSessionOption) {
            if (out.tracks.empty() || newSession) {
                *error = "--session comes between two tracks";
                return false;
            }
            newSession = true;
        } else if (a == kWaveOption) {
            out.wave = true;
        } else if (a == kSilentPregapsOption) {
            out.silentPregaps = true;
        } else if (a == kPregapOption) {
            if (i + 1 >= args.size() || !ParseCount(args[i + 1], &pregap)) {
                *error = "--pregap needs a number of frames";
                return false;
            }
            i++;
        } else if (a == kTitleOption || a == kPerformerOption) {
            uint32_t track;
            if (i + 2 >= args.size() || !ParseCount(args[i + 1], &track) || track > kMaxTracks) {
                *error = a + " needs a track (0 for the disc) and a text";
                return false;
            }
            std::vector<std::string>& texts = a == kTitleOption ? out.titles : out.performers;
            texts.resize(kMaxTracks + 1);
            texts[track] = args[i + 2];
            i += 2;
        } else if (a == kSplitOption) {
            out.filePerTrack = true;
        } else if (a == kMusicOption) {
            out.music = true;
        } else {
            TrackPlan t;
            bool own = false;
            if (!ParseTrack(a, &t, &own)) {
                *error = "'" + a +
                         "' is not a track ([data:|mode2:]FRAMES[/PREGAP][+POSTGAP], FRAMES at "
                         "least 1)";
                return false;
            }
            session += newSession;
            newSession = false;
            t.session = session;
            out.tracks.push_back(t);
            ownPregap.push_back(own);
        }
    }
    if (out.tracks.empty() || out.tracks.size() > size_t(kMaxTracks)) {
        *error = "a disc has 1 to 99 tracks";
        return false;
    }
    if (newSession) {
        *error = "--session comes between two tracks";
        return false;
    }
    for (size_t i = 1; i < out.tracks.size(); i++)
        if (!ownPregap[i]) out.tracks[i].pregap = pregap;
    bool tooLong = false; // each part first, so that the sum cannot overflow
    for (const TrackPlan& t : out.tracks)
        tooLong |=
            t.frames >= kMaxPatternLba || t.pregap >= kMaxPatternLba || t.postgap >= kMaxPatternLba;
    if (tooLong || LayOut(out).leadOut >= kMaxPatternLba) {
        *error = "the disc is too long";
        return false;
    }
    *plan = out;
    return true;
}

bool ParseDiscDescription(const std::string& text, DiscPlan* plan, std::string* error) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (char c : text + " ") {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any || !word.empty()) words.push_back(word);
            word.clear();
            any = false;
        } else {
            word += c;
        }
    }
    return ParseDiscArgs(words, plan, error);
}

void FillDataFrame(uint32_t lba, uint8_t* frame, bool mode2) {
    FillFrame(lba, frame);
    frame[0] = 0;
    std::memset(frame + 1, 0xFF, kSyncBytes - 2);
    frame[kSyncBytes - 1] = 0;
    uint32_t a = lba + kLeadInFrames;
    frame[kSyncBytes] = Bcd(a / (kFramesPerSecond * kSecondsPerMinute));
    frame[kSyncBytes + 1] = Bcd(a / kFramesPerSecond % kSecondsPerMinute);
    frame[kSyncBytes + 2] = Bcd(a % kFramesPerSecond);
    frame[kHeaderModeByte] = mode2 ? kMode2 : kMode1;
}

void ImageFrame(const DiscPlan& plan, const DiscLayout& layout, uint32_t lba, uint8_t* frame) {
    size_t t = 0;
    while (t + 1 < layout.tracks.size() && lba >= layout.tracks[t + 1].pregapStart) t++;
    const TrackLayout& track = layout.tracks[t];
    bool pregap = lba < track.start;
    if (lba >= track.start + track.frames || (pregap && plan.silentPregaps)) {
        std::memset(frame, 0, kFrameBytes); // a postgap, a gap between sessions, a PREGAP
    } else if (track.data) {
        FillDataFrame(lba, frame, track.mode2);
    } else if (!plan.music) {
        FillFrame(lba, frame);
    } else if (pregap) {
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
    auto texts = [&](size_t k, const char* indent) {
        std::string lines;
        if (k < plan.titles.size() && !plan.titles[k].empty())
            lines += indent + std::string("TITLE \"") + plan.titles[k] + "\"\r\n";
        if (k < plan.performers.size() && !plan.performers[k].empty())
            lines += indent + std::string("PERFORMER \"") + plan.performers[k] + "\"\r\n";
        return lines;
    };
    cue += texts(0, "");
    bool sessions = layout.tracks.back().session > 1;
    // A file begins at the first track, at every track with --split, and
    // where WAVE audio meets a data track's BIN.
    auto startsFile = [&](size_t k) {
        return k == 0 || plan.filePerTrack ||
               (plan.wave && layout.tracks[k].data != layout.tracks[k - 1].data);
    };
    uint32_t inFile = 0; // frames of the current file before the track
    for (size_t i = 0; i < layout.tracks.size(); i++) {
        const TrackLayout& t = layout.tracks[i];
        const TrackPlan& p = plan.tracks[i];
        bool newSession = i == 0 ? sessions : t.session != layout.tracks[i - 1].session;
        if (newSession) cue += "REM SESSION " + Two(t.session) + "\r\n";
        bool wave = plan.wave && !t.data;
        if (startsFile(i)) {
            std::vector<Range> ranges; // this track and those after it in its file
            for (size_t k = i; k < layout.tracks.size() && (k == i || !startsFile(k)); k++) {
                const TrackLayout& u = layout.tracks[k];
                ranges.push_back(
                    {plan.silentPregaps ? u.start : u.pregapStart, u.start + u.frames});
            }
            std::string suffix = plan.filePerTrack || i > 0 ? "-" + Two(t.number) : "";
            std::string name = stem + suffix + (wave ? ".wav" : ".bin");
            if (!WriteImageFile(dir + name, plan, layout, ranges, wave, error)) return false;
            cue += "FILE \"" + name + (wave ? "\" WAVE\r\n" : "\" BINARY\r\n");
            inFile = 0;
        }
        cue += "  TRACK " + Two(t.number) +
               (t.data ? (t.mode2 ? " MODE2/2352\r\n" : " MODE1/2352\r\n") : " AUDIO\r\n");
        cue += texts(size_t(t.number), "    ");
        uint32_t recordedPregap = plan.silentPregaps ? 0 : p.pregap;
        if (p.pregap && plan.silentPregaps) cue += "    PREGAP " + Msf(p.pregap) + "\r\n";
        if (recordedPregap) cue += "    INDEX 00 " + Msf(inFile) + "\r\n";
        cue += "    INDEX 01 " + Msf(inFile + recordedPregap) + "\r\n";
        if (p.postgap) cue += "    POSTGAP " + Msf(p.postgap) + "\r\n";
        inFile += recordedPregap + p.frames;
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
