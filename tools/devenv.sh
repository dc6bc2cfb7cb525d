# Shared by ./test and ./run: installs what is missing, builds, and runs a
# headless Wine session (Xvfb, a Wine prefix of the build's own, ALSA capture).
# Source it; every function uses TD_ROOT and TD_BUILD.

TD_ROOT=${TD_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
TD_BUILD=${TD_BUILD:-$TD_ROOT/build}
TD_PACKAGES=(cmake ninja-build g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
    g++-multilib googletest wine wine64 wine32:i386 xvfb xauth xdotool imagemagick x11-apps sox bchunk
    icoutils clang libclang-rt-14-dev)
# The 32-bit Wine loader, which runs the i686 build (wine64 makes the prefix).
TD_WINE32=/usr/lib/wine/wine

td_log() { printf '== %s\n' "$*" >&2; }

td_install_deps() {
    local missing=() p
    for p in "${TD_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    td_log "installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages (${missing[*]}); run as root to install them" >&2
        return 1
    fi
    # wine32 comes from the i386 architecture.
    if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

td_configure() { # build-dir [cmake args...]
    local dir=$1
    shift
    [ -f "$dir/CMakeCache.txt" ] && return 0
    cmake -S "$TD_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

# TD_TARGETS="a b" limits the x86_64 build to those targets and skips i686, for
# working on one part while another is half done.
td_build_all() {
    td_configure "$TD_BUILD/host"
    cmake --build "$TD_BUILD/host"
    if [ -n "${TD_TARGETS:-}" ]; then
        td_configure "$TD_BUILD/win64" -DCMAKE_TOOLCHAIN_FILE="$TD_ROOT/cmake/mingw-x86_64.cmake" \
            -DTD_HOST_TOOLS_DIR="$TD_BUILD/host/bin"
        # shellcheck disable=SC2086
        cmake --build "$TD_BUILD/win64" --target $TD_TARGETS
        return
    fi
    local arch
    for arch in x86_64:win64 i686:win32; do
        td_configure "$TD_BUILD/${arch#*:}" -DCMAKE_TOOLCHAIN_FILE="$TD_ROOT/cmake/mingw-${arch%%:*}.cmake" \
            -DTD_HOST_TOOLS_DIR="$TD_BUILD/host/bin"
        cmake --build "$TD_BUILD/${arch#*:}"
    done
    # The i686 tests, built apart with the posix thread model that googletest
    # needs, run the product as out/win32 holds it.
    td_configure "$TD_BUILD/win32-tests" -DCMAKE_TOOLCHAIN_FILE="$TD_ROOT/cmake/mingw-i686-posix.cmake" \
        -DTD_HOST_TOOLS_DIR="$TD_BUILD/host/bin" -DTD_BUILD_TESTS=ON -DTD_TESTED_DIR="$TD_ROOT/out/win32"
    cmake --build "$TD_BUILD/win32-tests"
}

# The test builds of this run as one CTest tree: each build's tests are named
# and labelled by it (x86_64/..., i686/...).
td_ctest() { # ctest args...
    local dirs=(win64) dir
    [ -n "${TD_TARGETS:-}" ] || dirs+=(win32-tests)
    : >"$TD_BUILD/CTestTestfile.cmake"
    for dir in "${dirs[@]}"; do echo "subdirs(\"$dir\")" >>"$TD_BUILD/CTestTestfile.cmake"; done
    ctest --test-dir "$TD_BUILD" "$@"
}

td_wine_binary() {
    command -v wine64 2>/dev/null || echo /usr/lib/wine/wine64
}

# The Wine environment of the build: its own prefix, and wnaspi32=n so that
# programs load the virtual drive beside them, not Wine's own WNASPI32.
td_wine_env() {
    export TD_WINE WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
    TD_WINE=$(td_wine_binary)
    WINEPREFIX=${TD_WINEPREFIX:-$TD_BUILD/wineprefix}
    WINEDEBUG=${WINEDEBUG:--all}
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;wnaspi32=n"
}

# Starts Xvfb on a free display, prepares the prefix once and keeps one
# wineserver running for the session, so each program starts in well under a second.
td_session_start() {
    td_wine_env
    export ALSA_CONFIG_PATH DISPLAY
    mkdir -p "$TD_BUILD"
    ALSA_CONFIG_PATH=$TD_BUILD/asound.conf
    # Every program plays into raw files named by TD_CAPTURE (or capture.raw), so a
    # test can compare what was played byte for byte. The sink never overwrites:
    # the first device opening writes the file itself, each later one the next
    # of NAME.0001, NAME.0002 and so on.
    cat >"$ALSA_CONFIG_PATH" <<ASOUND
</usr/share/alsa/alsa.conf>
pcm.!default {
    type file
    slave.pcm { type null }
    file { @func getenv vars [ TD_CAPTURE ] default "$TD_BUILD/capture.raw" }
    format "raw"
    truncate false
}
ASOUND
    td_xvfb_start session && DISPLAY=$TD_XVFB_DISPLAY && td_wine_start
}

# The same on the display and the sound of the desktop that runs us.
td_desktop_session_start() {
    td_wine_env
    mkdir -p "$TD_BUILD"
    td_wine_start
}

TD_XVFB_PIDS=()
# Starts an X server of our own on a free display: TD_XVFB_DISPLAY (:N).
td_xvfb_start() { # name
    local fifo=$TD_BUILD/.xvfb-$1 i
    rm -f "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    TD_XVFB_PIDS+=($!)
    for i in $(seq 100); do [ -s "$fifo" ] && break; sleep 0.05; done
    [ -s "$fifo" ] || { td_log "Xvfb did not start"; return 1; }
    TD_XVFB_DISPLAY=:$(head -n1 "$fifo")
}

# Runs one step of setting Wine up, its output going to the log; when it fails,
# says which step and shows the end of the log.
td_wine_step() { # what command...
    local what=$1 rc=0
    shift
    echo "== $what: $*" >>"$TD_WINE_LOG"
    "$@" </dev/null >>"$TD_WINE_LOG" 2>&1 || rc=$?
    [ $rc -eq 0 ] && return 0
    td_log "$what failed (status $rc); the end of ${TD_WINE_LOG#"$TD_ROOT"/}:"
    tail -n 8 "$TD_WINE_LOG" >&2
    return 1
}

# A new prefix: Wine's own start, then our settings once every process of that
# start has ended (it goes on in the background after wineboot returns).
td_prefix_make() {
    local reg=("$TD_WINE" reg add)
    td_wine_step "creating the Wine prefix" "$TD_WINE" wineboot -i &&
        td_wine_step "waiting for Wine's first start to end" wineserver -w &&
        td_wine_step "turning off the crash dialog" \
            "${reg[@]}" 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f &&
        td_wine_step "choosing ALSA for sound" "${reg[@]}" 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f &&
        # Unmanaged windows: without a window manager Wine otherwise waits 2 s
        # each time a window is shown or hidden.
        td_wine_step "making windows unmanaged" "${reg[@]}" 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f &&
        td_wine_step "saving the settings" wineserver -w
}

# Bump when the prefix settings change, so every build folder picks them up.
TD_PREFIX_VERSION=2

# Prepares the prefix once and starts the session's wineserver (DISPLAY set).
td_wine_start() {
    TD_WINE_LOG=$WINEPREFIX.log
    if [ "$(cat "$WINEPREFIX/.td-ready" 2>/dev/null)" != "$TD_PREFIX_VERSION" ]; then
        td_log "preparing the Wine prefix ${WINEPREFIX#"$TD_ROOT"/}"
        : >"$TD_WINE_LOG"
        # Half a prefix is no use: a failed attempt is made again from scratch, once.
        if ! td_prefix_make; then
            td_log "making the Wine prefix again from scratch"
            wineserver -k 2>/dev/null || true
            wineserver -w 2>/dev/null || true
            rm -rf "$WINEPREFIX"
            td_prefix_make || return 1
        fi
        echo "$TD_PREFIX_VERSION" >"$WINEPREFIX/.td-ready"
    fi
    td_standins_map
    # A server left from an earlier session may hold a display that is gone.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    td_wine_step "starting the wineserver" wineserver -p || return 1
    # Start Wine's own background processes now, detached from our output: if a
    # test started them, they would inherit its pipes and ctest would wait for them.
    td_wine_step "starting Wine's background processes" "$TD_WINE" wineboot -u
}

# The virtual drive's stand-in devices, SCSI CD-ROM drives for Wine's own
# pass-through code once the SG_IO library is loaded (td_standins_start): the
# n-th is the n-th [device] of the INI. They stand at their own letters of the
# prefix, mapped once, before the server starts, as ./run --hardware maps real
# drives; without the library, or without a device behind them, they are no
# drives. Five, as Wine serves no more CD-ROM devices to one process.
TD_STANDIN_LETTERS=(p q r s t)

td_standin_files() {
    local i
    for i in "${!TD_STANDIN_LETTERS[@]}"; do echo "$TD_BUILD/vdrive-sgio/cd$i"; done
}

td_standins_map() {
    local dir=$TD_BUILD/vdrive-sgio version=1
    mkdir -p "$dir/disc"
    # shellcheck disable=SC2046
    touch $(td_standin_files)
    [ "$(cat "$WINEPREFIX/.td-standins" 2>/dev/null)" = "$version" ] && return 0
    local reg=$dir/drives.reg i letter
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\n' >"$reg"
    for i in "${!TD_STANDIN_LETTERS[@]}"; do
        letter=${TD_STANDIN_LETTERS[$i]}
        ln -sfn "$dir/disc" "$WINEPREFIX/dosdevices/$letter:"
        ln -sfn "$dir/cd$i" "$WINEPREFIX/dosdevices/$letter::"
        printf '"%s:"="cdrom"\n' "$letter" >>"$reg"
    done
    "$TD_WINE" regedit /S "$(td_windows_path "$reg")" >/dev/null 2>&1
    wineserver -w
    echo "$version" >"$WINEPREFIX/.td-standins"
}

# Loads the SG_IO library into the Wine processes started from now on (not the
# session's wineserver, which only opens the device files).
td_standins_start() {
    export LD_PRELOAD TUNEDECK_VDRIVE_DEVICES
    LD_PRELOAD="$TD_ROOT/out/vdrive-sgio/\$PLATFORM/libvdrive_sgio.so${LD_PRELOAD:+ $LD_PRELOAD}"
    TUNEDECK_VDRIVE_DEVICES=$(td_standin_files | paste -sd:)
}

td_windows_path() { # an absolute Linux path as Wine's drive Z: shows it
    local p=Z:$1
    echo "${p//\//\\}"
}

TD_SMALL_FS_MOUNTS=()
# A small file system that fills up, for the tests of a full disk (root only):
# TD_SMALL_FS_DIR is its folder, or empty.
td_small_fs_mount() { # folder
    TD_SMALL_FS_DIR=
    [ "$(id -u)" -eq 0 ] || return 0
    mkdir -p "$1"
    mountpoint -q "$1" || mount -t tmpfs -o size=1m tdsmall "$1" || return 0
    TD_SMALL_FS_MOUNTS+=("$1")
    TD_SMALL_FS_DIR=$1
}

td_small_fs_start() {
    td_small_fs_mount "$TD_BUILD/smallfs"
    export TD_SMALL_FS=$TD_SMALL_FS_DIR
}

# Whether this machine runs 32-bit programs at all (some kernels have no
# 32-bit support, or have it turned off).
td_runs_32bit() {
    "$TD_WINE32" --version >/dev/null 2>&1
}

# Lanes: each build's tests run in sessions of their own (display, Wine prefix,
# wineserver, small file system), so that the decks of each have a screen and
# a pointer to themselves: the screen lane (for x86_64 the session of ./test)
# takes the deck's cases one at a time, the pass-through lane the same cases on
# a machine without ASPI, and the side lane the other programs, side by side.
# A lane's settings go to TD_LANES/NAME.env for tests/wine_run; a build that
# cannot start its programs has TD_LANES/BUILD.skip instead, with the reason,
# and CTest shows its tests as skipped.
td_lanes_reset() {
    export TD_LANES=$TD_BUILD/lanes
    rm -rf "$TD_LANES"
    mkdir -p "$TD_LANES"
}

# The x86_64 lanes beside the session of ./test.
td_x86_64_lanes_start() {
    td_lane_start x86_64-passthrough "$TD_WINE" && td_lane_start x86_64-side "$TD_WINE"
}

TD_LANE_PREFIXES=()
# The i686 lanes: WoW64 prefixes of their own, made by wine64 once wine32 is
# there, whose programs the 32-bit loader starts.
td_i686_lanes_start() {
    local why= lane
    for lane in i686 i686-passthrough i686-side; do
        # A prefix made before 32-bit Wine could run has an empty syswow64.
        [ -f "$TD_BUILD/wineprefix-$lane/drive_c/windows/syswow64/kernel32.dll" ] ||
            rm -rf "$TD_BUILD/wineprefix-$lane"
    done
    if ! td_runs_32bit; then
        why="this machine cannot run 32-bit programs ($TD_WINE32 does not start)"
    elif ! { td_lane_start i686 "$TD_WINE32" && td_lane_start i686-passthrough "$TD_WINE32" &&
        td_lane_start i686-side "$TD_WINE32"; }; then
        why="32-bit Wine cannot start a program here (see ${TD_WINE_LOG#"$TD_ROOT"/})"
    fi
    [ -z "$why" ] && return 0
    echo "$why" >"$TD_LANES/i686.skip"
    td_log "i686 tests skipped: $why"
    [ -z "${TD_REQUIRE_I686:-}" ] || {
        td_log "TD_REQUIRE_I686 is set: this machine runs 32-bit programs, so the i686 tests must run"
        return 1
    }
}

# A pass-through lane is a machine without ASPI: Wine loads no WNASPI32.DLL there.
td_lane_start() { # name loader
    local prefix=$TD_BUILD/wineprefix-$1 overrides=$WINEDLLOVERRIDES
    [[ $1 != *-passthrough ]] || overrides+=";wnaspi32=d"
    TD_WINE_LOG=$prefix.log
    # A copy of the session's prefix, ready and with 32-bit Wine in it, takes
    # seconds where Wine's first start in a new prefix takes half a minute.
    if [ "$(cat "$prefix/.td-ready" 2>/dev/null)" != "$TD_PREFIX_VERSION" ] &&
        [ "$(cat "$WINEPREFIX/.td-ready" 2>/dev/null)" = "$TD_PREFIX_VERSION" ] &&
        [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
        td_log "copying the Wine prefix ${WINEPREFIX#"$TD_ROOT"/} to ${prefix#"$TD_ROOT"/}"
        rm -rf "$prefix" && cp -a "$WINEPREFIX" "$prefix" || return 1
    fi
    td_xvfb_start "$1" || return 1
    TD_LANE_PREFIXES+=("$prefix")
    (
        export WINEPREFIX=$prefix DISPLAY=$TD_XVFB_DISPLAY
        td_wine_start && td_wine_step "starting a program with $2" "$2" cmd /c exit 0
    ) || return 1
    td_small_fs_mount "$TD_BUILD/smallfs-$1"
    printf 'export DISPLAY=%q WINEPREFIX=%q TD_WINE=%q TD_SMALL_FS=%q WINEDLLOVERRIDES=%q\n' \
        "$TD_XVFB_DISPLAY" "$prefix" "$2" "$TD_SMALL_FS_DIR" "$overrides" >"$TD_LANES/$1.env"
}

# Wine's background processes of each new session keep starting after it is
# up; tests that read back their sound start once the machine is quiet again
# (a starved Wine pads what it plays with silence). At most half a minute.
td_wait_until_quiet() {
    local i idle total previdle prevtotal
    read -r _ a b c idle d e f g _ </proc/stat
    prevtotal=$((a + b + c + idle + d + e + f + g)) previdle=$idle
    for i in $(seq 30); do
        sleep 1
        read -r _ a b c idle d e f g _ </proc/stat
        total=$((a + b + c + idle + d + e + f + g))
        # Quiet: at least three quarters of the last second idle.
        [ $((4 * (idle - previdle))) -ge $((3 * (total - prevtotal))) ] && return 0
        prevtotal=$total previdle=$idle
    done
}

td_session_stop() {
    local prefix fs pid
    for prefix in "${TD_LANE_PREFIXES[@]}"; do WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    for fs in "${TD_SMALL_FS_MOUNTS[@]}"; do umount "$fs" 2>/dev/null || true; done
    for pid in "${TD_XVFB_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
