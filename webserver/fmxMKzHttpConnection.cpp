#include "webserver/fmxMKzHttpConnection.h"

namespace kz {

TKzHttpConnection::TKzHttpConnection(TKzSocket Socket, uint64_t Now)
    : StateSince(Now), FSocket(Socket), FLastProgress(Now) {
  PlatformSetNonBlocking(FSocket, true);
  PlatformSetNoDelay(FSocket, true);
  // The kernel queues at most a few frames for a client: one that stops
  // reading is noticed (and dropped) in seconds, and memory stays bounded.
  PlatformSetSendBufferBytes(FSocket, 256 * 1024);
}

TKzHttpConnection::~TKzHttpConnection() {
  // Unread bytes at the close would reset the connection and could take the
  // last reply (a 400 or 431) away from the client: read what is there first.
  char buffer[4096];
  for (int round = 0; round < 16 && PlatformRecv(FSocket, buffer, sizeof buffer) > 0; ++round) {
  }
  PlatformCloseSocket(FSocket);
}

bool TKzHttpConnection::Receive(size_t Limit, uint64_t Now) {
  char buffer[4096];
  for (int round = 0; round < 16; ++round) {
    const int64_t n = PlatformRecv(FSocket, buffer, sizeof buffer);
    if (n == 0) return false;
    if (n < 0) return PlatformSocketError() == TKzSocketError::kzseWouldBlock;
    FLastProgress = Now;
    if (FInput.size() < Limit) FInput.append(buffer, std::min<size_t>(static_cast<size_t>(n), Limit - FInput.size()));
  }
  return true;
}

void TKzHttpConnection::Queue(std::string Text) {
  FOutBytes += Text.size();
  FOut.push_back(TPiece{std::move(Text), nullptr});
}

void TKzHttpConnection::Queue(TKzHttpJpegRef Jpeg) {
  FOutBytes += Jpeg->Bytes.size();
  FOut.push_back(TPiece{{}, std::move(Jpeg)});
}

bool TKzHttpConnection::Flush(uint64_t Now) {
  while (!FOut.empty()) {
    const std::string& bytes = FOut.front().Bytes();
    const int64_t n = PlatformSend(FSocket, bytes.data() + FOutOffset, static_cast<int64_t>(bytes.size() - FOutOffset));
    if (n < 0) return PlatformSocketError() == TKzSocketError::kzseWouldBlock;
    if (n > 0) FLastProgress = Now;
    FOutOffset += static_cast<size_t>(n);
    FOutBytes -= static_cast<size_t>(n);
    if (FOutOffset < bytes.size()) return true;
    FOut.pop_front();
    FOutOffset = 0;
  }
  return true;
}

}  // namespace kz
