#include "streaming/Fmxmkzsocketutil.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "streaming/fmxMKzStreamMarkers.h"

namespace kz {

namespace {

constexpr uint32_t kPollSliceMs = 100;  // how often a wait looks at the thread's terminate flag

// Socket waits use the real clock: a test's virtual clock must not stretch them.
uint64_t NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

bool Stopped(TThread* Thread) { return Thread && Thread->Terminated(); }

// Waits for room to send; false when none came or the thread was stopped.
bool WaitWritable(TKzSocket Socket, uint32_t WaitMs, TThread* Thread) {
  for (uint32_t waited = 0;;) {
    const uint32_t slice = std::min(kPollSliceMs, WaitMs - waited);
    const int r = PlatformPollWrite(Socket, slice);
    if (r != 0) return r > 0;
    waited += slice;
    if (waited >= WaitMs || Stopped(Thread)) return false;
  }
}

void Pause(uint32_t Ms, TThread* Thread) {
  for (uint32_t slept = 0; slept < Ms && !Stopped(Thread); slept += kPollSliceMs)
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kPollSliceMs, Ms - slept)));
}

}  // namespace

int64_t KzSendAll(TKzSocket Socket, const uint8_t* Data, size_t Size, uint32_t IntervalMs, TThread* Thread,
                  uint32_t WaitMs) {
  if (Socket == KZ_INVALID_SOCKET) return -1;
  size_t sent = 0;
  for (int call = 0; call < KZ_SEND_CALLS && sent < Size; ++call) {
    if (Stopped(Thread)) return -1;
    if (!WaitWritable(Socket, WaitMs, Thread)) continue;
    const int64_t r = PlatformSend(Socket, Data + sent, static_cast<int64_t>(Size - sent));
    if (r < 0) {
      if (PlatformSocketError() == TKzSocketError::kzseWouldBlock) continue;
      return -1;
    }
    sent += static_cast<size_t>(r);
    if (IntervalMs) Pause(IntervalMs, Thread);
  }
  return sent == Size ? static_cast<int64_t>(Size) : -1;
}

int64_t KzMSendHeaderPack(TKzSocket Socket, const TGUID& GUIDTo, const TGUID& GUIDFrom, const TGUID& GUIDGroup,
                          int64_t LenPack) {
  TKzHeaderPack pack;
  pack.MARKER = HEADER_MARKER_TCP;
  pack.LenPack = LenPack;
  pack.GUIDTo = GUIDTo;
  pack.GUIDFrom = GUIDFrom;
  pack.GUIDGroup = GUIDGroup;
  uint8_t bytes[TKzHeaderPack::WireSize];
  KzHeaderPackToBytes(pack, bytes);
  return KzSendAll(Socket, bytes, sizeof bytes);
}

int64_t KzMSendSessionPack(TKzSocket Socket, TKzSessionKey SessionKey, int64_t DataLen, const TKzMarker& Marker) {
  uint8_t bytes[TKzSessionPack::WireSize];
  KzSessionPackToBytes({Marker, SessionKey, DataLen}, bytes);
  return KzSendAll(Socket, bytes, sizeof bytes);
}

TKzHttpPreamble KzMatchHttpPreamble(const uint8_t* Data, size_t Size, size_t& End) {
  static constexpr std::string_view kMethods[] = {"POST", "GET", "CONNECT"};
  const std::string_view text(reinterpret_cast<const char*>(Data), Size);
  bool request = false;
  bool maybe = false;  // too few bytes to tell yet
  for (std::string_view m : kMethods) {
    if (text.size() >= m.size() ? text.substr(0, m.size()) == m : m.substr(0, text.size()) == text) {
      request = request || text.size() >= m.size();
      maybe = maybe || text.size() < m.size();
    }
  }
  if (!request) return maybe ? TKzHttpPreamble::kzhpIncomplete : TKzHttpPreamble::kzhpNone;
  const int64_t blank = KzFindBytes(Data, std::min(Size, KZ_HTTP_PREAMBLE_MAX), 0,
                                    reinterpret_cast<const uint8_t*>("\r\n\r\n"), 4);
  if (blank >= 0) {
    End = static_cast<size_t>(blank) + 4;
    return TKzHttpPreamble::kzhpFound;
  }
  return Size >= KZ_HTTP_PREAMBLE_MAX ? TKzHttpPreamble::kzhpTooLong : TKzHttpPreamble::kzhpIncomplete;
}

