#include "deck_fixture.h"

#include <cstdint>
#include <cstring>

namespace deck_test {

namespace {

// The canonical header of 44100 Hz 16-bit stereo PCM; the RIFF size and the
// data size follow the data.
constexpr uint8_t kCanonicalHeader[] = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W', 'A', 'V',
                                        'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                        2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 2,   0,   4,
                                        0,   16,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0};
constexpr size_t kHeaderBytes = sizeof kCanonicalHeader;
constexpr size_t kRiffSizeAt = 4, kDataSizeAt = 40, kRiffUncounted = 8;

Bytes CanonicalHeader(uint32_t dataBytes) {
    Bytes header(kCanonicalHeader, kCanonicalHeader + kHeaderBytes);
    uint32_t riffBytes = uint32_t(kHeaderBytes - kRiffUncounted) + dataBytes;
    std::memcpy(&header[kRiffSizeAt], &riffBytes, sizeof riffBytes);
    std::memcpy(&header[kDataSizeAt], &dataBytes, sizeof dataBytes);
    return header;
}

} // namespace

std::vector<PatternSpan> PatternSpans(const Bytes& played, size_t* stray) {
    static const uint8_t kSilence[td_disc::kStereoBytes] = {};
    std::vector<PatternSpan> spans;
    if (stray) *stray = SIZE_MAX;
    for (size_t at = 0, run; at + td_disc::kStereoBytes <= played.size(); at += run) {
        td_disc::PatternPos pos = {};
        run = td_disc::PatternRun(played.data() + at, played.size() - at, &pos);
        uint64_t start = uint64_t(pos.lba) * kFrameBytes + pos.offset;
        if (run == 0) {
            bool silent = std::memcmp(&played[at], kSilence, sizeof kSilence) == 0;
            if (stray && !silent && *stray == SIZE_MAX) *stray = at;
            run = td_disc::kStereoBytes;
        } else if (!spans.empty() && spans.back().start + spans.back().bytes == start) {
            spans.back().bytes += run;
        } else {
            spans.push_back({start, run});
        }
    }
    return spans;
}

std::string AudioProblems(const Bytes& played) {
    size_t stray;
    std::vector<PatternSpan> spans = PatternSpans(played, &stray);
    if (stray != SIZE_MAX) return "audio that is not the disc's at byte " + std::to_string(stray);
    for (size_t i = 1; i < spans.size(); i++)
        if (spans[i].start < spans[i - 1].start + spans[i - 1].bytes)
            return "frame " + std::to_string(spans[i].Lba()) + " played again or out of order";
    return std::string();
}

bool PlaysPattern(const Bytes& played) {
    for (const PatternSpan& span : PatternSpans(played))
        if (span.bytes >= kFrameBytes) return true;
    return false;
}

std::string WaveFileProblems(const Bytes& file) {
    if (file.size() < kHeaderBytes) return "shorter than a header";
    if (Bytes(file.begin(), file.begin() + kHeaderBytes) !=
        CanonicalHeader(uint32_t(file.size() - kHeaderBytes)))
        return "not the canonical header of 44100 Hz 16-bit stereo PCM for the file's size";
    if ((file.size() - kHeaderBytes) % kFrameBytes) return "data is not whole CD frames";
    return std::string();
}

Bytes WaveData(const Bytes& file) {
    return file.size() > kHeaderBytes ? Bytes(file.begin() + kHeaderBytes, file.end()) : Bytes();
}

void DeckTest::InsertDisc(const std::string& description, const std::string& name) {
    if (drive_.devices.empty()) drive_.AddCdRom(0, 0);
    disc_ = description.empty() ? td_test::VDisc() : td_test::MakeDisc(description, name);
    drive_.devices[0].image = disc_.cuePath;
    drive_.devices[0].trayOpen = false;
    ASSERT_TRUE(drive_.Apply());
}

void DeckTest::HealDrive() {
    td_test::VDevice& d = drive_.devices[0];
    d.trayOpen = false;
    d.readErrors.clear();
    d.delayMs = 0;
    d.hangMs = 0;
    drive_.Apply(); // fails the test itself when it cannot
}

void DeckTest::StartDeck() {
    ASSERT_TRUE(deck_.Start()) << "the deck did not come up; faces " << deck_.Faces();
    ASSERT_TRUE(deck_.WaitForFaces(disc_.cuePath.empty() ? kNoDiscFaces : kStoppedFaces));
}

std::vector<Bytes> DeckTest::Openings() {
    std::vector<Bytes> all;
    for (int i = 0, n = td_test::CaptureOpenings(); i < n; i++)
        all.push_back(td_test::ReadCaptureOpening(i));
    return all;
}

bool DeckTest::WaitForBytes(size_t bytes, DWORD timeoutMs) {
    return WaitUntil([&] { return CaptureBytes() >= bytes; }, timeoutMs);
}

bool DeckTest::WaitForOpenings(size_t count, DWORD timeoutMs) {
    return WaitUntil([&] { return OpeningCount() >= count; }, timeoutMs);
}

int DeckTest::TrackPlayed(const Bytes& opening) const {
    std::vector<PatternSpan> spans = PatternSpans(opening);
    for (const td_disc::TrackLayout& t : disc_.layout.tracks)
        if (!spans.empty() && spans[0].Lba() >= t.start && spans[0].Lba() < t.start + t.frames)
            return t.number;
    return 0;
}

uint32_t DeckTest::TrackStart(int track) const {
    return disc_.layout.tracks[size_t(track) - 1].start;
}

std::string DeckTest::WriteWaveFile(const std::string& name, uint32_t lba, uint32_t frames) {
    Bytes file = CanonicalHeader(frames * kFrameBytes);
    file.resize(kHeaderBytes + size_t(frames) * kFrameBytes);
    td_disc::FillFrames(lba, frames, &file[kHeaderBytes]);
    std::string path = td_test::ScratchDir() + "\\" + name;
    EXPECT_TRUE(td_test::WriteFileBytes(path, file.data(), file.size()));
    return path;
}

bool DeckTest::PlayWaveFile(const std::string& path) {
    return deck_.ClickButton(kCmdPlayWave) && deck_.ChooseFile(kPlayTitle, path);
}

bool DeckTest::SaveTrackAs(const std::string& path) {
    return deck_.ClickButton(kCmdSaveTrack) && deck_.ChooseFile(kSaveTitle, path);
}

std::vector<DeckProcess::Box> DeckTest::TakeBoxes(DWORD quietMs) {
    std::vector<DeckProcess::Box> boxes;
    DeckProcess::Box box;
    while (deck_.TakeMessageBox(&box, quietMs)) boxes.push_back(box);
    return boxes;
}

} // namespace deck_test
