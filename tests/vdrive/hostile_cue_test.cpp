// Damaged cue sheets in the virtual drive: cut short, too many tracks, too
// long, and BINs missing, empty, short or not files. (Lines dropped, doubled
// or with wrong numbers are the parser's own tests' and the cue fuzzer's,
// which runs the same parser, layout and command logic.)
// Each is refused with a reason in the drive's log, or taken with a layout
// that holds together: READ TOC lists tracks in order up to a lead-out at the
// end of the named BINs, and READ CD gives their bytes. Never a crash or hang.
#include "aspi_client.h"

#include <algorithm>
#include <sstream>

using namespace td_test;

namespace {

constexpr BYTE kAudioControl = 0x10;

// The quoted FILE names of a sheet, in order.
std::vector<std::string> NamedFiles(const std::string& sheet) {
    std::vector<std::string> names;
    std::istringstream in(sheet);
    for (std::string line; std::getline(in, line);) {
        size_t open = line.find('"');
        if (line.find("FILE ") == line.find_first_not_of(' ') && open != std::string::npos)
            names.push_back(line.substr(open + 1, line.find('"', open + 1) - open - 1));
    }
    return names;
}

class HostileCue : public DriveTest {
  protected:
    void SetUp() override {
        DriveTest::SetUp();
        drive.AddCdRom(0, 0).unitAttention = false;
        one_ = MakeDisc("300 200/75 data:100/30 150", "one");
    }

    static std::string Sheet(const VDisc& disc) {
        Bytes b = ReadFileBytes(disc.cuePath);
        return std::string(b.begin(), b.end());
    }
    // Puts `sheet` in the drive as a disc of its own and checks that it is
    // refused with a reason in the log, or taken whole. True when taken.
    bool Insert(const std::string& what, const std::string& sheet) {
        SCOPED_TRACE(what);
        std::string n = std::to_string(++serial_);
        std::string cue = ScratchDir() + "\\sheet-" + n + ".cue";
        EXPECT_TRUE(WriteFileBytes(cue, sheet.data(), sheet.size()));
        drive.aspi.log = "log-" + n + ".log";
        drive.devices[0].image = cue;
        EXPECT_TRUE(drive.Apply());
        ExecResult ready = Run(kTestUnitReady);
        reason_.clear();
        if (ready.status == SS_COMP) {
            CheckTaken(sheet);
            return true;
        }
        EXPECT_EQ(ready.Outcome(), kNoMedium);
        Bytes log = ReadFileBytes(drive.LogPath());
        std::string text(log.begin(), log.end()), says = "image " + cue + ": ";
        size_t at = text.find(says);
        if (at != std::string::npos) {
            at += says.size();
            reason_ = text.substr(at, text.find('\r', at) - at);
        }
        EXPECT_FALSE(reason_.empty()) << "refused without a reason:\n" << text;
        return false;
    }

    // A disc taken holds together: its lead-out is the end of the named BINs'
    // whole frames, whose last READ CD gives, and nothing lies past it.
    void CheckTaken(const std::string& sheet) {
        Bytes image;
        for (const std::string& name : NamedFiles(sheet)) {
            bool absolute = name.size() > 1 && name[1] == ':';
            Bytes bin = ReadFileBytes(absolute ? name : ScratchDir() + "\\" + name);
            image.insert(image.end(), bin.begin(), bin.end());
        }
        const uint32_t frames = uint32_t(image.size() / kFrame);
        ExecResult toc = Run(CdbReadToc(false, kLeadOutTrack), kTocAlloc);
        ASSERT_EQ(toc.Outcome(), kOk);
        EXPECT_EQ(Be32(&toc.data[kLeadOutAddressAt]), frames);
        ExecResult cd = Run(CdbReadCd(frames - 1, 1), kFrame);
        if (toc.data[kLeadOutControlAt] == kAudioControl) {
            ASSERT_EQ(cd.Outcome(), kOk);
            EXPECT_TRUE(std::equal(cd.data.begin(), cd.data.end(),
                                   image.begin() + size_t(frames - 1) * kFrame));
        } else { // the lead-out carries the last track's control
            EXPECT_EQ(cd.Outcome(), kIllegalModeForTrack);
        }
        EXPECT_EQ(Outcome(CdbReadCd(frames, 1), kFrame), kOutOfRange);
    }

    VDisc one_;
    std::string reason_; // why the last sheet was refused
    int serial_ = 0;
};

} // namespace

