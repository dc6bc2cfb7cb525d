// Staging the virtual CD drive (WNASPI32.DLL) for a test.
//
//   VirtualDrive drive;                                // files go to ScratchDir()
//   VDisc disc = MakeDisc("300 200/75 data:100");      // mkdisc's words
//   drive.AddCdRom(0, 2).image = disc.cuePath;
//   drive.Apply();                                     // writes the INI, sets TUNEDECK_VDRIVE
//   ... run the code under test ...
//   drive.devices[0].trayOpen = true; drive.Apply();   // takes effect at the next ASPI call
//   Bytes want = ExpectedFrames(disc, 75, 26);         // what READ CD of 26 frames at 75 gives
//   for (const VLogLine& l : drive.Log()) ...          // one line per command
//
// The DLL re-reads the INI whenever it changes. A disc counts as inserted (its
// first media command fails once with UNIT ATTENTION) when the image path
// changes or the tray closes over it; to change a disc, give the new one a new
// name. The variable is inherited by child processes started after Apply();
// each process keeps its own runtime state (the tray as its commands moved it,
// the lock), and the tray follows the INI again at the INI's next change.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "tools/disc/disc_image.h"

namespace td_test {

// One [device] section; the defaults are a CD-ROM drive at adapter 0,
// target 0, tray closed, no disc.
struct VDevice {
    int adapter = 0;
    int target = 0;
    std::string type = "cdrom"; // cdrom, cdrom-qualified (0x25) or disk
    std::string image;          // path of a .cue; empty: no disc
    bool trayOpen = false;
    std::string readErrors; // LBAs whose READ CD fails with MEDIUM ERROR: "1000-1025, 5000"
    int delayMs = 0;        // added to every command
    int hangMs = 0;         // every command completes only this long after it was sent
    bool unitAttention = true;
    std::string damaged; // LBAs a fresh read gets wrong damageOdds percent of the time
    std::string garbled; // LBAs every fresh read gets wrong, never twice the same way
    int damageOdds = 30;
    int cacheFrames = 0;   // the last frames read come back as they came
    std::string c2 = "on"; // or off (pointers that flag nothing), refused
    unsigned damageSeed = 1;
};

// The [aspi] section.
struct VAspi {
    int supportStatus = 1;              // status byte of GetASPI32SupportInfo
    int adapters = -1;                  // -1: one more than the highest adapter used
    std::string sendResult = "pending"; // or comp, error, invalid
    std::string log = "vdrive.log";     // relative to the INI's folder; empty: none
};

// One line of the command log. Lines that are not commands (INI and image
// problems, ha-inquiry, dev-type, abort) have command == false and only `text`.
struct VLogLine {
    std::string text;
    bool command = false;
    int ha = 0, target = 0, lun = 0, flags = 0;
    unsigned long bufLen = 0;
    Bytes cdb;
    int status = 0, haStat = 0, targStat = 0;
    int senseKey = 0, asc = 0, ascq = 0;
    std::string frames; // a READ CD's: . fresh, w fresh and wrong, c cached, C cached and wrong
};

class VirtualDrive {
  public:
    VirtualDrive();
    ~VirtualDrive(); // clears TUNEDECK_VDRIVE
    VirtualDrive(const VirtualDrive&) = delete;
    VirtualDrive& operator=(const VirtualDrive&) = delete;

    std::vector<VDevice> devices;
    VAspi aspi;
    std::string extraIni; // raw text appended to the file, e.g. to test bad input

    VDevice& AddCdRom(int adapter, int target, const std::string& image = "");

    // Writes the INI in one step, always with a new modification time, and
    // points TUNEDECK_VDRIVE at it.
    bool Apply();

    std::string IniText() const;
    const std::string& IniPath() const { return iniPath_; }
    std::string LogPath() const; // empty without a log
    std::vector<VLogLine> Log() const;
    std::vector<VLogLine> Commands() const; // only the command lines

  private:
    std::string iniPath_;
};

// A generated disc image in the scratch folder.
struct VDisc {
    std::string cuePath;
    td_disc::DiscPlan plan;
    td_disc::DiscLayout layout;
};

// Makes `name`.cue and its BINs from a description in mkdisc's words, e.g.
// "9000 6000/150 data:1500 --split". Fails the test on a bad description.
VDisc MakeDisc(const std::string& description, const std::string& name = "disc");

// The bytes the image holds for frames [lba, lba + count).
Bytes ExpectedFrames(const VDisc& disc, uint32_t lba, uint32_t count);

constexpr size_t kC2PointerBytes = 294, kC2BlockBytes = 296;

// READ CD's C2 error pointers for a frame read as `got`: a bit for each byte
// that differs from the disc's, `want`; as kC2BlockBytes, then their OR and a 0.
Bytes C2PointersOf(const BYTE* got, const BYTE* want, size_t bytes = kC2PointerBytes);

} // namespace td_test
