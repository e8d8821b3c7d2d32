// The state of the microphone's WAV-file source (its file, read-ahead
// buffer and play position). The microphone's units only.
#pragma once
#include <vector>

#include "audio/fmxMKzCustomMic.h"

namespace kz {

struct TCustomKzMicrophone::TWavSource {
  explicit TWavSource(const std::string& FileName) : File(FileName, TFileMode::fmOpenRead) {}
  TFileStream File;
  TKzWaveHeader Header;
  std::vector<uint8_t> Buffer;  // file layout
  int64_t Capacity = 0;         // frames the buffer holds
  int64_t Buffered = 0;         // frames in the buffer
  int64_t Consumed = 0;         // of those, already played
  int64_t FileFrame = 0;        // next frame to read from the file
  int64_t Position = 0;         // frames played
  uint64_t StartTick = 0;
  uint64_t BlocksDone = 0;
};

}  // namespace kz
