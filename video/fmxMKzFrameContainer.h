// The containers in which senders frame pictures and audio blocks inside a
// chunk, and the scans that find them. Little-endian throughout.
//
// Picture: start marker (3 bytes: "JGB", "HWB", "BMB" or "PNB"), Size (4,
// unsigned), StartTime (8, signed, sender milliseconds), DiffTime (8,
// signed, milliseconds since the sender's previous frame), Size bytes of
// picture file, Size again (4), end marker (3: "JGE", "HWE", "BME", "PNE").
// Audio: "AUB", Size (4), StartTime (8), duration in ms (4), Size bytes of
// audio, Size again (4), "AUE".
//
// The scans are pure functions over a buffer: any thread, never block.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/fmxMKzType.h"

namespace kz {

// The kind of a framed picture, as the receiver's OnDecodeVideo sees it.
enum class TKzImageType : uint8_t { kzitJPEG = 1, kzitHWL = 2, kzitBMP = 3, kzitPNG = 4 };

// One framed-picture format: the stream encoding that carries it whole, its
// picture kind and markers.
struct TKzFrameFormat {
  TKzEncodingType Encoding;
  TKzImageType ImageType;
  TKzMarker Begin;
  TKzMarker End;
  const char* Name;
};

constexpr size_t KZ_FRAME_HEAD = 23;      // marker, Size, StartTime, DiffTime
constexpr size_t KZ_FRAME_OVERHEAD = 30;  // head plus Size and end marker
constexpr size_t KZ_AUDIO_HEAD = 19;      // marker, Size, StartTime, duration
constexpr size_t KZ_AUDIO_OVERHEAD = 26;

// The format an encoding frames its pictures in; null for the changed-area
// encodings and the mixed format.
const TKzFrameFormat* KzFindFrameFormat(TKzEncodingType Encoding);
const TKzFrameFormat* KzFindFrameFormat(TKzImageType ImageType);

// One picture found in a buffer.
struct TKzFramedImage {
  int64_t Offset = 0;  // of the start marker
  uint32_t Size = 0;
  int64_t StartTime = 0;
  int64_t DiffTime = 0;
  int64_t ImageOffset() const { return Offset + static_cast<int64_t>(KZ_FRAME_HEAD); }
  int64_t End() const { return Offset + Size + static_cast<int64_t>(KZ_FRAME_OVERHEAD); }
};

struct TKzFrameScan {
  std::vector<TKzFramedImage> Frames;  // newest first
  bool EndMarkerSeen = false;          // any end marker, valid or not
  // Bytes up to and including the end marker of the newest valid frame
  // (0 when there is none): what a reader may drop.
  int64_t Consumed = 0;
};

// Scans Data backwards for pictures of Format. A frame is valid when its
// start marker stands Size + 27 bytes before its end marker, Size > 0 and
// both Size fields agree; the scan goes on below each valid frame's start
// and stops after MaxFrames. End markers are looked for only where they can
// reach bytes at or after SearchFrom (the bytes before were searched before
// and hold no frame end).
void KzScanFramedImages(const uint8_t* Data, int64_t Size, const TKzFrameFormat& Format, int64_t SearchFrom,
                        size_t MaxFrames, TKzFrameScan& Scan);

// Writes one framed picture (senders; tests).
void KzAppendFramedImage(std::vector<uint8_t>& Out, const TKzFrameFormat& Format, const uint8_t* Image,
                         uint32_t Size, int64_t StartTime, int64_t DiffTime);

// One audio block found in a buffer.
struct TKzAudioFrame {
  int64_t Offset = 0;  // of the start marker
  uint32_t Size = 0;
  int64_t StartTime = 0;
  uint32_t Duration = 0;  // milliseconds
  int64_t DataOffset() const { return Offset + static_cast<int64_t>(KZ_AUDIO_HEAD); }
};

// Scans Data forwards for audio blocks: a block counts when both Size
// fields agree and its end marker stands where Size says; anything else is
// skipped byte by byte.
void KzScanAudioFrames(const uint8_t* Data, int64_t Size, std::vector<TKzAudioFrame>& Frames);

void KzAppendAudioFrame(std::vector<uint8_t>& Out, const uint8_t* Audio, uint32_t Size, int64_t StartTime,
                        uint32_t Duration);

// How many frames to draw, walking from the newest (I = 0) to older ones
// and adding up DiffTime(I): the walk stops after the first frame whose
// DiffTime is 0 or at which the sum exceeds Latency; the frames walked are
// drawn. With Latency 0 that is the newest alone.
template <typename F>
size_t KzFramesWithinLatency(size_t Count, int64_t Latency, F DiffTime) {
  int64_t sum = 0;
  for (size_t i = 0; i < Count; ++i) {
    const int64_t d = DiffTime(i);
    sum += d;
    if (d == 0 || sum > Latency) return i + 1;
  }
  return Count;
}

}  // namespace kz
