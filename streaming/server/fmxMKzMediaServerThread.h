// A listening port of the relay and what the relay knows of each
// connection (its request and packet reader, whether it proved who it is,
// the answers it still has to write). The HTTP port serves every
// connection from one poll loop on this thread: it accepts, reads, routes
// what was read, answers channel requests and writes the answers without
// ever blocking. The UDP port's datagrams come to DoRead on its listener's
// thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/fmxMKzPlatformPollSet.h"
#include "streaming/fmxMKzListenerThread.h"
#include "streaming/server/fmxMKzClientRedirect.h"
#include "streaming/server/fmxMKzServerRequest.h"

namespace kz {

class TKzMediaServer;
class TKzClientRedirect;

// What the relay knows of one connection; the poll loop's alone.
struct TKzServerConn {
  TKzConnSerial Serial = 0;
  TKzSocket Socket = KZ_INVALID_SOCKET;  // shut down by whoever ends it; closed by the loop
  uint64_t Opened = 0;    // tick of its accept
  uint64_t Progress = 0;  // tick of its last byte read or written
  uint16_t DataType = 0;  // its data-type word (time-outs follow it)
  TKzHeaderPack HeaderPack;  // GUIDs of its last packet, for OnDataRead
  TKzSharedBytes Packet;     // the packet being routed: channels share it
  TKzAnswerQueue Out;     // answers not yet written, the front one from OutAt on
  size_t OutAt = 0;
  bool WantWrite = false;
  std::atomic<bool> Authed{false};
  TGUID AuthGUID;
  TKzServerConnReader Reader;
  std::vector<std::weak_ptr<TKzClientRedirect>> Held;  // channels it pulled
  std::weak_ptr<TKzClientRedirect> Pulling;            // the channel of its last request
  bool Limited = false;  // a destination's buffer is over half full
  TGUID LastFrom;        // GUIDFrom of its last packet
};

// Connections that have not proved who they are are closed after this.
constexpr uint64_t KZ_AUTH_DEADLINE_MS = 5000;

class TKzMediaServerThread : public TKzReceiverCustomThread {
public:
  // Serves Listening (taken over) for Server. Main thread, never blocks; started by the caller.
  TKzMediaServerThread(TKzMediaServer* Server, TKzProtocol Protocol, TKzSocket Listening, uint32_t SessionKey);
  ~TKzMediaServerThread() override;
  // Wakes the loop's or the listener's wait. Any thread, never blocks.
  void StopThread() override;

  bool DoRead(TMemoryStream& Stream, TKzConnSerial Conn, TKzSocket Socket, uint16_t& DataType, uint32_t& ClientError,
              TKzProtocol Protocol, TKzHeaderPack& HeaderPack) override;
  void DoPacketProcessing() override;
  TGUID GetGUIDMy() override;
  bool SendCommandToGUID(const TKzCmd& Cmd, const TGUID& GUIDFrom, const TGUID& GUIDTo,
                         const TGUID& GUIDGroup) override;
  int32_t ConnectionCount();

  const uint32_t ServerSessionKey;
  TKzMediaServer* const Server;

protected:
  void DoExecute() override;

private:
  // The HTTP port's loop and its steps (this thread).
  void ServeStreams();
  void AcceptAll(uint64_t Now);
  // False when the connection must end.
  bool OnReadable(TKzServerConn& C, uint64_t Now);
  bool Flush(TKzServerConn& C, uint64_t Now);
  void ReadChunk(TKzServerConn& C, const uint8_t* Data, size_t Size);
  void Close(TKzConnSerial Serial);
  void SweepConnections(uint64_t Now);
  void CountChanged();

  void ReadStream(TKzServerConn& C, const uint8_t* Data, size_t Size, uint16_t& DataType, uint32_t& ClientError,
                  TKzHeaderPack& HeaderPack);
  void ReadDatagram(const uint8_t* Data, size_t Size, uint16_t& DataType, uint32_t& ClientError);
  bool Authenticate(TKzServerConn& C, const TKzServerItem& Item);

  TKzListenerThread* ListenServer = nullptr;  // the UDP port's
  TKzPollSet FPoll;
  std::vector<TKzPollSet::TEvent> FEvents;
  std::vector<uint8_t> FReadBuffer;
  std::mutex FConnLock;  // guards FConns against ConnectionCount
  std::unordered_map<TKzConnSerial, std::shared_ptr<TKzServerConn>> FConns;
  TKzInflater FInflater;  // datagrams: the listener's thread only
  TKzServerConn FDatagrams;
  bool FDatagramRefusalTold = false;
};

}  // namespace kz
