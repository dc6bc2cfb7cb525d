// Wave files and their formats: those sox makes, and damaged ones made
// systematically from a good one: cut at and around every chunk boundary,
// every size field lying, "fmt " chunks of every size, odd lengths with and
// without pad bytes, chunks out of place, formats that cannot play. For each,
// PlayWaveFile comes back at once, shows at most the one box due, closes the
// file, and what plays is exactly the bytes of the data chunk that the file
// holds, in whole frames.
#include "audio/pcm_format.h"
#include "streamer_fixture.h"
#include "support/message_boxes.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string>

using td_test::Bytes;

namespace {

constexpr char kNotFoundText[] = "Not found wave format";
constexpr DWORD kDataBytes = 4000;
constexpr size_t kHeader = 8;                // a chunk's id and size
constexpr size_t kRiffHeader = 12;           // with the form type
constexpr DWORD kHangMs = 5000;              // a case that takes longer has hung
constexpr DWORD kWrapsToItself = 0xFFFFFFF8; // size + header = 2^32: back to the same header
constexpr WORD kCdFrame = 4;
constexpr BYTE kSilence16 = 0, kSilence8 = 0x80;

DWORD Le(const Bytes& b, size_t at, int bytes) {
    DWORD v = 0;
    for (int i = bytes - 1; i >= 0; i--) v = v << 8 | b[at + i];
    return v;
}

void PutLe32(Bytes& b, size_t at, DWORD v) {
    for (int i = 0; i < 4; i++) b[at + i] = BYTE(v >> (8 * i));
}

struct Chunk {
    std::string id;
    Bytes body;
    bool pad = true; // the pad byte after an odd body
};

struct Wave {
    Bytes file;
    std::vector<size_t> at; // where each chunk's header starts
};

// `before`: bytes ahead of the RIFF chunk; `riffSize`: a lying RIFF size.
Wave Build(const std::vector<Chunk>& chunks, std::optional<DWORD> riffSize = {},
           const char* form = "WAVE", const char* riff = "RIFF", const Bytes& before = {}) {
    Wave w{before, {}};
    w.file.insert(w.file.end(), riff, riff + 4);
    w.file.resize(w.file.size() + 4);
    w.file.insert(w.file.end(), form, form + 4);
    for (const Chunk& c : chunks) {
        w.at.push_back(w.file.size());
        w.file.insert(w.file.end(), c.id.begin(), c.id.end());
        w.file.resize(w.file.size() + 4);
        PutLe32(w.file, w.file.size() - 4, DWORD(c.body.size()));
        w.file.insert(w.file.end(), c.body.begin(), c.body.end());
        if (c.body.size() % 2 && c.pad) w.file.push_back(0);
    }
    PutLe32(w.file, before.size() + 4,
            riffSize.value_or(DWORD(w.file.size() - before.size() - kHeader)));
    return w;
}

WAVEFORMATEXTENSIBLE Format(WORD tag, WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEXTENSIBLE f = {};
    WORD align = WORD(channels * bits / 8);
    f.Format = {tag, channels, rate, rate * align, align, bits, 22};
    f.Samples.wValidBitsPerSample = bits;
    f.dwChannelMask =
        channels == 1 ? SPEAKER_FRONT_CENTER : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    f.SubFormat = {WAVE_FORMAT_PCM, 0, 0x10, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    return f;
}

// The first `size` bytes of the record, then filler.
Bytes Fmt(const WAVEFORMATEXTENSIBLE& f, size_t size = sizeof(PCMWAVEFORMAT)) {
    Bytes b(reinterpret_cast<const BYTE*>(&f), reinterpret_cast<const BYTE*>(&f) + sizeof f);
    b.resize(size, 0xEE);
    return b;
}

const WAVEFORMATEXTENSIBLE kCd = Format(WAVE_FORMAT_PCM, 2, 44100, 16);
const WAVEFORMATEXTENSIBLE kMono8 = Format(WAVE_FORMAT_PCM, 1, 22050, 8);
const Bytes kData = FakeBytes(0, kDataBytes);
const Chunk kList = {"LIST",
                     Bytes{'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 3, 0, 0, 0, 'x', 'y', 'z'}};

// fmt, an odd LIST with its pad byte, data, and a LIST after the data.
std::vector<Chunk> Chunks(const Bytes& fmt = Fmt(kCd), const Bytes& data = kData) {
    return {{"fmt ", fmt}, kList, {"data", data}, kList};
}
enum { kFmtAt, kListAt, kDataAt, kTailAt };

// What PlayWaveFile does with a file: plays it without a box, refuses it with
// "Not found wave format", refuses it without a box, or (for formats a device
// may or may not take) either plays it or refuses it without a box.
enum Expect { kPlays, kNotFound, kQuiet, kPlaysOrQuiet };

struct Case {
    std::string name;
    Wave wave;
    Expect expect;
    Bytes heard = kData; // what plays, when it plays
    WORD frame = kCdFrame;
    BYTE silence = kSilence16;
};

// Plays what the file holds of the data chunk whose body starts at `body` and
// claims `size` bytes, in whole frames; with nothing to play, refuses quietly.
Case PlaysWhatIsThere(const std::string& name, const Wave& w, size_t body, DWORD size,
                      WORD frame = kCdFrame, BYTE silence = kSilence16) {
    // A size near 4 GiB would wrap a 32-bit sum: count what is left instead.
    const size_t from = std::min(body, w.file.size());
    Bytes heard(w.file.begin() + from,
                w.file.begin() + from + std::min<size_t>(size, w.file.size() - from));
    heard.resize(heard.size() - heard.size() % frame);
    return {name, w, heard.empty() ? kQuiet : kPlays, heard, frame, silence};
}

// Ends the test program when a case has not come back in time: a hang
// would otherwise hold the test until its time-out, without saying where.
void CALLBACK Hung(void* name, BOOLEAN) {
    std::printf("[  FAILED  ] the wave file \"%s\" hangs PlayWaveFile\n", (const char*)name);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 1);
}

class WaveFiles : public StreamerTest {
  protected:
    void SetUp() override {
        StreamerTest::SetUp();
        Rebuild(kCdBlock);
    }

    // Plays the cases one after another, then checks what each one's device
    // opening played once the capture has settled.
    void RunAll(const std::vector<Case>& cases) {
        std::vector<int> played, firstOpening;
        for (size_t i = 0; i < cases.size(); i++) {
            const Case& c = cases[i];
            SCOPED_TRACE(c.name);
            std::string path = td_test::ScratchDir() + "\\" + std::to_string(i) + ".wav";
            ASSERT_TRUE(td_test::WriteFileBytes(path, c.wave.file.data(), c.wave.file.size()));
            firstOpening.push_back(td_test::CaptureOpenings());
            td_test::MessageBoxWatcher boxes;
            HANDLE timer = nullptr;
            CreateTimerQueueTimer(&timer, nullptr, Hung, (void*)c.name.c_str(), kHangMs, 0,
                                  WT_EXECUTEONLYONCE);
            played.push_back(streamer_->PlayWaveFile(path.c_str()));
            DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
            EXPECT_TRUE(!played.back() || WaitForEnd(ends_ + 1)) << "no end message";
            EXPECT_EQ(streamer_->GetPlayedBytes(), 0u);
            // "Not found wave format" on the deck where it is due, and no other box.
            std::vector<std::string> texts;
            for (const td_test::MessageBoxSeen& box : boxes.Seen()) {
                texts.push_back(box.text);
                EXPECT_EQ(box.owner, owner_);
            }
            EXPECT_EQ(texts, std::vector<std::string>(c.expect == kNotFound, kNotFoundText));
            if (c.expect != kPlaysOrQuiet) {
                EXPECT_EQ(played.back(), c.expect == kPlays);
            }
            // Closed again: nobody else holds it open.
            EXPECT_TRUE(DeleteFileA(path.c_str())) << "the file was left open";
        }
        td_test::SettledCapture();
        firstOpening.push_back(td_test::CaptureOpenings());
        for (size_t i = 0; i < cases.size(); i++) {
            const Case& c = cases[i];
            SCOPED_TRACE(c.name);
            if (!played[i]) {
                for (int k = firstOpening[i]; k < firstOpening[i + 1]; k++)
                    EXPECT_TRUE(td_test::ReadCaptureOpening(k).empty()) << "refused, yet played";
                continue;
            }
            ASSERT_EQ(firstOpening[i + 1] - firstOpening[i], 1) << "one playback, one opening";
            EXPECT_TRUE(PlayedExactly(td_test::ReadCaptureOpening(firstOpening[i]), c.heard,
                                      c.frame, c.silence));
        }
        EXPECT_EQ(ends_, std::count(played.begin(), played.end(), 1)) << "one end per playback";
    }
};

// A file sox made, whole or cut to `kept` bytes of data: non-PCM ones are
// refused quietly; PCM ones play exactly the data chunk.
Case MadeBySox(const std::string& name, bool pcm, size_t kept = SIZE_MAX) {
    Wave w{td_test::ReadFileBytes(td_test::FromUnixPath(TD_TEST_WAVES "/" + name + ".wav")), {}};
    size_t at = kRiffHeader, fmt = 0;
    while (at + kHeader <= w.file.size() && memcmp(&w.file[at], "data", 4) != 0) {
        if (!memcmp(&w.file[at], "fmt ", 4)) fmt = at + kHeader;
        DWORD size = Le(w.file, at + 4, 4);
        at += kHeader + size + size % 2;
    }
    EXPECT_TRUE(fmt && at + kHeader <= w.file.size()) << name << " has no fmt or data chunk";
    if (!pcm) return {name, w, kQuiet};
    if (kept < w.file.size() - at - kHeader) w.file.resize(at + kHeader + kept);
    WORD align = WORD(Le(w.file, fmt + 12, 2)), bits = WORD(Le(w.file, fmt + 14, 2));
    return PlaysWhatIsThere(name, w, at + kHeader, Le(w.file, at + 4, 4), align,
                            bits == 8 ? kSilence8 : kSilence16);
}

} // namespace

TEST_F(WaveFiles, MadeBySoxPlayExactlyTheirDataChunkUnlessTheyAreNotPcm) {
    RunAll({MadeBySox("s16_44100", true), MadeBySox("m16_48000", true), MadeBySox("s8_22050", true),
            MadeBySox("m8_22050", true), MadeBySox("s16_48000", true), MadeBySox("m8_44100", true),
            MadeBySox("ext24_44100", true), MadeBySox("ext16_4ch", true),
            MadeBySox("s16_44100", true, 3 * 4096 + 2), // cut short mid-frame
            MadeBySox("float_44100", false), MadeBySox("mulaw_8000", false),
            MadeBySox("adpcm_22050", false)});
}

TEST_F(WaveFiles, AMissingFileSaysSoOnce) {
    td_test::MessageBoxWatcher boxes;
    EXPECT_EQ(streamer_->PlayWaveFile((td_test::ScratchDir() + "\\missing.wav").c_str()), 0);
    ASSERT_EQ(boxes.Seen().size(), 1u) << boxes.Texts();
    EXPECT_EQ(boxes.Seen()[0].text, "Failed to open wavefile");
    EXPECT_EQ(boxes.Seen()[0].owner, owner_);
}

// A file whose data chunk header is not whole has no data chunk.
TEST_F(WaveFiles, CutAtAndAroundEveryChunkBoundary) {
    const Wave good = Build(Chunks());
    const size_t body = good.at[kDataAt] + kHeader;
    std::set<size_t> cuts = {0}; // the empty file too
    std::vector<size_t> edges = {4, kHeader, kRiffHeader, good.file.size()};
    for (size_t at : good.at) edges.insert(edges.end(), {at, at + 4, at + kHeader});
    for (size_t edge : edges)
        for (size_t n = edge - 3; n <= edge + 3; n++)
            if (n < good.file.size()) cuts.insert(n);
    std::vector<Case> cases;
    for (size_t n : cuts) {
        Wave cut = good;
        cut.file.resize(n);
        std::string name = "cut at " + std::to_string(n);
        cases.push_back(n < body ? Case{name, cut, kNotFound}
                                 : PlaysWhatIsThere(name, cut, body, kDataBytes));
    }
    RunAll(cases);
}

// Every size field told 0, one less, one more, FFFFFFFF, or so much that the
// search wraps back to the same header. A search must start inside the RIFF
// (as mmio's does); it then goes on to the end of the file, since RIFF sizes
// are often wrong in files that play.
TEST_F(WaveFiles, SizeFieldsThatLie) {
    const Wave good = Build(Chunks());
    const size_t body = good.at[kDataAt] + kHeader;
    auto lying = [&](size_t field, DWORD size) {
        Wave w = good;
        PutLe32(w.file, field, size);
        return w;
    };
    auto plays = [&](const std::string& name, const Wave& w) {
        return PlaysWhatIsThere(name, w, body, Le(w.file, body - 4, 4));
    };
    const struct {
        const char* name;
        size_t field;
        const char* outcomes; // for each lie: Plays, Not found
    } fields[] = {{"RIFF", 4, "NPPPP"},
                  {"fmt", good.at[kFmtAt] + 4, "NNNNN"},
                  {"list", good.at[kListAt] + 4, "NNPNN"}, // one more takes the pad byte in
                  {"data", body - 4, "PPPPP"},
                  {"tail list", good.at[kTailAt] + 4, "PPPPP"}};
    std::vector<Case> cases;
    for (const auto& f : fields) {
        const DWORD size = Le(good.file, f.field, 4);
        const DWORD lies[] = {0, size - 1, size + 1, 0xFFFFFFFF, kWrapsToItself};
        for (int i = 0; i < 5; i++) {
            std::string name = std::string(f.name) + " " + std::to_string(lies[i]);
            Wave w = lying(f.field, lies[i]);
            cases.push_back(f.outcomes[i] == 'P' ? plays(name, w) : Case{name, w, kNotFound});
        }
    }
    cases.insert(
        cases.end(),
        {{"RIFF holds only its form type", lying(4, 4), kNotFound},
         {"RIFF ends inside fmt", lying(4, DWORD(good.at[kFmtAt])), kNotFound},
         plays("RIFF ends before the data header", lying(4, DWORD(good.at[kDataAt] - kHeader))),
         // What the list chunk would need to say to send the search back to "fmt ".
         {"list back to fmt",
          lying(good.at[kListAt] + 4, DWORD(good.at[kFmtAt] - good.at[kListAt] - kHeader)),
          kNotFound},
         plays("data 2", lying(body - 4, 2)),
         plays("data 4008", lying(body - 4, kDataBytes + kHeader)),
         plays("data 7FFFFFFF", lying(body - 4, 0x7FFFFFFF))});
    RunAll(cases);
}

// Up to the record's 40 bytes are read; a longer chunk never overruns it.
TEST_F(WaveFiles, FmtChunksOfEverySize) {
    auto sized = [](size_t size, bool pad = true) {
        std::vector<Chunk> chunks = Chunks(Fmt(kCd, size));
        chunks[kFmtAt].pad = pad;
        return Build(chunks);
    };
    WAVEFORMATEXTENSIBLE noExtra = kCd;
    noExtra.Format.cbSize = 0;
    RunAll({
        {"1", sized(1), kNotFound},
        {"15", sized(15), kNotFound},
        {"17 and a pad byte", sized(17), kPlays},
        {"17 without a pad byte", sized(17, false), kNotFound},
        {"18", Build(Chunks(Fmt(noExtra, sizeof(WAVEFORMATEX)))), kPlays},
        {"18 claiming more extra bytes", sized(sizeof(WAVEFORMATEX)), kPlays},
        {"40", sized(40), kPlays},
        {"41 and a pad byte", sized(41), kPlays},
        {"41 without a pad byte", sized(41, false), kNotFound},
        {"1001", sized(1001), kPlays},
    });
}

TEST_F(WaveFiles, OddLengthsWithAndWithoutPadBytes) {
    const Bytes odd = FakeBytes(0, kDataBytes - 1);
    auto mono8 = [&](bool pad, bool tail) {
        std::vector<Chunk> chunks = Chunks(Fmt(kMono8), odd);
        chunks[kDataAt].pad = pad;
        if (!tail) chunks.pop_back();
        return Build(chunks);
    };
    std::vector<Chunk> listWithoutPad = Chunks();
    listWithoutPad[kListAt].pad = false;
    Bytes cdOdd = kData;
    cdOdd.push_back(0x55);
    RunAll({
        {"a list without its pad byte", Build(listWithoutPad), kNotFound},
        {"8-bit data, pad byte, list", mono8(true, true), kPlays, odd, 1, kSilence8},
        {"8-bit data, no pad byte, list", mono8(false, true), kPlays, odd, 1, kSilence8},
        {"8-bit data at the end, no pad byte", mono8(false, false), kPlays, odd, 1, kSilence8},
        {"8-bit data at the end, pad byte", mono8(true, false), kPlays, odd, 1, kSilence8},
        {"16-bit stereo data of an odd length", Build(Chunks(Fmt(kCd), cdOdd)), kPlays},
    });
}

TEST_F(WaveFiles, ChunksOutOfPlaceOrOfTheWrongKind) {
    const Chunk fmt = {"fmt ", Fmt(kCd)}, data = {"data", kData};
    const Wave info = Build({fmt}, {}, "INFO");
    const Chunk fmtInList = {"LIST", Bytes(info.file.begin() + kHeader, info.file.end())};
    const Bytes junk = {'J', 'U', 'N', 'K', 4, 0, 0, 0, 1, 2, 3, 4};
    const Bytes wrappingJunk = {'J', 'U', 'N', 'K', 0xF8, 0xFF, 0xFF, 0xFF};
    const Bytes avi = Build({{"avih", Bytes(8, 1)}}, {}, "AVI ").file;
    RunAll({
        {"data before fmt", Build({data, fmt}), kNotFound},
        {"two fmt chunks: the first counts", Build({fmt, {"fmt ", Fmt(kMono8)}, data}), kPlays},
        {"fmt only inside a list", Build({fmtInList, data}), kNotFound},
        {"a chunk before the RIFF", Build({fmt, data}, {}, "WAVE", "RIFF", junk), kPlays},
        {"a chunk before the RIFF that wraps", Build({fmt, data}, {}, "WAVE", "RIFF", wrappingJunk),
         kNotFound},
        {"an AVI RIFF before the WAVE one", Build({fmt, data}, {}, "WAVE", "RIFF", avi), kPlays},
        {"an AVI RIFF that wraps", Build({fmt, data}, kWrapsToItself, "AVI "), kNotFound},
        {"RIFX", Build({fmt, data}, {}, "WAVE", "RIFX"), kNotFound},
        {"lower-case wave", Build({fmt, data}, {}, "wave"), kNotFound},
        {"no chunks at all", Build({}), kNotFound},
    });
}

// Non-PCM and inconsistent formats are refused quietly, as are formats the
// device could only be harmed by: Wine's audio corrupts its heap when asked
// for dozens of channels or an absurd rate.
TEST_F(WaveFiles, FormatsThatCannotPlayOrHardlyCan) {
    auto pcm = [](WORD channels, DWORD rate, WORD bits, const Bytes& data = kData) {
        return Build(Chunks(Fmt(Format(WAVE_FORMAT_PCM, channels, rate, bits)), data));
    };
    // `base` with one field of the format record changed.
    auto changed = [](size_t offset, int bytes, DWORD value, const WAVEFORMATEXTENSIBLE& base = kCd,
                      size_t size = sizeof(PCMWAVEFORMAT)) {
        Bytes fmt = Fmt(base, size);
        for (int i = 0; i < bytes; i++) fmt[offset + i] = BYTE(value >> (8 * i));
        return Build(Chunks(fmt));
    };
    const WAVEFORMATEXTENSIBLE ext = Format(WAVE_FORMAT_EXTENSIBLE, 2, 44100, 16);
    const size_t kTag = 0, kChannels = 2, kRate = 4, kByteRate = 8, kAlign = 12, kExtra = 16,
                 kValidBits = 18, kSubFormat = 24;
    auto extChanged = [&](size_t offset, int bytes, DWORD value) {
        return changed(offset, bytes, value, ext, sizeof ext);
    };
    const WORD wideFrame = 18 * sizeof(short);
    const Bytes few = FakeBytes(0, 2 * kCdFrame), wide = FakeBytes(0, 100 * wideFrame),
                mono8 = FakeBytes(0, 999);
    std::vector<Case> cases = {
        {"rate 0", changed(kRate, 4, 0), kQuiet},
        {"no channels", changed(kChannels, 2, 0), kQuiet},
        // 16384 channels of 32 bits: the block align overflows its 16 bits.
        {"block align overflows", pcm(16384, 44100, 32), kQuiet},
        {"frames larger than a block", pcm(16000, 44100, 32), kQuiet},
        {"frames larger than the data", pcm(15000, 44100, 32), kQuiet},
        {"byte rate 0", changed(kByteRate, 4, 0), kPlays},
        {"byte rate FFFFFFFF", changed(kByteRate, 4, 0xFFFFFFFF), kPlays},
        {"19 channels", pcm(19, 44100, 16), kQuiet},
        {"1000 channels", pcm(1000, 44100, 16), kQuiet},
        {"rate above 768 kHz", pcm(2, 768001, 16), kQuiet},
        {"rate FFFFFFFF", pcm(2, 0xFFFFFFFF, 16), kQuiet},
        {"rate 1", pcm(2, 1, 16, few), kPlaysOrQuiet, few},
        {"18 channels", pcm(18, 44100, 16, wide), kPlaysOrQuiet, wide, wideFrame},
        {"rate 768 kHz", pcm(2, 768000, 16), kPlaysOrQuiet},
        {"extensible float", extChanged(kSubFormat, 4, WAVE_FORMAT_IEEE_FLOAT), kQuiet},
        {"extensible of 21 extra bytes", extChanged(kExtra, 2, 21), kQuiet},
        {"extensible chunk of 39 bytes", Build(Chunks(Fmt(ext, sizeof ext - 1))), kQuiet},
        {"extensible with more valid bits than stored", extChanged(kValidBits, 2, 17), kQuiet},
        {"extensible claiming 255 extra bytes", extChanged(kExtra, 2, 255), kPlays},
        {"extensible with valid bits 0: all of them", extChanged(kValidBits, 2, 0), kPlays},
        {"extensible 12 valid bits in 16", extChanged(kValidBits, 2, 12), kPlaysOrQuiet},
        {"extensible mono 8-bit",
         Build(Chunks(Fmt(Format(WAVE_FORMAT_EXTENSIBLE, 1, 22050, 8), sizeof ext), mono8)), kPlays,
         mono8, 1, kSilence8},
    };
    for (WORD tag : {0, 0x50, 0x55, 0x92, 0xFFFF})
        cases.push_back({"tag " + std::to_string(tag), changed(kTag, 2, tag), kQuiet});
    for (WORD bits : {0, 4, 12, 20, 40, 64})
        cases.push_back({std::to_string(bits) + " bits", pcm(2, 44100, bits), kQuiet});
    for (WORD align : {0, 3, 8})
        cases.push_back(
            {"block align " + std::to_string(align), changed(kAlign, 2, align), kQuiet});
    RunAll(cases);
}

// More than two channels, or fewer valid bits than stored, keep the
// extensible record, which never claims more bytes than it holds; a stray
// extra size of a plain record goes. The byte rate is made consistent.
TEST(PcmFormat, PlayableRecordsNeverClaimMoreThanTheyHold) {
    WAVEFORMATEXTENSIBLE plain = kMono8, quad = Format(WAVE_FORMAT_EXTENSIBLE, 4, 44100, 16),
                         padded = Format(WAVE_FORMAT_EXTENSIBLE, 2, 44100, 32);
    plain.Format.cbSize = 0x7777;
    quad.Format.cbSize = 200;
    padded.Samples.wValidBitsPerSample = 24;
    for (WAVEFORMATEXTENSIBLE* f : {&plain, &quad, &padded}) {
        f->Format.nAvgBytesPerSec = 0;
        ASSERT_EQ(PreparePlayableFormat(f, f == &plain ? 18 : kFmtRecordSize), 1);
        EXPECT_EQ(f->Format.cbSize, f == &plain ? 0 : 22) << f->Format.nChannels;
        EXPECT_EQ(f->Format.nAvgBytesPerSec, f->Format.nSamplesPerSec * f->Format.nBlockAlign);
    }
    EXPECT_EQ(quad.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(padded.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
}

// Wine's audio corrupts its heap when a device is asked for dozens of
// channels or an absurd rate, so such records never reach it.
TEST(PcmFormat, ChannelsAndRatesBeyondAnySpeakersAreRefused) {
    const struct {
        WORD channels;
        DWORD rate;
        int playable;
    } cases[] = {{18, 44100, 1}, {19, 44100, 0}, {2, 768000, 1}, {2, 768001, 0}};
    for (const auto& c : cases) {
        WAVEFORMATEXTENSIBLE f = Format(WAVE_FORMAT_EXTENSIBLE, c.channels, c.rate, 16);
        EXPECT_EQ(IsPlayablePcm(&f.Format), c.playable) << c.channels << " at " << c.rate;
    }
}
