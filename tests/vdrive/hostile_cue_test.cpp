// Damaged cue sheets in the virtual drive, made systematically from good ones:
// cut at every line and in the middle of each, lines dropped, doubled and
// swapped, numbers that are wrong or huge, BINs missing, empty or short.
// Each is refused with a line in the drive's log, or taken with a layout that
// holds together: READ TOC lists tracks in order up to a lead-out at the end
// of the named BINs, READ CD gives their bytes, and the player's own TOC
// parsing reads the reply back to the same addresses. Never a crash or hang.
#include "aspi_client.h"
#include "cd/toc.h"
#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

using namespace td_test;

namespace {

constexpr DWORD kFrame = 2352;
constexpr WORD kTocAlloc = kTocBufferSize;
constexpr BYTE kLeadOutTrack = 0xAA;
constexpr BYTE kAudioControl = 0x10;
constexpr size_t kAddressAt = 4; // within a descriptor
constexpr char kNoMedium[] = "2/3A/00";
constexpr char kIllegalModeForTrack[] = "5/64/00";
constexpr char kOutOfRange[] = "5/21/00";

uint32_t Be32(const BYTE* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::string Indented(const std::string& like, const std::vector<std::string>& words) {
    std::string line = like.substr(0, like.find_first_not_of(' '));
    for (size_t i = 0; i < words.size(); i++) line += (i ? " " : "") + words[i];
    return line;
}

bool IsCommand(const std::string& line, const char* command) {
    std::vector<std::string> w = Words(line);
    return !w.empty() && w[0] == command;
}

// The FILE names of a sheet the drive has taken, in order.
std::vector<std::string> NamedFiles(const std::string& sheet) {
    std::vector<std::string> names;
    for (const std::string& line : Lines(sheet)) {
        size_t at = line.find("FILE ");
        if (at == std::string::npos || line.find_first_not_of(" \t") != at) continue;
        size_t from = line.find_first_not_of(' ', at + 5);
        size_t to = line[from] == '"' ? line.find('"', ++from) : line.find(' ', from);
        names.push_back(line.substr(from, to - from));
    }
    return names;
}

class HostileCue : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(aspi.Load());
        drive.AddCdRom(0, 0).unitAttention = false;
        one_ = MakeDisc("300 200/75 data:100/30 150", "one");
        split_ = MakeDisc("120 80/40 60 --split", "split");
        for (const auto& t : one_.layout.tracks) oneStarts_.insert({t.pregapStart, t.start});
    }

    std::string Sheet(const VDisc& disc) {
        Bytes b = ReadFileBytes(disc.cuePath);
        return std::string(b.begin(), b.end());
    }

    ExecResult Run(const Bytes& cdb, DWORD bufLen = 0) {
        return Exec(aspi, Request(0, cdb, bufLen));
    }

    // Puts `sheet` in the drive as a disc of its own and checks that it is
    // refused with a reason in the log, or taken whole. `starts`: where
    // tracks may start, when the damage cannot move them. True when taken.
    bool Insert(const std::string& what, const std::string& sheet,
                const std::set<uint32_t>* starts = nullptr) {
        SCOPED_TRACE(what);
        std::string n = std::to_string(++serial_);
        std::string cue = ScratchDir() + "\\sheet-" + n + ".cue";
        EXPECT_TRUE(WriteFileBytes(cue, sheet.data(), sheet.size()));
        drive.aspi.log = "log-" + n + ".log";
        drive.devices[0].image = cue;
        EXPECT_TRUE(drive.Apply());
        ExecResult ready = Run(CdbTestUnitReady());
        EXPECT_TRUE(ready.signalled) << "the drive did not answer";
        if (ready.status == SS_COMP) {
            CheckTaken(sheet, starts);
            return true;
        }
        EXPECT_EQ(ready.Sense(), kNoMedium);
        Bytes log = ReadFileBytes(drive.LogPath());
        std::string text(log.begin(), log.end()), says = "image " + cue + ": ";
        size_t at = text.find(says);
        EXPECT_NE(at, std::string::npos) << "refused without a reason:\n" << text;
        EXPECT_TRUE(at == std::string::npos || text.find('\r', at) > at + says.size())
            << "an empty reason";
        return false;
    }

