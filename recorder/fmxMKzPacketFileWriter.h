// Writes compressed video packets unchanged into a media file through
// FFmpeg's muxers: H.264/H.265 and Motion-JPEG into Matroska (.mkv), or
// whatever container the file name's extension names when it takes the
// codec (.avi for Motion-JPEG, .mp4 for H.264). Times are rebased so that
// the file starts at 0. A failed write closes the file as far as it got
// and leaves the writer failed: the file is cut back to the last packet
// that reached it whole, so that it plays to its end. Not locked.
#pragma once
#include <cstdint>
#include <string>

#include "recorder/fmxMKzEventTypes.h"

struct AVFormatContext;
struct AVPacket;

namespace kz {

class TKzPacketFileWriter {
public:
  TKzPacketFileWriter() = default;
  ~TKzPacketFileWriter();
  TKzPacketFileWriter(const TKzPacketFileWriter&) = delete;
  TKzPacketFileWriter& operator=(const TKzPacketFileWriter&) = delete;

  // Creates FileName for the stream Info; packets then start at StartMs.
  // False with Error() set when the file cannot be made.
  bool Open(const std::string& FileName, const TKzEventStreamInfo& Info, int64_t StartMs);
  // Appends one packet; false (and the file finished) when writing fails.
  bool Write(const TKzEventPacket& Packet);
  // Finishes the file (trailer, close). Safe to call twice.
  void Close();

  bool IsOpen() const { return FContext != nullptr; }
  const std::string& FileName() const { return FFileName; }
  const std::string& Error() const { return FError; }
  int64_t Packets() const { return FPackets; }
  int64_t Bytes() const { return FBytes; }
  int64_t StartMs() const { return FStartMs; }
  // Time of the last packet written (ms on the recorder's clock).
  int64_t LastMs() const { return FLastMs; }

private:
  bool Fail(const std::string& What, int Code);

  AVFormatContext* FContext = nullptr;
  AVPacket* FPacket = nullptr;
  bool FHeaderWritten = false;
  bool FWriteFailed = false;
  int64_t FGoodBytes = 0;  // the file's length after the last packet that reached it whole
  std::string FFileName, FError;
  int64_t FStartMs = 0, FLastMs = 0, FLastDts = INT64_MIN;
  int64_t FPackets = 0, FBytes = 0;
};

}  // namespace kz
