#!/usr/bin/env bash
# Builds zelka.dll for Windows from the same sources, by cross compilation with MinGW-w64:
# for i686 (the architecture desktop-character hosts load their modules in) into
# build-win32/zelka.dll and for x86_64 into build-win64/zelka.dll. Both are linked statically
# (they import only system libraries) and export exactly load, loadu, request and unload.
#
# The 64-bit DLL is then tested under wine64 by a test driver that loads it with LoadLibrary
# and talks to it through its exports, and by the platform layer's own tests, under a Western
# locale (ANSI code page 1252) and a Japanese one (code page 932); files written
# by the Linux module are read by the DLL and the other way round. (This machine runs no
# 32-bit Linux programs, so 32-bit Wine cannot run here: the 32-bit DLL is built and its
# exports and imports are checked.) The request round trip and load time of zelka.so and of
# zelka.dll under Wine are printed side by side.
#
# Installs what is missing first: the MinGW-w64 cross compilers (POSIX threads), wine64,
# dpkg-dev for fetching Debian's pugixml and expat source packages, which are compiled into the
# DLL, and locales, from which the two UTF-8 locales Wine runs under are generated when missing.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
jobs=${ZELKA_JOBS:-$(nproc)}
# The native tree whose zelka.so takes part in the file exchange (./test.sh builds "build").
native_build=${ZELKA_NATIVE_BUILD:-build}
started=$(date +%s)
step() { printf '== %s [%ds]\n' "$*" $(($(date +%s) - started)); }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# ---------------------------------------------------------------------------------------------
step "packages"
tools/ensure-packages.sh
cross_packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 dpkg-dev locales)
missing=()
for p in "${cross_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
wine_loader=$(dpkg -L wine64 | grep -E '/wine64$' | head -n 1)
[ -x "$wine_loader" ] || { echo "wine64 loader not found" >&2; exit 1; }
# Wine takes its ANSI code page from the Unix locale: de_DE.UTF-8 gives 1252, ja_JP.UTF-8 932.
for wine_locale in de_DE ja_JP; do
  if ! locale -a 2>/dev/null | grep -qix "$wine_locale\.utf-\?8"; then
    echo "Generating the locale $wine_locale.UTF-8"
    $SUDO localedef -i "$wine_locale" -f UTF-8 "$wine_locale.UTF-8"
  fi
done

# ---------------------------------------------------------------------------------------------
# pugixml and expat from Debian's source packages, the same versions as the system's
# libpugixml-dev and libexpat1-dev, unpacked into the build directory (never committed).
sources=$root/build-win64/sources
pugixml_src=$sources/pugixml
expat_src=$sources/expat

add_debian_source_entries() {
  # Mirrors the machine's own Debian package entries (deb822 and one-line lists) as source
  # entries.
  local stanzas="" lines="" f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "${f##*/}" != zelka-deb-src.sources ] || continue
    stanzas+=$(awk '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && uris ~ /debian/) { print "Types: deb-src"; print stanza; print "" }
        stanza = ""; types = ""; uris = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^Types:/ { types = $0; sub(/^Types:[ \t]*/, "", types); next }
      { if ($0 ~ /^URIs:/) uris = $0; stanza = stanza (stanza == "" ? "" : "\n") $0 }
      END { flush() }' "$f")$'\n'
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && [ "${f##*/}" != zelka-deb-src.list ] || continue
    lines+=$(sed -n -E 's/^[[:space:]]*deb[[:space:]]+(.*debian.*)$/deb-src \1/p' "$f")$'\n'
  done
  if [ -z "${stanzas//[[:space:]]/}" ] && [ -z "${lines//[[:space:]]/}" ]; then
    echo "No Debian package entries to mirror as source entries" >&2
    return 1
  fi
  if [ -n "${stanzas//[[:space:]]/}" ]; then
    printf '%s\n' "$stanzas" | cat -s | $SUDO tee /etc/apt/sources.list.d/zelka-deb-src.sources >/dev/null
  fi
  if [ -n "${lines//[[:space:]]/}" ]; then
    printf '%s\n' "$lines" | sed '/^$/d' | $SUDO tee /etc/apt/sources.list.d/zelka-deb-src.list >/dev/null
  fi
  $SUDO apt-get update -qq
}

