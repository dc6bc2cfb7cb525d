// The cue parser and the disc layout on their own, without the DLL.
#include "vdrive/cue_sheet.h"
#include "vdrive/wave_samples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace vdrive;

namespace {

struct Parsed {
    std::unique_ptr<CueSheet> sheet{new CueSheet()};
    CueError error{};
    bool ok = false;
};

Parsed Parse(const std::string& text) {
    Parsed p;
    p.ok = ParseCueSheet(text.data(), text.size(), p.sheet.get(), &p.error);
    return p;
}

constexpr uint64_t kSector = kSectorBytes;

// A RIFF WAVE file of the chunks given, each an id and its body, padded where odd.
std::string Riff(std::initializer_list<std::pair<std::string, std::string>> chunks) {
    auto le32 = [](size_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), 0}; };
    std::string body = "WAVE";
    for (const auto& [id, data] : chunks)
        body += id + le32(data.size()) + data + (data.size() % 2 ? "\x01" : "");
    return "RIFF" + le32(body.size()) + body;
}

// A fmt chunk of 16-bit stereo: its format tag and sample rate (below 65536).
std::string Fmt(int tag, int rate) {
    return {
        char(tag), char(tag >> 8), 2, 0, char(rate), char(rate >> 8), 0, 0, 0, 0, 0, 0, 4, 0, 16,
        0};
}

bool ReadString(void* file, uint64_t offset, void* dst, uint32_t bytes) {
    const std::string& s = *static_cast<const std::string*>(file);
    if (offset + bytes > s.size()) return false;
    std::memcpy(dst, s.data() + offset, bytes);
    return true;
}

} // namespace

TEST(CueSheet, ReadsFilesTracksAndBothPregapForms) {
    // Lower case, CRLF, a byte order mark, skipped commands, a name with spaces,
    // one pregap in its own FILE and one carried over from the FILE before.
    Parsed p = Parse("\xEF\xBB\xBFREM made by hand\r\n"
                     "TITLE \"Test disc\"\r\n"
                     "file \"first part.bin\" binary\r\n"
                     "  track 01 audio\r\n"
                     "    index 01 00:00:00\r\n"
                     "  TRACK 02 AUDIO\r\n"
                     "    PERFORMER x\r\n"
                     "    INDEX 00 00:04:00\r\n"
                     "FILE second.bin BINARY\r\n"
                     "    INDEX 01 00:00:00\r\n"
                     "    INDEX 02 00:01:00\r\n"
                     "FILE third.bin BINARY\r\n"
                     "  TRACK 03 MODE1/2352\r\n"
                     "    INDEX 00 00:00:00\r\n"
                     "    INDEX 01 00:02:00\r\n");
    ASSERT_TRUE(p.ok) << p.error.line << ": " << p.error.message;
    ASSERT_EQ(p.sheet->fileCount, 3);
    EXPECT_STREQ(p.sheet->files[0], "first part.bin");
    ASSERT_EQ(p.sheet->trackCount, 3);
    EXPECT_EQ(p.sheet->tracks[2].mode, TrackMode::Mode1Raw);

    uint64_t sizes[] = {400 * kSector, 200 * kSector, 300 * kSector};
    DiscLayout layout;
    ASSERT_TRUE(LayOutDisc(*p.sheet, sizes, &layout, &p.error)) << p.error.message;
    EXPECT_EQ(layout.leadOut, 900u);
    const std::pair<uint32_t, uint32_t> pregapAndStart[] = {{0, 0}, {300, 400}, {600, 750}};
    for (int t = 0; t < 3; t++)
        EXPECT_EQ(std::make_pair(layout.tracks[t].pregapStart, layout.tracks[t].start),
                  pregapAndStart[t]);
    // The TOC puts a pregap in the track before; the recorded sectors in its own.
    EXPECT_EQ(TrackIndexOf(layout, 749), 1);
    EXPECT_EQ(RecordedTrackIndexOf(layout, 600), 2);
    EXPECT_EQ(TrackIndexOf(layout, 900), -1);
}