TEST_F(HostileCue, SheetsOfTheWrongSizeOrShape) {
    const std::string sheet = Sheet(one_);
    std::string tracks99 = "FILE \"one.bin\" BINARY\n";
    for (int t = 1; t <= 99; t++) {
        char line[64];
        std::snprintf(line, sizeof line, "TRACK %02d AUDIO\nINDEX 01 00:%02d:%02d\n", t, t * 8 / 75,
                      t * 8 % 75);
        tracks99 += line;
    }
    EXPECT_TRUE(Insert("cut after a whole track", sheet.substr(0, sheet.find("  TRACK 04"))));
    Insert("cut inside the last line", sheet.substr(0, sheet.size() - 4));
    EXPECT_TRUE(Insert("99 tracks", tracks99));
    EXPECT_FALSE(Insert("100 tracks", tracks99 + "TRACK 100 AUDIO\nINDEX 01 00:11:00\n"));
    EXPECT_FALSE(Insert("empty", ""));
    EXPECT_FALSE(
        Insert("a NUL inside", sheet.substr(0, 20) + std::string(1, '\0') + sheet.substr(20)));
    EXPECT_TRUE(
        Insert("a remark of 100000 characters", "REM " + std::string(100000, 'x') + "\n" + sheet));
    EXPECT_FALSE(Insert("a FILE name of 300 characters",
                        "FILE \"" + std::string(300, 'n') + ".bin\" BINARY\n" + sheet));
    EXPECT_FALSE(Insert("more than a megabyte", std::string((1 << 20) + 1, '\n') + sheet));
}

TEST_F(HostileCue, BinsThatAreMissingEmptyShortOrNotFiles) {
    const std::string sheet = Sheet(one_);
    const Bytes bin = ReadFileBytes(ScratchDir() + "\\one.bin");
    auto naming = [&](const std::string& name) {
        std::string s = sheet;
        return s.replace(s.find("one.bin"), 7, name);
    };
    auto binOf = [&](const std::string& name, size_t size) {
        Bytes b(bin.begin(), bin.begin() + std::min(size, bin.size()));
        b.resize(size, 0x5A);
        WriteFileBytes(ScratchDir() + "\\" + name, b.data(), b.size());
        return naming(name);
    };
    const uint32_t lastStart = one_.layout.tracks.back().start;
    EXPECT_FALSE(Insert("missing", naming("missing.bin")));
    EXPECT_NE(reason_.find("cannot open \"missing.bin\""), std::string::npos) << reason_;
    EXPECT_FALSE(Insert("empty", binOf("empty.bin", 0)));
    EXPECT_NE(reason_.find("is empty"), std::string::npos) << reason_;
    EXPECT_FALSE(
        Insert("holding the last INDEX, not its frame", binOf("short.bin", lastStart * kFrame)));
    EXPECT_NE(reason_.find("past the end"), std::string::npos) << reason_;
    EXPECT_TRUE(
        Insert("holding just the last INDEX's frame", binOf("just.bin", (lastStart + 1) * kFrame)));
    EXPECT_TRUE(Insert("half a frame over", binOf("ragged.bin", bin.size() + kFrame / 2)));
    EXPECT_TRUE(Insert("longer than the sheet says", binOf("long.bin", bin.size() + 75 * kFrame)));
    CreateDirectoryA((ScratchDir() + "\\folder.bin").c_str(), nullptr);
    EXPECT_FALSE(Insert("a folder", naming("folder.bin")));
    EXPECT_FALSE(
        Insert("the sheet itself", naming("sheet-" + std::to_string(serial_ + 1) + ".cue")));
    const char wave48k[] = "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x80\xBB\0\0\0\xEE\x02\0"
                           "\x04\0\x10\0data\0\0\0\0";
    WriteFileBytes(ScratchDir() + "\\48k.wav", wave48k, sizeof wave48k - 1);
    EXPECT_FALSE(
        Insert("a WAVE of 48 kHz", "FILE 48k.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"));
    EXPECT_NE(reason_.find("line 1: \"48k.wav\" is 48000 Hz"), std::string::npos) << reason_;
    EXPECT_TRUE(Insert("by its full path", naming(ScratchDir() + "\\one.bin")));
    EXPECT_TRUE(
        Insert("by a path that climbs out and back",
               naming("..\\" + ScratchDir().substr(ScratchDir().rfind('\\') + 1) + "\\one.bin")));
}
