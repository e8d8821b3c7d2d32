// Shared by the socket tests and their far end (kzstreampeer): numbered
// payloads of every kind (each starts with its number and size, 8 bytes
// each), a push sender, a receiver that records what it reads, a puller.
#pragma once
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/fmxMKzByteOrder.h"
#include "streaming/Fmxmkzsenderthread.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzReceiverThread.h"
#include "streaming/fmxMKzStreamConnect.h"

namespace kztest {

struct TKind { uint8_t Type; kz::TKzCompressionType Compression; size_t Size; bool Compressible; };
// One payload of each kind and compression, big and small; the set repeats.
inline const std::vector<TKind>& PayloadKinds() {
  using C = kz::TKzCompressionType;
  static const std::vector<TKind> kinds = {
      {kz::DATA_TYPE_VIDEO, C::kztcNone, 300000, false},  {kz::DATA_TYPE_VIDEO, C::kztcFully, 90000, true},
      {kz::DATA_TYPE_AUDIO, C::kztcParts, 4000, true},    {kz::DATA_TYPE_USERDATA, C::kztcNone, 20000, false},
      {kz::DATA_TYPE_CMD, C::kztcNone, 300, false},        {kz::DATA_TYPE_FILE, C::kztcParts, 150000, false}};
  return kinds;
}
inline const TKind& KindOf(uint64_t Seq) { return PayloadKinds()[Seq % PayloadKinds().size()]; }

// Payload Seq: its number, its size, then bytes that do (or do not) compress.
inline std::vector<uint8_t> Payload(uint64_t Seq) {
  const TKind& k = KindOf(Seq);
  std::vector<uint8_t> p(k.Size);
  kz::KzPutLE<uint64_t>(p.data(), Seq);
  kz::KzPutLE<uint64_t>(p.data() + 8, k.Size);
  uint64_t x = Seq * 2654435761u + 1;
  for (size_t i = 16; i < p.size(); ++i) {
    x = x * 6364136223846793005u + 1442695040888963407u;
    p[i] = k.Compressible ? static_cast<uint8_t>(i / 64) : static_cast<uint8_t>(x >> 56);
  }
  return p;
}

// Payload Seq in S, from its start.
inline kz::TMemoryStream& PayloadStream(uint64_t Seq, kz::TMemoryStream& S) {
  const std::vector<uint8_t> p = Payload(Seq);
  S.Write(p.data(), static_cast<int64_t>(p.size()));
  S.SetPosition(0);
  return S;
}

// The number of a received payload, -1 when it is not one of the set intact.
inline int64_t CheckPayload(uint8_t Type, const std::vector<uint8_t>& Data) {
  if (Data.size() < 16) return -1;
  const uint64_t seq = kz::KzGetLE<uint64_t>(Data.data());
  if (seq > (1u << 30) || KindOf(seq).Type != Type || Payload(seq) != Data) return -1;
  return static_cast<int64_t>(seq);
}

inline kz::TKzPacketSpec SpecOf(uint64_t Seq, kz::TKzProtocol Protocol) {
  kz::TKzPacketSpec spec;
  spec.DataType = KindOf(Seq).Type;
  spec.Compression = KindOf(Seq).Compression;
  spec.Protocol = Protocol;
  spec.BufferSize = Protocol == kz::TKzProtocol::kzpUDP ? 1u << 20 : 65536;  // datagrams are cut to fit
  spec.GUIDFrom = kz::TGUID{0x11111111, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}};
  if (spec.DataType == kz::DATA_TYPE_FILE) spec.Info.FileInfo.FileName = "clip.bin";
  return spec;
}

// A sender's packet numbers, one running count per data type.
using TIndexParts = std::array<uint16_t, 256>;

// Sends payload Seq on a push connection (or to Port as datagrams): bytes sent or -1.
inline int64_t PushOne(kz::TKzSocket Socket, kz::TKzProtocol Protocol, uint16_t Port, uint64_t Seq,
                       TIndexParts& Index) {
  kz::TKzSendStreamArgs a;
  a.Spec = SpecOf(Seq, Protocol);
  a.SendParam.BufferSize = a.Spec.BufferSize;
  a.Socket = Socket;
  a.Address = kz::PlatformLookupIPv4("127.0.0.1");
  a.Port = Port;
  a.DatagramPause = Protocol == kz::TKzProtocol::kzpUDP ? 1 : 0;
  kz::TMemoryStream s;
  return kz::KzSendStream(a, PayloadStream(Seq, s), Index[a.Spec.DataType]);
}