// A WAVE's samples need not fill the last frame. The second session's track
// has a PREGAP shorter than the standard one: the gap before it makes up the
// rest, unreadable like the lead-out and lead-in.
TEST(CueSheet, LaysGapsOfSilenceAndTheGapBeforeALaterSession) {
    Parsed p = Parse("FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nPOSTGAP 00:00:10\n"
                     "REM SESSION 02\nTRACK 02 MODE2/2352\nPREGAP 00:01:00\nINDEX 01 00:02:00\n");
    ASSERT_TRUE(p.ok) << p.error.line << ": " << p.error.message;
    uint64_t sizes[] = {200 * kSector + kSector / 2};
    DiscLayout layout;
    ASSERT_TRUE(LayOutDisc(*p.sheet, sizes, &layout, &p.error)) << p.error.message;
    EXPECT_EQ(std::make_tuple(layout.tracks[1].session, layout.tracks[1].pregapStart,
                              layout.tracks[1].start, layout.leadOut, layout.sessionCount),
              std::make_tuple(2, 11485u, 11560u, 11611u, 2));
    const DiscExtent& gap = layout.extents[ExtentIndexOf(layout, 11484)];
    EXPECT_EQ(std::make_tuple(layout.extentCount, gap.kind, gap.start, layout.extents[4].fileFrame),
              std::make_tuple(5, ExtentKind::Unreadable, 160u, 150u));

    // A later session's lead-out is shorter: 6,900 frames before the third.
    p = Parse(
        "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nREM SESSION 02\n"
        "TRACK 02 AUDIO\nINDEX 01 00:01:00\nREM SESSION 03\nTRACK 03 AUDIO\nINDEX 01 00:02:00\n");
    sizes[0] = 300 * kSector;
    ASSERT_TRUE(p.ok && LayOutDisc(*p.sheet, sizes, &layout, &p.error)) << p.error.message;
    EXPECT_EQ(std::make_tuple(layout.tracks[1].start, layout.tracks[2].start, layout.leadOut),
              std::make_tuple(11475u, 18450u, 18600u));
}

