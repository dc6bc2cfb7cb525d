#!/usr/bin/env bash
# The skin compiler builds the real skin as 4-bit, 16-colour RLE BMPs and the icon
# as 4-bit images of its sizes, and refuses art that does not fit the skin
# table, naming what is wrong.
# Usage: skinc_refuses.sh SKINC SKIN_SOURCE_DIR
set -u
skinc=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
checks=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

le16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

# The real skin: every bitmap, 4 bits a pixel, a full colour table.
checks=$((checks + 1))
mkdir "$work/out"
if "$skinc" "$work/out" "$src"/*.skin 2>"$work/err"; then
    count=$(ls "$work/out"/*.bmp | wc -l)
    [ "$count" -eq 22 ] || fail "the skin gave $count bitmaps, not 22"
    for f in "$work/out"/*.bmp; do
        [ "$(le16 "$f" 28)" = 4 ] || fail "$f is not 4 bits a pixel"
        [ "$(le32 "$f" 46)" = 16 ] || fail "$f has no 16-entry colour table"
        [ "$(le32 "$f" 10)" = 118 ] || fail "$f pixels do not follow a 16-entry table"
        [ "$(le32 "$f" 30)" = 2 ] || fail "$f is not run-length encoded (BI_RLE4)"
        [ "$(le32 "$f" 34)" = $(($(stat -c %s "$f") - 118)) ] || fail "$f states another image size"
    done
    # icoutils reads the icon as Windows does: its images, sizes and depth.
    images=$(icotool -l "$work/out/IDI_TUNEDECK.ico" 2>&1)
    [ "$images" = "--icon --index=1 --width=32 --height=32 --bit-depth=4 --palette-size=16
--icon --index=2 --width=16 --height=16 --bit-depth=4 --palette-size=16" ] ||
        fail "the icon holds: $images"
else
    fail "the skin does not compile: $(cat "$work/err")"
fi

# refuses NAME EXPECTED-MESSAGE SOURCE-TEXT: the compiler must exit non-zero
# and say what is wrong, with the file and line.
refuses() {
    local name=$1 expected=$2
    checks=$((checks + 1))
    printf '%s\n' "$3" >"$work/$name.skin"
    mkdir -p "$work/$name"
    if "$skinc" "$work/$name" "$src/palette.skin" "$work/$name.skin" 2>"$work/$name.err"; then
        fail "$name: accepted"
    elif ! grep -qF -- "$expected" "$work/$name.err"; then
        fail "$name: said '$(cat "$work/$name.err")', not '$expected'"
    fi
}

refuses wrong_size "IDB_PLAY must be 20x60, not 20x59" '
bitmap IDB_PLAY 20x59 cell 20x20 palette tunedeck
end'

refuses wrong_cells "IDL_NUM is laid out in cells of 14x21, not 12x21" '
bitmap IDL_NUM 168x21 cell 12x21 palette tunedeck
end'

refuses unknown_bitmap "IDB_SHUFFLE is not a bitmap of the skin" '
bitmap IDB_SHUFFLE 20x60 cell 20x20 palette tunedeck
end'

refuses fifteen_colours "palette short has 15 colours; a skin palette has exactly 16" "
palette short
$(for i in 0 1 2 3 4 5 6 7 8 9 a b c d e; do echo "  $i 000000 c$i"; done)
end"

refuses outside_cell "falls outside its cell" '
bitmap IDB_STOP 20x60 cell 20x20 palette tunedeck
  cell 1
  fill 0 15 20 10 pale
end'

refuses outside_bitmap "falls outside the bitmap" '
bitmap ID_LOCK_ON 7x7 palette tunedeck
  hline 0 7 1 lit
end'

refuses ragged_rows "pixel row is 3 wide, the rows above are 4" '
glyph bad
  ####
  ###
end'

refuses missing_character "font tiny has no character 66" '
font tiny 8x10
chars A
  ........
  ........
  ........
  ........
  ........
  ........
  ........
  ........
  ........
  ........
end
bitmap IDL_MAP 160x50 cell 8x10 palette tunedeck
  charmap tiny 65 66 lit
end'

refuses unknown_colour "has no colour 'purple'" '
bitmap ID_LOCK_ON 7x7 palette tunedeck
  fill 0 0 7 7 purple
end'

refuses missing_bitmap "the skin has no IDCD_DECK" '
bitmap ID_LOCK_ON 7x7 palette tunedeck
end'

refuses icon_size "the icon has no image of 24x24" '
icon IDI_TUNEDECK 24x24 palette tunedeck
end'

echo "$checks checks, $failures failed"
[ "$failures" -eq 0 ]
