// A listening port of the relay: the listening socket, the listener with
// its connection threads, and what the relay knows of each connection
// (its request and packet reader, whether it proved who it is). Every
// chunk a connection reads comes to DoRead on that connection's thread;
// datagrams on the listener's.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "streaming/fmxMKzListenerThread.h"
#include "streaming/server/fmxMKzServerRequest.h"

namespace kz {

class TKzMediaServer;
class TKzClientRedirect;

// What the relay knows of one connection. The connection's own thread
// uses it; the sweep reads only the atomics and the socket.
struct TKzServerConn {
  TKzConnSerial Serial = 0;
  TKzSocket Socket = KZ_INVALID_SOCKET;
  uint64_t Opened = 0;  // tick of its first chunk
  std::atomic<bool> Authed{false};
  TGUID AuthGUID;
  TKzServerConnReader Reader;
  std::vector<std::weak_ptr<TKzClientRedirect>> Held;  // channels it pulled
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
  // Wakes the listener's wait. Any thread, never blocks.
  void StopThread() override;

  bool DoRead(TMemoryStream& Stream, TKzConnSerial Conn, TKzSocket Socket, uint16_t& DataType, uint32_t& ClientError,
              TKzProtocol Protocol, TKzHeaderPack& HeaderPack) override;
  void DeleteSocket(TKzConnSerial Conn) override;
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
  std::shared_ptr<TKzServerConn> Conn(TKzConnSerial Serial, TKzSocket Socket);
  void ReadStream(TKzServerConn& C, const uint8_t* Data, size_t Size, uint16_t& DataType, uint32_t& ClientError,
                  TKzHeaderPack& HeaderPack);
  void ReadDatagram(const uint8_t* Data, size_t Size, uint16_t& DataType, uint32_t& ClientError);
  bool Authenticate(TKzServerConn& C, const TKzServerItem& Item);
  void SweepConnections();

  TKzListenerThread* ListenServer = nullptr;
  std::mutex FConnLock;  // guards FConns
  std::unordered_map<TKzConnSerial, std::shared_ptr<TKzServerConn>> FConns;
  TKzInflater FInflater;  // datagrams: the listener's thread only
  TKzServerConn FDatagrams;
  bool FDatagramRefusalTold = false;
};

}  // namespace kz
