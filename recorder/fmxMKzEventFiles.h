// The files of the event recorder: their names from the pattern, and the
// side file that lists the motion events inside a continuous segment.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "recorder/fmxMKzEventTypes.h"

namespace kz {

// The default pattern: source name, kind ("clip" or "segment"), local date
// and time of the file's first frame.
constexpr const char* KzDefaultEventFileNamePattern = "{source}_{kind}_{date}_{time}.mkv";

// Pattern with {source}, {kind}, {date} (YYYYMMDD) and {time} (HHMMSS-mmm)
// filled in for the local time WallMs (ms since the epoch). Characters that
// cannot stand in a file name ('/', control characters) become '_'; ".mkv"
// is added when the pattern ends without an extension.
std::string KzEventFileName(const std::string& Pattern, const std::string& Source, const std::string& Kind,
                            int64_t WallMs);
// Folder/Name, or Folder/stem-N.ext for the smallest N that does not exist yet.
std::string KzUniqueFilePath(const std::string& Folder, const std::string& Name);

// The side file of a recording: FileName + ".events".
std::string KzEventsSideFileName(const std::string& FileName);
// Writes one line per event, "start end left top right bottom" with start
// and end in seconds from FileStartMs (three decimals). False when the
// file cannot be written.
bool KzWriteEventsSideFile(const std::string& FileName, int64_t FileStartMs, const std::vector<TKzMotionEvent>& Events);
// Reads such a file back (times in ms from the file's start); false when it
// cannot be read. Lines that do not parse are skipped.
bool KzReadEventsSideFile(const std::string& FileName, std::vector<TKzMotionEvent>& Events);

}  // namespace kz
