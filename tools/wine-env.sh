# Sourced by the tools: the Wine to run, and the build that runs in it (glim_preset: default or
# default-x64). GLIM_WINE_BITS chooses 32 or 64; unset, it is 32 wherever the machine runs 32-bit
# code, as some (certain virtual machines) do not. 64-bit Wine runs in a prefix of its own,
# through its own loader.

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
