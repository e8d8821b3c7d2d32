// A reference picture that several destinations in the same state hold
// together: one copy of the pixels however many hold it, written only by a
// holder that has it alone (Own copies it first when others hold it too).
//
// Each holder is used under its own item's lock; holders of one picture may
// be on different threads. Share and Own of one holder: that holder's thread.
#pragma once
#include <atomic>
#include <cstdint>

#include "foundation/fmxMKzBitmap.h"

namespace kz {

class TKzSharedPicture {
public:
  TKzSharedPicture() = default;
  ~TKzSharedPicture() { Release(); }
  TKzSharedPicture(const TKzSharedPicture&) = delete;
  TKzSharedPicture& operator=(const TKzSharedPicture&) = delete;

  // The pixels (an empty picture while none are held).
  const TKzMBitmap& operator*() const;
  const TKzMBitmap* operator->() const { return &**this; }
  // The pixels to write: a copy of its own first when the picture is shared.
  TKzMBitmap& Own() { return Mine(true); }
  // The same, for a holder about to overwrite every pixel: no copy is made.
  TKzMBitmap& Fresh() { return Mine(false); }
  // Holds Other's picture from now on; its own is let go.
  void Share(const TKzSharedPicture& Other);
  // Lets the picture go (it is empty from now on).
  void Clear() { Release(); }
  bool SharedWith(const TKzSharedPicture& Other) const { return FBlock && FBlock == Other.FBlock; }

private:
  struct TBlock {
    std::atomic<int32_t> Holders{1};
    TKzMBitmap Picture;
  };
  TKzMBitmap& Mine(bool KeepPixels);
  void Release();

  TBlock* FBlock = nullptr;
};

}  // namespace kz
