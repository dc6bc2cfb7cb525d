// Wave files: those made by sox play exactly their data chunk; damaged or
// unplayable ones fail with the right message, or none, and never hang.
#include "streamer_fixture.h"
#include "support/message_boxes.h"

#include <string.h>

using td_test::Bytes;

namespace {

constexpr char kNotFound[] = "Not found wave format";
constexpr DWORD kDataBytes = 20000;

std::string WavePath(const std::string& name) {
    return td_test::FromUnixPath(std::string(TD_TEST_WAVES) + "/" + name + ".wav");
}

void Put32(Bytes& b, DWORD v) {
    for (int i = 0; i < 4; i++) b.push_back((BYTE)(v >> (8 * i)));
}

struct Chunk {
    std::string id;
    Bytes body;
    DWORD declared = 0xFFFFFFFF; // the size written, when it lies
};

Bytes Riff(const std::vector<Chunk>& chunks, const char* form = "WAVE", const char* riff = "RIFF") {
    Bytes body(form, form + 4);
    for (const Chunk& c : chunks) {
        body.insert(body.end(), c.id.begin(), c.id.end());
        Put32(body, c.declared != 0xFFFFFFFF ? c.declared : (DWORD)c.body.size());
        body.insert(body.end(), c.body.begin(), c.body.end());
        if (c.body.size() % 2) body.push_back(0);
    }
    Bytes file(riff, riff + 4);
    Put32(file, (DWORD)body.size());
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

Bytes Fmt(WORD tag, WORD channels, DWORD rate, WORD bits, size_t size = 16) {
    WAVEFORMATEXTENSIBLE f = {};
    WORD align = (WORD)(channels * bits / 8);
    f.Format = {tag, channels, rate, rate * align, align, bits, 22};
    f.Samples.wValidBitsPerSample = bits;
    f.SubFormat = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    Bytes b(reinterpret_cast<BYTE*>(&f), reinterpret_cast<BYTE*>(&f) + sizeof f);
    b.resize(size, 0xEE);
    return b;
}

const Bytes kStereo16 = Fmt(WAVE_FORMAT_PCM, 2, 44100, 16);
const Bytes kData = FakeBytes(0, kDataBytes);
const Chunk kList = {"LIST",
                     Bytes{'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 3, 0, 0, 0, 'x', 'y', 'z'}};

// The format and data chunk of a well-formed file, read without mmio.
bool SplitWave(const Bytes& file, WAVEFORMATEX* fmt, Bytes* data) {
    for (size_t at = 12; at + 8 <= file.size();) {
        DWORD size;
        memcpy(&size, &file[at + 4], 4);
        if (!memcmp(&file[at], "fmt ", 4)) memcpy(fmt, &file[at + 8], sizeof(PCMWAVEFORMAT));
        if (!memcmp(&file[at], "data", 4)) {
            data->assign(file.begin() + at + 8, file.begin() + at + 8 + size);
            return true;
        }
        at += 8 + size + size % 2;
    }
    return false;
}

class WaveFileTest : public StreamerTest {
  protected:
    void SetUp() override {
        StreamerTest::SetUp();
        Rebuild(kCdBlock);
    }
    // Plays `path` to its end and checks that exactly `expected` was heard.
    void ExpectPlays(const std::string& path, const Bytes& expected, size_t frame, BYTE silence) {
        td_test::MessageBoxWatcher boxes;
        ASSERT_EQ(streamer_->PlayWaveFile(path.c_str()), 1) << boxes.Texts();
        ASSERT_TRUE(WaitForEnd());
        EXPECT_TRUE(PlayedExactly(td_test::SettledCapture(), expected, frame, silence));
        EXPECT_TRUE(boxes.Seen().empty()) << boxes.Texts();
    }
    // A refusal: `text` shown once (or no box at all), nothing played, and the streamer free.
    void ExpectRefused(const std::string& path, const char* text) {
        td_test::MessageBoxWatcher boxes;
        EXPECT_EQ(streamer_->PlayWaveFile(path.c_str()), 0);
        ASSERT_EQ(boxes.Seen().size(), text ? 1u : 0u) << boxes.Texts();
        if (text) {
            EXPECT_EQ(boxes.Seen()[0].text, text);
            EXPECT_EQ(boxes.Seen()[0].owner, owner_);
        }
        td_test::PumpMessages(100);
        EXPECT_EQ(ends_, 0);
        EXPECT_TRUE(td_test::ReadCapture().empty());
        EXPECT_EQ(streamer_->GetPlayedBytes(), 0u);
    }
    std::string Write(const Bytes& file) {
        std::string path = td_test::ScratchDir() + "\\test.wav";
        td_test::WriteFileBytes(path, file.data(), file.size());
        return path;
    }
};

struct SoxCase {
    const char* name;
    bool plays;
};
void PrintTo(const SoxCase& c, std::ostream* os) {
    *os << c.name;
}

class SoxWave : public WaveFileTest, public ::testing::WithParamInterface<SoxCase> {};

TEST_P(SoxWave, PlaysExactlyItsDataChunkOrIsRefusedQuietly) {
    const std::string path = WavePath(GetParam().name);
    Bytes file = td_test::ReadFileBytes(path);
    WAVEFORMATEX fmt = {};
    Bytes data;
    ASSERT_TRUE(SplitWave(file, &fmt, &data)) << path;
    if (!GetParam().plays) return ExpectRefused(path, nullptr);
    ExpectPlays(path, data, fmt.nBlockAlign, fmt.wBitsPerSample == 8 ? 0x80 : 0);
}

INSTANTIATE_TEST_SUITE_P(MadeBySox, SoxWave,
                         ::testing::Values(SoxCase{"s16_44100", true}, SoxCase{"m16_48000", true},
                                           SoxCase{"s8_22050", true}, SoxCase{"m8_22050", true},
                                           SoxCase{"s16_48000", true}, SoxCase{"m8_44100", true},
                                           SoxCase{"ext24_44100", true}, SoxCase{"ext16_4ch", true},
                                           SoxCase{"float_44100", false},
                                           SoxCase{"mulaw_8000", false},
                                           SoxCase{"adpcm_22050", false}),
                         [](const auto& info) { return std::string(info.param.name); });

enum class Outcome { kPlaysData, kPlaysHalf, kNotFound, kRefusedQuietly };

struct DamagedCase {
    const char* name;
    Bytes file;
    Outcome outcome;
};
void PrintTo(const DamagedCase& c, std::ostream* os) {
    *os << c.name;
}

class DamagedWave : public WaveFileTest, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedWave, FailsCleanlyOrPlaysWhatIsThere) {
    const std::string path = Write(GetParam().file);
    switch (GetParam().outcome) {
        case Outcome::kPlaysData: return ExpectPlays(path, kData, 4, 0);
        case Outcome::kPlaysHalf: return ExpectPlays(path, FakeBytes(0, kDataBytes / 2), 4, 0);
        case Outcome::kNotFound: return ExpectRefused(path, kNotFound);
        case Outcome::kRefusedQuietly: return ExpectRefused(path, nullptr);
    }
}

Bytes Cut(Bytes file, size_t size) {
    file.resize(size);
    return file;
}

Bytes WithRiffSize(Bytes file, DWORD size) {
    memcpy(&file[4], &size, 4);
    return file;
}

const Bytes kGood = Riff({{"fmt ", kStereo16}, {"data", kData}});

const DamagedCase kDamaged[] = {
    {"EmptyFile", Bytes(), Outcome::kNotFound},
    {"NotRiff", Riff({{"fmt ", kStereo16}, {"data", kData}}, "WAVE", "ID3 "), Outcome::kNotFound},
    {"NoFmt", Riff({kList, {"data", kData}}), Outcome::kNotFound},
    {"NoData", Riff({{"fmt ", kStereo16}, kList}), Outcome::kNotFound},
    {"FmtOf14Bytes", Riff({{"fmt ", Fmt(1, 2, 44100, 16, 14)}, {"data", kData}}),
     Outcome::kNotFound},
    {"EmptyFmt", Riff({{"fmt ", Bytes()}, {"data", kData}}), Outcome::kNotFound},
    {"FmtClaimingMoreThanTheFile", Riff({{"fmt ", kStereo16, 0x7FFFFFF0}, {"data", kData}}),
     Outcome::kNotFound},
    {"LongFmt", Riff({{"fmt ", Fmt(1, 2, 44100, 16, 1001)}, {"data", kData}}), Outcome::kPlaysData},
    {"ListChunksAround", Riff({kList, {"fmt ", kStereo16}, kList, {"data", kData}, kList}),
     Outcome::kPlaysData},
    {"RiffSizeTooLarge", WithRiffSize(kGood, 0x7FFFFFFF), Outcome::kPlaysData},
    {"DataCutShortMidFrame", Cut(kGood, 44 + kDataBytes / 2 + 3), Outcome::kPlaysHalf},
    {"DataHeaderOnly", Cut(kGood, 44), Outcome::kRefusedQuietly},
    {"EmptyDataBeforeAList", Riff({{"fmt ", kStereo16}, {"data", Bytes()}, kList}),
     Outcome::kRefusedQuietly},
    {"ExtensibleStereo16",
     Riff({{"fmt ", Fmt(WAVE_FORMAT_EXTENSIBLE, 2, 44100, 16, 40)}, {"data", kData}}),
     Outcome::kPlaysData},
    {"NoChannels", Riff({{"fmt ", Fmt(1, 0, 44100, 16)}, {"data", kData}}),
     Outcome::kRefusedQuietly},
};

INSTANTIATE_TEST_SUITE_P(BuiltHere, DamagedWave, ::testing::ValuesIn(kDamaged),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WaveFileTest, ExtensibleMono8PlaysByteForByte) {
    Bytes data = FakeBytes(0, 9999);
    ExpectPlays(
        Write(Riff({{"fmt ", Fmt(WAVE_FORMAT_EXTENSIBLE, 1, 22050, 8, 40)}, {"data", data}})), data,
        1, 0x80);
}

TEST_F(WaveFileTest, ASoxFileCutShortPlaysWhatIsThere) {
    Bytes file = td_test::ReadFileBytes(WavePath("s16_44100"));
    WAVEFORMATEX fmt = {};
    Bytes data;
    ASSERT_TRUE(SplitWave(file, &fmt, &data));
    const size_t kept = data.size() / 3 + 2; // mid-frame
    file.resize(file.size() - data.size() + kept);
    data.resize(kept - kept % fmt.nBlockAlign);
    ExpectPlays(Write(file), data, fmt.nBlockAlign, 0);
}

TEST_F(WaveFileTest, AMissingFileSaysSoOnce) {
    ExpectRefused(td_test::ScratchDir() + "\\missing.wav", "Failed to open wavefile");
}

TEST_F(WaveFileTest, ABusyStreamerRefusesWithoutABox) {
    const std::string path = WavePath("s16_44100");
    ASSERT_EQ(streamer_->PlayWaveFile(path.c_str()), 1);
    td_test::MessageBoxWatcher boxes;
    EXPECT_EQ(streamer_->PlayWaveFile(path.c_str()), 0);
    EXPECT_TRUE(boxes.Seen().empty()) << boxes.Texts();
    ASSERT_TRUE(WaitForEnd());
    WAVEFORMATEX fmt = {};
    Bytes data;
    ASSERT_TRUE(SplitWave(td_test::ReadFileBytes(path), &fmt, &data));
    EXPECT_TRUE(PlayedExactly(td_test::SettledCapture(), data, 4));
}

} // namespace
