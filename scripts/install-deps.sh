#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang-14 libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libjpeg62-turbo-dev libturbojpeg0-dev libpng-dev libfreetype-dev fonts-dejavu-core fonts-wqy-zenhei
  libyuv-dev libjpeg-turbo-progs ffmpeg imagemagick curl
  apache2 apache2-utils lighttpd tinyproxy
  python3-gi gir1.2-gstreamer-1.0 gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavdevice-dev
  libopencv-dev
  libsdl2-dev xvfb x11-apps
  xdotool
  libopenjp2-tools
  libx11-dev libxext-dev x11-utils v4l-utils
  iproute2 util-linux
  iperf3 tshark
  libasound2-dev alsa-utils sox
  gstreamer1.0-tools
  chromium
  libssl-dev
  nats-server libnats-dev
  libpugixml-dev onvif-tools
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
