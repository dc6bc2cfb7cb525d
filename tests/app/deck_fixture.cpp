#include "deck_fixture.h"

#include "tools/disc/frame_pattern.h"

#include <cstring>

namespace deck_test {

namespace {

void PutLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = uint8_t(v >> (8 * i));
}

} // namespace

void DeckTest::InsertDisc(const std::string& description, const std::string& name) {
    disc_ = td_test::MakeDisc(description, name);
    if (drive_.devices.empty()) drive_.AddCdRom(0, 0);
    drive_.devices[0].image = disc_.cuePath;
    drive_.devices[0].trayOpen = false;
    ASSERT_TRUE(drive_.Apply());
}

void DeckTest::EmptyDrive() {
    if (drive_.devices.empty()) drive_.AddCdRom(0, 0);
    drive_.devices[0].image.clear();
    ASSERT_TRUE(drive_.Apply());
}

void DeckTest::StartDeck() {
    ASSERT_TRUE(deck_.Start()) << "the deck did not come up; faces " << deck_.Faces();
}

std::vector<Bytes> DeckTest::Openings() {
    std::vector<Bytes> all;
    for (size_t i = 0; i < OpeningCount(); i++) all.push_back(td_test::ReadCaptureOpening(int(i)));
    return all;
}

namespace {

std::string OpeningPath(size_t index) {
    std::string path = td_test::CapturePath();
    if (index) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%04zu", index);
        path += suffix;
    }
    return path;
}

} // namespace

size_t DeckTest::OpeningCount() {
    size_t n = 0;
    while (GetFileAttributesA(OpeningPath(n).c_str()) != INVALID_FILE_ATTRIBUTES) n++;
    return n;
}

size_t DeckTest::CaptureBytes() {
    size_t total = 0;
    WIN32_FILE_ATTRIBUTE_DATA a;
    for (size_t i = 0; GetFileAttributesExA(OpeningPath(i).c_str(), GetFileExInfoStandard, &a); i++)
        total += a.nFileSizeLow;
    return total;
}

bool DeckTest::WaitForBytes(size_t bytes, DWORD timeoutMs) {
    return WaitUntil([&] { return CaptureBytes() >= bytes; }, timeoutMs);
}

bool DeckTest::WaitForOpenings(size_t count, DWORD timeoutMs) {
    return WaitUntil([&] { return OpeningCount() >= count; }, timeoutMs);
}

int DeckTest::TrackPlayed(const Bytes& opening) const {
    std::vector<PatternSpan> spans = PatternSpans(opening);
    if (spans.empty()) return 0;
    for (const td_disc::TrackLayout& t : disc_.layout.tracks)
        if (spans[0].lba >= t.start && spans[0].lba < t.start + t.frames) return t.number;
    return 0;
}

uint32_t DeckTest::TrackStart(int track) const {
    return disc_.layout.tracks[size_t(track) - 1].start;
}

std::string DeckTest::WriteWaveFile(const std::string& name, uint32_t lba, uint32_t frames) {
    constexpr size_t kHeader = 44;
    Bytes file(kHeader + size_t(frames) * td_disc::kFrameBytes);
    std::memcpy(&file[0], "RIFF", 4);
    PutLe32(file, 4, uint32_t(file.size() - 8));
    std::memcpy(&file[8], "WAVEfmt ", 8);
    PutLe32(file, 16, 16);
    PutLe32(file, 20, 1 | 2 << 16);  // PCM, two channels
    PutLe32(file, 24, 44100);        // samples a second
    PutLe32(file, 28, 44100 * 4);    // bytes a second
    PutLe32(file, 32, 4 | 16 << 16); // block align, bits
    std::memcpy(&file[36], "data", 4);
    PutLe32(file, 40, uint32_t(file.size() - kHeader));
    td_disc::FillFrames(lba, frames, &file[kHeader]);
    std::string path = td_test::ScratchDir() + "\\" + name;
    EXPECT_TRUE(td_test::WriteFileBytes(path, file.data(), file.size()));
    return path;
}

} // namespace deck_test
