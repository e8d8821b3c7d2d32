#include "streaming/Fmxmkzsenderthread.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "streaming/Fmxmkzsocketutil.h"

namespace kz {

namespace {

// Sends one datagram; false on failure.
bool SendDatagram(const TKzSendStreamArgs& Args, const uint8_t* Data, size_t Size) {
  for (int call = 0; call < KZ_SEND_CALLS; ++call) {
    const int64_t r = PlatformSendTo(Args.Socket, Data, static_cast<int64_t>(Size), Args.Address, Args.Port);
    if (r == static_cast<int64_t>(Size)) return true;
    if (r >= 0 || PlatformSocketError() != TKzSocketError::kzseWouldBlock) return false;
    PlatformPollWrite(Args.Socket, KZ_SEND_WAIT_MS);
  }
  return false;
}

}  // namespace

int64_t KzSendStream(const TKzSendStreamArgs& Args, TStream& Payload, uint16_t& IndexPart, TKzPacketWriter* Writer) {
  const uint16_t dataType = static_cast<uint16_t>(Args.Spec.DataType & DATA_TYPE_MASK);
  const int64_t start = Payload.Position();
  const int64_t size = Payload.Size() - start;
  if (size < 0 || size > KZ_MAX_PAYLOAD) {
    KzPostMessageDebug(Args.Owner, size, "payload of " + std::to_string(size) + " bytes not sent");
    return -1;
  }
  // A memory stream is sent from its memory; any other stream is read first.
  std::vector<uint8_t> copy;
  const uint8_t* data = nullptr;
  if (auto* memory = dynamic_cast<TMemoryStream*>(&Payload)) {
    data = memory->Memory() + start;
  } else {
    copy.resize(static_cast<size_t>(size));
    if (Payload.Read(copy.data(), size) != size) return -1;
    data = copy.data();
  }
  TKzPacketSpec spec = Args.Spec;
  spec.BufferSize = Args.SendParam.BufferSize;
  spec.FileStart += start;  // a piece of a file says where it lies
  const bool datagrams = spec.Protocol == TKzProtocol::kzpUDP;
  // No datagram may exceed what IPv4 carries; a bigger one would not be sent at all.
  if (datagrams) spec.BufferSize = static_cast<uint32_t>(std::min<int64_t>(spec.BufferSize, KZ_MAX_DATAGRAM));
  TKzPacketWriter ownWriter;
  TKzPacketWriter& writer = Writer ? *Writer : ownWriter;

  const int64_t total = writer.Write(spec, data, static_cast<size_t>(size), IndexPart,
                                     [&](const uint8_t* Packet, size_t Size) {
    if (Args.Thread && Args.Thread->Terminated()) return false;
    const bool sent = datagrams ? SendDatagram(Args, Packet, Size)
                                : KzSendAll(Args.Socket, Packet, Size, Args.SendParam.Interval, Args.Thread) >= 0;
    if (!sent) return false;
    if (Args.Dump) Args.Dump->Write(Packet, static_cast<int64_t>(Size));
    if (Args.OnPacketSent)
      Args.OnPacketSent(Args.Owner, Args.SessionKey, dataType, spec.Info, Args.Socket, spec.GUIDFrom, spec.GUIDTo,
                        spec.GUIDGroup);
    if (datagrams && Args.DatagramPause)
      std::this_thread::sleep_for(std::chrono::milliseconds(Args.DatagramPause));
    return true;
  });
  Payload.SetPosition(start + (total < 0 ? 0 : size));
  if (total < 0) {
    if (!(Args.Thread && Args.Thread->Terminated())) KzErrorConnectedEvent(Args.Owner, dataType);
    return -1;
  }
  if (Args.DebugReport) KzPostMessageDebug(Args.Owner, total, "sent " + std::to_string(total) + " bytes");
  return total;
}

}  // namespace kz