    // The disc's bytes: the named BINs one after another.
    Bytes Image(const std::string& sheet) {
        Bytes image;
        for (const std::string& name : NamedFiles(sheet)) {
            bool absolute = name.size() > 1 && name[1] == ':';
            Bytes bin = ReadFileBytes(absolute ? name : ScratchDir() + "\\" + name);
            image.insert(image.end(), bin.begin(), bin.end());
        }
        return image;
    }

    void CheckTaken(const std::string& sheet, const std::set<uint32_t>* starts) {
        const Bytes image = Image(sheet);
        const uint32_t frames = uint32_t(image.size() / kFrame);
        ExecResult toc = Run(CdbReadToc(false, 0, kTocAlloc), kTocAlloc);
        ASSERT_EQ(toc.status, SS_COMP) << toc.Sense();
        const Bytes& r = toc.data;
        size_t length = size_t(r[0]) << 8 | r[1];
        ASSERT_EQ((length - 2) % kTocDescriptorSize, 0u);
        const int count = int((length - 2) / kTocDescriptorSize) - 1;
        const int first = r[2];
        ASSERT_GE(count, 1);
        EXPECT_EQ(r[3], first + count - 1);
        std::vector<uint32_t> start(count + 1);
        std::vector<BYTE> control(count + 1);
        for (int i = 0; i <= count; i++) {
            const BYTE* d = &r[kTocHeaderSize + i * kTocDescriptorSize];
            start[i] = Be32(d + kAddressAt);
            control[i] = d[1];
            if (i == count) {
                EXPECT_EQ(d[2], kLeadOutTrack);
                EXPECT_EQ(start[i], frames) << "the lead-out is not the end of the BINs";
                break;
            }
            EXPECT_EQ(d[2], first + i);
            EXPECT_TRUE(i == 0 || start[i] > start[i - 1]) << "track " << first + i;
            EXPECT_TRUE(!starts || starts->count(start[i])) << "track " << first + i;
        }
        // READ CD agrees with the BINs, from each track's start to the disc's last frame.
        for (int i = 0; i <= count; i++) {
            uint32_t lba = i < count ? start[i] : frames - 1;
            ASSERT_LT(lba, frames);
            BYTE mode = control[i < count ? i : count - 1];
            ExecResult cd = Run(CdbReadCd(lba, 1), kFrame);
            if (mode != kAudioControl) {
                EXPECT_EQ(cd.Sense(), kIllegalModeForTrack) << lba;
                continue;
            }
            ASSERT_EQ(cd.status, SS_COMP) << lba << ": " << cd.Sense();
            EXPECT_TRUE(std::equal(cd.data.begin(), cd.data.end(), image.begin() + lba * kFrame))
                << "frame " << lba;
        }
        EXPECT_EQ(Run(CdbReadCd(frames, 1), kFrame).Sense(), kOutOfRange);
        EXPECT_EQ(Run(CdbReadSubChannel(false, 16), 16).status, SS_COMP);

        // The player reads the table by track number: only from track 1.
        Bytes reply = r;
        TocHeader header;
        bool taken = CheckTocReply(reply.data(), &header);
        EXPECT_EQ(taken, first == 1);
        if (!taken) return;
        TocTable table = {reply.data(), header.first, header.last,
                          ConvertTocAddresses(reply.data(), header.last)};
        for (int i = 0; i < count; i++) {
            EXPECT_EQ(TocTrackStart(table, first + i), start[i]);
            EXPECT_EQ(TocTrackOfAddress(table, start[i]), first + i);
        }
        EXPECT_EQ(TocTrackStart(table, header.last + 1), frames);
    }

    AspiLib aspi;
    VirtualDrive drive;
    VDisc one_, split_;
    std::set<uint32_t> oneStarts_;
    int serial_ = 0;
};

} // namespace

