#!/usr/bin/env bash
# Installs the built tree into a fresh prefix and uses it the way another
# project would: install_test.sh BUILD_DIR SOURCE_DIR headers|examples
#   headers   every installed header compiles on its own
#   examples  examples/ configured with only CMAKE_PREFIX_PATH=prefix, each
#             example run against the synthetic camera, and one example built
#             with nothing but `pkg-config --cflags --libs kzmedia`
set -euo pipefail
build=$1 source=$2 what=$3
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*" >&2; exit 1; }

case $what in
headers)
  cd "$prefix/include/kzmedia"
  headers=$(find . -name '*.h' | sed 's|^\./||' | sort)
  [ -n "$headers" ] || fail "no header installed"
  printf '%s\n' $headers | xargs -P "$(nproc)" -I{} sh -c \
    'printf "#include \"%s\"\n" "{}" | g++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I. -x c++ - \
       || { echo "FAIL: {} does not compile on its own" >&2; exit 255; }'
  echo "$(printf '%s\n' $headers | wc -l) headers compile on their own"
  ;;
examples)
  cmake -S "$source/examples" -B "$work/examples" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/examples" >/dev/null || fail "the examples do not build against the installed package"
  cd "$work"
  "$work/examples/grab_frames" "" 5 "$work" >/dev/null || fail "grab_frames"
  [ "$(ls "$work"/frame-*.png | wc -l)" -eq 5 ] || fail "grab_frames did not write 5 pictures"
  "$work/examples/headless_view" "" 2 "$work/view.png" >/dev/null || fail "headless_view"
  "$work/examples/headless_wall" "" 2 "$work/wall.png" >/dev/null || fail "headless_wall"
  "$work/examples/find_camera" >"$work/find.out" || fail "find_camera"
  grep -q "ONVIF http://127.0.0.1" "$work/find.out" || fail "find_camera did not find the camera through ONVIF"
  if command -v Xvfb >/dev/null; then
    Xvfb :$((90 + RANDOM % 400)) -displayfd 3 -screen 0 800x600x24 3>"$work/display" >/dev/null 2>&1 &
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    DISPLAY=:$(cat "$work/display") "$work/examples/camera_window" "" 2 || fail "camera_window"
  elif [ -n "${CI:-}" ]; then
    fail "Xvfb is missing (CI is set)"
  fi
  # pkg-config alone: the shared library, found through the run path it sets.
  export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
  # shellcheck disable=SC2046
  g++ -std=c++20 "$source/examples/grab_frames.cpp" -DKZ_EXAMPLE_CAMSIM="\"$prefix/bin/kzcamsim\"" \
      $(pkg-config --cflags --libs kzmedia) -o "$work/grab_frames_pc" || fail "pkg-config build"
  "$work/grab_frames_pc" "" 2 "$work" >/dev/null || fail "grab_frames built with pkg-config"
  echo "examples built against $prefix and run"
  ;;
*) fail "unknown check $what" ;;
esac
