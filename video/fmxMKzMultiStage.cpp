#include "video/fmxMKzMultiStage.h"

#include "video/fmxMKzReceivedData.h"

namespace kz {

void TKzMultiStage::DeleteKey(int32_t Key) {
  {
    std::lock_guard<TCriticalSection> g(FTmpDataSection);
    KzDeleteKey(FTmpData, Key);
  }
  {
    TKzSafeLock g(FAccessSection);
    KzDeleteKey(FData, Key);
  }
  DeleteKeyNext(Key);
}

int64_t TKzMultiStage::PendingBytes(int32_t Key, const TKzHeaderPack& Header, int32_t MediaIndex) {
  std::lock_guard<TCriticalSection> g(FTmpDataSection);
  return KzHeldBytes(FTmpData, Header, Key, MediaIndex);
}

bool TKzMultiStage::HoldsKey(int32_t Key) {
  {
    std::lock_guard<TCriticalSection> g(FTmpDataSection);
    if (KzKeyHoldsData(FTmpData, Key)) return true;
  }
  TKzSafeLock g(FAccessSection);
  return KzKeyHoldsData(FData, Key);
}

void TKzMultiStage::DoClear() {
  {
    std::lock_guard<TCriticalSection> g(FTmpDataSection);
    FTmpData.Clear();
  }
  TKzSafeLock g(FAccessSection);
  FData.Clear();
  ClearNext();
}

}  // namespace kz
