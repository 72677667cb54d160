#!/usr/bin/env bash
# Installs everything a fresh Debian 12 machine lacks to build, run and test
# LumoDictGen. Idempotent: packages already present are not fetched again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libcli11-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine wine64
  xvfb xauth x11-apps imagemagick fonts-wqy-microhei fonts-noto-cjk
  locales
  stardict-tools sdcv dictzip pigz
  clang libclang-rt-14-dev
  nsis zip xdotool python3-markdown
  man-db groff-base
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The Chinese locale lets Wine (and the POSIX build) use code page 936 in tests.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  $SUDO sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/; s/^# *en_US.UTF-8 UTF-8/en_US.UTF-8 UTF-8/' /etc/locale.gen
  $SUDO locale-gen >/dev/null
fi

# zlib's sources for the Windows build, of the very version the native build links
# (zlib1g): cmake/windows-zlib.cmake compiles them with the cross compiler and the flags
# Debian's native zlib is built with. Debian's prebuilt mingw-w64 zlib is compiled with
# weaker ones, and its level-9 compression takes about a tenth longer. The same version
# keeps the compressed bytes, and so the packages, identical to the native build's.
zlib_src=/usr/local/src/lumo-zlib
zlib_version=$(dpkg-query -W -f='${source:Version}' zlib1g)

# fetch_zlib_sources: fetches and unpacks them into $zlib_src; non-zero when it cannot.
fetch_zlib_sources() {
  local SUDO="" fetch codename
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  # apt-get source needs the archive's source lists, which a fresh machine lacks.
  if ! apt-cache showsrc zlib 2>/dev/null | grep '^Version: ' >/dev/null; then
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" \
      "Suites: $codename $codename-updates" "Components: main" \
      "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
      $SUDO tee /etc/apt/sources.list.d/lumo-debian-src.sources >/dev/null || return 1
    $SUDO apt-get update -q || return 1
  fi
  fetch=$(mktemp -d) || return 1
  chmod 755 "$fetch"  # apt downloads as its own user where it can
  # The installed version when the archive still has it, else the archive's own (the
  # build checks that the upstream versions agree).
  (cd "$fetch" && { apt-get source -q --download-only "zlib=$zlib_version" ||
                    apt-get source -q --download-only zlib; }) >/dev/null || return 1
  # dpkg-source (dpkg-dev, with build-essential) applies Debian's patches, as for zlib1g.
  (cd "$fetch" && dpkg-source --no-check -x ./*.dsc unpacked) >/dev/null || return 1
  $SUDO rm -rf "$zlib_src"
  $SUDO mkdir -p "$(dirname "$zlib_src")"
  $SUDO cp -r "$fetch/unpacked" "$zlib_src" || return 1
  # The fetched version: when it differs from the installed one, the next run tries again.
  sed -n 's/^Version: //p' "$fetch"/*.dsc | $SUDO tee "$zlib_src/.debian-version" >/dev/null
  rm -rf "$fetch"
}

# Without them the Windows programs link the prebuilt zlib: slower, but the same bytes.
if [[ "$(cat "$zlib_src/.debian-version" 2>/dev/null)" != "$zlib_version" ]]; then
  fetch_zlib_sources ||
    echo "setup.sh: zlib's sources could not be fetched; the Windows build uses the prebuilt zlib" >&2
fi