# Fetches and unpacks a Debian source package, the same version as the system's development
# package when apt still has it: fetch_source NAME DEV_PACKAGE DIRECTORY FILE_THAT_MUST_EXIST.
fetch_source() {
  local name=$1 dev_package=$2 dir=$3 check=$4
  [ -f "$dir/$check" ] && return 0
  if ! apt-cache showsrc "$name" >/dev/null 2>&1; then
    add_debian_source_entries
  fi
  local version download=$sources/download-$name
  version=$(dpkg-query -W -f='${source:Version}' "$dev_package" 2>/dev/null || true)
  rm -rf "$download" "$dir"
  mkdir -p "$download"
  (
    cd "$download"
    # Then the versions apt knows, newest first: a mirror may lack one of them.
    local candidate fetched=""
    for candidate in $version $(apt-cache showsrc "$name" | sed -n 's/^Version: //p' | sort -r -V -u); do
      rm -f ./*
      if apt-get source -qq --download-only "$name=$candidate" >/dev/null 2>&1; then
        fetched=$candidate
        break
      fi
    done
    [ -n "$fetched" ] || { echo "No source package of $name could be fetched" >&2; exit 1; }
    # apt has checked the downloaded files against the signed archive index.
    dpkg-source --no-check -x ./"$name"_*.dsc "$dir" >/dev/null
  )
  [ -f "$dir/$check" ]
}

step "pugixml and expat sources"
fetch_source pugixml libpugixml-dev "$pugixml_src" src/pugixml.cpp
echo "pugixml: $(sed -n 's/^Version: //p' "$sources"/download*/pugixml_*.dsc | head -n 1)"
fetch_source expat libexpat1-dev "$expat_src" expat/lib/xmlparse.c
echo "expat: $(sed -n 's/^Version: //p' "$sources"/download*/expat_*.dsc | head -n 1)"
# Debian builds expat with autotools, whose configuration header defines XML_DTD as 1, and its
# security fixes test "XML_DTD == 1"; upstream's CMake template defines it empty.
sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$expat_src/expat/expat_config.h.cmake"

# ---------------------------------------------------------------------------------------------
# One Windows architecture: pugixml, expat and GoogleTest built for it, then the DLL and the
# Windows test programs.
build_architecture() {
  local arch=$1 dir=$root/$2
  local toolchain=$root/cmake/mingw-w64-$arch.cmake
  local deps=$dir/deps
  local prefix=$deps/install
  local cmake_cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release)

  if [ ! -f "$prefix/.pugixml-built" ]; then
    cmake -S "$pugixml_src" -B "$deps/pugixml" "${cmake_cross[@]}" -DBUILD_SHARED_LIBS=OFF \
      -DPUGIXML_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$deps/pugixml" -j "$jobs" --target install >/dev/null
    touch "$prefix/.pugixml-built"
  fi
  if [ ! -f "$prefix/.expat-built" ]; then
    # Debian's package holds the upstream repository: the library is its expat/ folder.
    cmake -S "$expat_src/expat" -B "$deps/expat" "${cmake_cross[@]}" -DEXPAT_SHARED_LIBS=OFF \
      -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
      -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$deps/expat" -j "$jobs" --target install >/dev/null
    touch "$prefix/.expat-built"
  fi
  if [ ! -f "$prefix/.googletest-built" ]; then
    cmake -S /usr/src/googletest -B "$deps/googletest" "${cmake_cross[@]}" -DBUILD_GMOCK=OFF \
      -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$deps/googletest" -j "$jobs" --target install >/dev/null
    touch "$prefix/.googletest-built"
  fi
  local pugixml_dir expat_dir gtest_dir
  pugixml_dir=$(dirname "$(find "$prefix" -name pugixml-config.cmake | head -n 1)")
  expat_dir=$(dirname "$(find "$prefix" -name expat-config.cmake | head -n 1)")
  gtest_dir=$(dirname "$(find "$prefix" -name GTestConfig.cmake | head -n 1)")

  cmake -S . -B "$dir" "${cmake_cross[@]}" -DZELKA_BENCH=OFF -DZELKA_TESTS=OFF \
    -Dpugixml_DIR="$pugixml_dir" -Dexpat_DIR="$expat_dir" >/dev/null
  cmake --build "$dir" -j "$jobs" --target zelka

  cmake -S tests/windows -B "$dir/windows-tests" "${cmake_cross[@]}" -DGTest_DIR="$gtest_dir" \
    -Dpugixml_DIR="$pugixml_dir" -Dexpat_DIR="$expat_dir" \
    -DZELKA_SOURCE_DIR="$root" -DZELKA_MODULE="$dir/zelka.dll" >/dev/null
  cmake --build "$dir/windows-tests" -j "$jobs"
}

