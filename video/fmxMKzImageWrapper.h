// The image decoder wrapper: turns JPEG, PNG and BMP data into a library
// bitmap and encodes bitmaps as JPEG, through the best back end present:
// libjpeg (bound at run time), the Intel JPEG Library (not on this
// platform), or the platform's own codecs.
//
// A wrapper is not thread-safe: each thread owns its own wrapper. Every
// operation runs on that thread and blocks only on the stream or file it is
// given.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/fmxMKzBitmap.h"
#include "platform/fmxMKzPlatformStream.h"
#include "video/fmxMKzDecodeSize.h"
#include "video/fmxMKzImageCodecs.h"

namespace kz {

enum class TKzCoderType : uint8_t {
  kzctAuto = 0,
  kzctStandart = 1,   // the platform's codecs
  kzctLibJpeg = 2,
  kzctIntelJpeg = 3,
  kzctImgDecmp = 4,   // never available
};

constexpr int32_t KzDefaultJpegQuality = 95;

class TKzImageWrapper {
public:
  // An empty bitmap, coder type kzctAuto.
  TKzImageWrapper();
  TKzImageWrapper(const TKzImageWrapper&) = delete;
  TKzImageWrapper& operator=(const TKzImageWrapper&) = delete;

  TKzCoderType CoderType() const { return FCoderType; }
  // Chooses the back end: libjpeg when Type is kzctAuto or kzctLibJpeg and
  // libjpeg is loaded; else the Intel library likewise; else the platform's
  // codecs (kzctStandart).
  void SetCoderType(TKzCoderType Type);

  // Decodes Count bytes (Count <= 0: up to the end) from the stream's
  // position into Target (nullptr: the wrapper's bitmap). JPEG data goes to
  // the chosen back end, PNG and BMP always to the platform's codecs; the
  // format is recognised by content. Afterwards the stream stands after the
  // bytes consumed. False, with ErrorText() set, when nothing decodes.
  // With a decode size set, libjpeg decodes JPEG data at the smallest scale
  // that covers it (see ReadJpegStreamScaled); a scaled decode that fails is
  // tried again at full size.
  bool LoadFromStream(TStream& Stream, int64_t Count = 0, TKzMCustomBitmap* Target = nullptr);
  bool LoadFromFile(const std::string& FileName, TKzMCustomBitmap* Target = nullptr);
  // The platform's codecs on their own, whatever the coder type.
  bool FMLoadImgFromStream(TStream& Stream, int64_t Count = 0, TKzMCustomBitmap* Target = nullptr);

  // Encodes Bitmap (nullptr: the wrapper's bitmap) as JPEG at Quality (1..100).
  bool SaveToStream(TStream& Stream, const TKzMCustomBitmap* Bitmap = nullptr,
                    int32_t Quality = KzDefaultJpegQuality);
  bool SaveToFile(const std::string& FileName, const TKzMCustomBitmap* Bitmap = nullptr,
                  int32_t Quality = KzDefaultJpegQuality);

  // The size JPEG pictures are wanted at (full by default).
  void SetDecodeSize(TKzDecodeSize Value) { FDecodeSize = Value; }
  TKzDecodeSize DecodeSize() const { return FDecodeSize; }
  // The scale denominator of the last successful load (1 for anything not
  // decoded scaled).
  int32_t LastScaleDenom() const { return FLastScaleDenom; }

  TKzMBitmap& GetBitmap() { return FBitmap; }
  const TKzMBitmap& GetBitmap() const { return FBitmap; }
  // Why the last load or save failed ("" after a success).
  const std::string& ErrorText() const { return FErrorText; }

  TKzCoderType CurCoderTypeL = TKzCoderType::kzctStandart;  // back end used for loading
  TKzCoderType CurCoderTypeS = TKzCoderType::kzctStandart;  // back end used for saving
  bool IsImgError = false;                                  // the last load failed

private:
  bool DecodeStandard(TStream& Stream, int64_t Count, TKzMCustomBitmap& Target);
  bool Finish(bool Ok, std::string Error);

  TKzMBitmap FBitmap;
  TKzCoderType FCoderType = TKzCoderType::kzctAuto;
  TKzDecodeSize FDecodeSize;
  int32_t FLastScaleDenom = 1;
  std::unique_ptr<TMemoryStream> MemoryStream;  // scratch for whole-picture decoders
  std::string FErrorText;
};

}  // namespace kz
