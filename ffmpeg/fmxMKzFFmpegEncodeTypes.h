// What the encoding half of the FFmpeg engine writes: the streams, their
// encoders and the format of the audio it is fed.
#pragma once
#include <cstdint>
#include <string>

#include "ffmpeg/fmxMKzFFmpegLists.h"
#include "foundation/fmxMKzType.h"

namespace kz {

struct TKzFFmpegEncodeSettings {
  // A stream is written only when it is used and has a codec: an FFmpeg
  // codec ID (0: the container's default) or an encoder name.
  bool UseVideo = true, UseAudio = true;
  int32_t VideoCodecID = 0;
  std::string VideoCodecName;
  int64_t VideoBitrate = 800000;
  int32_t VideoWidth = 720, VideoHeight = 576;  // made even when the file opens
  int32_t FramePerSec = 25;
  int32_t GroupOfPicturesSize = 12;
  int32_t MaxBFrameCount = -1;       // −1: the encoder's default
  int32_t ReferenceFrameCount = -1;  // −1: the encoder's default
  int32_t Threads = 0;               // 0: the encoder decides
  bool FullRange = false;            // full-range YUV (Motion-JPEG)

  int32_t AudioCodecID = 0;
  std::string AudioCodecName;
  TKzSampleFormat AudioSampleFormat = TKzSampleFormat::kzsfFloat;
  int64_t AudioBitrate = 64000;
  int32_t AudioSampleRate = 44100;
  int32_t AudioChannels = 1;

  // The interleaved PCM the audio supply hands over.
  TKzAudioInfo InAudio{44100, TKzBitsPerSample::kzbps16, 1};
};

// Counts of the encoding half, for progress reports.
struct TKzFFmpegEncodeStats {
  int64_t VideoFrames = 0;   // pictures handed to the video encoder
  int64_t AudioSamples = 0;  // samples handed to the audio encoder
  int64_t BytesWritten = 0;  // packet bytes written
};

}  // namespace kz
