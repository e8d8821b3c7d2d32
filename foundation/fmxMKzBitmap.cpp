#include "foundation/fmxMKzBitmap.h"

#include <cstring>

namespace kz {

void TKzMCustomBitmap::Assign(const TPersistent& Source) {
  if (const auto* b = dynamic_cast<const TKzMCustomBitmap*>(&Source)) return AssignKzMBitmap(*b);
  TPersistent::Assign(Source);
}

void TKzMCustomBitmap::AssignKzMBitmap(const TKzMCustomBitmap& Source) {
  SetSize(Source.FWidth, Source.FHeight);
  if (!FData.empty()) memcpy(FData.data(), Source.FData.data(), FData.size() * 4);
  Modified = ModifiedData = true;
}

void TKzMCustomBitmap::SetSize(int32_t Width, int32_t Height) {
  if (Width < 0) Width = 0;
  if (Height < 0) Height = 0;
  if (Width == FWidth && Height == FHeight) return;
  FWidth = Width;
  FHeight = Height;
  FBytesPerLine = Width * 4;
  FData.resize(static_cast<size_t>(Width) * static_cast<size_t>(Height));
  Modified = ModifiedData = true;
}

void TKzMCustomBitmap::FillData(uint8_t Value) {
  if (!FData.empty()) memset(FData.data(), Value, FData.size() * 4);
  Modified = ModifiedData = true;
}

}  // namespace kz
