# Shared by scripts/run and scripts/test: packages, builds and the Wine prefix. Source it, do not run it.

BROL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BROL_JOBS=${BROL_JOBS:-2}

# Every Debian package the two commands need; missing ones are installed once with apt-get.
BROL_PACKAGES=(
  cmake ninja-build g++ make python3
  googletest libgtest-dev libgmock-dev libbenchmark-dev libfmt-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine64 xvfb xauth x11-utils imagemagick
  stunnel4 openssl pkg-config
  x11vnc tigervnc-viewer
  clang libclang-rt-14-dev
  osslsigncode
)
# What scripts/release needs to build the kits, and no more (it runs no tests): the cross compiler
# (and the native one, for the technician's console on Linux),
# the tunnel program and openssl for --site, osslsigncode for --sign, iproute2 for the private network
# namespace in which the filled configurations are tried.
BROL_RELEASE_PACKAGES=(
  cmake ninja-build python3 git g++
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  stunnel4 openssl osslsigncode iproute2
)
# What the benchmarks alone need: the peers they measure against (scripts/bench installs them).
BROL_BENCH_PACKAGES=(libbenchmark-dev libfmt-dev libspdlog-dev libsimpleini-dev libinih-dev curl locales socat)

brol_log() { printf '[brol] %s\n' "$*" >&2; }

# brol_install_packages [PACKAGE...]: the named packages, or BROL_PACKAGES without arguments.
brol_install_packages() {
  local missing=() p
  [ $# -gt 0 ] || set -- "${BROL_PACKAGES[@]}"
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  brol_log "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    brol_log "these packages are missing and installing them needs root"; return 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# brol_build PRESET [TARGET...]: configure (first time) and build one preset, all of it or the targets.
brol_build() {
  local preset=$1
  shift
  (cd "$BROL_ROOT" && cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" -j "$BROL_JOBS" ${1:+--target "$@"})
}

# The Wine prefix of the Windows build: created quietly once, its server kept up for a run and
# stopped afterwards (only this prefix's).
export WINEDEBUG=-all
brol_wine_start() {
  export WINEPREFIX="$BROL_ROOT/build/windows/wineprefix"
  mkdir -p "$WINEPREFIX"
  [ -f "$WINEPREFIX/system.reg" ] || brol_log "creating the Wine prefix (once)"
  # Already running (a test or run before this one) is fine.
  wineserver -p >/dev/null 2>&1 </dev/null || true
  # The first Wine command starts the prefix's background services, which inherit its output: start
  # them here with output to /dev/null, or a pipe reading a test's output would never see its end.
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
  trap brol_wine_stop EXIT
}
brol_wine_stop() {
  WINEPREFIX="$BROL_ROOT/build/windows/wineprefix" wineserver -k >/dev/null 2>&1 || true
}
