#!/usr/bin/env bash
# The library as its users get it: `cmake --install` of a build into a fresh prefix, every header
# of brol/ there, then examples/ built against the installed package twice (find_package(brol) and
# pkg-config) and its program run on a sample text, whose summary must be exactly the expected one.
#   consumer_test.sh BUILD_DIR SOURCE_DIR WORK_DIR native|windows
# Windows: the consumer is cross-built with the project's toolchain file and run under Wine
# (WINEPREFIX from the environment).
set -euo pipefail

build=$1 source=$2 work=$3 mode=$4
prefix=$work/prefix
rm -rf "$work"
mkdir -p "$work/run"

fail() { echo "FAIL $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# Every header below brol/ is installed, under the same relative path.
(cd "$source" && find brol -name '*.h' | sort) >"$work/headers.want"
(cd "$prefix/include" && find brol -name '*.h' | sort) >"$work/headers.got"
diff -u "$work/headers.want" "$work/headers.got" || fail "installed headers differ from brol/"
for f in lib/libbrol.a lib/cmake/brol/brolConfig.cmake lib/cmake/brol/brolConfigVersion.cmake lib/pkgconfig/brol.pc; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done

configure=(-G Ninja -DCMAKE_BUILD_TYPE=Release -Dbrol_DIR="$prefix/lib/cmake/brol")
if [ "$mode" = windows ]; then
  configure+=(-DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake")
  cxx=x86_64-w64-mingw32-g++-posix exe=.exe static=-static
  run() { (cd "$work/run" && wine "$@"); }
else
  cxx=g++ exe="" static=""
  run() { (cd "$work/run" && "$@"); }
fi
cmake -S "$source/examples" -B "$work/cmake-build" "${configure[@]}" >"$work/configure.log" ||
  { cat "$work/configure.log"; fail "find_package(brol) did not configure"; }
cmake --build "$work/cmake-build" >"$work/build.log" || { cat "$work/build.log"; fail "the CMake consumer did not build"; }

# pkg-config, as a Makefile without CMake would use it.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
read -r -a flags <<<"$(pkg-config --cflags brol)"
read -r -a libs <<<"$(pkg-config --libs brol)"
"$cxx" "${flags[@]}" "$source/examples/text_summary.cpp" -o "$work/pkg-config-build$exe" "${libs[@]}" $static ||
  fail "the pkg-config consumer did not build"

# A sample with CR LF, a blank line, a last line without LF, a UTF-8 word and mixed case.
printf 'Der Techniker sieht den Bildschirm.\r\nDer Techniker hilft: Gr\xc3\xbc\xc3\x9fe!\n\nEnde der Sitzung, der Sitzung Ende' \
  >"$work/run/sample.txt"
cat >"$work/expected.txt" <<'EOF'
file:    sample.txt
lines:   4
words:   15
bytes:   102
longest: line 1, 35 bytes
rank  word              count    share
   1  der                   4   26.67%
   2  techniker             2   13.33%
   3  ende                  2   13.33%
EOF

for program in "$work/cmake-build/text_summary$exe" "$work/pkg-config-build$exe"; do
  run "$program" sample.txt 3 | tr -d '\r' >"$work/got.txt" || fail "$program failed"
  diff -u "$work/expected.txt" "$work/got.txt" || fail "$program: unexpected summary"
  # A file that cannot be read is reported with exit code 1, not as an empty summary.
  status=0
  run "$program" missing.txt >/dev/null 2>&1 || status=$?
  [ $status -eq 1 ] || fail "$program: exit code $status for a missing file, expected 1"
done
echo "ok: the installed package builds the example with find_package and pkg-config ($mode)"
