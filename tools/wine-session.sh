# Sourced by the tools: gives the commands that follow an X display and a running Wine server,
# and stops both again when the calling script exits.
# Usage: source tools/wine-session.sh [WIDTHxHEIGHT]

source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# Wine turns file names into Unix ones in the locale's character set: without UTF-8, names in
# other scripts cannot even be opened. C.UTF-8 is always there on Debian.
if ! locale charmap 2>/dev/null | grep -qiE '^utf-?8$'; then export LC_ALL=C.UTF-8; fi

glim_screen=${1:-1280x1024}

glim_stop_session() {
    wineserver -k 2>/dev/null || true
    [ -n "${glim_xvfb_pid:-}" ] && kill "$glim_xvfb_pid" 2>/dev/null || true
}
trap glim_stop_session EXIT

if [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a free display number and writes it to the pipe.
    exec {glim_fd}< <(Xvfb -displayfd 1 -screen 0 "${glim_screen}x24" -nolisten tcp 2>/dev/null)
    glim_xvfb_pid=$!
    # Without a display the window tests would find no window and pass on nothing: stop here.
    if ! read -r -t 20 glim_display <&"$glim_fd" || [ -z "$glim_display" ]; then
        echo "wine-session.sh: Xvfb did not start, so there is no display to test on" >&2
        exit 1
    fi
    export DISPLAY=":$glim_display"
fi

# A server that outlives each test saves a second of Wine start-up per test. Wine's own
# background processes start here, so they hold none of the test runner's output pipes open;
# a console waiting on a pipe that this shell holds keeps the desktop process alive too.
"$glim_root/tools/wine-run"
wineserver -p </dev/null >/dev/null 2>&1
glim_hold=$(mktemp -u "${TMPDIR:-/tmp}/glim-hold.XXXXXX")
mkfifo "$glim_hold"
"$glim_root/tools/wine-run" cmd /c pause <"$glim_hold" >/dev/null 2>&1 &
exec {glim_hold_fd}>"$glim_hold"
rm -f "$glim_hold"
# Starts the desktop now (rundll32 makes a hidden window), so no test's output pipe is handed
# to it.
"$glim_root/tools/wine-run" rundll32.exe user32.dll,MessageBeep </dev/null >/dev/null 2>&1
