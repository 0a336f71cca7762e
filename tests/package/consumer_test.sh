#!/usr/bin/env bash
# The library as its users get it: `cmake --install` of the shipping build (preset install, or
# windows-kit) into a fresh prefix, every header of brol/ there, then examples/ built against the
# installed package twice (find_package(brol) and pkg-config) and its program run with its own
# configuration against a loopback HTTP server: the summary of the downloaded sample must be exactly
# the expected one, and each failure must end with its own exit code and message. Both doors must give
# consumers the same flags; the test build (TEST_BUILD_DIR) must be refused, and when forced it must
# say what it carries, again with the same flags through both doors.
#   consumer_test.sh SHIP_BUILD_DIR SOURCE_DIR WORK_DIR native|windows TEST_BUILD_DIR
# Windows: the consumer is cross-built with the project's toolchain file and run under Wine
# (WINEPREFIX from the environment).
set -euo pipefail

build=$1 source=$2 work=$3 mode=$4 test_build=$5
prefix=$work/prefix
rm -rf "$work"
mkdir -p "$work/run"

fail() { echo "FAIL $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install of $build"; }
! grep -q "TEST BUILD" "$work/install.log" || fail "the shipping build installs as a test build"

# Every header below brol/ is installed, under the same relative path.
(cd "$source" && find brol -name '*.h' | sort) >"$work/headers.want"
(cd "$prefix/include" && find brol -name '*.h' | sort) >"$work/headers.got"
diff -u "$work/headers.want" "$work/headers.got" || fail "installed headers differ from brol/"
for f in lib/libbrol.a lib/cmake/brol/brolConfig.cmake lib/cmake/brol/brolConfigVersion.cmake lib/pkgconfig/brol.pc; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
if grep -qaF "$source" "$prefix/lib/libbrol.a"; then fail "libbrol.a holds the source path $source"; fi

