# Shared by scripts/run and scripts/test: installs the Debian packages the
# build needs when they are missing (through sudo when not root).
# shellcheck shell=bash

VIBRELLE_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-multimedia-dev
  fonts-dejavu-core
  libbenchmark-dev
  desktop-file-utils appstream dpkg-dev curl
  xvfb xauth xdotool libxcb1-dev
  qt6-wayland weston
  dbus-daemon at-spi2-core python3-pyatspi
)

vibrelle_missing_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  printf '%s\n' "${missing[@]}"
}

vibrelle_install_packages() {
  local missing
  mapfile -t missing < <(vibrelle_missing_packages "$@" | sed '/^$/d')
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "Installing missing Debian packages: ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
      echo "error: need root or sudo to install: ${missing[*]}" >&2
      return 1
    fi
    sudo=(sudo)
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

vibrelle_configure_and_build() {
  local root=$1 build_dir=$2 build_type=$3
  cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type"
  cmake --build "$build_dir" -j "$(nproc)"
}