// What a receiver read: payload numbers in arrival order, -1 for one not intact.
class TRecord {
public:
  void Add(int64_t Seq) {
    std::lock_guard<std::mutex> g(FLock);
    FSeqs.push_back(Seq);
    FCond.notify_all();
  }
  // Waits up to Ms until Want says yes.
  template <typename F>
  bool WaitFor(uint32_t Ms, F Want) {
    std::unique_lock<std::mutex> g(FLock);
    return FCond.wait_for(g, std::chrono::milliseconds(Ms), [&] { return Want(FSeqs); });
  }
  std::vector<int64_t> Seqs() {
    std::lock_guard<std::mutex> g(FLock);
    return FSeqs;
  }
  // Payloads that were not one of the numbered test payloads.
  int Bad() {
    std::lock_guard<std::mutex> g(FLock);
    return static_cast<int>(std::count(FSeqs.begin(), FSeqs.end(), int64_t{-1}));
  }

private:
  std::mutex FLock;
  std::condition_variable FCond;
  std::vector<int64_t> FSeqs;
};

// Payloads of a stream of packets (file parts joined) to a record.
class TPayloadCollector {
public:
  explicit TPayloadCollector(TRecord& R) : FRecord(R) {}
  void Take(const kz::TKzPacket& P) {
    FFile.insert(FFile.end(), P.Payload.begin(), P.Payload.end());
    if (!P.Last) return;
    FRecord.Add(CheckPayload(P.Header.DataType(), FFile));
    FFile.clear();
  }
  // One datagram's payload, where Order puts it in its channel: joined with
  // the next ones until the size its first bytes state is there. A break in
  // the order drops what was joined, a repeat is ignored, and joining starts
  // only at a datagram that begins a payload.
  void TakeDatagram(const kz::TKzPacket& P, kz::TKzDatagramOrder Order) {
    if (Order == kz::TKzDatagramOrder::kzdoStale) return;
    if (Order == kz::TKzDatagramOrder::kzdoGap) FFile.clear();
    const uint8_t type = P.Header.DataType();
    if (FFile.empty() && !BeginsPayload(type, P.Payload)) return;
    FFile.insert(FFile.end(), P.Payload.begin(), P.Payload.end());
    if (FFile.size() < kz::KzGetLE<uint64_t>(FFile.data() + 8)) return;
    FRecord.Add(CheckPayload(type, FFile));
    FFile.clear();
  }

private:
  static bool BeginsPayload(uint8_t Type, const std::vector<uint8_t>& D) {
    const uint64_t seq = D.size() < 16 ? 1u << 31 : kz::KzGetLE<uint64_t>(D.data());
    return seq < (1u << 30) && KindOf(seq).Type == Type && KindOf(seq).Size == kz::KzGetLE<uint64_t>(D.data() + 8);
  }
  TRecord& FRecord;
  std::vector<uint8_t> FFile;
};