TEST_F(HostileCue, CutAtEveryLineAndInTheMiddleOfEach) {
    for (const VDisc* disc : {&one_, &split_}) {
        const std::string sheet = Sheet(*disc);
        const std::set<uint32_t>* starts = disc == &one_ ? &oneStarts_ : nullptr;
        std::vector<size_t> lineStarts = {0};
        for (size_t i = 0; i + 1 < sheet.size(); i++)
            if (sheet[i] == '\n') lineStarts.push_back(i + 1);
        lineStarts.push_back(sheet.size());
        int taken = 0;
        for (size_t n = 0; n + 1 < lineStarts.size(); n++) {
            const std::string line = std::to_string(n + 1);
            taken += Insert("cut before line " + line, sheet.substr(0, lineStarts[n]), starts);
            Insert("cut inside line " + line,
                   sheet.substr(0, (lineStarts[n] + lineStarts[n + 1]) / 2), starts);
        }
        EXPECT_EQ(Insert("whole", sheet, starts), true);
        EXPECT_GE(taken, 1) << "a sheet cut after a whole track plays that far";
    }
}

TEST_F(HostileCue, LinesDroppedDoubledAndSwapped) {
    for (const VDisc* disc : {&one_, &split_}) {
        const std::vector<std::string> lines = Lines(Sheet(*disc));
        const std::set<uint32_t>* starts = disc == &one_ ? &oneStarts_ : nullptr;
        for (size_t i = 0; i < lines.size(); i++) {
            std::vector<std::string> dropped = lines, doubled = lines, swapped = lines;
            dropped.erase(dropped.begin() + i);
            doubled.insert(doubled.begin() + i, lines[i]);
            Insert("without line " + std::to_string(i + 1), Join(dropped), starts);
            Insert("line " + std::to_string(i + 1) + " twice", Join(doubled), starts);
            if (i + 1 < lines.size()) {
                std::swap(swapped[i], swapped[i + 1]);
                Insert("lines " + std::to_string(i + 1) + " and " + std::to_string(i + 2) +
                           " swapped",
                       Join(swapped), starts);
            }
        }
    }
}

TEST_F(HostileCue, NumbersThatAreWrongOrHuge) {
    const std::vector<std::string> lines = Lines(Sheet(one_));
    const char* const numbers[] = {"", "x", "-1", "00", "7", "99", "100", "4294967297"};
    const char* const parts[] = {"-1", "x", "60", "75", "100", "4294967296"};
    const char* const times[] = {"99:59:74", "00:00", "1:2:3:4", "00:00:00:00", "::", "00:09:30"};
    for (size_t i = 0; i < lines.size(); i++) {
        const bool track = IsCommand(lines[i], "TRACK"), index = IsCommand(lines[i], "INDEX");
        if (!track && !index) continue;
        auto with = [&](size_t word, const std::string& value) {
            std::vector<std::string> words = Words(lines[i]), changed = lines;
            words[word] = value;
            changed[i] = Indented(lines[i], words);
            Insert("line " + std::to_string(i + 1) + " as \"" + changed[i] + "\"", Join(changed));
        };
        for (const char* n : numbers) with(1, n);
        if (!index) continue;
        for (const char* t : times) with(2, t);
        std::vector<std::string> msf;
        std::istringstream in(Words(lines[i])[2]);
        for (std::string p; std::getline(in, p, ':');) msf.push_back(p);
        for (size_t k = 0; k < msf.size(); k++)
            for (const char* p : parts) {
                std::vector<std::string> m = msf;
                m[k] = p;
                with(2, m[0] + ":" + m[1] + ":" + m[2]);
            }
    }
}

