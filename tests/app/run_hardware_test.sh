#!/usr/bin/env bash
# ./run --hardware end to end, with a stand-in device of the virtual drive in
# place of /dev/sr0: the drive letter mapped, the deck playing the disc through
# Wine's own pass-through code, and the mapping gone again afterwards. ./run
# gets a Wine prefix of its own, beside the test session's.
# Usage: run_hardware_test.sh SOURCE_ROOT BUILD_DIR
set -euo pipefail
root=$1
export TD_BUILD
TD_BUILD=$(cd "$2" && pwd)
source "$root/tools/devenv.sh"
fail() {
    echo "FAIL: $*"
    exit 1
}

work=$TD_BUILD/run-hardware
rm -rf "$work/drive"
mkdir -p "$work/drive"
disc=$work/drive/disc
"$TD_BUILD/host/bin/mkdisc" "$disc.cue" 6000 1500 >/dev/null || fail "mkdisc made no disc"
device=$work/drive/sr0
touch "$device"
cat >"$work/drive/vdrive.ini" <<INI
[aspi]
log = vdrive.log
[device]
image = disc.cue
INI

# A headless run of its own: the device alone stands in, in a prefix of its own,
# and the test session's display and small file system stay the session's.
unset DISPLAY TD_SMALL_FS
td_standins_start
export TD_WINEPREFIX=$work/prefix TD_CDROM_DEVICES=$device TUNEDECK_VDRIVE_DEVICES=$device
export TUNEDECK_VDRIVE
TUNEDECK_VDRIVE=$(td_windows_path "$work/drive/vdrive.ini")
out=$("$root/run" --hardware 2>"$work/run.log" | tail -n1) || {
    cat "$work/run.log"
    fail "./run --hardware failed"
}
out=$root/$out
trap 'rm -rf "$out"' EXIT
grep -q "D: is $device" "$work/run.log" || fail "no drive letter for the device: $(cat "$work/run.log")"

# What the deck played is the disc from its first frame on, every byte.
played=$(stat -c %s "$out/audio.raw")
[ "$played" -gt 0 ] && cmp -s -n "$played" "$out/audio.raw" "$disc.bin" ||
    fail "the deck played $played bytes, not the disc's"
# Over pass-through: the commands came through the SG_IO door, and ASPI was not asked.
log=$work/drive/vdrive.log
grep -q "flags=08 buflen=61152 cdb=BE" "$log" || fail "no READ CD reached the device"
! grep -q "ha-inquiry" "$log" || fail "the deck asked ASPI"

# The prefix holds no drive of the run any more.
[ ! -e "$TD_WINEPREFIX/dosdevices/d:" ] && [ ! -e "$TD_WINEPREFIX/dosdevices/d::" ] ||
    fail "D: is still mapped"
! grep -q '^"d:"=' "$TD_WINEPREFIX/system.reg" || fail "D: is still a CD-ROM drive in the registry"
echo "played $played bytes over pass-through; D: mapped and unmapped"