// A receiving side that reads packets with each connection's own reader.
class TRecordingReceiver : public kz::TKzReceiverCustomThread {
public:
  TRecord Record;
  std::atomic<int> Reads{0};
  bool DoRead(kz::TMemoryStream& S, kz::TKzConnSerial Conn, kz::TKzSocket Socket, uint16_t& DataType, uint32_t&,
              kz::TKzProtocol Protocol, kz::TKzHeaderPack&) override {
    ++Reads;
    const uint8_t* data = S.Memory() + S.Position();
    const size_t size = static_cast<size_t>(S.Size() - S.Position());
    S.Seek(0, kz::TSeekOrigin::soEnd);
    kz::TKzPacket p;
    std::lock_guard<kz::TCriticalSection> g(FSocketListCS);
    if (Protocol == kz::TKzProtocol::kzpUDP) {
      if (kz::KzReadDatagram(data, size, p, FInflater))
        Collector(Conn, p.Header.DataType()).TakeDatagram(p, FDatagramOrder.Take(p.Header));
      return true;
    }
    kz::TKzSocketItem* item = FSocketList.GetSocket(Conn);
    if (!item) item = FSocketList.AddSocket(Conn, Socket);
    item->Reader().Feed(data, size);
    while (item->Reader().Next(p)) {
      DataType = p.Header.DataType();
      Collector(Conn, 0).Take(p);
    }
    return true;
  }
  void DeleteSocket(kz::TKzConnSerial Conn) override {
    kz::TKzReceiverCustomThread::DeleteSocket(Conn);
    std::lock_guard<kz::TCriticalSection> g(FSocketListCS);
    FCollectors.erase(FCollectors.lower_bound({Conn, 0}), FCollectors.upper_bound({Conn, 255}));
  }
  size_t Items() {
    std::lock_guard<kz::TCriticalSection> g(FSocketListCS);
    return FSocketList.Count();
  }
  TRecordingReceiver() : kz::TKzReceiverCustomThread(true) {}

private:
  // A connection's, or a datagram channel's (by data type).
  TPayloadCollector& Collector(kz::TKzConnSerial Conn, uint8_t Type) {
    return FCollectors.try_emplace({Conn, Type}, Record).first->second;
  }
  std::map<std::pair<kz::TKzConnSerial, uint8_t>, TPayloadCollector> FCollectors;
  kz::TKzInflater FInflater;
};

// The proxy at 127.0.0.1:Port, or none for 0.
inline kz::TKzProxyProperty ProxyAt(uint16_t Port) {
  kz::TKzProxyProperty proxy;
  proxy.SetHost("127.0.0.1");
  proxy.SetPort(Port);
  proxy.SetProxyMode(Port ? kz::TKzMFProxyMode::kzmManualSettings : kz::TKzMFProxyMode::kzmNoProxy);
  return proxy;
}

// Sends the channel request Text (25 bytes on the wire).
inline bool SendRequest(kz::TKzSocket S, const std::string& Text) {
  uint8_t b[kz::TKzChannelRequest::WireSize];
  kz::KzChannelRequestToBytes({Text, {}, 0}, b);
  return kz::KzSendAll(S, b, sizeof b) == static_cast<int64_t>(sizeof b);
}

// Reads until Reader has the next answer (a batch); false when the connection failed.
inline bool ReadAnswer(kz::TKzSocket S, kz::TKzBatchReader& Reader, kz::TKzBatch& Batch) {
  std::vector<uint8_t> buf(1 << 16);
  while (!Reader.Next(Batch)) {
    const int64_t n = kz::KzMRecvNonBlock(S, buf.data(), static_cast<int64_t>(buf.size()), false, 3000);
    if (n <= 0) return false;
    Reader.Feed(buf.data(), static_cast<size_t>(n));
  }
  return true;
}

// Pulls payloads of one data type from a sender until Stop is set or the
// connection fails: clear request first, then data requests.
inline void PullFrom(uint16_t Port, const kz::TKzProxyProperty* Proxy, kz::TKzProtocol Protocol, uint8_t Type,
                    TRecord& Record, std::atomic<bool>& Stop) {
  std::string error;
  kz::TKzSocket s = kz::KzMConnectStream({"127.0.0.1", Port, Protocol, Proxy, 3000}, nullptr, error);
  kz::TKzBatchReader batches;
  TPayloadCollector collector(Record);
  for (bool first = true; s != kz::KZ_INVALID_SOCKET && !Stop; first = false) {
    using K = kz::TKzChannelRequestKind;
    kz::TKzBatch batch;
    if (!SendRequest(s, kz::KzChannelRequestText(first ? K::kzcrClear : K::kzcrData, Type)) ||
        !ReadAnswer(s, batches, batch))
      break;
    for (const kz::TKzBatchChunk& c : batch.Chunks) {
      kz::TKzPacketReader reader;
      reader.Feed(c.Packet.data(), c.Packet.size());
      kz::TKzPacket p;
      while (reader.Next(p)) collector.Take(p);
    }
    if (batch.Chunks.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kz::PlatformShutdown(s);
  kz::PlatformCloseSocket(s);
}

}  // namespace kztest
