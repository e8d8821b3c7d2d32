// Turning what a source hands over into the event recorder's packets: the
// Motion-JPEG frames the source cut and demuxed packets put on the
// recorder's millisecond clock, and decoded pictures (sources that have
// nothing compressed) encoded as JPEG. Not locked: one source thread each.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "recorder/fmxMKzEventTypes.h"
#include "video/fmxMKzConsumers.h"
#include "video/fmxMKzMjpegSplitter.h"

namespace kz {

class TKzImageWrapper;

// The width and height in a JPEG's frame header; false when it has none.
bool KzJpegFrameSize(const uint8_t* Data, size_t Size, int32_t& Width, int32_t& Height);

// Makes packets on the recorder's clock (ms). The stream description is
// shared by the packets until it changes.
class TKzEventPacketMaker {
public:
  // A whole JPEG frame that arrived at NowMs. Motion-JPEG carries no times
  // of its own: frames go on a steady grid of the measured frame period
  // while they arrive no later than half a period after it, and back to
  // their arrival time when later, so that network jitter leaves a file
  // with even frame times.
  TKzEventPacket FromJpeg(std::shared_ptr<const std::vector<uint8_t>> Jpeg, int64_t NowMs);
  TKzEventPacket FromJpeg(std::vector<uint8_t> Jpeg, int64_t NowMs) {
    return FromJpeg(std::make_shared<const std::vector<uint8_t>>(std::move(Jpeg)), NowMs);
  }
  // A demuxed packet that arrived at NowMs: its own times, moved so that
  // the stream's first packet lies at NowMs (again after a jump of more
  // than JumpMs, or when times go backwards).
  TKzEventPacket FromDemuxed(const TKzCompressedVideoPacket& Packet, int64_t NowMs);
  static constexpr int64_t JumpMs = 10000;

private:
  std::shared_ptr<const TKzEventStreamInfo> StreamOf(const TKzEventStreamInfo& Info);
  std::shared_ptr<const TKzEventStreamInfo> FStream;
  bool FAnchored = false;
  int64_t FOffsetMs = 0, FLastDts = 0, FLastNow = 0;
  // The grid of frames without times.
  bool FGridStarted = false;
  int64_t FLastArrival = 0, FGridMs = 0;
  double FPeriodMs = 0;
};

// Encodes a decoded picture as a JPEG packet at NowMs (quality Quality).
TKzEventPacket KzEventPacketFromBitmap(TKzImageWrapper& Encoder, TKzEventPacketMaker& Maker,
                                       const TKzMCustomBitmap& Bitmap, int64_t NowMs, int32_t Quality = 85);

}  // namespace kz
