// One pulled channel of a receiver: connects to a sender (directly or
// through a proxy), asks for one data type with 25-byte channel requests
// and hands the packets of every answer to the receiving thread. Polls
// slow down while nothing comes; a changed session key (the sender
// restarted) or a broken answer reconnects; RetryCount failed connects in a
// row end the channel.
//
// Notifications (WParam the data type code): 1028 when it starts, 1025 at
// the first answer of a connection, 1026 (normal end) or 1027 (failure) and
// 1030 when it ends.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "foundation/fmxMKzTypesThreads.h"
#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzPacketReader.h"
#include "streaming/fmxMKzSocketList.h"

namespace kz {

class TKzReceiverThread;

constexpr uint32_t KZ_MSG_OPEN_CHANNEL = 1029;
constexpr uint32_t KZ_MSG_CLOSE_CHANNEL = 1030;
// Empty answers in a row after which a channel polls once a second.
constexpr int32_t KZ_IDLE_POLLS = 100;
constexpr uint32_t KZ_IDLE_POLL_MS = 1000;

// The least time between two polls of a data type code while it is not idle.
uint32_t KzPollInterval(uint8_t Code, int32_t IdleModeCounter);

class TRecvConnect : public TKzBaseThread {
public:
  // Created suspended. Owner's thread, never blocks.
  TRecvConnect(TKzReceiverThread* Owner, uint8_t DataType, const TGUID& GUIDFrom, const std::string& Host,
               uint16_t Port);
  ~TRecvConnect() override;
  // Wakes a blocked connect or read. Any thread, never blocks.
  void StopThread() override;

  // Results of a request round and of the channel.
  static constexpr int64_t kFailed = -1, kStale = -2, kStopped = -3;

  std::atomic<int32_t> Status{0};  // 0 new, 1 connecting, 2 answered, 3 ended
  std::atomic<int32_t> IdleModeCounter{0};
  std::atomic<uint64_t> Polls{0};      // requests sent
  std::atomic<uint64_t> Reconnects{0}; // connections opened after the first
  std::atomic<bool> IsClearData{false};
  const uint8_t DataType;
  const TGUID nGUIDFrom;

protected:
  void DoExecute() override;

private:
  int64_t ReadDataFromChannel();
  int64_t CreateConnect();
  int64_t ReadAnswer(TKzBatch& Batch);
  bool SendSysCmd(bool Clear);
  bool SendProof();  // the relay's access proof, first thing on a connection
  void WaitInterval();
  void HandBatch(const TKzBatch& Batch);
  void CloseSocket();
  void EndChannel(int64_t Result);

  TKzReceiverThread* Owner;
  const std::string Host;
  const uint16_t Port;
  size_t FAttempt = 0;  // connections tried: the relay of a list to try next
  std::mutex FSocketLock;  // guards FSocket: StopThread's shutdown against the close
  TKzSocket FSocket = KZ_INVALID_SOCKET;
  TKzSessionKey ServerSessionKey = 0;  // pinned on this connection; 0 before the first answer
  bool IsStartRecv = false;            // no answer read yet on this connection
  uint64_t TimeOld = 0;                // when the last poll was sent
  TKzBatchReader FBatches;
  TKzPacketReader FReader;
  TKzPacket FPacket;  // the packet being delivered; its buffer goes back to FReader with the next
  TKzConnSerial FSerial;
  std::string FSpoolName, FWorkName;  // file channel's temporary files
  int FSpool = -1;
};

}  // namespace kz
