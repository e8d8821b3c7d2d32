// The library bitmap: a top-down array of 32-bit pixels, bytes B, G, R, A
// (0xAARRGGBB as a 32-bit value). None of its operations locks: the owner of
// a bitmap serialises access.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/fmxMKzPlatformComponent.h"

namespace kz {

struct TRGBQuad {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};
static_assert(sizeof(TRGBQuad) == 4);

class TKzMCustomBitmap : public TPersistent {
public:
  TKzMCustomBitmap() = default;
  TKzMCustomBitmap(int32_t Width, int32_t Height) { SetSize(Width, Height); }
  TKzMCustomBitmap(const TKzMCustomBitmap& Source) { AssignKzMBitmap(Source); }
  TKzMCustomBitmap& operator=(const TKzMCustomBitmap& Source) {
    if (this != &Source) AssignKzMBitmap(Source);
    return *this;
  }
  ~TKzMCustomBitmap() override = default;

  void Assign(const TPersistent& Source) override;
  virtual void AssignKzMBitmap(const TKzMCustomBitmap& Source);
  virtual void SetSize(int32_t Width, int32_t Height);

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  int32_t BytesPerLine() const { return FBytesPerLine; }
  int64_t GetLength() const { return static_cast<int64_t>(FWidth) * FHeight; }
  int64_t GetSize() const { return GetLength() * 4; }
  bool IsEmpty() const { return FWidth == 0 || FHeight == 0; }
  uint32_t* Data() { return FData.data(); }
  const uint32_t* Data() const { return FData.data(); }
  uint32_t* ScanLine(int32_t Row) { return FData.data() + static_cast<int64_t>(Row) * FWidth; }
  const uint32_t* ScanLine(int32_t Row) const { return FData.data() + static_cast<int64_t>(Row) * FWidth; }
  // Every byte of the pixels := Value.
  void FillData(uint8_t Value);

  int64_t UpdateTime = 0;
  bool Modified = false;
  bool ModifiedData = false;

protected:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FBytesPerLine = 0;
  std::vector<uint32_t> FData;
};

// On this platform the framework bitmap is the library bitmap itself.
class TKzMBitmap : public TKzMCustomBitmap {
public:
  using TKzMCustomBitmap::TKzMCustomBitmap;
};

}  // namespace kz
