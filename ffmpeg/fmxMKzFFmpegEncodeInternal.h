// The open output of the FFmpeg engine's encoding half (internal to ffmpeg/).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "foundation/fmxMKzBitmap.h"

namespace kz {

struct TKzFFmpegEncodeState {
  AVFormatContext* Out = nullptr;
  bool FileOpen = false;       // the avio file is open
  bool HeaderWritten = false;  // the trailer is due
  bool WriteFailed = false;    // a write failed: nothing more is written
  std::string FileName;
  int64_t GoodBytes = 0;       // the file's length after the last write that reached it whole
  AVPacket* Packet = nullptr;

  AVCodecContext* Video = nullptr;
  AVStream* VideoStream = nullptr;
  AVFrame* VideoFrame = nullptr;
  SwsContext* Scaler = nullptr;
  TKzMBitmap Black;            // shown until the first picture
  int64_t LastVideoPts = -1;

  AVCodecContext* Audio = nullptr;
  AVStream* AudioStream = nullptr;
  AVFrame* AudioFrame = nullptr;
  SwrContext* Resampler = nullptr;
  AVAudioFifo* Fifo = nullptr;  // converted samples waiting for a whole frame
  int32_t AudioFrameSize = 0;   // samples per encoder frame
  bool WholeFrames = true;      // the encoder takes only whole frames
  int32_t InFrameBytes = 0;     // bytes of one incoming sample frame
  std::vector<uint8_t> InBuffer;
  int64_t AudioPts = 0;         // samples encoded

  TKzFFmpegEncodeStats Stats;
};

// Flushes what the muxer wrote and notes the file's whole length; false
// when the write failed.
bool KzNoteWrittenWhole(TKzFFmpegEncodeState& State);

}  // namespace kz
