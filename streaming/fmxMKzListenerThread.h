// The receiving side of the push topology: a listener thread that accepts
// stream connections (one TCPClientThread each) or reads datagrams, and
// hands every chunk to its owner's DoRead.
//
// The listener owns its connection threads: it frees those that ended on
// its next round and stops the rest when it stops, all within a second.
// A connection's socket is closed only by its own thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

#include "streaming/fmxMKzConnectionProperties.h"
#include "streaming/fmxMKzReceiverThread.h"

namespace kz {

// Largest read of a connection and largest datagram taken.
constexpr int64_t KZ_READ_BUFFER = 665600;
// Read size while the destination's buffer is limited.
constexpr int64_t KZ_LIMITED_READ = 8192;
// Datagrams in processing at once while packet processing is reported.
constexpr int32_t KZ_MAX_PACKETS_IN_PROCESSING = 100;

class TKzListenerThread;

class TCPClientThread : public TKzBaseThread {
public:
  // Takes over ClientSocket. Listener thread, never blocks.
  TCPClientThread(TKzListenerThread* Listener, TKzReceiverCustomThread* Receiver, TKzSocket ClientSocket,
                  TKzSocket ServerSocket, const void* Parent, const TKzConnectionProperties& SenderProperties,
                  const TKzConnectionProperties& ReceiverProperties);
  ~TCPClientThread() override;
  // Wakes a blocked read by shutting the connection down. Any thread, never blocks.
  void StopThread() override;
  TKzConnSerial Serial() const { return FSerial; }

  // The owning worker: one chunk in FBuffer to the owner's DoRead.
  void TCPRead();
  void PacketInc();
  void PacketDec();
  void ConnectError();
  void DisconnectEvent();
  void DeleteClient();

  uint16_t ADataType = 0;  // data-type word of the connection, set by DoRead
  TKzHeaderPack HeaderPack;
  TMemoryStream FBuffer;
  bool IsSynchronize = false;
  TKzSocket ServerSocket;
  uint32_t ClientError = 0;
  TKzReceiverCustomThread* Receiver;
  const void* Parent;
  TKzConnectionProperties SenderConnectionProperties, ReceiverConnectionProperties;

protected:
  void DoExecute() override;

private:
  void SendBufferCommand(const char* Name);
  TKzListenerThread* FListener;
  const TKzConnSerial FSerial;
  std::mutex FSocketLock;  // guards ClientSocket: StopThread's shutdown against the close
  TKzSocket ClientSocket;
};

class TKzListenerThread : public TKzBaseThread {
public:
  // Serves the listening socket Listening (owned by Receiver). Creating
  // thread, never blocks; started by the caller.
  TKzListenerThread(TKzReceiverCustomThread* Receiver, TKzSocket Listening, TKzProtocol Protocol,
                    const void* Parent, const TKzConnectionProperties& SenderProperties,
                    const TKzConnectionProperties& ReceiverProperties);
  ~TKzListenerThread() override;

  // A listening socket for Protocol on Address:Port (stream: backlog 100;
  // datagram: bound). Port 0 picks a free one. Any thread.
  static TKzSocket CreateListeningSocket(TKzProtocol Protocol, uint32_t Address, uint16_t Port);

  // The owning worker: one accept or datagram round (up to a second).
  void ListenServer();
  void ConnectingEvent(TKzConnSerial Conn);
  // A connection thread ended. That thread.
  void DoneTerminate(TCPClientThread* Thread);
  void DoConnectedCountChange();
  void UDPRead(TKzConnSerial Conn);
  int32_t ConnectedCount() const { return FConnectedCount.load(); }
  // Connections refused because MaxConnections were served; datagrams dropped.
  uint64_t Refused() const { return FRefused.load(); }
  uint64_t DatagramsDropped() const { return FDropped.load(); }

  bool IsSynchronize = false;
  TKzReceiverCustomThread* FReceiver;
  TKzSocket hReceiver;
  TKzProtocol Protocol;
  const void* Parent;
  TKzConnectionProperties SenderConnectionProperties, ReceiverConnectionProperties;

protected:
  void DoExecute() override;

private:
  void ReapClients(bool All);
  TCriticalSection FCriticalSection;  // guards Clients
  std::list<std::unique_ptr<TCPClientThread>> Clients;
  std::atomic<int32_t> FConnectedCount{0};
  std::atomic<uint64_t> FRefused{0}, FDropped{0};
  TMemoryStream FBuffer;  // one datagram
  const TKzConnSerial FDatagramSerial;
};

}  // namespace kz
