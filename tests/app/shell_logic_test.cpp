// The shell's pure parts, alone, at the edges that the running deck does not
// reach: track sequencing by play mode, the volume conversions, the status
// display's text, where the file dialog starts, the choice of wave device, and
// what a key held down does.
#include "app/deck.h"
#include "app/file_dialog.h"
#include "app/keys.h"
#include "app/play_modes.h"
#include "app/status_display.h"
#include "app/volume.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// `kinds` names each track in order: 'a' audio, 'd' data.
TrackSet AudioOf(const std::string& kinds) {
    TrackSet audio;
    for (size_t i = 0; i < kinds.size(); i++)
        if (kinds[i] == 'a') audio.Add(int(i) + 1);
    return audio;
}

TEST(PlayModes, EachModeGivesItsNextTrackOrNonePassingOverDataTracks) {
    const std::string twelve(12, 'a');
    struct Case {
        int mode, current;
        std::string kinds;
        int startAtCurrent, next;
    } cases[] = {
        {kModeSequential, 5, twelve, 1, 5},  // after Stop: the current track again
        {kModeSequential, 12, twelve, 0, 0}, // the last track ended: nothing follows
        {kModeRepeat, 12, twelve, 1, 1},     // wraps; the flag is not consulted
        {kModeRandom, 1, "aa", 0, 2},        // one other track: always that one
        {kModeRandom, 1, "a", 1, 1},         // a single: Play plays it,
        {kModeRandom, 1, "a", 0, 0},         // and nothing follows it
        {kModeSequential, 1, "daaa", 1, 2},  // a mixed-mode disc starts at its first audio track
        {kModeSequential, 3, "aaad", 0, 0},  // a CD Extra ends with its last one
        {kModeRepeat, 3, "aaad", 0, 1},      {kModeRepeat, 4, "daaa", 0, 2},
        {kModeRandom, 1, "da", 1, 2},        {kModeRepeat, 1, "dd", 1, 0},
        {kPlayModeCount, 1, twelve, 1, 0},   {-1, 1, twelve, 1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NextTrackForMode(c.mode, c.current, int(c.kinds.size()), c.startAtCurrent,
                                   AudioOf(c.kinds)),
                  c.next)
            << "mode " << c.mode << ", current " << c.current << " of " << c.kinds;
    for (int current = 1; current <= 5; current++)
        for (int draw = 0; draw < 200; draw++) {
            int next = NextTrackForMode(kModeRandom, current, 5, draw & 1, AudioOf("adaad"));
            EXPECT_TRUE(next != current && (next == 1 || next == 3 || next == 4))
                << current << " -> " << next;
        }
}

TEST(Volume, PositionsAndChannelVolumesConvertBothWaysWithinTheRange) {
    // A mixer that gives a channel back one lower (32-bit Wine's rounding)
    // moves no slider: the tick's read-back never creeps.
    for (int p = 1; p <= kLevelMax; p++)
        for (WORD less : {0, 1})
            EXPECT_EQ(ChannelToPosition(WORD(PositionToChannel(p) - less)), p) << p << " " << less;
    struct Case {
        int position;
        WORD channel;
        int shown; // the position the channel volume gives back
    } cases[] = {{-3, 0, 1}, {0, 0, 1}, {255, 0xFEFF, 255}, {256, 0xFEFF, 255}};
    for (const Case& c : cases) {
        EXPECT_EQ(PositionToChannel(c.position), c.channel) << c.position;
        EXPECT_EQ(ChannelToPosition(c.channel), c.shown) << c.position;
    }
    EXPECT_EQ(ChannelToPosition(0x8000), 129);
    EXPECT_EQ(ChannelToPosition(0xFFFF), 255);
    // Left is the low word and right the high one.
    EXPECT_EQ(PositionsToVolume(255, 0), 0x0000FEFFu);
    EXPECT_EQ(PositionsToVolume(0, 255), 0xFEFF0000u);
    // A linked slider moves by as much as the dragged one, within 0-255.
    EXPECT_EQ(LinkedPosition(100, 120, 100), 120);
    EXPECT_EQ(LinkedPosition(10, 0, 50), 0);
    EXPECT_EQ(LinkedPosition(250, 256, 240), 255);
}

TEST(StatusFormat, LengthsRoundDownTimesNeverGoNegativeAndOnlyPrintableCharactersDraw) {
    char line[128];
    FormatTrackLine(line, sizeof line, 12, (3 * 60 + 25) * 75, (4 * 60 + 10) * 75 + 74);
    EXPECT_STREQ(line, "[12] 03:25  04:10");
    EXPECT_EQ(ElapsedSeconds(24000 + 750, 24000), 10u);
    EXPECT_EQ(ElapsedSeconds(100, 24000), 0u);
    EXPECT_EQ(MapCell(' '), 0);
    EXPECT_EQ(MapCell('~'), 94);
    for (char c : {'\x1f', '\x7f', static_cast<char>(0xE9)}) EXPECT_EQ(MapCell(c), -1) << int(c);
}

TEST(FileDialogStart, TheLastPathGivesTheProposedNameAndTheFolder) {
    struct Case {
        const WCHAR* path;
        const WCHAR* name;
        const WCHAR* folder;
    } cases[] = {
        {L"C:\\name.wav", L"name.wav", L"C:"},
        {L"D:\\music\\live\\song.wav", L"song.wav", L"D:\\music\\live"},
        {L"C:take.wav", L"take.wav", L"C"}, // the colon counts as the separator
        {L"plain.wav", L"plain.wav", L""},
        {L"", L"", L""},
        {L"C:\\folder\\", L"", L"C:\\folder"},
    };
    DialogStart s;
    for (const Case& c : cases) {
        SplitDialogPath(c.path, &s);
        EXPECT_STREQ(s.fileName, c.name) << c.path;
        EXPECT_STREQ(s.initialDir, c.folder) << c.path;
    }
    // Overlong paths are cut to the dialog's buffers.
    SplitDialogPath(std::wstring(400, L'n').c_str(), &s);
    EXPECT_EQ(wcslen(s.fileName), size_t(kDialogPathChars - 1));
    SplitDialogPath((L"C:\\" + std::wstring(400, L'f') + L"\\x.wav").c_str(), &s);
    EXPECT_EQ(wcslen(s.initialDir), size_t(kDialogPathChars - 1));
    EXPECT_STREQ(s.fileName, L"x.wav");
}

TEST(Keys, AKeyHeldDownRepeatsOnlyStepsAndTheVolumeAndShiftPicksTheSkips) {
    EXPECT_EQ(KeyAction(VK_SPACE, 0, true), kKeyNone); // no pause, resume, pause...
    EXPECT_EQ(KeyAction('E', 0, true), kKeyNone);      // no eject, load, eject...
    EXPECT_EQ(KeyAction(VK_UP, 0, true), kKeyVolumeUp);
    EXPECT_EQ(KeyAction(VK_RIGHT, MOD_SHIFT, true), kCmdForward30);
    EXPECT_EQ(AppCommandAction(APPCOMMAND_VOLUME_UP), kKeyNone); // the system's
    // Keys the deck does not use go on to the system, Ctrl combinations too.
    for (int key : {VK_VOLUME_MUTE, VK_BROWSER_BACK, VK_LAUNCH_MAIL, int('A')})
        EXPECT_EQ(KeyAction(UINT(key), 0, false), kKeyNone) << key;
    EXPECT_EQ(KeyAction('S', MOD_CONTROL, false), kKeyNone);
    EXPECT_EQ(KeyAction(VK_RIGHT, MOD_CONTROL | MOD_SHIFT, false), kKeyNone);
}

TEST(WaveDeviceChoice, AMatchFromIndexTwoOnSelectsTheDeviceAfterIt) {
    constexpr UINT kDevices = 6;
    EXPECT_EQ(ChooseWaveDevice(-1, kDevices), 0u);
    EXPECT_EQ(ChooseWaveDevice(1, kDevices), 0u);
    EXPECT_EQ(ChooseWaveDevice(2, kDevices), 3u);
    EXPECT_EQ(ChooseWaveDevice(3, 4), 3u); // never a device that is not there
}

} // namespace
