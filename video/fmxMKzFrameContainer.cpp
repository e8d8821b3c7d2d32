#include "video/fmxMKzFrameContainer.h"

#include <algorithm>
#include <cstring>

#include "foundation/fmxMKzByteOrder.h"

namespace kz {

namespace {

constexpr TKzFrameFormat kFrameFormats[] = {
    {TKzEncodingType::kzetJPEG, TKzImageType::kzitJPEG, SOI_JPEG, EOI_JPEG, "JPEG"},
    {TKzEncodingType::kzetHWL, TKzImageType::kzitHWL, SOI_HWL, EOI_HWL, "HWL"},
    {TKzEncodingType::kzetBMP, TKzImageType::kzitBMP, SOI_BMP, EOI_BMP, "BMP"},
    {TKzEncodingType::kzetPNG, TKzImageType::kzitPNG, SOI_PNG, EOI_PNG, "PNG"},
};

bool MarkerAt(const uint8_t* P, const TKzMarker& Marker) { return memcmp(P, Marker.data(), FORMAT_MARKER_LEN) == 0; }

void AppendMarker(std::vector<uint8_t>& Out, const TKzMarker& Marker) {
  Out.insert(Out.end(), Marker.begin(), Marker.begin() + FORMAT_MARKER_LEN);
}

template <typename T>
void AppendLE(std::vector<uint8_t>& Out, T V) {
  uint8_t b[sizeof(T)];
  KzPutLE<T>(b, V);
  Out.insert(Out.end(), b, b + sizeof(T));
}

}  // namespace

const TKzFrameFormat* KzFindFrameFormat(TKzEncodingType Encoding) {
  for (const TKzFrameFormat& f : kFrameFormats)
    if (f.Encoding == Encoding) return &f;
  return nullptr;
}

const TKzFrameFormat* KzFindFrameFormat(TKzImageType ImageType) {
  for (const TKzFrameFormat& f : kFrameFormats)
    if (f.ImageType == ImageType) return &f;
  return nullptr;
}

void KzScanFramedImages(const uint8_t* Data, int64_t Size, const TKzFrameFormat& Format, int64_t SearchFrom,
                        size_t MaxFrames, TKzFrameScan& Scan) {
  Scan = TKzFrameScan{};
  const int64_t low = std::max<int64_t>(SearchFrom - 2, 0);
  int64_t p = Size - 3;
  while (p >= low && Scan.Frames.size() < MaxFrames) {
    const void* hit = memrchr(Data + low, Format.End[0], static_cast<size_t>(p - low + 1));
    if (!hit) break;
    p = static_cast<const uint8_t*>(hit) - Data;
    if (!MarkerAt(Data + p, Format.End)) {
      --p;
      continue;
    }
    Scan.EndMarkerSeen = true;
    if (p >= 4) {
      const uint32_t size = KzGetLE<uint32_t>(Data + p - 4);
      const int64_t start = p - static_cast<int64_t>(KZ_FRAME_OVERHEAD - FORMAT_MARKER_LEN) - size;
      if (size > 0 && start >= 0 && MarkerAt(Data + start, Format.Begin) && KzGetLE<uint32_t>(Data + start + 3) == size) {
        if (Scan.Frames.empty()) Scan.Consumed = p + static_cast<int64_t>(FORMAT_MARKER_LEN);
        Scan.Frames.push_back({start, size, KzGetLE<int64_t>(Data + start + 7), KzGetLE<int64_t>(Data + start + 15)});
        p = start - static_cast<int64_t>(FORMAT_MARKER_LEN);  // an older frame ends before this one starts
        continue;
      }
    }
    --p;
  }
}

void KzAppendFramedImage(std::vector<uint8_t>& Out, const TKzFrameFormat& Format, const uint8_t* Image,
                         uint32_t Size, int64_t StartTime, int64_t DiffTime) {
  AppendMarker(Out, Format.Begin);
  AppendLE<uint32_t>(Out, Size);
  AppendLE<int64_t>(Out, StartTime);
  AppendLE<int64_t>(Out, DiffTime);
  Out.insert(Out.end(), Image, Image + Size);
  AppendLE<uint32_t>(Out, Size);
  AppendMarker(Out, Format.End);
}

void KzScanAudioFrames(const uint8_t* Data, int64_t Size, std::vector<TKzAudioFrame>& Frames) {
  const int64_t last = Size - static_cast<int64_t>(KZ_AUDIO_OVERHEAD);  // the last place a block can start
  int64_t p = 0;
  while (p <= last) {
    const void* hit = memchr(Data + p, SOI_AUDIO[0], static_cast<size_t>(last - p + 1));
    if (!hit) break;
    p = static_cast<const uint8_t*>(hit) - Data;
    if (MarkerAt(Data + p, SOI_AUDIO)) {
      const uint32_t size = KzGetLE<uint32_t>(Data + p + 3);
      if (size <= static_cast<uint64_t>(last - p)) {
        const int64_t tail = p + static_cast<int64_t>(KZ_AUDIO_HEAD) + size;
        if (KzGetLE<uint32_t>(Data + tail) == size && MarkerAt(Data + tail + 4, EOI_AUDIO)) {
          Frames.push_back({p, size, KzGetLE<int64_t>(Data + p + 7), KzGetLE<uint32_t>(Data + p + 15)});
          p = tail + 4 + static_cast<int64_t>(FORMAT_MARKER_LEN);
          continue;
        }
      }
    }
    ++p;
  }
}

void KzAppendAudioFrame(std::vector<uint8_t>& Out, const uint8_t* Audio, uint32_t Size, int64_t StartTime,
                        uint32_t Duration) {
  AppendMarker(Out, SOI_AUDIO);
  AppendLE<uint32_t>(Out, Size);
  AppendLE<int64_t>(Out, StartTime);
  AppendLE<uint32_t>(Out, Duration);
  Out.insert(Out.end(), Audio, Audio + Size);
  AppendLE<uint32_t>(Out, Size);
  AppendMarker(Out, EOI_AUDIO);
}

}  // namespace kz
