// A stage of the multi-source chain (fetch or decode): chunks of many
// senders wait in its input list until its thread takes them into its
// working list, one pass at a time.
#pragma once
#include <cstdint>
#include <string>

#include "foundation/fmxMKzDataList.h"
#include "video/fmxMKzPipelineThread.h"

namespace kz {

class TKzMultiStage : public TKzPipelineThread {
public:
  using TKzPipelineThread::TKzPipelineThread;

  // Drops everything held for that key (a closed connection's data type)
  // here and in the stages after this one. Any thread (main: SafeEnter).
  void DeleteKey(int32_t Key);
  // Bytes waiting in the input for that source, key and media index. Any thread.
  int64_t PendingBytes(int32_t Key, const TKzHeaderPack& Header, int32_t MediaIndex);
  // Whether any bytes of that key wait here (either list). Any thread.
  bool HoldsKey(int32_t Key);

protected:
  // Empties both lists, then the stages after this one.
  void DoClear() final;
  virtual void ClearNext() = 0;
  virtual void DeleteKeyNext(int32_t Key) = 0;

  TCriticalSection FTmpDataSection;  // guards FTmpData
  TKzDataList FTmpData;
  TKzCriticalSection FAccessSection;  // held for one pass: FData
  TKzDataList FData;
};

}  // namespace kz
