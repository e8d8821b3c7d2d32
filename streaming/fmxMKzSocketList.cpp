#include "streaming/fmxMKzSocketList.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "streaming/fmxMKzStreamMarkers.h"
#include "streaming/fmxMKzStreamZip.h"

namespace kz {

namespace {

void AppendUnread(TMemoryStream& To, TStream& From) {
  const int64_t n = From.Size() - From.Position();
  if (n <= 0) return;
  const int64_t at = To.Size();
  To.SetSize(at + n);
  From.Read(To.Memory() + at, n);
}

}  // namespace

TKzConnSerial KzMNewConnectionSerial() {
  static std::atomic<TKzConnSerial> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

TKzSocketItem::TKzSocketItem(TKzConnSerial ASerial, TKzSocket Socket) : Serial(ASerial), vSocket(Socket) {}

TKzSocketItem::~TKzSocketItem() {
  FDestroying = true;
  if (Owner) Owner->SocketItemReleased();
}

void TKzSocketItem::ClearRecv(bool All) {
  if (All) {
    RecvStream.Clear();
    DataPos = 0;
    return;
  }
  const int64_t pos = RecvStream.Position();
  RecvStream.DeleteFront(pos);
  DataPos = std::max<int64_t>(0, DataPos - pos);
}

void TKzSocketItem::Clear(bool All) {
  if (All) {
    RecvStream.Clear();
  } else {
    int64_t skip = 0;
    while (RecvStream.Size() - skip >= static_cast<int64_t>(MARKER_NULL.size()) &&
           std::memcmp(RecvStream.Memory() + skip, MARKER_NULL.data(), MARKER_NULL.size()) == 0)
      skip += static_cast<int64_t>(MARKER_NULL.size());
    RecvStream.DeleteFront(skip);
  }
  DataSize = HeaderSize = 0;
  DataLen = LoadData = DataPos = 0;
  UseGUID = false;
  vGUIDTo = vGUIDGroup = TGUID{};
  if (!KeyedByGUID) vGUIDFrom = TGUID{};
  Info = TKzInfo{};
  TypeCompression = TKzCompressionType::kztcNone;
  if (FReader) FReader->Reset();
}

TKzPacketReader& TKzSocketItem::Reader() {
  if (!FReader) FReader = std::make_unique<TKzPacketReader>();
  return *FReader;
}

bool TKzSocketItem::UnPack(int64_t Size) {
  int64_t inflated = 0;
  if (!UnPackStream(RecvStream, 0, Size, inflated)) return false;
  LoadData += inflated;
  return true;
}

void TKzSocketItem::UnPackPackage(int64_t Size) {
  const int64_t end = std::min<int64_t>(RecvStream.Size(), DataPos + std::max<int64_t>(Size, 0));
  const uint8_t* data = RecvStream.Memory();
  int64_t pos = DataPos;
  int64_t consumed = DataPos;
  TKzInflater inflater;
  std::vector<uint8_t> out;
  while (pos < end && LoadData < DataLen) {
    const int64_t at = KzFindBytes(data, static_cast<size_t>(end), static_cast<size_t>(pos),
                                   MARKER_COMPRESSION_BEGIN.data(), 4);
    if (at < 0) break;
    int16_t n = 0;
    size_t used = 0;
    const TKzBlockResult r = KzParseBlock(data + at, static_cast<size_t>(end - at), n, used);
    if (r == TKzBlockResult::kzbrIncomplete) break;
    if (r == TKzBlockResult::kzbrMisplacedEnd) {
      pos = at + 4;
      continue;
    }
    out.clear();
    const uint8_t* body = data + at + 6;
    if (n > 0) {
      if (!inflater.Inflate(body, static_cast<size_t>(n), KzInflateBound(static_cast<size_t>(n)), out)) out.clear();
    } else {
      out.assign(body, body + (-n));
    }
    tmp.Seek(0, TSeekOrigin::soEnd);
    tmp.Write(out.data(), static_cast<int64_t>(out.size()));
    LoadData += static_cast<int64_t>(out.size());
    pos = consumed = at + static_cast<int64_t>(used);
  }
  RecvStream.DeleteFront(consumed);
  DataPos = 0;
}

// ---- List

TKzSocketItem* TKzSocketList::Add(std::unique_ptr<TKzSocketItem> Item, TStream* Stream) {
  if (Stream) AppendUnread(Item->RecvStream, *Stream);
  FItems.push_back(std::move(Item));
  CutSocket();
  return FItems.back().get();
}

void TKzSocketList::Erase(size_t Index) {
  std::unique_ptr<TKzSocketItem> gone = std::move(FItems[Index]);
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(Index));
  gone.reset();  // its owner is told after it left the list
}

void TKzSocketList::Clear() {
  for (auto& item : FItems) {
    item->RecvStream.Clear();
    item->tmp.Clear();
    item->Reader().Reset();
  }
}

void TKzSocketList::CloseSockets() {
  for (size_t i = 1; i < FItems.size(); ++i)
    if (FItems[i]->vSocket != KZ_INVALID_SOCKET) PlatformShutdown(FItems[i]->vSocket);
}

void TKzSocketList::CutSocket() {
  for (size_t i = 0; FItems.size() > MaxItems && i < FItems.size();) {
    if (FItems[i]->FDestroying) {
      ++i;
      continue;
    }
    Erase(i);
  }
}

void TKzSocketList::ClearData(TKzConnSerial Serial) {
  if (TKzSocketItem* item = GetSocket(Serial)) item->Clear(true);
}

void TKzSocketList::ClearDataGUID(TKzConnSerial Serial, const TGUID& GUID) {
  if (TKzSocketItem* item = GetSocketGUID(Serial, GUID)) item->Clear(true);
}

void TKzSocketList::DeleteIndex(size_t Index) {
  if (Index < FItems.size()) Erase(Index);
}

void TKzSocketList::DeleteSocket(TKzConnSerial Serial) {
  for (size_t i = FItems.size(); i-- > 0;)
    if (FItems[i]->Serial == Serial) Erase(i);
}

void TKzSocketList::DeleteSocketGUID(TKzConnSerial Serial, const TGUID& GUID) {
  for (size_t i = FItems.size(); i-- > 0;)
    if (FItems[i]->Serial == Serial && FItems[i]->vGUIDFrom == GUID) Erase(i);
}

TKzSocketItem* TKzSocketList::AddSocket(TKzConnSerial Serial, TKzSocket Socket, TStream* Stream) {
  return Add(std::make_unique<TKzSocketItem>(Serial, Socket), Stream);
}

TKzSocketItem* TKzSocketList::AddSocketGUID(TKzConnSerial Serial, TKzSocket Socket, const TGUID& GUID,
                                            TStream* Stream) {
  auto item = std::make_unique<TKzSocketItem>(Serial, Socket);
  item->vGUIDFrom = GUID;
  item->KeyedByGUID = true;
  return Add(std::move(item), Stream);
}

TKzSocketItem* TKzSocketList::GetSocket(TKzConnSerial Serial) const {
  for (const auto& item : FItems)
    if (item->Serial == Serial) return item.get();
  return nullptr;
}

TKzSocketItem* TKzSocketList::GetSocketGUID(TKzConnSerial Serial, const TGUID& GUID) const {
  for (const auto& item : FItems)
    if (item->Serial == Serial && item->vGUIDFrom == GUID) return item.get();
  return nullptr;
}

TKzSocketItem* TKzSocketList::AddData(TKzConnSerial Serial, TKzSocket Socket, TStream& Stream) {
  if (Stream.Size() - Stream.Position() <= 0) return GetSocket(Serial);
  TKzSocketItem* item = GetSocket(Serial);
  if (!item) return AddSocket(Serial, Socket, &Stream);
  AppendUnread(item->RecvStream, Stream);
  return item;
}

TKzSocketItem* TKzSocketList::AddDataGUID(TKzConnSerial Serial, TKzSocket Socket, const TGUID& GUID, TStream& Stream) {
  if (Stream.Size() - Stream.Position() <= 0) return GetSocketGUID(Serial, GUID);
  TKzSocketItem* item = GetSocketGUID(Serial, GUID);
  if (!item) return AddSocketGUID(Serial, Socket, GUID, &Stream);
  AppendUnread(item->RecvStream, Stream);
  return item;
}

TKzSocketItem* TKzSocketList::CreateGUID(TKzConnSerial Serial, TKzSocket Socket, const TGUID& GUID) {
  if (TKzSocketItem* item = GetSocketGUID(Serial, GUID)) return item;
  return AddSocketGUID(Serial, Socket, GUID);
}

}  // namespace kz
