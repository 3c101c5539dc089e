# setup.sh: what the README commands share before they run anything: the Debian packages the
# project needs, installed when missing, and a build into a given folder. Sourced, not run.
# It leaves running the program and the tests to the commands themselves.

# Everything the build, the tests, the virtual display, the scripted subject and the study
# server use.
SM_PACKAGES=(
  cmake make g++ pkg-config
  freeglut3-dev libglu1-mesa-dev libgl-dev libegl-dev libgl1-mesa-dri libegl-mesa0
  libgtest-dev libbenchmark-dev libcairo2-dev nlohmann-json3-dev
  xvfb xfonts-base xdotool imagemagick x11-utils python3 libxfixes3
  python3-pandas python3-matplotlib python3-pytest
  python3-flask python3-psycopg python3-psycopg-pool gunicorn postgresql-15
  dpkg-dev file
  emscripten nodejs chromium chromium-driver python3-selenium python3-numpy
)

sm_say() { printf '%s\n' "$*" >&2; }

# Installs the packages of SM_PACKAGES that dpkg does not report as installed. One dpkg query
# for all of them keeps the common case (nothing missing) quick.
sm_install_missing() {
  local missing=() p status
  for p in "${SM_PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  sm_say "Installing missing packages: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { sm_say "error: need root (or sudo) to install ${missing[*]}"; return 1; }
    sudo=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q </dev/null
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
}

# sm_build_web DIR: configures DIR for the browser with Emscripten once and builds it: the
# program compiled to WebAssembly and its page, in DIR/web/. Debian's emscripten finds its
# JavaScript parser through NODE_PATH and runs its tools with Debian's python3.
sm_build_web() {
  local dir=$1
  export NODE_PATH=/usr/share/nodejs EMSDK_PYTHON=/usr/bin/python3
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    emcmake cmake -S . -B "$dir" || return 1
  fi
  cmake --build "$dir" -j2
}

# sm_build DIR [cmake options...]: configures DIR once (again when the options change) and
# builds it with two jobs, the machine's cores: the targets named in SM_BUILD_TARGETS, or all.
sm_build() {
  local dir=$1
  shift
  local stamp="$dir/.sm-configure-options" options="$*"
  if [ ! -f "$dir/CMakeCache.txt" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$options" ]; then
    cmake -S . -B "$dir" "$@" || return 1
    printf '%s' "$options" >"$stamp"
  fi
  local targets=()
  for t in ${SM_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
  cmake --build "$dir" -j2 "${targets[@]}"
}

# The BIDS validator the analysis tests check spatialmemory-report --bids with: npm's
# bids-validator at the version analysis/tests/bids/package-lock.json pins, installed there
# with `npm ci` when it is missing (node and npm from Debian when they are missing too).
sm_install_bids_validator() {
  local dir=analysis/tests/bids
  [ -x "$dir/node_modules/.bin/bids-validator" ] && return 0
  if ! command -v npm >/dev/null; then
    local saved=("${SM_PACKAGES[@]}") status=0
    SM_PACKAGES=(nodejs npm)
    sm_install_missing || status=1
    SM_PACKAGES=("${saved[@]}")
    [ $status -eq 0 ] || return 1
  fi
  sm_say "Installing the BIDS validator into $dir/node_modules"
  (cd "$dir" && npm ci --ignore-scripts --no-audit --no-fund) >&2
}