bool KzMIsHttpRequest(TKzSocket Socket, TMemoryStream& Stream, bool Blocking, TStream* DumpStream, uint32_t Timeout) {
  const uint64_t deadline = NowMs() + Timeout;
  uint8_t buf[4096];
  for (;;) {
    size_t end = 0;
    const TKzHttpPreamble r = KzMatchHttpPreamble(Stream.Memory(), static_cast<size_t>(Stream.Size()), end);
    if (r == TKzHttpPreamble::kzhpFound) {
      Stream.SetPosition(static_cast<int64_t>(end));
      return true;
    }
    const uint64_t now = NowMs();
    if (r != TKzHttpPreamble::kzhpIncomplete || now >= deadline) break;
    // Blocking or not, the wait ends at the deadline; the preamble's length is capped by the match.
    (void)Blocking;
    if (PlatformPollRead(Socket, static_cast<uint32_t>(std::min<uint64_t>(deadline - now, UINT32_MAX))) != 1) break;
    const int64_t got = PlatformRecv(Socket, buf, sizeof buf);
    if (got <= 0) break;  // a failed read gives up
    Stream.Seek(0, TSeekOrigin::soEnd);
    Stream.Write(buf, got);
    if (DumpStream) DumpStream->Write(buf, got);
  }
  Stream.SetPosition(0);
  return false;
}

std::string KzProxyPreamble(const std::string& Host, uint16_t Port, const std::string& Authorization) {
  const std::string target = Port ? Host + ":" + std::to_string(Port) : Host;
  std::string s = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
  if (!Authorization.empty()) s += "Proxy-Authorization: " + Authorization + "\r\n";
  return s + "\r\n";
}

int64_t KzMRecvNonBlock(TKzSocket Socket, uint8_t* Buffer, int64_t Count, bool WaitAll, uint32_t Timeout,
                        TThread* Thread) {
  const uint64_t deadline = NowMs() + Timeout;
  int64_t total = 0;
  while (total < Count && !Stopped(Thread)) {
    const uint64_t now = NowMs();
    if (now >= deadline) break;
    const int ready = PlatformPollRead(Socket, static_cast<uint32_t>(std::min<uint64_t>(deadline - now, kPollSliceMs)));
    if (ready < 0) return -1;
    if (ready == 0) continue;
    const int64_t r = PlatformRecv(Socket, Buffer + total, Count - total);
    if (r == 0) break;  // the peer closed: what came is all there is
    if (r < 0) {
      const TKzSocketError e = PlatformSocketError();
      if (e == TKzSocketError::kzseWouldBlock || e == TKzSocketError::kzseTimedOut) continue;
      return -1;
    }
    total += r;
    if (!WaitAll) break;
  }
  return total;
}

int64_t KzMReadFromSocket(TKzSocket Socket, TMemoryStream& Stream, bool Blocking, int64_t Offset, uint32_t Timeout,
                          bool WaitAll, int64_t Size, TStream* DumpStream, TThread* Thread) {
  if (Offset < 0 || Offset >= Size || !Stream.SetSize(Size)) return -1;
  // A blocking read is one receive: it waits for the first bytes only.
  const int64_t got = KzMRecvNonBlock(Socket, Stream.Memory() + Offset, Size - Offset, WaitAll && !Blocking, Timeout,
                                      Thread);
  if (got > 0 && DumpStream) DumpStream->Write(Stream.Memory() + Offset, got);
  return got;
}

}  // namespace kz
