// The receiving thread of a receiver component: in the push topology it
// owns the listening socket and its listener (senders connect or send
// datagrams), in the pull topology one TRecvConnect per accepted data type
// and listed sender. Either way every packet read is cut out per connection,
// checked against the accepted data types and the sender filter, and handed
// to the component's multi-source chain.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "streaming/fmxMKzConnectionProperties.h"
#include "streaming/fmxMKzListenerThread.h"
#include "streaming/fmxMKzSenderCollection.h"

namespace kz {

class TRecvConnect;

// What the receiving thread and its channels need from the component. All
// calls: network threads, never block for long.
class IKzReceiverTarget {
public:
  virtual ~IKzReceiverTarget() = default;
  // Where notifications go.
  virtual const void* NotifyTarget() = 0;
  // Hands one accepted packet on (Key: data type code + 256 x connection
  // serial); the bytes are the caller's and copied. File parts come with
  // their file chunk record, which goes in front of the payload.
  virtual void HandOn(int32_t Key, const TKzHeaderPack& Header, std::span<const uint8_t> Record,
                      std::span<const uint8_t> Payload, const TKzInfo& Info) = 0;
  // Whether the chain holds too much of that file already.
  virtual bool FileBacklogged(int32_t Key, const TKzHeaderPack& Header, const TKzInfo& Info) = 0;
  // A channel or connection ended: its data goes.
  virtual void DropKey(int32_t Key) = 0;
  // A pushed connection ended: its data goes once the chain has taken in
  // what it sent (SweepEndedKeys, about once a second, tells).
  virtual void DropKeyWhenDrained(int32_t Key) = 0;
  virtual void SweepEndedKeys() = 0;
  // A pulled video channel ended: that sender's video state goes.
  virtual void StopVideoOf(const TGUID& GUIDFrom) = 0;
  // The command channel pinned a sender's session key.
  virtual void CommandKeyPinned(TKzSessionKey Key) = 0;
  // The bytes of one packet read (OnDataRead).
  virtual void DataRead(TKzSessionKey Key, const TKzPacket& Packet, TKzConnSerial Conn) = 0;
};

struct TKzReceiverSettings {
  TKzProtocol Protocol = TKzProtocol::kzpUDP;
  uint16_t Port = 7777;
  uint32_t Address = 0;  // listening address (network order), 0: any
  TKzTCPConnectionType TCPConnectionType = TKzTCPConnectionType::kztcpSenderToReceiver;
  TGUID GUIDMy;
  uint32_t BufferSize = 8192;
  int32_t RetryCount = 5;
  TKzMediaTypes ReceiveMediaTypes = TKzMediaTypes::FromBits(31);
  TKzReceiverConnectionProperties ConnectionProperties;
  TKzProxyProperty Proxy;
  bool UseTempFiles = true;
  std::shared_ptr<const TKzSenderFilter> Senders = std::make_shared<TKzSenderFilter>();
  std::string RelaySecret;  // when set, each pulled connection first proves GUIDMy to the relay
};

// The request texts of the pull channels, by data type code.
const char* KzPullRequestText(uint8_t Code);

class TKzReceiverThread : public TKzReceiverCustomThread {
public:
  // Created suspended; Run starts it. Owner's thread, never blocks.
  TKzReceiverThread(IKzReceiverTarget& Target, const TKzReceiverSettings& Settings);
  // Stops the listener and every channel (each within a second). Owner's thread.
  ~TKzReceiverThread() override;
  void Run() { StartThread(this); }
  void StopThread() override;

  // Push topology: reads packets of connections and datagrams.
  bool DoRead(TMemoryStream& Stream, TKzConnSerial Conn, TKzSocket Socket, uint16_t& DataType, uint32_t& ClientError,
              TKzProtocol Protocol, TKzHeaderPack& HeaderPack) override;
  TGUID GetGUIDMy() override { return FSettings.GUIDMy; }
  // A pushed connection ended: its keys go once the chain has its data.
  void DeleteSocket(TKzConnSerial Conn) override;

  // Accepted data types (pull: opens and closes channels). Any thread.
  void SetReceiveMediaTypes(TKzMediaTypes Types);
  TKzMediaTypes ReceiveMediaTypes() const { return TKzMediaTypes::FromBits(FMediaTypes.load()); }
  void SetSenders(std::shared_ptr<const TKzSenderFilter> Senders);
  // Pull channels open now for a data type code; the listening port. Any thread.
  int32_t OpenChannels(uint8_t Code);
  uint16_t ListeningPort() const { return FListeningPort.load(); }
  // The next request of every pull channel is a clear request. Any thread.
  void ClearSenderBuffers();
  // Closes the pull channels of a data type code. Any thread; waits for them.
  void CloseChannels(uint8_t Code);

  // Whether a packet passes the data types and the sender filter. Any thread.
  bool Accepts(const TKzPacketHeader& Header);
  // Hands a packet read on a connection on (file parts get their chunk
  // record, big files wait for the chain). Network threads.
  void Deliver(int32_t Key, const TKzPacket& Packet, TKzConnSerial Conn, TKzSessionKey SessionKey = 0);

  IKzReceiverTarget& Target() { return FTarget; }
  const TKzReceiverSettings& Settings() const { return FSettings; }

protected:
  void DoExecute() override;

private:
  bool StartListening();
  void InitRecvConnect(uint8_t Code);
  void DestroyRecvConnect(uint8_t Code);
  void ReadDatagram(const uint8_t* Data, size_t Size, TKzConnSerial Conn);

  IKzReceiverTarget& FTarget;
  TKzReceiverSettings FSettings;
  std::atomic<uint8_t> FMediaTypes;
  std::mutex FSendersLock;  // guards FSenders
  std::shared_ptr<const TKzSenderFilter> FSenders;
  std::atomic<uint16_t> FListeningPort{0};
  TKzListenerThread* ListenServer = nullptr;
  std::mutex FChannelsLock;  // guards RecvList
  std::array<std::vector<std::unique_ptr<TRecvConnect>>, 5> RecvList;  // by media kind
  TKzInflater FInflater;  // datagrams (listener thread)
  TKzPacket FDatagram;    // the datagram read last (listener thread), its buffer reused
};

}  // namespace kz