TEST_F(HostileCue, SheetsOfTheWrongSizeOrShape) {
    const std::string sheet = Sheet(one_);
    std::string tracks99 = "FILE \"one.bin\" BINARY\n";
    for (int t = 1; t <= 99; t++) {
        char line[64];
        std::snprintf(line, sizeof line, "TRACK %02d AUDIO\nINDEX 01 00:%02d:%02d\n", t, t * 8 / 75,
                      t * 8 % 75);
        tracks99 += line;
    }
    EXPECT_TRUE(Insert("99 tracks", tracks99));
    EXPECT_FALSE(Insert("100 tracks", tracks99 + "TRACK 100 AUDIO\nINDEX 01 00:11:00\n"));
    EXPECT_FALSE(Insert("empty", ""));
    EXPECT_FALSE(Insert("only a byte order mark", "\xEF\xBB\xBF"));
    EXPECT_FALSE(Insert("UTF-16", std::string{'\xFF', '\xFE', 'F', 0, 'I', 0, 'L', 0, 'E', 0}));
    EXPECT_FALSE(
        Insert("a NUL inside", sheet.substr(0, 20) + std::string(1, '\0') + sheet.substr(20)));
    std::string noise;
    for (int i = 0; i < 4096; i++) noise += char((i * 7919) >> 3);
    EXPECT_FALSE(Insert("noise", noise));
    EXPECT_TRUE(Insert("a remark of 100000 characters",
                       "REM " + std::string(100000, 'x') + "\n" + sheet, &oneStarts_));
    EXPECT_FALSE(Insert("a FILE name of 300 characters",
                        "FILE \"" + std::string(300, 'n') + ".bin\" BINARY\n" + sheet));
    EXPECT_FALSE(Insert("more than a megabyte", std::string((1 << 20) + 1, '\n') + sheet));
    std::string lf;
    for (const std::string& l : Lines(sheet)) lf += l.substr(0, l.find('\r')) + "\n";
    EXPECT_TRUE(Insert("LF line ends", lf, &oneStarts_));
    EXPECT_TRUE(Insert("no line end at the end", lf.substr(0, lf.size() - 1), &oneStarts_));
}

TEST_F(HostileCue, BinsThatAreMissingEmptyShortOrNotFiles) {
    const std::string sheet = Sheet(one_);
    const Bytes bin = ReadFileBytes(ScratchDir() + "\\one.bin");
    auto naming = [&](const std::string& name) {
        std::string s = sheet;
        s.replace(s.find("one.bin"), 7, name);
        return s;
    };
    auto binOf = [&](const std::string& name, size_t size) {
        Bytes b(bin.begin(), bin.begin() + std::min(size, bin.size()));
        b.resize(size, 0x5A);
        WriteFileBytes(ScratchDir() + "\\" + name, b.data(), b.size());
        return naming(name);
    };
    const uint32_t lastStart = one_.layout.tracks.back().start;
    EXPECT_FALSE(Insert("missing", naming("missing.bin")));
    EXPECT_FALSE(Insert("empty", binOf("empty.bin", 0)));
    EXPECT_FALSE(
        Insert("holding the last INDEX, not its frame", binOf("short.bin", lastStart * kFrame)));
    EXPECT_TRUE(Insert("holding just the last INDEX's frame",
                       binOf("just.bin", (lastStart + 1) * kFrame), &oneStarts_));
    EXPECT_FALSE(Insert("half a frame over", binOf("ragged.bin", bin.size() + kFrame / 2)));
    EXPECT_TRUE(Insert("longer than the sheet says", binOf("long.bin", bin.size() + 75 * kFrame),
                       &oneStarts_));
    CreateDirectoryA((ScratchDir() + "\\folder.bin").c_str(), nullptr);
    EXPECT_FALSE(Insert("a folder", naming("folder.bin")));
    EXPECT_FALSE(
        Insert("the sheet itself", naming("sheet-" + std::to_string(serial_ + 1) + ".cue")));
    EXPECT_TRUE(Insert("by its full path", naming(ScratchDir() + "\\one.bin"), &oneStarts_));
    EXPECT_TRUE(
        Insert("by a path that climbs out and back",
               naming("..\\" + ScratchDir().substr(ScratchDir().rfind('\\') + 1) + "\\one.bin"),
               &oneStarts_));
}
