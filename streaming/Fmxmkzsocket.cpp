#include "streaming/Fmxmkzsocket.h"

namespace kz {

TKzSocket KzMSocket(int Domain, int Type, int /*Protocol*/) {
  if (Domain != KZ_AF_INET) return KZ_INVALID_SOCKET;
  if (Type == KZ_SOCK_STREAM) return PlatformSocketTCP();
  if (Type == KZ_SOCK_DGRAM) return PlatformSocketUDP();
  return KZ_INVALID_SOCKET;
}

void KzMInitSockAddrIn(uint16_t Family, uint16_t Port, uint32_t Address, TKzSockAddrIn& SockAddr) {
  SockAddr.Family = Family;
  SockAddr.Port = Port;
  SockAddr.Address = Address;
}

void KzMClearSockAddrIn(TKzSockAddrIn& SockAddr) { SockAddr = TKzSockAddrIn{0, 0, 0}; }

uint16_t KzMHostPort(const TKzSockAddrIn& A) { return static_cast<uint16_t>((A.Port >> 8) | (A.Port << 8)); }

int KzMBind(TKzSocket Socket, const TKzSockAddrIn& A) { return PlatformBind(Socket, A.Address, KzMHostPort(A)); }
int KzMListen(TKzSocket Socket, int Backlog) { return PlatformListen(Socket, Backlog); }
TKzSocket KzMAccept(TKzSocket Socket, uint32_t Ms) { return PlatformAccept(Socket, Ms); }
int KzMConnect(TKzSocket Socket, const TKzSockAddrIn& A) { return PlatformConnect(Socket, A.Address, KzMHostPort(A)); }

int64_t KzMSend(TKzSocket Socket, const void* Buffer, int64_t Count, uint32_t Ms) {
  if (PlatformPollWrite(Socket, Ms) < 0) return -1;
  return PlatformSend(Socket, Buffer, Count);
}

int64_t KzMSendTo(TKzSocket Socket, const void* Buffer, int64_t Count, const TKzSockAddrIn& To) {
  return PlatformSendTo(Socket, Buffer, Count, To.Address, KzMHostPort(To));
}

int64_t KzMRecv(TKzSocket Socket, void* Buffer, int64_t Count, uint32_t Ms) {
  const int r = PlatformPollRead(Socket, Ms);
  if (r <= 0) {
    if (r == 0) PlatformSetLastSocketError(TKzSocketError::kzseTimedOut);
    return -1;
  }
  return PlatformRecv(Socket, Buffer, Count);
}

int64_t KzMRecvFrom(TKzSocket Socket, void* Buffer, int64_t Count, uint32_t Ms, TKzSockAddrIn& From) {
  const int r = PlatformPollRead(Socket, Ms);
  if (r <= 0) {
    if (r == 0) PlatformSetLastSocketError(TKzSocketError::kzseTimedOut);
    return -1;
  }
  uint32_t address = 0;
  uint16_t port = 0;
  const int64_t n = PlatformRecvFromAddr(Socket, Buffer, Count, address, port);
  if (n >= 0) KzMInitSockAddrIn(KZ_AF_INET, static_cast<uint16_t>((port >> 8) | (port << 8)), address, From);
  return n;
}

int KzMWSSelect(std::vector<TKzSocket>& ReadList, uint32_t Timeout) {
  std::vector<char> ready(ReadList.size());
  const int r = PlatformPollReadMany(ReadList.data(), reinterpret_cast<bool*>(ready.data()),
                                     static_cast<int>(ReadList.size()), Timeout);
  if (r < 0) return -1;
  std::vector<TKzSocket> kept;
  for (size_t i = 0; i < ReadList.size(); ++i)
    if (ready[i]) kept.push_back(ReadList[i]);
  ReadList.swap(kept);
  return static_cast<int>(ReadList.size());
}

TKzSocketError KzMSocketError() { return PlatformSocketError(); }

int64_t KzMGetSendBufferSize(TKzSocket Socket, int64_t Default) {
  if (Socket != KZ_INVALID_SOCKET && PlatformIsDatagramSocket(Socket)) return KZ_MAX_DATAGRAM;
  return Default != 0 ? Default : 8192;
}

bool KzMSetNotBlockSocket(TKzSocket Socket, int& OldMode) {
  OldMode = 0;
  return PlatformSetNonBlocking(Socket, true);
}

bool KzMRestoreSocket(TKzSocket Socket, int Mode) { return PlatformSetNonBlocking(Socket, Mode != 0); }

TKzSocket KzMExchangeSocket(TKzSocket& Socket) {
  const TKzSocket s = Socket;
  Socket = KZ_INVALID_SOCKET;
  return s;
}

void KzMCloseSocket(TKzSocket& Socket) { PlatformCloseSocket(Socket); }

void KzMRemoveSocket(TKzSocket& Socket) {
  if (Socket == KZ_INVALID_SOCKET) return;
  PlatformShutdown(Socket);
  PlatformCloseSocket(Socket);
}

}  // namespace kz
