// Damaged wave files made systematically from good ones: cut at and around
// every chunk boundary, every size field lying, "fmt " chunks of every size,
// odd lengths with and without pad bytes, chunks out of place, formats that
// cannot play. For each, PlayWaveFile comes back at once, shows at most one
// of the program's own boxes, closes the file, and what plays is exactly the
// bytes of the data chunk that the file holds, in whole frames.
#include "streamer_fixture.h"
#include "support/message_boxes.h"

#include <cstdio>
#include <optional>
#include <set>
#include <string>

using td_test::Bytes;

namespace {

constexpr char kNotFound[] = "Not found wave format";
const std::set<std::string> kProgramTexts = {kNotFound, "Failed to open wavefile",
                                             "Failed to write block memory"};
constexpr DWORD kDataBytes = 4000;
constexpr size_t kHeader = 8;                // a chunk's id and size
constexpr size_t kRiffHeader = 12;           // with the form type
constexpr DWORD kHangMs = 5000;              // a case that takes longer has hung
constexpr DWORD kWrapsToItself = 0xFFFFFFF8; // size + header = 2^32: back to the same header
constexpr WORD kCdFrame = 4;
constexpr BYTE kSilence16 = 0, kSilence8 = 0x80;
constexpr GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

void PutLe32(Bytes& b, size_t at, DWORD v) {
    for (int i = 0; i < 4; i++) b[at + i] = BYTE(v >> (8 * i));
}

struct Chunk {
    Chunk(const std::string& id, const Bytes& body) : id(id), body(body) {}
    std::string id;
    Bytes body;
    std::optional<DWORD> declared; // the size written, when it lies
    bool pad = true;               // the pad byte after an odd body
};

struct Wave {
    Bytes file;
    std::vector<size_t> at; // where each chunk's header starts
};

// `before`: bytes ahead of the RIFF chunk; `riffSize`: a lying RIFF size.
Wave Build(const std::vector<Chunk>& chunks, std::optional<DWORD> riffSize = {},
           const char* form = "WAVE", const char* riff = "RIFF", const Bytes& before = {}) {
    Wave w;
    w.file = before;
    w.file.insert(w.file.end(), riff, riff + 4);
    w.file.resize(w.file.size() + 4);
    w.file.insert(w.file.end(), form, form + 4);
    for (const Chunk& c : chunks) {
        w.at.push_back(w.file.size());
        w.file.insert(w.file.end(), c.id.begin(), c.id.end());
        w.file.resize(w.file.size() + 4);
        PutLe32(w.file, w.file.size() - 4, c.declared.value_or(DWORD(c.body.size())));
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
    f.SubFormat = kSubtypePcm;
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

enum class Expect { kPlays, kNotFound, kQuiet, kPlaysOrQuiet };

struct Case {
    std::string name;
    Bytes file;
    Expect expect;
    Bytes heard; // what plays, when it plays
    WORD frame = kCdFrame;
    BYTE silence = kSilence16;
};

// The bytes of the data chunk whose body starts at `body` and claims `size`
// bytes that the file holds, in whole frames.
Bytes DataInFile(const Bytes& file, size_t body, DWORD size, WORD frame) {
    size_t end = body + size < file.size() ? body + size : file.size();
    Bytes b(file.begin() + body, file.begin() + end);
    b.resize(b.size() - b.size() % frame);
    return b;
}

Case Plays(const std::string& name, const Wave& w, const Bytes& heard, WORD frame = kCdFrame,
           BYTE silence = kSilence16) {
    return {name, w.file, heard.empty() ? Expect::kQuiet : Expect::kPlays, heard, frame, silence};
}

Case NotFound(const std::string& name, const Wave& w) {
    return {name, w.file, Expect::kNotFound, {}};
}

Case Quiet(const std::string& name, const Wave& w) {
    return {name, w.file, Expect::kQuiet, {}};
}

// A device may or may not take such a format; if it plays, it plays exactly.
Case PlaysIfTaken(const std::string& name, const Wave& w, const Bytes& heard, WORD frame) {
    return {name, w.file, Expect::kPlaysOrQuiet, heard, frame, kSilence16};
}

std::string Hex(DWORD v) {
    char s[16];
    std::snprintf(s, sizeof s, "%lX", (unsigned long)v);
    return s;
}

// Ends the test program when a case has not come back in time: a hang
// would otherwise hold the test until its time-out, without saying where.
class Watchdog {
  public:
    Watchdog(const std::string& what) : what_(what) {
        done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
    }
    ~Watchdog() {
        SetEvent(done_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(done_);
    }

  private:
    static DWORD WINAPI Watch(void* p) {
        Watchdog* self = static_cast<Watchdog*>(p);
        if (WaitForSingleObject(self->done_, kHangMs) == WAIT_OBJECT_0) return 0;
        std::printf("[  FAILED  ] the wave file \"%s\" hangs PlayWaveFile\n", self->what_.c_str());
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
        return 0;
    }
    std::string what_;
    HANDLE done_;
    HANDLE thread_;
};

std::string OpeningPath(size_t index) {
    std::string path = td_test::CapturePath();
    if (index) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%04zu", index);
        path += suffix;
    }
    return path;
}

size_t OpeningCount() {
    size_t n = 0;
    while (GetFileAttributesA(OpeningPath(n).c_str()) != INVALID_FILE_ATTRIBUTES) n++;
    return n;
}

class HostileWave : public StreamerTest {
  protected:
    void SetUp() override {
        StreamerTest::SetUp();
        Rebuild(kCdBlock);
    }

    void RunAll(const std::vector<Case>& cases) {
        struct Run {
            int played;
            size_t firstOpening;
        };
        std::vector<Run> runs;
        for (size_t i = 0; i < cases.size(); i++) {
            const Case& c = cases[i];
            SCOPED_TRACE(c.name);
            std::string path = td_test::ScratchDir() + "\\" + std::to_string(i) + ".wav";
            ASSERT_TRUE(td_test::WriteFileBytes(path, c.file.data(), c.file.size()));
            Run run = {0, OpeningCount()};
            td_test::MessageBoxWatcher boxes;
            ends_ = 0;
            {
                Watchdog dog(c.name);
                run.played = streamer_->PlayWaveFile(path.c_str());
            }
            if (run.played) {
                EXPECT_TRUE(WaitForEnd());
            }
            EXPECT_EQ(streamer_->GetPlayedBytes(), 0u);
            for (const td_test::MessageBoxSeen& box : boxes.Seen())
                EXPECT_TRUE(kProgramTexts.count(box.text)) << box.text;
            switch (c.expect) {
                case Expect::kPlays:
                    EXPECT_EQ(run.played, 1);
                    EXPECT_TRUE(boxes.Seen().empty()) << boxes.Texts();
                    break;
                case Expect::kNotFound:
                    EXPECT_EQ(run.played, 0);
                    EXPECT_EQ(boxes.Count(kNotFound), 1u) << boxes.Texts();
                    EXPECT_EQ(boxes.Seen().size(), 1u) << boxes.Texts();
                    break;
                case Expect::kQuiet:
                    EXPECT_EQ(run.played, 0);
                    EXPECT_TRUE(boxes.Seen().empty()) << boxes.Texts();
                    break;
                case Expect::kPlaysOrQuiet:
                    EXPECT_TRUE(boxes.Seen().empty()) << boxes.Texts();
                    break;
            }
            // Closed again: nobody else holds it open.
            HANDLE h =
                CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            EXPECT_NE(h, INVALID_HANDLE_VALUE) << "the file was left open";
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            runs.push_back(run);
        }
        td_test::SettledCapture();
        const size_t openings = OpeningCount();
        for (size_t i = 0; i < cases.size(); i++) {
            const Case& c = cases[i];
            SCOPED_TRACE(c.name);
            size_t from = runs[i].firstOpening;
            size_t to = i + 1 < runs.size() ? runs[i + 1].firstOpening : openings;
            if (runs[i].played) {
                ASSERT_EQ(to - from, 1u) << "one playback opens the device once";
                EXPECT_TRUE(PlayedExactly(td_test::ReadCaptureOpening(int(from)), c.heard, c.frame,
                                          c.silence));
            } else {
                for (size_t k = from; k < to; k++)
                    EXPECT_TRUE(td_test::ReadCaptureOpening(int(k)).empty())
                        << "refused, yet played";
            }
        }
    }
};

} // namespace

TEST_F(HostileWave, CutAtAndAroundEveryChunkBoundary) {
    const Wave good = Build(Chunks());
    const size_t body = good.at[kDataAt] + kHeader;
    std::set<size_t> cuts;
    std::vector<size_t> edges = {4, kHeader, kRiffHeader, good.file.size()};
    for (size_t at : good.at) edges.insert(edges.end(), {at, at + 4, at + kHeader});
    for (size_t edge : edges)
        for (size_t n = edge - 3; n <= edge + 3; n++)
            if (n > 0 && n < good.file.size()) cuts.insert(n);
    std::vector<Case> cases;
    for (size_t n : cuts) {
        Wave cut = good;
        cut.file.resize(n);
        std::string name = "cut at " + std::to_string(n);
        // A file whose data chunk header is not whole has no data chunk.
        cases.push_back(n < body
                            ? NotFound(name, cut)
                            : Plays(name, cut, DataInFile(cut.file, body, kDataBytes, kCdFrame)));
    }
    RunAll(cases);
}

TEST_F(HostileWave, SizeFieldsThatLie) {
    const Wave good = Build(Chunks());
    const size_t body = good.at[kDataAt] + kHeader;
    auto lying = [&](int chunk, DWORD size) {
        std::vector<Chunk> chunks = Chunks();
        chunks[chunk].declared = size;
        return Build(chunks);
    };
    auto riff = [&](DWORD size) { return Build(Chunks(), size); };
    auto data = [&](DWORD size) {
        return Plays("data " + Hex(size), lying(kDataAt, size),
                     DataInFile(lying(kDataAt, size).file, body, size, kCdFrame));
    };
    // What the list chunk would need to say to send the search back to "fmt ".
    const DWORD backToFmt = DWORD(good.at[kFmtAt] - (good.at[kListAt] + kHeader));
    const DWORD riffTrue = DWORD(good.file.size() - kHeader);
    // A search must start inside the RIFF (as mmio's does); it then goes on to
    // the end of the file, since RIFF sizes are often wrong in files that play.
    std::vector<Case> cases = {
        NotFound("RIFF 0", riff(0)),
        NotFound("RIFF holds only its form type", riff(4)),
        NotFound("RIFF ends inside fmt", riff(DWORD(good.at[kFmtAt]))),
        Plays("RIFF ends before the data header", riff(DWORD(good.at[kDataAt] - kHeader)), kData),
        Plays("RIFF one short", riff(riffTrue - 1), kData),
        Plays("RIFF one long", riff(riffTrue + 1), kData),
        Plays("RIFF FFFFFFFF", riff(0xFFFFFFFF), kData),
        Plays("RIFF wraps", riff(kWrapsToItself), kData),
        NotFound("fmt 0", lying(kFmtAt, 0)),
        NotFound("fmt 15", lying(kFmtAt, 15)),
        NotFound("fmt 17", lying(kFmtAt, 17)),
        NotFound("fmt FFFFFFFF", lying(kFmtAt, 0xFFFFFFFF)),
        NotFound("fmt wraps to itself", lying(kFmtAt, kWrapsToItself)),
        NotFound("list 0", lying(kListAt, 0)),
        NotFound("list 14", lying(kListAt, 14)),
        Plays("list 16, taking the pad byte in", lying(kListAt, 16), kData),
        NotFound("list FFFFFFFF", lying(kListAt, 0xFFFFFFFF)),
        NotFound("list wraps to itself", lying(kListAt, kWrapsToItself)),
        NotFound("list wraps back to fmt", lying(kListAt, backToFmt)),
        data(2),
        data(kDataBytes - 1),
        data(kDataBytes + 1),
        data(kDataBytes + kHeader),
        data(0x7FFFFFFF),
        data(0xFFFFFFFF),
        data(kWrapsToItself),
        Plays("tail list 0", lying(kTailAt, 0), kData),
        Plays("tail list wraps", lying(kTailAt, kWrapsToItself), kData),
    };
    RunAll(cases);
}

TEST_F(HostileWave, FmtChunksOfEverySize) {
    auto sized = [](size_t size, bool pad = true) {
        std::vector<Chunk> chunks = Chunks(Fmt(kCd, size));
        chunks[kFmtAt].pad = pad;
        return Build(chunks);
    };
    WAVEFORMATEXTENSIBLE noExtra = kCd;
    noExtra.Format.cbSize = 0;
    std::vector<Case> cases = {
        NotFound("1", sized(1)),
        NotFound("15", sized(15)),
        Plays("17 and a pad byte", sized(17), kData),
        NotFound("17 without a pad byte", sized(17, false)),
        Plays("18", Build(Chunks(Fmt(noExtra, sizeof(WAVEFORMATEX)))), kData),
        Plays("18 claiming more extra bytes", sized(sizeof(WAVEFORMATEX)), kData),
        Plays("40", sized(40), kData),
        Plays("41 and a pad byte", sized(41), kData),
        NotFound("41 without a pad byte", sized(41, false)),
    };
    RunAll(cases);
}

TEST_F(HostileWave, OddLengthsWithAndWithoutPadBytes) {
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
    std::vector<Case> cases = {
        NotFound("a list without its pad byte", Build(listWithoutPad)),
        Plays("8-bit data, pad byte, list", mono8(true, true), odd, 1, kSilence8),
        Plays("8-bit data, no pad byte, list", mono8(false, true), odd, 1, kSilence8),
        Plays("8-bit data at the end, no pad byte", mono8(false, false), odd, 1, kSilence8),
        Plays("8-bit data at the end, pad byte", mono8(true, false), odd, 1, kSilence8),
        Plays("16-bit stereo data of an odd length", Build(Chunks(Fmt(kCd), cdOdd)), kData),
    };
    RunAll(cases);
}

TEST_F(HostileWave, ChunksOutOfPlaceOrOfTheWrongKind) {
    const Chunk fmt = {"fmt ", Fmt(kCd)}, data = {"data", kData};
    const Chunk otherData = {"data", FakeBytes(kDataBytes, kDataBytes)};
    auto inList = [](const Chunk& c) {
        Chunk list = {"LIST", Bytes{'I', 'N', 'F', 'O'}};
        list.body.insert(list.body.end(), c.id.begin(), c.id.end());
        for (int i = 0; i < 4; i++) list.body.push_back(BYTE(c.body.size() >> (8 * i)));
        list.body.insert(list.body.end(), c.body.begin(), c.body.end());
        return list;
    };
    Bytes junk = {'J', 'U', 'N', 'K', 4, 0, 0, 0, 1, 2, 3, 4};
    Bytes wrappingJunk = {'J', 'U', 'N', 'K', 0xF8, 0xFF, 0xFF, 0xFF};
    Wave avi = Build({{"avih", Bytes(8, 1)}}, {}, "AVI ");
    Wave aviThenWave = Build({fmt, data}, {}, "WAVE", "RIFF", avi.file);
    std::vector<Case> cases = {
        NotFound("data before fmt", Build({data, fmt})),
        Plays("two fmt chunks: the first counts", Build({fmt, {"fmt ", Fmt(kMono8)}, data}), kData),
        Plays("two data chunks: the first plays", Build({fmt, data, otherData}), kData),
        Plays("fmt after the data", Build({fmt, data, fmt}), kData),
        NotFound("fmt only inside a list", Build({inList(fmt), data})),
        NotFound("data only inside a list", Build({fmt, inList(data)})),
        Plays("a chunk before the RIFF", Build({fmt, data}, {}, "WAVE", "RIFF", junk), kData),
        NotFound("a chunk before the RIFF that wraps",
                 Build({fmt, data}, {}, "WAVE", "RIFF", wrappingJunk)),
        Plays("an AVI RIFF before the WAVE one", aviThenWave, kData),
        NotFound("an AVI RIFF that wraps", Build({fmt, data}, kWrapsToItself, "AVI ")),
        NotFound("RIFX", Build({fmt, data}, {}, "WAVE", "RIFX")),
        NotFound("RF64", Build({fmt, data}, {}, "WAVE", "RF64")),
        NotFound("lower-case riff", Build({fmt, data}, {}, "WAVE", "riff")),
        NotFound("lower-case wave", Build({fmt, data}, {}, "wave")),
        NotFound("no chunks at all", Build({})),
    };
    RunAll(cases);
}

TEST_F(HostileWave, FormatsThatCannotPlayOrHardlyCan) {
    auto with = [](WAVEFORMATEXTENSIBLE f) { return Build(Chunks(Fmt(f))); };
    auto changed = [&](auto change) {
        WAVEFORMATEXTENSIBLE f = kCd;
        change(f.Format);
        return with(f);
    };
    std::vector<Case> cases;
    for (WORD tag : {WORD(0), WORD(0x0050), WORD(0x0055), WORD(0x0092), WORD(0xFFFF)})
        cases.push_back(
            Quiet("tag " + Hex(tag), changed([&](WAVEFORMATEX& f) { f.wFormatTag = tag; })));
    for (WORD bits : {0, 4, 12, 20, 40, 64})
        cases.push_back(
            Quiet(std::to_string(bits) + " bits", with(Format(WAVE_FORMAT_PCM, 2, 44100, bits))));
    cases.push_back(Quiet("rate 0", changed([](WAVEFORMATEX& f) { f.nSamplesPerSec = 0; })));
    cases.push_back(Quiet("block align 0", changed([](WAVEFORMATEX& f) { f.nBlockAlign = 0; })));
    cases.push_back(Quiet("block align 3", changed([](WAVEFORMATEX& f) { f.nBlockAlign = 3; })));
    cases.push_back(Quiet("block align 8", changed([](WAVEFORMATEX& f) { f.nBlockAlign = 8; })));
    // 16384 channels of 32 bits: the block align overflows its 16 bits.
    cases.push_back(
        Quiet("block align overflows", with(Format(WAVE_FORMAT_PCM, 16384, 44100, 32))));
    cases.push_back(
        Quiet("frames larger than a block", with(Format(WAVE_FORMAT_PCM, 16000, 44100, 32))));
    cases.push_back(
        Quiet("frames larger than the data", with(Format(WAVE_FORMAT_PCM, 15000, 44100, 32))));
    cases.push_back(
        Plays("byte rate 0", changed([](WAVEFORMATEX& f) { f.nAvgBytesPerSec = 0; }), kData));
    cases.push_back(Plays("byte rate FFFFFFFF",
                          changed([](WAVEFORMATEX& f) { f.nAvgBytesPerSec = 0xFFFFFFFF; }), kData));
    // Formats the device could only be harmed by: Wine's audio corrupts its
    // heap when asked for dozens of channels or an absurd rate.
    cases.push_back(Quiet("19 channels", with(Format(WAVE_FORMAT_PCM, 19, 44100, 16))));
    cases.push_back(Quiet("1000 channels", with(Format(WAVE_FORMAT_PCM, 1000, 44100, 16))));
    cases.push_back(Quiet("rate above 768 kHz", with(Format(WAVE_FORMAT_PCM, 2, 768001, 16))));
    cases.push_back(Quiet("rate FFFFFFFF", with(Format(WAVE_FORMAT_PCM, 2, 0xFFFFFFFF, 16))));
    const Bytes few = FakeBytes(0, 2 * kCdFrame);
    cases.push_back(PlaysIfTaken(
        "rate 1", Build(Chunks(Fmt(Format(WAVE_FORMAT_PCM, 2, 1, 16)), few)), few, kCdFrame));
    const WORD wideFrame = 18 * sizeof(short);
    const Bytes wide = FakeBytes(0, 100 * wideFrame);
    cases.push_back(PlaysIfTaken("18 channels",
                                 Build(Chunks(Fmt(Format(WAVE_FORMAT_PCM, 18, 44100, 16)), wide)),
                                 wide, wideFrame));
    cases.push_back(PlaysIfTaken("rate 768 kHz",
                                 Build(Chunks(Fmt(Format(WAVE_FORMAT_PCM, 2, 768000, 16)))), kData,
                                 kCdFrame));
    RunAll(cases);
}

TEST_F(HostileWave, ExtensibleFormatsWithBadParts) {
    const WAVEFORMATEXTENSIBLE ext = Format(WAVE_FORMAT_EXTENSIBLE, 2, 44100, 16);
    auto with = [](WAVEFORMATEXTENSIBLE f, size_t size = sizeof f) {
        return Build(Chunks(Fmt(f, size)));
    };
    auto changed = [&](auto change) {
        WAVEFORMATEXTENSIBLE f = ext;
        change(f);
        return with(f);
    };
    std::vector<Case> cases = {
        Quiet("float sub-format", changed([](WAVEFORMATEXTENSIBLE& f) { f.SubFormat.Data1 = 3; })),
        Quiet("a-law sub-format", changed([](WAVEFORMATEXTENSIBLE& f) { f.SubFormat.Data1 = 6; })),
        Quiet("zero sub-format", changed([](WAVEFORMATEXTENSIBLE& f) { f.SubFormat = GUID(); })),
        Quiet("PCM sub-format off by a byte",
              changed([](WAVEFORMATEXTENSIBLE& f) { f.SubFormat.Data4[7] ^= 1; })),
        Quiet("no extra bytes", changed([](WAVEFORMATEXTENSIBLE& f) { f.Format.cbSize = 0; })),
        Quiet("21 extra bytes", changed([](WAVEFORMATEXTENSIBLE& f) { f.Format.cbSize = 21; })),
        Quiet("chunk of 39 bytes", with(ext, sizeof ext - 1)),
        Quiet("chunk of 18 bytes", with(ext, sizeof(WAVEFORMATEX))),
        Quiet("more valid bits than the container",
              changed([](WAVEFORMATEXTENSIBLE& f) { f.Samples.wValidBitsPerSample = 17; })),
        Quiet("no channels", changed([](WAVEFORMATEXTENSIBLE& f) {
                  f.Format.nChannels = 0;
                  f.Format.nBlockAlign = 0;
              })),
        Plays("valid bits 0: all of them",
              changed([](WAVEFORMATEXTENSIBLE& f) { f.Samples.wValidBitsPerSample = 0; }), kData),
        Plays("every speaker in the mask",
              changed([](WAVEFORMATEXTENSIBLE& f) { f.dwChannelMask = 0xFFFFFFFF; }), kData),
        Plays("255 extra bytes claimed",
              changed([](WAVEFORMATEXTENSIBLE& f) { f.Format.cbSize = 255; }), kData),
        PlaysIfTaken("12 valid bits in 16",
                     changed([](WAVEFORMATEXTENSIBLE& f) { f.Samples.wValidBitsPerSample = 12; }),
                     kData, kCdFrame),
    };
    RunAll(cases);
}
