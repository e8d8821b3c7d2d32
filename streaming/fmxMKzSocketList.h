// Reassembly state per connection (or, keyed by GUID, per connection and
// source) and the list that holds it.
//
// Items are keyed by the connection's serial number, never by its
// descriptor: a closed descriptor's number comes back for the next
// connection, a serial never does. The same serial stands for the
// connection wherever a key is made of it (data type + 256 x serial in the
// data lists, the LParam of 1025/1028).
//
// The list does not lock: callers hold their owner's list lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformSockets.h"
#include "platform/fmxMKzPlatformStream.h"
#include "streaming/fmxMKzPacketReader.h"
#include "streaming/fmxMKzStreamTypes.h"

namespace kz {

using TKzConnSerial = uint64_t;
// A new connection serial (never 0, never repeated in the process). Any thread.
TKzConnSerial KzMNewConnectionSerial();

// Told when the item that stands for its connection goes away (the list
// dropped it): the owner ends its connection. Called with the list's lock held.
class IKzSocketItemOwner {
public:
  virtual ~IKzSocketItemOwner() = default;
  virtual void SocketItemReleased() = 0;
};

class TKzSocketItem {
public:
  TKzSocketItem(TKzConnSerial Serial, TKzSocket Socket);
  ~TKzSocketItem();
  TKzSocketItem(const TKzSocketItem&) = delete;
  TKzSocketItem& operator=(const TKzSocketItem&) = delete;

  int64_t MinIndex = -1, MaxIndex = -1;
  int64_t OldIndex = 0;
  TGUID OldFileGUID;
  IKzSocketItemOwner* Owner = nullptr;
  TKzConnSerial Serial;
  TKzSocket vSocket;
  bool UseGUID = false;
  TGUID vGUIDFrom, vGUIDTo, vGUIDGroup;
  int32_t HeaderSize = 0;
  int32_t DataSize = 0;
  int32_t tData = 0;
  int64_t IndxPart = 0;
  int64_t DataLen = 0;
  int64_t LoadData = 0;
  int64_t DataPos = 0;
  TKzInfo Info;
  TKzCompressionType TypeCompression = TKzCompressionType::kztcNone;
  TMemoryStream RecvStream;  // received, not yet consumed
  TMemoryStream tmp;         // payload bytes produced
  int32_t LockCount = 0;
  bool FDestroying = false;
  bool KeyedByGUID = false;  // vGUIDFrom is the item's key and survives Clear
  // The stream reader of this connection's bytes (what a receiver reads
  // packets with), made on first use: its zlib state is not small.
  TKzPacketReader& Reader();

  // All: empty the receive buffer. Otherwise drop the bytes before its
  // position and move DataPos back by as many.
  void ClearRecv(bool All);
  // All: empty the receive buffer; otherwise drop its leading "CON_NULL"
  // fillers. Either way the packet under way is forgotten.
  void Clear(bool All);
  // Inflates the whole-compressed Size bytes at the receive position in
  // place; their inflated length is added to LoadData.
  bool UnPack(int64_t Size);
  // Reads compression blocks from DataPos into tmp until LoadData reaches
  // DataLen or no whole block is left (Size: the bytes to look at from
  // DataPos); consumed bytes leave the front of the receive buffer.
  void UnPackPackage(int64_t Size);

private:
  std::unique_ptr<TKzPacketReader> FReader;
};

class TKzSocketList {
public:
  // At most this many items: adding one more drops the oldest.
  static constexpr size_t MaxItems = 9999;

  size_t Count() const { return FItems.size(); }
  TKzSocketItem* Items(size_t Index) const { return FItems[Index].get(); }

  // Empties every item's buffers.
  void Clear();
  // Shuts down the connections of all items but the first (their owners
  // close them); the items stay.
  void CloseSockets();
  // Drops the oldest items (those being destroyed skipped) until MaxItems remain.
  void CutSocket();
  void ClearData(TKzConnSerial Serial);
  void ClearDataGUID(TKzConnSerial Serial, const TGUID& GUID);
  void DeleteIndex(size_t Index);
  void DeleteSocket(TKzConnSerial Serial);  // every item of the connection
  void DeleteSocketGUID(TKzConnSerial Serial, const TGUID& GUID);
  // A new item whose buffer holds Stream's unread bytes (none for null).
  TKzSocketItem* AddSocket(TKzConnSerial Serial, TKzSocket Socket, TStream* Stream = nullptr);
  TKzSocketItem* AddSocketGUID(TKzConnSerial Serial, TKzSocket Socket, const TGUID& GUID, TStream* Stream = nullptr);
  TKzSocketItem* GetSocket(TKzConnSerial Serial) const;
  TKzSocketItem* GetSocketGUID(TKzConnSerial Serial, const TGUID& GUID) const;
  // Appends Stream's unread bytes to the item (made when missing); nothing
  // when there are none.
  TKzSocketItem* AddData(TKzConnSerial Serial, TKzSocket Socket, TStream& Stream);
  TKzSocketItem* AddDataGUID(TKzConnSerial Serial, TKzSocket Socket, const TGUID& GUID, TStream& Stream);
  // Finds or makes the item.
  TKzSocketItem* CreateGUID(TKzConnSerial Serial, TKzSocket Socket, const TGUID& GUID);

private:
  TKzSocketItem* Add(std::unique_ptr<TKzSocketItem> Item, TStream* Stream);
  void Erase(size_t Index);
  std::deque<std::unique_ptr<TKzSocketItem>> FItems;  // oldest first
};

}  // namespace kz
