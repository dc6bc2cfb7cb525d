# Shared by ./test and ./run: installs what is missing, builds, and runs a
# headless Wine session (Xvfb, a Wine prefix of the build's own, ALSA capture).
# Source it; every function uses TD_ROOT and TD_BUILD.

TD_ROOT=${TD_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
TD_BUILD=${TD_BUILD:-$TD_ROOT/build}
TD_PACKAGES=(cmake ninja-build g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
    g++-multilib googletest wine wine64 xvfb xauth xdotool imagemagick x11-apps sox bchunk
    clang libclang-rt-14-dev)

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
    local fifo=$TD_BUILD/.xvfb-display
    rm -f "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    TD_XVFB_PID=$!
    local i
    for i in $(seq 100); do [ -s "$fifo" ] && break; sleep 0.05; done
    DISPLAY=:$(head -n1 "$fifo")
    td_wine_start
}

# The same on the display and the sound of the desktop that runs us.
td_desktop_session_start() {
    td_wine_env
    td_wine_start
}

# Prepares the prefix once and starts the session's wineserver (DISPLAY set).
td_wine_start() {
    # Bump when the prefix settings change, so every build folder picks them up.
    local prefixVersion=2
    if [ "$(cat "$WINEPREFIX/.td-ready" 2>/dev/null)" != "$prefixVersion" ]; then
        td_log "preparing the Wine prefix"
        "$TD_WINE" wineboot -i >/dev/null 2>&1 || true
        local reg="$TD_WINE reg add"
        $reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        $reg 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f >/dev/null 2>&1
        # Unmanaged windows: without a window manager Wine otherwise waits 2 s
        # each time a window is shown or hidden.
        $reg 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wineserver -w
        echo "$prefixVersion" >"$WINEPREFIX/.td-ready"
    fi
    td_standins_map
    # A server left from an earlier session may hold a display that is gone.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    wineserver -p </dev/null >/dev/null 2>&1
    # Start Wine's own background processes now, detached from our output: if a
    # test started them, they would inherit its pipes and ctest would wait for them.
    "$TD_WINE" wineboot -u </dev/null >/dev/null 2>&1 || true
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

# A small file system that fills up, for the tests of a full disk (root only).
td_small_fs_start() {
    export TD_SMALL_FS=
    [ "$(id -u)" -eq 0 ] || return 0
    mkdir -p "$TD_BUILD/smallfs"
    mountpoint -q "$TD_BUILD/smallfs" || mount -t tmpfs -o size=1m tdsmall "$TD_BUILD/smallfs"
    mountpoint -q "$TD_BUILD/smallfs" && TD_SMALL_FS=$TD_BUILD/smallfs
}

td_session_stop() {
    wineserver -k 2>/dev/null || true
    [ -n "${TD_SMALL_FS:-}" ] && umount "$TD_SMALL_FS" 2>/dev/null
    [ -n "${TD_XVFB_PID:-}" ] && kill "$TD_XVFB_PID" 2>/dev/null
    wait 2>/dev/null || true
}
