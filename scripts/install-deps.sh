#!/usr/bin/env bash
# Installs the Debian packages Tessilon builds, tests and runs with.
set -euo pipefail
packages=(
  build-essential cmake pkg-config git
  qt6-base-dev libgl-dev                 # the desktop window
  libcli11-dev nlohmann-json3-dev        # argument parsing, JSON output
  libssl-dev                             # MD5 and SHA-256 of the copy manifest
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev               # the fuzz targets: libFuzzer and the sanitizers
  dosfstools mtools ntfs-3g ntfs-3g-dev  # real test images
  exfatprogs exfat-fuse                  # real exFAT test images, filled through FUSE
  fdisk gdisk util-linux                 # partition tables; setpriv
  sleuthkit                              # independent oracle in the tests
  libewf-dev libvhdi-dev libvmdk-dev libqcow-dev  # E01, VHD/VHDX, VMDK and QCOW2 images as sources
  libdeflate-dev                         # inflates E01 chunks faster than zlib
  ewf-tools qemu-utils                   # make those images for the tests
  fuse3 libfuse3-dev                     # failing media for the tests: sectors that answer EIO
  udisks2 polkitd dbus-daemon            # disks opened without root: a udisksd of the tests' own
  strace                                 # a signal at a chosen write, in the copy tests
  poppler-utils                          # reads printed reports back
  xvfb xauth                             # a display for the window tests
  fonts-noto-core fonts-droid-fallback fonts-symbola  # a glyph for every script a file name may be in
  dpkg-dev librsvg2-bin appstream        # the Debian package: its dependencies, icons, metainfo check
  jq                                     # reads the JSON listing in the package test
  python3                                # its csv module reads the CSV listings back
  gzip unzip tar coreutils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
