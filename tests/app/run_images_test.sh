#!/usr/bin/env bash
# ./run IMAGE.cue end to end on sheets as rippers write them: a WAVE file (with
# a chunk before its format), PREGAP and POSTGAP lines, a second session with a
# data track, and a rip as they come (UTF-16 with old Mac line ends and a
# Ctrl-Z, FLAGS, an INDEX 02 on the next track's INDEX 00, CD-Text, a BIN with
# a long Japanese name in another letter case and a few bytes over, a
# MODE1/2048 data track). Each plays from its first frame, byte for byte as the
# same disc in a BIN file; a broken sheet ends ./run at once, naming its line.
# ./run gets a Wine prefix of its own, beside the test session's.
# Usage: run_images_test.sh SOURCE_ROOT BUILD_DIR
set -euo pipefail
root=$1
export TD_BUILD
TD_BUILD=$(cd "$2" && pwd)
fail() {
    echo "FAIL: $*"
    exit 1
}

work=$TD_BUILD/run-images
discs=$work/discs
rm -rf "$discs"
mkdir -p "$discs"
mkdisc() { "$TD_BUILD/host/bin/mkdisc" "$@" >/dev/null || fail "mkdisc $* made no disc"; }
# Every sample tells its frame, so the first track of each sheet sounds as this BIN's.
mkdisc "$discs/plain.cue" 1500 300
mkdisc "$discs/wave.cue" --wave 1500 300
mkdisc "$discs/gaps.cue" --silent-pregaps --pregap 150 1500 300+75
mkdisc "$discs/extra.cue" 1500 300 --session data:300
long=$(printf '\xe9\x9f\xb3%.0s' $(seq 80)) # 80 characters, 240 bytes in UTF-8
{ cat "$discs/plain.bin" && printf 'tail'; } >"$discs/$long.Bin"
head -c $((2048 * 75)) /dev/zero >"$discs/data.iso"
printf '%s\r' 'REM GENRE Test' 'PERFORMER "Velmora"' "FILE \"$long.BIN\" BINARY" '  TRACK 01 AUDIO' \
    '    FLAGS DCP PRE' '    COMPOSER "Somebody"' '    INDEX 01 00:00:00' '    INDEX 02 00:18:00' \
    '  TRACK 02 AUDIO' '    INDEX 00 00:18:00' '    INDEX 01 00:20:00' 'FILE "data.iso" BINARY' \
    '  TRACK 03 MODE1/2048' '    INDEX 01 00:00:00' | iconv -f UTF-8 -t UTF-16 >"$discs/rip.cue"
printf '\x1a\x00' >>"$discs/rip.cue"

unset DISPLAY TD_SMALL_FS
export TD_WINEPREFIX=$work/prefix
for sheet in wave gaps extra rip; do
    out=$("$root/run" "$discs/$sheet.cue" 2>"$work/run.log" | tail -n1) || {
        cat "$work/run.log"
        fail "./run $sheet.cue failed"
    }
    out=$root/$out
    played=$(stat -c %s "$out/audio.raw")
    [ "$played" -gt 0 ] && cmp -s -n "$played" "$out/audio.raw" "$discs/plain.bin" ||
        fail "$sheet.cue: the deck played $played bytes, not the disc's"
    rm -rf "$out"
    echo "$sheet.cue: played $played bytes"
done

printf 'FILE "plain.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:61:00\n' \
    >"$discs/broken.cue"
! "$root/run" "$discs/broken.cue" >/dev/null 2>"$work/run.log" || fail "./run took a broken sheet"
grep -q "broken.cue: line 5: " "$work/run.log" || fail "no line given: $(cat "$work/run.log")"
echo "broken.cue: $(tail -n1 "$work/run.log")"
