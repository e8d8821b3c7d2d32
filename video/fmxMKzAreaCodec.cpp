#include "video/fmxMKzAreaCodec.h"

#include "video/Fmxmkzwavelet.h"
#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzLibJpeg.h"

namespace kz {

namespace {

constexpr int64_t kCompactJpegPixels = 65536;  // up to this size JPEG areas get tables of their own

struct TEncodingRow {
  TKzEncodingType Encoding;
  uint8_t Format;  // 0: chosen per picture
  bool Change;
};

constexpr TEncodingRow kEncodings[] = {
    {TKzEncodingType::kzetJPEG, 1, false},      {TKzEncodingType::kzetJPEGChange, 1, true},
    {TKzEncodingType::kzetHWL, 2, false},       {TKzEncodingType::kzetHWLChange, 2, true},
    {TKzEncodingType::kzetBMP, 3, false},       {TKzEncodingType::kzetBMPChange, 3, true},
    {TKzEncodingType::kzetPNG, 4, false},       {TKzEncodingType::kzetPNGChange, 4, true},
    {TKzEncodingType::kzetMixFormat, 0, false}, {TKzEncodingType::kzetMixFormatChange, 0, true},
};

const TEncodingRow* Row(TKzEncodingType Encoding) {
  for (const TEncodingRow& r : kEncodings)
    if (r.Encoding == Encoding) return &r;
  return nullptr;
}

// A 24-bit BMP file of the picture: header and padded rows.
int64_t BmpFileSize(const TKzMCustomBitmap& Picture) {
  return 54 + TKzMCustomBitmap::DIBRowBytes(24, Picture.Width()) * Picture.Height();
}

}  // namespace

uint8_t KzAreaFormatOf(TKzEncodingType Encoding) {
  const TEncodingRow* r = Row(Encoding);
  return r ? r->Format : 0;
}

bool KzIsChangeEncoding(TKzEncodingType Encoding) {
  const TEncodingRow* r = Row(Encoding);
  return r && r->Change;
}

TKzAreaCodec::TKzAreaCodec() : FWavelet(std::make_unique<TWavelet>()) {}
TKzAreaCodec::~TKzAreaCodec() = default;

bool TKzAreaCodec::Encode(TKzAreaFormat Format, const TKzMCustomBitmap& Picture, int32_t Quality,
                          std::vector<uint8_t>& Out) {
  FStream.Clear();
  FError.clear();
  bool ok = false;
  switch (Format) {
    case TKzAreaFormat::kzafJPEG:
      // Tables made for each picture save most of a small area's head; a
      // large picture hardly gains and is encoded faster with the standard ones.
      ok = Picture.GetLength() <= kCompactJpegPixels && KzLibJpegAvailable()
               ? WriteCompactJpegStream(Picture, FStream, Quality)
               : KzCodecEncodeJPEG(Picture, FStream, Quality, &FError);
      if (!ok && FError.empty()) FError = KzLibJpegLastError();
      break;
    case TKzAreaFormat::kzafPNG: ok = KzCodecEncodePNG(Picture, FStream, &FError); break;
    case TKzAreaFormat::kzafBMP: ok = KzCodecEncodeBMP(Picture, FStream, &FError); break;
    case TKzAreaFormat::kzafHWL:
      FWavelet->SetSourceImage(Picture);
      FWavelet->SetCompressionQuality(Quality);
      ok = FWavelet->WriteHWLToStream(FStream);
      if (!ok) FError = "picture size not codable as HWL";
      break;
  }
  if (!ok || FStream.Size() <= 0) return false;
  Out.insert(Out.end(), FStream.Memory(), FStream.Memory() + FStream.Size());
  return true;
}

bool TKzAreaCodec::EncodeBestSize(const TKzMCustomBitmap& Picture, int32_t Quality, std::vector<uint8_t>& Out,
                                  TKzAreaFormat& Format) {
  const size_t at = Out.size();
  Format = TKzAreaFormat::kzafBMP;
  int64_t best = BmpFileSize(Picture);
  std::vector<uint8_t> png;
  if (Encode(TKzAreaFormat::kzafJPEG, Picture, Quality, Out) && static_cast<int64_t>(Out.size() - at) < best) {
    best = static_cast<int64_t>(Out.size() - at);
    Format = TKzAreaFormat::kzafJPEG;
  } else {
    Out.resize(at);
  }
  if (Encode(TKzAreaFormat::kzafPNG, Picture, Quality, png) && static_cast<int64_t>(png.size()) < best) {
    Out.resize(at);
    Out.insert(Out.end(), png.begin(), png.end());
    Format = TKzAreaFormat::kzafPNG;
  }
  if (Format == TKzAreaFormat::kzafBMP) return Encode(TKzAreaFormat::kzafBMP, Picture, Quality, Out);
  return true;
}

bool TKzAreaCodec::Decode(uint8_t Format, const uint8_t* Data, size_t Size, TKzMBitmap& Out) {
  FError.clear();
  switch (static_cast<TKzAreaFormat>(Format)) {
    case TKzAreaFormat::kzafJPEG: return KzCodecDecodeJPEG(Data, Size, Out, &FError);
    case TKzAreaFormat::kzafPNG: return KzCodecDecodePNG(Data, Size, Out, &FError);
    case TKzAreaFormat::kzafBMP:
      return KzDetectImageFormat(Data, Size) == TKzImageFormat::kzifBMP && KzCodecDecode(Data, Size, Out, &FError);
    case TKzAreaFormat::kzafHWL: {
      FStream.Clear();
      FStream.Write(Data, static_cast<int64_t>(Size));
      FStream.SetPosition(0);
      if (!FWavelet->ReadHWLFromStream(FStream)) return false;
      Out.AssignKzMBitmap(FWavelet->BitmapHWL());
      return true;
    }
  }
  FError = "unknown picture format " + std::to_string(Format);
  return false;
}

}  // namespace kz
