#include "video/fmxMKzChangeContainer.h"

#include <algorithm>
#include <cstring>

#include "foundation/fmxMKzByteOrder.h"
#include "foundation/fmxMKzType.h"

namespace kz {

namespace {

constexpr size_t kCrcAt = 4;
constexpr size_t kLengthAt = 8;
constexpr size_t kSizeAt = 12;
constexpr size_t kNumFrameAt = 32;
constexpr size_t kRecordLengthAt = 11;
constexpr uint64_t kLengthSlack = 64u << 10;
constexpr uint64_t kLengthCeiling = 64u << 20;

template <typename T>
void Append(std::vector<uint8_t>& Out, T V) {
  const size_t at = Out.size();
  Out.resize(at + sizeof(T));
  KzPutLE<T>(Out.data() + at, V);
}

void AppendMarker(std::vector<uint8_t>& Out, const TKzMarker& M) { Out.insert(Out.end(), M.begin(), M.end()); }

bool MarkerAt(const uint8_t* P, const TKzMarker& M) { return std::memcmp(P, M.data(), M.size()) == 0; }

// The part of a W x H area at (X, Y) that lies inside a Width x Height picture.
struct TClip {
  int32_t X0, Y0, X1, Y1;
  bool Empty() const { return X1 <= X0 || Y1 <= Y0; }
};
TClip Clip(int32_t X, int32_t Y, int32_t W, int32_t H, int32_t Width, int32_t Height) {
  return {std::max(X, 0), std::max(Y, 0), std::min(X + W, Width), std::min(Y + H, Height)};
}

}  // namespace

void KzChangeBegin(std::vector<uint8_t>& Out, int32_t Width, int32_t Height, int64_t StartTime, int64_t DiffTime,
                   uint8_t NumFrame) {
  Out.clear();
  AppendMarker(Out, MKz_BEGINIMG);
  Append<uint32_t>(Out, 0);
  Append<uint32_t>(Out, 0);
  Append<uint16_t>(Out, static_cast<uint16_t>(Width));
  Append<uint16_t>(Out, static_cast<uint16_t>(Height));
  Append<int64_t>(Out, StartTime);
  Append<int64_t>(Out, DiffTime);
  Out.push_back(NumFrame);
}

size_t KzChangeBeginRecord(std::vector<uint8_t>& Out, int32_t X, int32_t Y, int32_t W, int32_t H,
                           TKzAreaFormat Format, uint16_t F) {
  const size_t at = Out.size();
  Append<uint16_t>(Out, static_cast<uint16_t>(X));
  Append<uint16_t>(Out, static_cast<uint16_t>(Y));
  Append<uint16_t>(Out, static_cast<uint16_t>(W));
  Append<uint16_t>(Out, static_cast<uint16_t>(H));
  Out.push_back(static_cast<uint8_t>(Format));
  Append<uint16_t>(Out, F);
  Append<uint32_t>(Out, 0);
  return at;
}

void KzChangeEndRecord(std::vector<uint8_t>& Out, size_t RecordAt) {
  const size_t picture = RecordAt + KZ_CHANGE_RECORD_HEAD;
  KzPutLE<uint32_t>(Out.data() + RecordAt + kRecordLengthAt, static_cast<uint32_t>(Out.size() - picture));
}

void KzChangeDropRecord(std::vector<uint8_t>& Out, size_t RecordAt) { Out.resize(RecordAt); }

uint32_t KzChangeCrc(const uint8_t* Data, size_t Size) {
  // The CRC covers the container with its CRC and length fields still 0.
  uint8_t head[KZ_CHANGE_HEAD];
  std::memcpy(head, Data, KZ_CHANGE_HEAD);
  std::memset(head + kCrcAt, 0, 8);
  uint32_t crc = Crc32(head, KZ_CHANGE_HEAD) ^ 0xFFFFFFFFu;
  // Crc32 is the one-shot form; continue it over the rest byte by byte.
  for (size_t i = KZ_CHANGE_HEAD; i < Size; ++i) crc = Crc32Table[(crc ^ Data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void KzChangeRefreshCrc(uint8_t* Data, size_t Size) {
  if (Size < KZ_CHANGE_MIN_LENGTH) return;
  KzPutLE<uint32_t>(Data + kCrcAt, KzChangeCrc(Data, Size));
}

void KzChangeFinish(std::vector<uint8_t>& Out) {
  AppendMarker(Out, MKz_ENDIMG);
  KzPutLE<uint32_t>(Out.data() + kLengthAt, 0);
  KzPutLE<uint32_t>(Out.data() + kCrcAt, KzChangeCrc(Out.data(), Out.size()));
  KzPutLE<uint32_t>(Out.data() + kLengthAt, static_cast<uint32_t>(Out.size()));
}

bool KzIsChangeContainer(const uint8_t* Data, size_t Size) {
  return Size >= KZ_CHANGE_MIN_LENGTH && MarkerAt(Data, MKz_BEGINIMG);
}

uint64_t KzChangeLengthBound(int32_t Width, int32_t Height) {
  const uint64_t pixels = static_cast<uint64_t>(std::max(Width, 0)) * static_cast<uint64_t>(std::max(Height, 0));
  return std::min(pixels * 5 + kLengthSlack, kLengthCeiling);
}

TKzChangeFind KzFindChangeContainer(const uint8_t* Data, size_t Size, size_t& Pos, TKzChangeHeader& Header) {
  constexpr size_t kPeek = kSizeAt + 4;  // marker, CRC, length, width, height
  for (; Pos + 12 < Size; ++Pos) {
    if (!MarkerAt(Data + Pos, MKz_BEGINIMG)) continue;
    if (Pos + kPeek > Size) return TKzChangeFind::kzcfNeedMore;
    const uint8_t* p = Data + Pos;
    const uint32_t length = KzGetLE<uint32_t>(p + kLengthAt);
    const int32_t w = KzGetLE<uint16_t>(p + kSizeAt), h = KzGetLE<uint16_t>(p + kSizeAt + 2);
    const bool plausible = length >= KZ_CHANGE_MIN_LENGTH && w > 0 && h > 0 && w <= KZ_CHANGE_MAX_SIDE &&
                           h <= KZ_CHANGE_MAX_SIDE && length <= KzChangeLengthBound(w, h);
    if (!plausible) {
      Pos += 3;  // the loop steps past the false "DMIB"
      continue;
    }
    if (length > Size - Pos) return TKzChangeFind::kzcfNeedMore;
    if (!MarkerAt(p + length - 4, MKz_ENDIMG)) {
      Pos += 3;
      continue;
    }
    Header.Crc = KzGetLE<uint32_t>(p + kCrcAt);
    Header.Length = length;
    Header.Width = static_cast<uint16_t>(w);
    Header.Height = static_cast<uint16_t>(h);
    Header.StartTime = KzGetLE<int64_t>(p + KZ_CHANGE_TIME_AT);
    Header.DiffTime = KzGetLE<int64_t>(p + KZ_CHANGE_DIFFTIME_AT);
    Header.NumFrame = p[kNumFrameAt];
    return TKzChangeFind::kzcfFound;
  }
  return TKzChangeFind::kzcfNone;
}

bool KzNextAreaRecord(const uint8_t* Data, size_t Length, size_t& At, TKzAreaRecord& Record) {
  const size_t end = Length - 4;  // the end marker
  if (At + KZ_CHANGE_RECORD_HEAD > end) return false;
  const uint8_t* p = Data + At;
  Record.X = KzGetLE<uint16_t>(p);
  Record.Y = KzGetLE<uint16_t>(p + 2);
  Record.W = KzGetLE<uint16_t>(p + 4);
  Record.H = KzGetLE<uint16_t>(p + 6);
  Record.Format = p[8];
  Record.F = KzGetLE<uint16_t>(p + 9);
  Record.Size = KzGetLE<uint32_t>(p + kRecordLengthAt);
  Record.Picture = At + KZ_CHANGE_RECORD_HEAD;
  if (Record.Size == 0 || Record.Size > end - Record.Picture) return false;
  At = Record.Picture + Record.Size;
  return true;
}

void KzMakeDifferencePicture(const TKzMCustomBitmap& New, const TKzMCustomBitmap& Base, int32_t X, int32_t Y,
                             int32_t W, int32_t H, TKzMCustomBitmap& Out) {
  Out.SetSize(W, H);
  const TClip c = Clip(X, Y, W, H, std::min(New.Width(), Base.Width()), std::min(New.Height(), Base.Height()));
  if (c.Empty()) return;
  for (int32_t y = c.Y0; y < c.Y1; ++y) {
    const auto* n = reinterpret_cast<const uint8_t*>(New.ScanLine(y) + c.X0);
    const auto* b = reinterpret_cast<const uint8_t*>(Base.ScanLine(y) + c.X0);
    auto* o = reinterpret_cast<uint8_t*>(Out.ScanLine(y - Y) + (c.X0 - X));
    for (int32_t i = 0; i < (c.X1 - c.X0) * 4; i += 4) {
      for (int k = 0; k < 3; ++k) o[i + k] = static_cast<uint8_t>((n[i + k] - b[i + k] + 255) >> 1);
      o[i + 3] = 255;
    }
  }
}

void KzAddDifferencePicture(TKzMCustomBitmap& Target, int32_t X, int32_t Y, int32_t W, int32_t H,
                            const TKzMCustomBitmap& Diff) {
  const TClip c = Clip(X, Y, std::min(W, Diff.Width()), std::min(H, Diff.Height()), Target.Width(), Target.Height());
  if (c.Empty()) return;
  for (int32_t y = c.Y0; y < c.Y1; ++y) {
    auto* t = reinterpret_cast<uint8_t*>(Target.ScanLine(y) + c.X0);
    const auto* d = reinterpret_cast<const uint8_t*>(Diff.ScanLine(y - Y) + (c.X0 - X));
    for (int32_t i = 0; i < (c.X1 - c.X0) * 4; i += 4) {
      for (int k = 0; k < 3; ++k) t[i + k] = static_cast<uint8_t>(std::clamp(2 * d[i + k] - 255 + t[i + k], 0, 255));
      t[i + 3] = 255;
    }
  }
}

void KzPasteAreaPicture(TKzMCustomBitmap& Target, int32_t X, int32_t Y, int32_t W, int32_t H,
                        const TKzMCustomBitmap& Picture) {
  const TClip c =
      Clip(X, Y, std::min(W, Picture.Width()), std::min(H, Picture.Height()), Target.Width(), Target.Height());
  if (c.Empty()) return;
  for (int32_t y = c.Y0; y < c.Y1; ++y)
    std::copy_n(Picture.ScanLine(y - Y) + (c.X0 - X), c.X1 - c.X0, Target.ScanLine(y) + c.X0);
}

void KzCopyArea(const TKzMCustomBitmap& Source, int32_t X, int32_t Y, int32_t W, int32_t H, TKzMCustomBitmap& Out) {
  Out.SetSize(W, H);
  const TClip c = Clip(X, Y, W, H, Source.Width(), Source.Height());
  if (c.Empty()) return;
  for (int32_t y = c.Y0; y < c.Y1; ++y)
    std::copy_n(Source.ScanLine(y) + c.X0, c.X1 - c.X0, Out.ScanLine(y - Y) + (c.X0 - X));
}

}  // namespace kz
