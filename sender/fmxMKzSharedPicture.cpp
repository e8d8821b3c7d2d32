#include "sender/fmxMKzSharedPicture.h"

namespace kz {

const TKzMBitmap& TKzSharedPicture::operator*() const {
  static const TKzMBitmap none;
  return FBlock ? FBlock->Picture : none;
}

TKzMBitmap& TKzSharedPicture::Mine(bool KeepPixels) {
  // Acquire: what another holder did with the pixels before letting go is
  // finished before this one writes them.
  if (FBlock && FBlock->Holders.load(std::memory_order_acquire) == 1) return FBlock->Picture;
  auto* own = new TBlock;
  if (FBlock && KeepPixels) own->Picture.AssignKzMBitmap(FBlock->Picture);
  Release();
  FBlock = own;
  return own->Picture;
}

void TKzSharedPicture::Share(const TKzSharedPicture& Other) {
  if (FBlock == Other.FBlock) return;
  if (Other.FBlock) Other.FBlock->Holders.fetch_add(1, std::memory_order_relaxed);
  Release();
  FBlock = Other.FBlock;
}

void TKzSharedPicture::Release() {
  if (FBlock && FBlock->Holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete FBlock;
  FBlock = nullptr;
}

}  // namespace kz
