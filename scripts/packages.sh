# Sourced by scripts/run and scripts/test: makes sure the Debian packages a
# command needs are installed. As root it installs the missing ones with
# apt-get; otherwise it prints the one line to run and stops.
ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2 || true
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  else
    echo "missing packages; run as root:" >&2
    echo "  apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
}

# What building the server needs.
BUILD_PACKAGES=(cmake ninja-build g++ libsimdjson-dev pkg-config diffutils libboost1.81-dev
  libboost-url1.81-dev libcmark-gfm-dev libcmark-gfm-extensions-dev libssl-dev libsystemd-dev
  libjs-highlight.js)
# What the tests, benchmarks and fuzz targets need on top.
TEST_PACKAGES=(clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev systemd
  util-linux dpkg-dev file lintian man-db chromium dbus-daemon dbus-bin)
# What scripts/package needs on top of the build: dpkg-shlibdeps for the
# package's library dependencies, and lintian to check the package.
PACKAGE_PACKAGES=(dpkg-dev file lintian)
