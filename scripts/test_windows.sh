#!/usr/bin/env bash
# Builds the Windows module from the same sources twice with MinGW-w64: the
# 32-bit vendral.dll for the MATLAB 5.x host (build-win32/) and a 64-bit one
# (build-win64/), each with MATLAB.EXE, the test host that loads it. Checks the
# structure of both DLLs (and that the check refuses one importing a name the
# host does not export), then runs the module's tests through LoadLibrary
# under wine in a throwaway prefix: always the 64-bit pair, and the 32-bit pair
# where the kernel runs 32-bit code. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 python3

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

build() {  # build directory, toolchain file
    cmake -S . -B "$1" -DCMAKE_TOOLCHAIN_FILE="cmake/$2" -DCMAKE_BUILD_TYPE=Release \
        --no-warn-unused-cli >/dev/null
    cmake --build "$1" -j 2
}

# The 32-bit loader comes with wine32 for i386, which needs the i386 architecture.
install_wine32() {
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" && return
    echo "Installing: wine32:i386"
    "${sudo_cmd[@]}" dpkg --add-architecture i386
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        wine32:i386 >/dev/null
}

echo "== Building the Windows module"
build build-win32 mingw-i686.cmake
build build-win64 mingw-x86_64.cmake
ls -l build-win32/vendral.dll build-win64/vendral.dll

echo "== Structure of the DLLs"
python3 scripts/check_windows_dll.py build-win32/vendral.dll --machine i386
python3 scripts/check_windows_dll.py build-win64/vendral.dll --machine amd64
echo "== The structure check refuses a DLL importing what the 5.x host does not export"
bash scripts/test_check_windows_dll.sh build-win32 i386
bash scripts/test_check_windows_dll.sh build-win64 amd64

run_32bit=false
if python3 scripts/can_run_32bit.py; then
    install_wine32
    run_32bit=true
fi

# A fresh prefix, no display, no prompts to install Mono or Gecko.
WINEPREFIX="$(mktemp -d)"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine_dir=/usr/lib/wine
finish() {
    WINEPREFIX="$WINEPREFIX" "$wine_dir/wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
trap finish EXIT

run_host() {  # loader, build directory, test host relative to it
    local started=$SECONDS
    # msvcrt writes \r\n; the closing count line must stand alone.
    (cd "$2" && timeout 600 "$wine_dir/$1" "$3" vendral.dll) | tr -d '\r'
    echo "   ($2/$3 under $1: $((SECONDS - started)) s)"
}

echo "== Module tests under wine64 (prefix $WINEPREFIX)"
run_host wine64 build-win64 MATLAB.EXE
run_host wine64 build-win64 longjmp/MATLAB.EXE

if $run_32bit; then
    echo "== Module tests of the 32-bit DLL under wine"
    run_host wine build-win32 MATLAB.EXE
else
    echo "SKIPPED: the 32-bit DLL's tests: this kernel does not run 32-bit x86 code" \
         "(IA32 emulation off); the 32-bit DLL was checked for structure only."
fi
