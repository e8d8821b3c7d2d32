// The library's version. This file is the one place it is written: the build
// reads the three numbers from here for the CMake package and pkg-config.
#pragma once

#define KZMEDIA_VERSION_MAJOR 0
#define KZMEDIA_VERSION_MINOR 1
#define KZMEDIA_VERSION_PATCH 0

#define KZMEDIA_VERSION_TEXT_(A, B, C) #A "." #B "." #C
#define KZMEDIA_VERSION_TEXT(A, B, C) KZMEDIA_VERSION_TEXT_(A, B, C)
// "0.1.0"
#define KZMEDIA_VERSION_STRING KZMEDIA_VERSION_TEXT(KZMEDIA_VERSION_MAJOR, KZMEDIA_VERSION_MINOR, KZMEDIA_VERSION_PATCH)
// One number that compares: 0.1.0 is 100, 1.2.3 is 10203.
#define KZMEDIA_VERSION (KZMEDIA_VERSION_MAJOR * 10000 + KZMEDIA_VERSION_MINOR * 100 + KZMEDIA_VERSION_PATCH)

namespace kz {

// The version of the library linked into the program, which may differ from
// KZMEDIA_VERSION_STRING of the headers it was compiled with.
const char* KzMediaVersion();

}  // namespace kz
