# Sourced by the tools: the Wine this machine can run, and the build that runs in it.
# Some machines (certain virtual machines) run no 32-bit code at all. There the 64-bit build of
# the same sources runs instead, in a 64-bit prefix, through Wine's 64-bit loader: glim_preset
# names the build (default or default-x64), and the 32-bit program is still built, not run.

glim_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ -z "${GLIM_WINE_BITS:-}" ]; then
    GLIM_WINE_BITS=64
    /usr/lib/wine/wine --version >/dev/null 2>&1 && GLIM_WINE_BITS=32
    export GLIM_WINE_BITS
fi

if [ "$GLIM_WINE_BITS" = 32 ]; then
    glim_preset=default
    export WINEARCH=win32
    export WINEPREFIX=${GLIM_WINEPREFIX:-$glim_root/build/wineprefix}
else
    glim_preset=default-x64
    export WINEARCH=win64
    export WINEPREFIX=${GLIM_WINEPREFIX:-$glim_root/build/wineprefix64}
    export WINELOADER=/usr/lib/wine/wine64
    # Wine's launchers (winepath, wineboot) start wine-stable, which takes the 32-bit loader.
    glim_launchers=$glim_root/build/wine64-launchers
    if [ ! -x "$glim_launchers/wine-stable" ]; then
        mkdir -p "$glim_launchers"
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$glim_launchers/wine-stable"
        chmod +x "$glim_launchers/wine-stable"
        ln -sf wine-stable "$glim_launchers/wine"
    fi
    case ":$PATH:" in *":$glim_launchers:"*) ;; *) export PATH="$glim_launchers:$PATH" ;; esac
fi
