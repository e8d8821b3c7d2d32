#include "streaming/fmxMKzChannelSession.h"

#include <algorithm>
#include <cstring>

#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzStreamMarkers.h"

namespace kz {

namespace {

constexpr size_t kPack = TKzSessionPack::WireSize;
constexpr size_t kHeaderPack = TKzHeaderPack::WireSize;
constexpr size_t kKeepTail = 3;
// The most a batch may hold between its packs before it is given up.
constexpr size_t kMaxBatch = static_cast<size_t>(KZ_MAX_PAYLOAD) + 65536;

void AppendSessionPack(std::vector<uint8_t>& Out, const TKzMarker& Marker, TKzSessionKey Key, int64_t DataLen) {
  uint8_t b[kPack];
  KzSessionPackToBytes({Marker, Key, DataLen}, b);
  Out.insert(Out.end(), b, b + kPack);
}

bool IsHeaderPackAt(const uint8_t* Data, size_t Size, size_t At) {
  return At + 4 <= Size && (std::memcmp(Data + At, HEADER_MARKER_TCP.data(), 4) == 0 ||
                            std::memcmp(Data + At, HEADER_MARKER_UDP.data(), 4) == 0);
}

}  // namespace

void KzBuildChannelBatch(TKzSessionKey SessionKey, const TKzQueuedPayload* Items, size_t Count,
                         TKzPacketWriter& Writer, uint16_t& IndexPart, std::vector<uint8_t>& Out) {
  if (Count == 0) {
    AppendSessionPack(Out, MARKER_SESSION_NODATA, SessionKey, 0);
    return;
  }
  const size_t begin = Out.size();
  Out.resize(begin + kPack);
  for (size_t i = 0; i < Count; ++i) {
    const size_t at = Out.size();
    Out.resize(at + kHeaderPack);
    TKzPacketSpec spec = Items[i].Spec;
    spec.Protocol = TKzProtocol::kzpTCP;
    const int64_t t = Writer.Write(spec, Items[i].Data, Items[i].Size, IndexPart, [&Out](const uint8_t* P, size_t N) {
      Out.insert(Out.end(), P, P + N);
      return true;
    });
    TKzHeaderPack pack;
    pack.MARKER = HEADER_MARKER_TCP;
    pack.LenPack = t;
    pack.GUIDTo = spec.GUIDTo;
    pack.GUIDFrom = spec.GUIDFrom;
    pack.GUIDGroup = spec.GUIDGroup;
    KzHeaderPackToBytes(pack, Out.data() + at);
  }
  const int64_t dataLen = static_cast<int64_t>(Out.size() - begin - kPack);
  KzSessionPackToBytes({MARKER_SESSION_BEGIN, SessionKey, dataLen}, Out.data() + begin);
  AppendSessionPack(Out, MARKER_SESSION_END, SessionKey, dataLen);
}

void KzBuildChannelAnswer(const TKzChannelRequest& Request, TKzSessionKey SessionKey, const TKzQueuedPayload* Queued,
                          TKzPacketWriter& Writer, uint16_t& IndexPart, std::vector<uint8_t>& Out) {
  uint8_t type = 0;
  const TKzChannelRequestKind kind = KzChannelRequestKind(Request.Text, type);
  const bool answer =
      kind == TKzChannelRequestKind::kzcrData && Queued && (Queued->Spec.DataType & DATA_TYPE_MASK) == type;
  KzBuildChannelBatch(SessionKey, Queued, answer ? 1 : 0, Writer, IndexPart, Out);
}

int64_t KzAnswerChannelRequest(TKzSocket Socket, const TKzChannelRequest& Request, TKzSessionKey SessionKey,
                               const TKzQueuedPayload* Queued, TKzPacketWriter& Writer, uint16_t& IndexPart,
                               TThread* Thread) {
  std::vector<uint8_t> answer;
  KzBuildChannelAnswer(Request, SessionKey, Queued, Writer, IndexPart, answer);
  return KzSendAll(Socket, answer.data(), answer.size(), 0, Thread);
}

std::vector<TKzBatchChunk> KzSplitBatch(const uint8_t* Data, size_t Size) {
  static constexpr TKzMarker kHeads[2] = {HEADER_MARKER_TCP, HEADER_MARKER_UDP};
  std::vector<TKzBatchChunk> out;
  size_t pos = 0;
  for (;;) {
    int which = -1;
    const int64_t at = KzFindFirstMarker(Data, Size, pos, kHeads, 2, which);
    if (at < 0 || static_cast<size_t>(at) + kHeaderPack > Size) return out;
    const size_t start = static_cast<size_t>(at);
    TKzBatchChunk chunk;
    chunk.HeaderPack = KzHeaderPackFromBytes(Data + start);
    chunk.Protocol = which == 0 ? TKzProtocol::kzpTCP : TKzProtocol::kzpUDP;
    const int64_t len = chunk.HeaderPack.LenPack;
    size_t stop = Size;
    if (len >= 0 && static_cast<uint64_t>(len) <= Size - start - kHeaderPack &&
        (start + kHeaderPack + static_cast<size_t>(len) == Size ||
         IsHeaderPackAt(Data, Size, start + kHeaderPack + static_cast<size_t>(len)))) {
      stop = start + kHeaderPack + static_cast<size_t>(len);
    } else {
      int next = -1;
      const int64_t n = KzFindFirstMarker(Data, Size, start + kHeaderPack, kHeads, 2, next);
      if (n >= 0) stop = static_cast<size_t>(n);
    }
    const uint8_t* packet = Data + start + kHeaderPack;
    const size_t packetSize = stop - start - kHeaderPack;
    if (!(packetSize == MARKER_NULL.size() && std::memcmp(packet, MARKER_NULL.data(), packetSize) == 0)) {
      chunk.Packet.assign(packet, packet + packetSize);
      out.push_back(std::move(chunk));
    }
    pos = stop;
  }
}

void TKzBatchReader::Feed(const uint8_t* Data, size_t Size) {
  FBuf.insert(FBuf.end(), Data, Data + Size);
  Process();
}

bool TKzBatchReader::Next(TKzBatch& Batch) {
  if (FOut.empty()) return false;
  Batch = std::move(FOut.front());
  FOut.pop_front();
  return true;
}

void TKzBatchReader::Process() {
  static constexpr TKzMarker kStarts[2] = {MARKER_SESSION_BEGIN, MARKER_SESSION_NODATA};
  for (;;) {
    if (!FOpen) {
      int which = -1;
      const int64_t at = KzFindFirstMarker(FBuf.data(), FBuf.size(), 0, kStarts, 2, which);
      if (at < 0) {
        if (FBuf.size() > kKeepTail) FBuf.erase(FBuf.begin(), FBuf.end() - kKeepTail);
        return;
      }
      FBuf.erase(FBuf.begin(), FBuf.begin() + at);
      if (FBuf.size() < kPack) return;
      FBegin = KzSessionPackFromBytes(FBuf.data());
      if (which == 1) {
        TKzBatch none;
        none.Begin = FBegin;
        FOut.push_back(std::move(none));
        FBuf.erase(FBuf.begin(), FBuf.begin() + kPack);
        continue;
      }
      FOpen = true;
      FSearchFrom = kPack;
    }
    const int64_t e = KzFindMarker(FBuf.data(), FBuf.size(), FSearchFrom, MARKER_SESSION_END);
    if (e < 0) {
      FSearchFrom = std::max(FSearchFrom, FBuf.size() > kKeepTail ? FBuf.size() - kKeepTail : size_t{0});
      if (FBuf.size() > kMaxBatch + kPack) {
        TKzBatch broken;
        broken.Begin = FBegin;
        broken.Valid = false;
        FOut.push_back(std::move(broken));
        FBuf.clear();
        FOpen = false;
      }
      return;
    }
    const size_t end = static_cast<size_t>(e);
    FSearchFrom = end;
    if (FBuf.size() < end + kPack) return;
    TKzBatch batch;
    batch.Begin = FBegin;
    batch.End = KzSessionPackFromBytes(FBuf.data() + end);
    const bool agree = batch.End.SessionKey == FBegin.SessionKey && batch.End.DataLen == FBegin.DataLen;
    // An end marker that disagrees inside the announced length is payload.
    if (!agree && FBegin.DataLen >= 0 && static_cast<uint64_t>(end - kPack) < static_cast<uint64_t>(FBegin.DataLen)) {
      FSearchFrom = end + 1;
      continue;
    }
    batch.Valid = agree && end > kPack;
    if (batch.Valid) batch.Chunks = KzSplitBatch(FBuf.data() + kPack, end - kPack);
    FOut.push_back(std::move(batch));
    FBuf.erase(FBuf.begin(), FBuf.begin() + static_cast<std::ptrdiff_t>(end + kPack));
    FOpen = false;
  }
}

}  // namespace kz
