# Sourced by the Wine scripts beside it: which Wine to run, in which prefix,
# and how quietly.

# The first of the given commands or paths that can be run.
wine_find_tool() {
    local candidate
    for candidate in "$@"; do
        if [[ $candidate == */* ]]; then
            [[ -x $candidate ]] && { echo "$candidate"; return 0; }
        elif command -v "$candidate" >/dev/null 2>&1; then
            command -v "$candidate"
            return 0
        fi
    done
    return 1
}

# Debian's wine64 package alone puts its loader and server under /usr/lib/wine
# and nothing on PATH.
WINE=${WINE:-$(wine_find_tool wine wine64 /usr/lib/wine/wine64)} || {
    echo "wine: no wine, wine64 or /usr/lib/wine/wine64 to run" >&2
    exit 127
}
# Wine itself reads WINESERVER to find the server it starts; name the real
# binary so that every start is the same server, whatever wrapper is on PATH.
WINESERVER=${WINESERVER:-$(wine_find_tool wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver)} || {
    echo "wine: no wineserver to run" >&2
    exit 127
}
export WINESERVER

export WINEDEBUG=${WINEDEBUG:--all}
# Keep any overrides the caller set (a test-only DLL, say); never offer to
# install Mono or Gecko.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="

# The build folder holding `path` (a file or folder inside it): the nearest
# folder upwards with a CMakeCache.txt.
wine_build_dir_of() {
    local dir=$1
    [[ -d $dir ]] || dir=$(dirname -- "$dir")
    dir=$(cd -- "$dir" 2>/dev/null && pwd) || return 1
    while [[ $dir != / ]]; do
        [[ -f $dir/CMakeCache.txt ]] && { echo "$dir"; return 0; }
        dir=$(dirname -- "$dir")
    done
    return 1
}

# Sets WINEPREFIX: $CARDWELL_WINEPREFIX if given, else <build dir>/wineprefix
# for the build folder holding $1.
wine_use_prefix() {
    if [[ -n ${CARDWELL_WINEPREFIX:-} ]]; then
        WINEPREFIX=$CARDWELL_WINEPREFIX
    else
        local build
        build=$(wine_build_dir_of "$1") || {
            echo "wine: $1 is not inside a build folder; set CARDWELL_WINEPREFIX" >&2
            exit 2
        }
        WINEPREFIX=$build/wineprefix
    fi
    export WINEPREFIX
}

# The run's display: a virtual X server that wine-prefix-setup starts for the
# prefix and records in it, so that Wine's one desktop and every window of the
# run are drawn on the same display.
wine_display_file() { echo "$WINEPREFIX/cardwell-display"; }
wine_display_pid_file() { echo "$WINEPREFIX/cardwell-xvfb.pid"; }

# Sets DISPLAY to the run's display when the caller gave none and the run's
# X server is up.
wine_use_display() {
    [[ -z ${DISPLAY:-} ]] || return 0
    local file pid
    file=$(wine_display_file)
    [[ -s $file && -f $(wine_display_pid_file) ]] || return 0
    pid=$(<"$(wine_display_pid_file)")
    kill -0 "$pid" 2>/dev/null || return 0
    DISPLAY=:$(<"$file")
    export DISPLAY
}

# Ends the X server a setup started for this prefix, if it still runs.
wine_stop_display() {
    local pid_file pid
    pid_file=$(wine_display_pid_file)
    if [[ -f $pid_file ]]; then
        pid=$(<"$pid_file")
        if [[ $(cat "/proc/$pid/comm" 2>/dev/null) == Xvfb ]]; then
            kill "$pid" 2>/dev/null || true
        fi
        rm -f -- "$pid_file"
    fi
    rm -f -- "$(wine_display_file)"
}

# Makes a ready prefix at $1, with no server left running on it. With
# $CARDWELL_WINEPREFIX_TEMPLATE set, it is a copy of that prefix, which the
# first caller makes: one boot (10-20 s) for every prefix of every build
# folder, where a copy takes about a second. A copy, never hard links: the
# server rewrites the registry files in place. The prefix is made aside and
# moved in, so that a run cut short leaves nothing that looks ready.
wine_make_prefix() {
    local prefix=$1 template=${CARDWELL_WINEPREFIX_TEMPLATE:-}
    if [[ -e $prefix ]] && ! rmdir -- "$prefix" 2>/dev/null; then
        echo "wine: $prefix holds no prefix but is not empty; remove it" >&2
        return 1
    fi
    mkdir -p -- "$(dirname -- "$prefix")"
    rm -rf -- "$prefix.new"
    if [[ -z $template ]]; then
        wine_boot_prefix "$prefix.new"
    else
        mkdir -p -- "$(dirname -- "$template")"
        (
            # One maker at a time; the others wait for its template.
            flock 9
            if [[ ! -f $template/system.reg ]]; then
                rm -rf -- "$template.new" "$template"
                wine_boot_prefix "$template.new"
                mv -- "$template.new" "$template"
            fi
            cp -a -- "$template" "$prefix.new"
        ) 9>"$template.lock"
    fi
    mv -- "$prefix.new" "$prefix"
}

# Boots a fresh prefix at $1 and waits for its server to end. Without a
# window manager, Wine must manage its windows itself, or hiding one stalls
# for two seconds: set before the prefix's first session, whose desktop
# would otherwise start without it.
wine_boot_prefix() {
    WINEPREFIX=$1 "$WINE" wineboot -i </dev/null
    WINEPREFIX=$1 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
    WINEPREFIX=$1 "$WINESERVER" -w
}

# Where a machine cannot run this build's programs at all (a 32-bit build on
# a kernel without 32-bit support), wine-prefix-setup says why in this file of
# the prefix, and every test of the run reports itself skipped with that
# reason (the tests' SKIP_REGULAR_EXPRESSION, fixture.cmake).
wine_cannot_run_file() { echo "$WINEPREFIX/cardwell-cannot-run"; }
wine_skip_mark="skipped: this machine cannot run the build's Windows programs"

# Ends the calling script as skipped when the setup found that the prefix's
# machine cannot run this build's programs.
wine_skip_if_unable() {
    local file
    file=$(wine_cannot_run_file)
    [[ -f $file ]] || return 0
    echo "$wine_skip_mark: $(<"$file")"
    exit 0
}