# Checks that a DLL exports exactly load, loadu, request and unload under their plain names
# and imports nothing but system libraries.
check_dll() {
  local triple=$1 dll=$2
  local dump
  dump=$("$triple-objdump" -p "$dll")
  local exports
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
                 table && /^\t\[/ { print $NF; next }
                 table && !/^\t\[/ { table = 0 }' <<<"$dump" | sort | tr '\n' ' ')
  local imports
  imports=$(sed -n 's/^\tDLL Name: //p' <<<"$dump" | sort -u | tr '\n' ' ')
  echo "$(basename "$(dirname "$dll")")/$(basename "$dll"): exports: $exports; imports: $imports"
  if [ "$exports" != "load loadu request unload " ]; then
    echo "FAILED: $dll must export exactly load, loadu, request and unload" >&2
    return 1
  fi
  local library
  for library in $imports; do
    case "${library,,}" in
      kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ntdll.dll | api-ms-win-*) ;;
      *)
        echo "FAILED: $dll imports $library, which is not a system library" >&2
        return 1
        ;;
    esac
  done
}

# ---------------------------------------------------------------------------------------------
step "x86_64: zelka.dll and the Windows tests"
build_architecture x86_64 build-win64
check_dll x86_64-w64-mingw32 build-win64/zelka.dll

step "native: zelka.so and the same test driver"
if [ ! -f "$native_build/CMakeCache.txt" ]; then
  cmake -S . -B "$native_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$native_build" -j "$jobs" --target zelka
cmake -S tests/windows -B build-winnative/windows-tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZELKA_SOURCE_DIR="$root" -DZELKA_MODULE="$root/$native_build/zelka.so" >/dev/null
cmake --build build-winnative/windows-tests -j "$jobs"

step "x86_64: tests under wine64"
export WINEPREFIX=$root/build-win64/wineprefix
export WINEDEBUG=-all
# No Mono or Gecko: the prefix is created without asking for them.
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY
# Wine stores Windows file names in the Unix locale's character set: a UTF-8 locale keeps
# every name. The locale also gives the ANSI code page a host's load passes the directory
# in: Western (1252) unless a run names the Japanese one (932). The tests check that
# GetACP answers the code page named here.
run_windows() { LC_ALL=de_DE.UTF-8 ZELKA_ANSI_CODE_PAGE=1252 "$wine_loader" "$@"; }
run_windows_japanese() { LC_ALL=ja_JP.UTF-8 ZELKA_ANSI_CODE_PAGE=932 "$wine_loader" "$@"; }
# Wine sees the whole file system as drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Runs a GoogleTest program (its failure stops the script) and counts its passes.
passed=0
run_counted() {
  local transcript=$root/build-win64/last-test-run.txt
  "$@" 2>&1 | tr -d '\r' | tee "$transcript"
  local count
  count=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\.$/\1/p' "$transcript" | tail -n 1)
  passed=$((passed + ${count:-0}))
}

win_tests=build-win64/windows-tests
native_tests=build-winnative/windows-tests
exchange=$root/build-win64/exchange
rm -rf "$exchange"
mkdir -p "$exchange"

# Both codecs give the same table for every byte sequence and every character.
"$native_tests/codec_dump" >"$exchange/codec-linux.txt"
run_windows "$win_tests/codec_dump.exe" >"$exchange/codec-windows.txt"
cmp "$exchange/codec-linux.txt" "$exchange/codec-windows.txt"
echo "codec tables: identical on Linux and Windows ($(wc -l <"$exchange/codec-linux.txt") entries)"

run_counted run_windows "$win_tests/zelka_windows_platform_tests.exe"
run_counted run_windows_japanese "$win_tests/zelka_windows_platform_tests.exe" \
  --gtest_filter='PathText.*:UnicodeDirectory.*'

# Files written by each module are read by the other: Linux writes, Windows reads and
# writes, Linux reads.
ZELKA_EXCHANGE_DIR=$exchange run_counted "$native_tests/zelka_dll_tests" \
  --gtest_filter='FileExchange.Write*'
ZELKA_EXCHANGE_DIR=$(windows_path "$exchange") run_counted run_windows "$win_tests/zelka_dll_tests.exe"
# Ghost directories with non-ASCII names once more, as a Japanese system's host passes them.
run_counted run_windows_japanese "$win_tests/zelka_dll_tests.exe" \
  --gtest_filter='ModuleTest.GhostInADirectoryWithANonAsciiName:ModuleTest.Loadu*'
ZELKA_EXCHANGE_DIR=$exchange run_counted "$native_tests/zelka_dll_tests" \
  --gtest_filter='FileExchange.Read*'

step "x86_64: request round trip and load time, native and under wine64"
"$native_tests/module_timing"
run_windows "$win_tests/module_timing.exe" | tr -d '\r'

# ---------------------------------------------------------------------------------------------
step "i686: zelka.dll (built and checked; 32-bit Wine cannot run here)"
build_architecture i686 build-win32
check_dll i686-w64-mingw32 build-win32/zelka.dll

step "done"
# With exactly what ran: the Windows tests under wine64 and the Linux side of the exchange.
echo "windows: $passed passed, 0 failed"
