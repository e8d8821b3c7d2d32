// Encodes and decodes the pictures of changed-area records (JPEG, HWL, BMP,
// PNG), the same way on both ends, so that a sender can rebuild exactly
// what its receivers show. One object per user thread (it owns a TWavelet);
// never blocks.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzType.h"
#include "video/fmxMKzChangeContainer.h"

namespace kz {

class TWavelet;

// The record format of an encoding; kzetMixFormat(Change) gives 0 (chosen per picture).
uint8_t KzAreaFormatOf(TKzEncodingType Encoding);
bool KzIsChangeEncoding(TKzEncodingType Encoding);

class TKzAreaCodec {
public:
  TKzAreaCodec();
  ~TKzAreaCodec();

  // Appends the encoded Picture to Out; false (Out unchanged, Error set)
  // when it cannot be coded. JPEG and HWL at Quality.
  bool Encode(TKzAreaFormat Format, const TKzMCustomBitmap& Picture, int32_t Quality, std::vector<uint8_t>& Out);
  // The smallest of BMP, JPEG and PNG; Format says which it took.
  bool EncodeBestSize(const TKzMCustomBitmap& Picture, int32_t Quality, std::vector<uint8_t>& Out,
                      TKzAreaFormat& Format);
  // Decodes a record's picture. An HWL picture comes out one column and one
  // row larger than its area; callers clip.
  bool Decode(uint8_t Format, const uint8_t* Data, size_t Size, TKzMBitmap& Out);
  const std::string& Error() const { return FError; }

private:
  std::unique_ptr<TWavelet> FWavelet;
  TMemoryStream FStream;
  std::string FError;
};

}  // namespace kz
