#include "video/fmxMKzImageWrapper.h"

#include <algorithm>

#include "video/fmxMKzIntelJpeg.h"
#include "video/fmxMKzLibJpeg.h"

namespace kz {

namespace {

// Bytes the load may use: Count, or all from the position when Count <= 0,
// never more than the stream holds.
int64_t Usable(TStream& Stream, int64_t Count) {
  const int64_t left = std::max<int64_t>(0, Stream.Size() - Stream.Position());
  return Count <= 0 ? left : std::min(Count, left);
}

TKzImageFormat PeekFormat(TStream& Stream, int64_t Count) {
  uint8_t head[8] = {};
  const int64_t pos = Stream.Position();
  const int64_t got = Stream.Read(head, std::min<int64_t>(Count, sizeof(head)));
  Stream.SetPosition(pos);
  return KzDetectImageFormat(head, static_cast<size_t>(std::max<int64_t>(got, 0)));
}

}  // namespace

TKzImageWrapper::TKzImageWrapper() { SetCoderType(TKzCoderType::kzctAuto); }

void TKzImageWrapper::SetCoderType(TKzCoderType Type) {
  FCoderType = Type;
  TKzCoderType chosen = TKzCoderType::kzctStandart;
  if ((Type == TKzCoderType::kzctAuto || Type == TKzCoderType::kzctLibJpeg) && KzLibJpegAvailable()) {
    chosen = TKzCoderType::kzctLibJpeg;
  } else if ((Type == TKzCoderType::kzctAuto || Type == TKzCoderType::kzctIntelJpeg) && IsIJL()) {
    chosen = TKzCoderType::kzctIntelJpeg;
  }
  CurCoderTypeL = CurCoderTypeS = chosen;
  if (chosen == TKzCoderType::kzctIntelJpeg && !MemoryStream) MemoryStream = std::make_unique<TMemoryStream>();
}

bool TKzImageWrapper::Finish(bool Ok, std::string Error) {
  FErrorText = Ok ? std::string() : std::move(Error);
  return Ok;
}

bool TKzImageWrapper::DecodeStandard(TStream& Stream, int64_t Count, TKzMCustomBitmap& Target) {
  if (!MemoryStream) MemoryStream = std::make_unique<TMemoryStream>();
  TMemoryStream& m = *MemoryStream;
  if (!m.SetSize(Count)) return Finish(false, "out of memory for " + std::to_string(Count) + " bytes");
  const int64_t got = Count > 0 ? Stream.Read(m.Memory(), Count) : 0;
  std::string error;
  const bool ok = KzCodecDecode(m.Memory(), static_cast<size_t>(std::max<int64_t>(got, 0)), Target, &error) &&
                  !Target.IsEmpty();
  return Finish(ok, ok || !error.empty() ? error : "the picture is empty");
}

bool TKzImageWrapper::LoadFromStream(TStream& Stream, int64_t Count, TKzMCustomBitmap* Target) {
  TKzMCustomBitmap& target = Target != nullptr ? *Target : FBitmap;
  const int64_t start = Stream.Position();
  const int64_t n = Usable(Stream, Count);
  FLastScaleDenom = 1;
  bool ok;
  if (n == 0) {
    ok = Finish(false, "no data");
  } else if (CurCoderTypeL == TKzCoderType::kzctLibJpeg && PeekFormat(Stream, n) == TKzImageFormat::kzifJPEG) {
    ok = ReadJpegStreamScaled(Stream, target, n, FDecodeSize, &FLastScaleDenom);
    if (!ok && !FDecodeSize.IsFull()) {
      Stream.SetPosition(start);
      ok = ReadJpegStreamScaled(Stream, target, n, TKzDecodeSize::Full(), &FLastScaleDenom);
    }
    Finish(ok, KzLibJpegLastError());
    if (!ok) Stream.SetPosition(start + n);
  } else {
    ok = DecodeStandard(Stream, n, target);
  }
  IsImgError = !ok;
  return ok;
}

bool TKzImageWrapper::FMLoadImgFromStream(TStream& Stream, int64_t Count, TKzMCustomBitmap* Target) {
  const int64_t n = Usable(Stream, Count);
  const bool ok = n > 0 ? DecodeStandard(Stream, n, Target != nullptr ? *Target : FBitmap) : Finish(false, "no data");
  IsImgError = !ok;
  return ok;
}

bool TKzImageWrapper::LoadFromFile(const std::string& FileName, TKzMCustomBitmap* Target) {
  TFileStream f(FileName, TFileMode::fmOpenRead);
  if (!f.Valid()) {
    IsImgError = true;
    return Finish(false, "cannot open " + FileName);
  }
  return LoadFromStream(f, 0, Target);
}

bool TKzImageWrapper::SaveToStream(TStream& Stream, const TKzMCustomBitmap* Bitmap, int32_t Quality) {
  const TKzMCustomBitmap& b = Bitmap != nullptr ? *Bitmap : FBitmap;
  if (CurCoderTypeS == TKzCoderType::kzctLibJpeg) {
    const bool ok = WriteJpegStream(b, Stream, Quality);
    return Finish(ok, KzLibJpegLastError());
  }
  std::string error;
  const bool ok = KzCodecEncodeJPEG(b, Stream, Quality, &error);
  return Finish(ok, error);
}

bool TKzImageWrapper::SaveToFile(const std::string& FileName, const TKzMCustomBitmap* Bitmap, int32_t Quality) {
  TFileStream f(FileName, TFileMode::fmCreate);
  if (!f.Valid()) return Finish(false, "cannot create " + FileName);
  return SaveToStream(f, Bitmap, Quality);
}

}  // namespace kz
