#!/usr/bin/env bash
# Prints the share of tests and fuzz targets in the code base, by non-blank
# lines of C++ (*.cpp, *.h): tests/ + fuzz/ against the library and the
# programs (everything outside tests/, fuzz/ and bench/).
set -euo pipefail
cd "$(dirname "$0")/.."
count() { grep -v '^[[:space:]]*$' "$@" /dev/null | wc -l; }
mapfile -t tests < <(git ls-files -co --exclude-standard -- 'tests/*.cpp' 'tests/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
mapfile -t code < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | grep -Ev '^(tests|fuzz|bench)/')
t=$(count "${tests[@]}")
c=$(count "${code[@]}")
awk -v t="$t" -v c="$c" 'BEGIN { printf "tests+fuzz %d / code %d = %.1f %%\n", t, c, 100 * t / c }'