TEST(CueSheet, RefusesMalformedSheetsWithTheLine) {
    const std::string ok = "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    struct Case {
        std::string text;
        int line;
        const char* says;
    } cases[] = {
        {"REM only\n", 0, "no TRACK"},
        {"TRACK 01 AUDIO\n", 1, "TRACK before any FILE"},
        {"FILE a.bin BINARY\nINDEX 01 00:00:00\n", 2, "INDEX before any TRACK"},
        {"FILE a.mp3 MP3\n", 1, "not supported (BINARY or WAVE)"},
        {"FILE \"a.bin BINARY\n", 1, "quote"},
        {"FILE a.bin\n", 1, "expected FILE"},
        {"FILE \"\" BINARY\n", 1, "empty name"},
        {"FILE a.bin BINARY\nTRACK 01 MODEx/2xxx\n", 2, "the ripper did not rip"},
        {ok + "FLAGS DCP\n", 4, "FLAGS after an INDEX"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nFLAGS DCP COPY\n", 3, "unknown flag 'COPY'"},
        {ok + "INDEX 02 00:01:00\nINDEX 03 00:01:00\n", 5, "does not come after"},
        {"FILE \"" + std::string(260, 'n') + "\" BINARY\n", 1, "too long"},
        {"FILE a.bin BINARY\rTRACK 01 AUDIO\rINDEX 01 1:00\r", 3, "not a time"},
        {"FILE a.bin BINARY\nTRACK 00 AUDIO\n", 2, "not 01 to 99"},
        {"FILE a.bin BINARY\nTRACK 100 AUDIO\n", 2, "not 01 to 99"},
        {ok + "TRACK 03 AUDIO\nINDEX 01 00:01:00\n", 4, "follows track 01"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\n", 2, "no INDEX 01"},
        {ok + "INDEX 00 00:01:00\n", 4, "follows INDEX 01"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 02 00:00:00\n", 3, "before INDEX 01"},
        {ok + "TRACK 02 AUDIO\nINDEX 01 00:00:00\n", 5, "does not come after"},
        {ok + "TRACK 02 AUDIO\nINDEX 01 00:60:00\n", 5, "not a time"},
        {ok + "TRACK 02 AUDIO\nINDEX 01 00:01:75\n", 5, "not a time"},
        {ok + "TRACK 02 AUDIO\nINDEX 01 00:01:00 extra\n", 5, "expected INDEX"},
        {ok + "PREGAP 00:02:00\n", 4, "PREGAP after an INDEX"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nPREGAP 1\n", 3, "not a time"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nPREGAP 00:01:00\nPREGAP 00:01:00\n", 4, "second"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nPOSTGAP 00:01:00\n", 3, "before INDEX 01"},
        {ok + "POSTGAP 00:01:00\nINDEX 02 00:02:00\n", 5, "INDEX 02 after POSTGAP"},
        {"REM SESSION 02\n" + ok, 1, "the next session is 01"},
        {ok + "REM SESSION 03\n", 4, "the next session is 02"},
        {ok + "REM SESSION 02\nREM SESSION 03\n", 5, "with no TRACK"},
        {ok + "REM SESSION 02\n", 4, "REM SESSION 02 has no TRACK"},
        {ok + "REM SESSION x\n", 4, "not 01 to 99"},
        {ok + "BANANA\n", 4, "unknown command 'BANANA'"},
        {ok + "TITLE x\x01y\n", 4, "not a line of text"},
        {"FILE a.bin BINARY\nFILE b.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 1,
         "\"a.bin\" holds no INDEX"},
        {ok + "FILE b.bin BINARY\n", 4, "\"b.bin\" holds no INDEX"},
    };
    for (const Case& c : cases) {
        Parsed p = Parse(c.text);
        EXPECT_EQ(std::make_tuple(p.ok, p.error.line,
                                  std::string(p.error.message).find(c.says) != std::string::npos),
                  std::make_tuple(false, c.line, true))
            << c.text << " -> " << p.error.message;
    }
}

TEST(WaveSamples, FindsTheSamplesInAnyChunkOrderAndRefusesOtherFormats) {
    const std::string cd = Fmt(1, 44100), samples(9, 's');
    struct Case {
        std::string file;
        const char* says; // nullptr: taken
        uint64_t offset = 0, bytes = 0;
    } cases[] = {
        {Riff({{"fmt ", cd}, {"data", samples}}), nullptr, 44, 9},
        {Riff({{"LIST", "odd"}, {"data", samples}, {"fmt ", cd}}), nullptr, 32, 9},
        {Riff({{"fmt ", cd}, {"data", samples}}).substr(0, 48), nullptr, 44, 4}, // cut short
        {Riff({{"fmt ", Fmt(1, 48000)}, {"data", samples}}), "is 48000 Hz, 16-bit with 2"},
        {Riff({{"fmt ", Fmt(3, 44100)}, {"data", samples}}), "not PCM (format 0x0003)"},
        {Riff({{"data", samples}}), "no fmt chunk"},
        {Riff({{"fmt ", cd}}), "no data chunk"},
    };
    for (const Case& c : cases) {
        WaveSamples found = {};
        char reason[kCueMessageChars] = "";
        bool ok = FindWaveSamples(ReadString, const_cast<std::string*>(&c.file), c.file.size(),
                                  &found, reason, sizeof reason);
        EXPECT_EQ(std::make_tuple(ok, found.offset, found.bytes),
                  std::make_tuple(!c.says, c.offset, c.bytes))
            << reason;
        EXPECT_TRUE(ok || std::string(reason).find(c.says) != std::string::npos) << reason;
    }
}

// Sheets as rippers write them, each laid out as the disc it describes.
TEST(CueSheet, TakesRipsAsTheyCome) {
    auto layOut = [](const std::string& text, std::initializer_list<uint64_t> sizes) {
        Parsed p = Parse(text);
        auto layout = std::make_unique<DiscLayout>();
        EXPECT_TRUE(p.ok) << p.error.line << ": " << p.error.message;
        std::vector<uint64_t> bytes(sizes);
        EXPECT_TRUE(p.ok && LayOutDisc(*p.sheet, bytes.data(), layout.get(), &p.error))
            << p.error.message;
        return layout;
    };
    // EAC: an INDEX 02 on the frame of the next track's INDEX 00; FLAGS.
    auto eac = layOut("FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    FLAGS DCP PRE\n"
                      "    INDEX 01 00:00:00\n    INDEX 02 00:10:00\n  TRACK 02 AUDIO\n"
                      "    FLAGS 4CH SCMS\n    INDEX 00 00:10:00\n    INDEX 01 00:12:00\n",
                      {1000 * kSector});
    EXPECT_EQ(std::make_tuple(eac->tracks[1].pregapStart, eac->tracks[1].start,
                              eac->tracks[0].control, eac->tracks[1].control),
              std::make_tuple(750u, 900u, uint8_t(kControlCopyPermitted | kControlPreEmphasis),
                              kControlFourChannel));

    // A data track cut to 2048 bytes a sector before the audio in one BIN, with
    // a few bytes to spare; a MODE2/2336 and a CD-i track in files of their own.
    // Old Mac line ends, every CD-Text command, a Ctrl-Z at the end.
    std::string cdText;
    for (const char* command :
         {"TITLE", "PERFORMER", "SONGWRITER", "COMPOSER", "ARRANGER", "MESSAGE", "DISC_ID", "GENRE",
          "UPC_EAN", "SIZE_INFO", "TOC_INFO1", "TOC_INFO2"})
        cdText += std::string(command) + " \"x\"\r";
    auto mixed = layOut(cdText + "FILE a.bin BINARY\rTRACK 01 MODE1/2048\rINDEX 01 00:00:00\r" +
                            "TRACK 02 AUDIO\r" + cdText + "INDEX 00 00:01:00\rINDEX 01 00:01:10\r" +
                            "FILE b.bin BINARY\rTRACK 03 MODE2/2336\rINDEX 01 00:00:00\r" +
                            "FILE c.bin BINARY\rTRACK 04 CDI/2352\rINDEX 01 00:00:00\r\x1A",
                        {75 * 2048 + 100 * kSector + 7, 10 * 2336, 10 * kSector});
    const DiscExtent& audio = mixed->extents[ExtentIndexOf(*mixed, 80)];
    EXPECT_EQ(std::make_tuple(mixed->tracks[1].pregapStart, mixed->tracks[1].start,
                              mixed->tracks[2].start, mixed->tracks[3].start, mixed->leadOut,
                              audio.start, audio.fileByte),
              std::make_tuple(75u, 85u, 175u, 185u, 195u, 75u, uint64_t(75 * 2048)));

    // UTF-16 either way round, a name beyond Latin longer in UTF-8 than
    // Windows' 260 characters, though not in UTF-16.
    std::u16string name(200, u'\u97F3');
    std::u16string sheet = u"\uFEFFFILE \"" + name +
                           u".bin\" BINARY\r\nTRACK 01 AUDIO\r\n"
                           u"INDEX 01 00:00:00\r\nTITLE \"\U0001F3B5\"\r\n";
    for (bool little : {true, false}) {
        std::string bytes;
        for (char16_t c : sheet)
            bytes +=
                little ? std::string{char(c), char(c >> 8)} : std::string{char(c >> 8), char(c)};
        std::string utf8(Utf8BytesOfSheet(bytes.data(), bytes.size()), '\0');
        utf8.resize(Utf16SheetToUtf8(bytes.data(), bytes.size(), &utf8[0]));
        Parsed p = Parse(utf8);
        ASSERT_TRUE(p.ok) << p.error.line << ": " << p.error.message;
        EXPECT_EQ(std::string(p.sheet->files[0]).size(), 600u + 4);
        EXPECT_NE(utf8.find("\xF0\x9F\x8E\xB5"), std::string::npos);
    }
    EXPECT_EQ(Utf8BytesOfSheet("FILE", 4), 0u);
}