configure=(-G Ninja -DCMAKE_BUILD_TYPE=Release)
if [ "$mode" = windows ]; then
  configure+=(-DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake")
  cxx=x86_64-w64-mingw32-g++-posix exe=.exe static=-static
  run() { (cd "$work/run" && timeout 120 wine "$@"); }
else
  cxx=g++ exe="" static=""
  run() { (cd "$work/run" && timeout 120 "$@"); }
fi
# consumer PREFIX DIR: examples/ built against the package in PREFIX with CMake (DIR/cmake-build) and
# with pkg-config (DIR/pkg-config-build), as a Makefile without CMake would use it; then the flags
# that reach the compiler and the linker through both doors must be the same.
consumer() {
  local from=$1 dir=$2 flags libs
  mkdir -p "$dir"
  cmake -S "$source/examples" -B "$dir/cmake-build" "${configure[@]}" -Dbrol_DIR="$from/lib/cmake/brol" \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log"; fail "find_package(brol) did not configure"; }
  cmake --build "$dir/cmake-build" >"$dir/build.log" || { cat "$dir/build.log"; fail "the CMake consumer did not build"; }
  read -r -a flags <<<"$(PKG_CONFIG_PATH=$from/lib/pkgconfig pkg-config --cflags brol)"
  read -r -a libs <<<"$(PKG_CONFIG_PATH=$from/lib/pkgconfig pkg-config --libs brol)"
  "$cxx" "${flags[@]}" "$source/examples/text_summary.cpp" -o "$dir/pkg-config-build$exe" "${libs[@]}" $static ||
    fail "the pkg-config consumer did not build"
  same_flags "$dir" "${flags[*]} ${libs[*]}"
}

# same_flags DIR PKG_CONFIG_FLAGS: the definitions, language level, sanitizer and library flags of the
# CMake consumer's compile and link commands equal those of pkg-config (gnu++20 counts as c++20;
# -DNDEBUG is the consumer's own Release setting).
same_flags() {
  local dir=$1 pattern='^(-D|-std=|-fsanitize|-lws2_32$|-lbrol$|.*/libbrol\.a$)'
  { grep -o '"command": "[^"]*text_summary\.cpp[^"]*"' "$dir/cmake-build/compile_commands.json"
    ninja -C "$dir/cmake-build" -t commands text_summary$exe | tail -n 1; } |
    tr ' "' '\n\n' | grep -E "$pattern" | grep -vx -- -DNDEBUG | sed -e 's/gnu++/c++/' -e 's|.*/libbrol\.a$|-lbrol|' | sort -u >"$dir/cmake.flags"
  tr ' ' '\n' <<<"$2" | grep -E "$pattern" | sort -u >"$dir/pkg-config.flags"
  diff -u "$dir/pkg-config.flags" "$dir/cmake.flags" >"$dir/flags.diff" ||
    { cat "$dir/flags.diff"; fail "CMake and pkg-config give consumers different flags ($dir)"; }
}

consumer "$prefix" "$work"
if grep -qE -- '-DBROL_|-fsanitize' "$work/cmake.flags"; then fail "the shipping package hands on test flags: $(cat "$work/cmake.flags")"; fi

# The test build: refused with a message that says why; installed when asked for, it says what it
# carries in the install, in find_package and in the pkg-config file, and both doors hand it on alike.
status=0
cmake --install "$test_build" --prefix "$work/test-prefix" >"$work/test-install.log" 2>&1 || status=$?
[ $status -ne 0 ] || fail "the install of the test build $test_build was not refused"
grep -q "refused: this build of brol is a test build" "$work/test-install.log" ||
  { cat "$work/test-install.log"; fail "the refusal does not say why"; }
[ ! -e "$work/test-prefix/lib/libbrol.a" ] || fail "the refused install left the library behind"
BROL_INSTALL_TEST_BUILD=1 cmake --install "$test_build" --prefix "$work/test-prefix" >"$work/test-install.log" 2>&1 ||
  { cat "$work/test-install.log"; fail "the forced install of the test build failed"; }
# CMake wraps its warnings: the messages are looked for with the lines joined.
joined() { tr -s ' \n' '  ' <"$1"; }
joined "$work/test-install.log" | grep -q "installing a TEST BUILD of brol; it carries .*allocation" ||
  fail "the forced install does not say what it carries"
PKG_CONFIG_PATH=$work/test-prefix/lib/pkgconfig pkg-config --print-variables brol >/dev/null
PKG_CONFIG_PATH=$work/test-prefix/lib/pkgconfig pkg-config --variable=test_build brol | grep -q "allocation" ||
  fail "the test build's pkg-config file does not say what it carries"
consumer "$work/test-prefix" "$work/test-consumer"
joined "$work/test-consumer/configure.log" | grep -q "is a TEST BUILD; it carries" || fail "find_package of the test build does not warn"
grep -q -- "-DBROL_ALLOC_SITES" "$work/test-consumer/cmake.flags" || fail "the test build's flags do not reach the consumer"

# The document: a sample with CR LF, a blank line, a last line without LF, a UTF-8 word and mixed case,
# served by python3's http.server on a loopback port the system picks. The server ends with this
# script and, whatever happens to it, after 5 minutes.
mkdir -p "$work/www"
printf 'Der Techniker sieht den Bildschirm.\r\nDer Techniker hilft: Gr\xc3\xbc\xc3\x9fe!\n\nEnde der Sitzung, der Sitzung Ende' \
  >"$work/www/sample.txt"
timeout 300 python3 -u -m http.server --bind 127.0.0.1 --directory "$work/www" 0 >"$work/server.log" 2>&1 &
server=$!
stop_server() { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; }
trap stop_server EXIT
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^Serving HTTP on 127\.0\.0\.1 port \([0-9][0-9]*\) .*/\1/p' "$work/server.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/server.log"; fail "the HTTP server did not start"; }

# The example's own configuration, pointed at that server.
sed "s/^port = 8000\$/port = $port/" "$source/examples/text_summary.ini" >"$work/run/summary.ini"
grep -qx "port = $port" "$work/run/summary.ini" || fail "examples/text_summary.ini has no line 'port = 8000'"
cat >"$work/expected.txt" <<EOF
source:  http://127.0.0.1:$port/sample.txt
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

# expect_exit CODE TEXT ARGUMENTS...: the program ends with CODE and says TEXT on stderr.
expect_exit() {
  local code=$1 text=$2 status=0
  shift 2
  run "$@" >"$work/out.txt" 2>"$work/err.txt" || status=$?
  tr -d '\r' <"$work/err.txt" >"$work/err.lf"
  [ $status -eq "$code" ] || { cat "$work/err.lf"; fail "$*: exit code $status, expected $code"; }
  grep -qF -- "$text" "$work/err.lf" || { cat "$work/err.lf"; fail "$*: no '$text' on stderr"; }
}

# Configurations with one thing wrong: sed FILE EXPRESSION...
variant() {
  local file=$1
  shift
  sed "$@" "$work/run/summary.ini" >"$work/run/$file"
}
variant no_host.ini -e '/^host = /d'
variant bad_port.ini -e 's/^port = .*/port = 65536/'
variant missing_document.ini -e 's|^path = .*|path = /missing.txt|' -e 's/^save_as = .*/save_as = missing.txt/'

programs=("$work/cmake-build/text_summary$exe" "$work/pkg-config-build$exe")
for program in "${programs[@]}"; do
  rm -f "$work/run/sample.txt"
  run "$program" summary.ini | tr -d '\r' >"$work/got.txt" || fail "$program failed"
  diff -u "$work/expected.txt" "$work/got.txt" || fail "$program: unexpected summary"
  cmp "$work/www/sample.txt" "$work/run/sample.txt" || fail "$program: the downloaded copy differs"
done

# Failures, each with its own exit code and a message that names the cause (one build suffices: the
# same source). A failed download leaves the earlier copy as it was.
program=${programs[0]}
expect_exit 2 "usage: text_summary CONFIG" "$program"
expect_exit 3 "cannot read the configuration missing.ini" "$program" missing.ini
expect_exit 3 "no_host.ini: [source] host is missing" "$program" no_host.ini
expect_exit 3 "[source] port must be a number from 1 to 65535, not '65536'" "$program" bad_port.ini
expect_exit 4 "first line was 'HTTP/1.0 404" "$program" missing_document.ini
[ ! -e "$work/run/missing.txt" ] || fail "a refused download left a file behind"
stop_server
expect_exit 4 "could not connect to '127.0.0.1'" "$program" summary.ini
cmp "$work/www/sample.txt" "$work/run/sample.txt" || fail "a failed download changed the earlier copy"
echo "ok: the shipping package builds the example with find_package and pkg-config alike, the test build is refused or says what it carries ($mode)"
