// Shared by the relay tests: a relay on loopback, a sender pushing to it
// and a pulling receiver behind it, and raw participants that speak the
// wire directly (commands, channel requests) where a component has no call for it.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "sender/fmxMKzCamSender.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzPacketWriter.h"
#include "streaming/fmxMKzStreamConnect.h"
#include "streaming/server/fmxMKzMediaServer.h"
#include "tests/kztestpeers.h"
#include "tests/streaming/kzreceivertestutil.h"

namespace kztest {

inline std::string GuidText(int N) {
  char b[64];
  std::snprintf(b, sizeof b, "{%08X-0000-4000-8000-%012X}", 0x10000000u + static_cast<unsigned>(N), static_cast<unsigned>(N));
  return b;
}
inline kz::TGUID Guid(int N) { return kz::StringToGUIDA(GuidText(N)); }

// The kzrelay daemon on Port with Extra arguments (its output dropped),
// killed (SIGKILL) when it goes; Listening waits for its port.
struct TRelayProcess {
  uint16_t Port;
  TPeer Peer;
  explicit TRelayProcess(uint16_t APort, std::vector<std::string> Extra = {}, bool Listening = false) : Port(APort) {
    Extra.insert(Extra.begin(), {AppPath("kzrelay"), "--http-port", std::to_string(Port)});
    EXPECT_TRUE(Peer.Start(Extra, "/dev/null")) << Extra[0];
    if (Listening) {
      EXPECT_TRUE(Peer.WaitListening(Port, 10000)) << "kzrelay did not start";
    }
  }
  void Kill() { Peer.Kill(); }
  ~TRelayProcess() { Peer.Kill(); }
};

struct TRelay {
  kz::TKzMediaServer Server{nullptr};
  std::mutex Lock;
  std::vector<std::string> Refusals;
  explicit TRelay(bool Udp = false) {
    Server.SetHTTPPort(0);
    Server.SetUDPPort(0);
    Server.OnRefused = [this](kz::TKzMediaServer*, const std::string& Why, const kz::TGUID&) {
      std::lock_guard<std::mutex> g(Lock);
      Refusals.push_back(Why);
    };
    Server.SetHTTPActive(true);
    if (Udp) Server.SetUDPActive(true);
    EXPECT_NE(Server.HTTPBoundPort(), 0);
  }
  uint16_t Port() const { return Server.HTTPBoundPort(); }
  size_t RefusalCount() {
    std::lock_guard<std::mutex> g(Lock);
    return Refusals.size();
  }
};

// A sender pushing to the relay as From, addressed to To and/or Group
// (proving itself with Secret when one is given).
inline std::unique_ptr<kz::TKzCamSender> RelaySender(uint16_t Port, int From, int To, int Group,
                                                     kz::TKzProtocol Protocol = kz::TKzProtocol::kzpHTTP,
                                                     const std::string& Secret = "") {
  auto s = std::make_unique<kz::TKzCamSender>(nullptr);
  s->SetProtocol(Protocol);
  s->SetReceiverHost("127.0.0.1");
  s->SetReceiverPort(Port);
  s->SetGUIDFrom(GuidText(From));
  if (To) s->SetGUIDTo(GuidText(To));
  if (Group) s->SetGUIDGroup(GuidText(Group));
  if (!Secret.empty()) s->SetRelaySecret(Secret);
  s->SetActive(true);
  return s;
}

// A receiver pulling its channels from the relay as Me (proving itself with Secret).
inline std::unique_ptr<TReceiverProbe> RelayReceiver(uint16_t Port, int Me, kz::TKzMediaTypes Types,
                                                     const std::string& Secret = "") {
  auto p = std::make_unique<TReceiverProbe>(kz::TKzProtocol::kzpHTTP, kz::TKzTCPConnectionType::kztcpReceiverToSender);
  p->Receiver.SetGUIDMy(GuidText(Me));
  if (!Secret.empty()) p->Receiver.SetRelaySecret(Secret);
  p->Receiver.SetReceiveMediaTypes(Types);
  auto& item = p->Receiver.Senders().Add();
  item.SetSenderHost("127.0.0.1");
  item.SetSenderPort(Port);
  p->Receiver.SetActive(true);
  return p;
}

// The user data a receiver got, joined.
inline std::string Joined(TReceiverProbe& Rx) {
  std::lock_guard<std::mutex> g(Rx.Lock);
  std::string out;
  for (const TBytes& b : Rx.UserData) out.append(b.begin(), b.end());
  return out;
}

// Text as user data, to user To and/or group Group (0: none).
inline void SendText(kz::TKzCamSender& Tx, const std::string& Text, int To, int Group) {
  kz::TMemoryStream s;
  s.Write(Text.data(), static_cast<int64_t>(Text.size()));
  EXPECT_TRUE(Tx.SendUserData(s, To ? GuidText(To) : "", Group ? GuidText(Group) : ""));
}

// Frames shown by Rx once Count more arrived, Tx sending all the while; the
// milliseconds it took, -1 when they did not within TimeoutMs.
inline int64_t FramesResume(kz::TKzCamSender& Tx, TReceiverProbe& Rx, size_t Count, int TimeoutMs) {
  const size_t start = Rx.Count(Rx.Shown);
  const auto t0 = std::chrono::steady_clock::now();
  const kz::TKzMBitmap frame = PatternBitmap(2);
  if (!PumpUntil([&] {
        Tx.SendImageEx(frame, 0);
        kz::KzMWait(40);
        return Rx.Count(Rx.Shown) >= start + Count;
      }, TimeoutMs))
    return -1;
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

// One packet of Type from From (to To / Group when not 0), as a sender puts it on a stream connection.
inline TBytes Packet(uint16_t Type, const uint8_t* Data, size_t Size, int From, int To, int Group) {
  kz::TKzPacketSpec spec;
  spec.DataType = Type;
  spec.BufferSize = static_cast<uint32_t>(Size + 256);
  if (From) spec.GUIDFrom = Guid(From);
  if (To) spec.GUIDTo = Guid(To);
  if (Group) spec.GUIDGroup = Guid(Group);
  TBytes out;
  uint16_t index = 0;
  kz::TKzPacketWriter().Write(spec, Data, Size, index, [&out](const uint8_t* D, size_t N) {
    out.insert(out.end(), D, D + N);
    return true;
  });
  return out;
}

inline TBytes CmdPacket(const kz::TKzCmd& Cmd, int From, int To = 0, int Group = 0) {
  kz::TMemoryStream payload;
  kz::KzSaveCmdPayload({Cmd}, payload);
  return Packet(kz::DATA_TYPE_CMD, payload.Memory(), static_cast<size_t>(payload.Size()), From, To, Group);
}

inline kz::TKzCmd JoinCmd(int Group, const std::string& Password = "", bool OnlyExisting = false) {
  kz::TKzCmd c;
  c.Name = "KzS_GROUP_JOIN";
  c.AddParam("GUIDGroup").SetString(GuidText(Group));
  c.AddParam("Permanent").SetBoolean(false);
  if (!Password.empty()) c.AddParam("Password").SetString(Password);
  c.AddParam("OnlyExistingGroup").SetBoolean(OnlyExisting);
  return c;
}

// A raw connection to the relay.
struct TRawPeer {
  kz::TKzSocket S = kz::KZ_INVALID_SOCKET;
  kz::TKzBatchReader Batches;
  explicit TRawPeer(uint16_t Port) {
    std::string error;
    S = kz::KzMConnectStream({"127.0.0.1", Port, kz::TKzProtocol::kzpTCP, nullptr, 3000}, nullptr, error);
  }
  ~TRawPeer() { kz::PlatformCloseSocket(S); }
  bool Send(const TBytes& B) { return kz::KzSendAll(S, B.data(), B.size()) == static_cast<int64_t>(B.size()); }
  bool Request(const std::string& Text, int Me) {
    kz::TKzChannelRequest r;
    r.Text = Text;
    r.GUID = Me ? Guid(Me) : kz::TGUID{};
    TBytes b(kz::TKzChannelRequest::WireSize);
    kz::KzChannelRequestToBytes(r, b.data());
    return Send(b);
  }
  // The next answer (within Ms), or an invalid batch when none came or the relay closed.
  kz::TKzBatch Answer(int Ms = 5000) {
    kz::TKzBatch b;
    uint8_t buf[65536];
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    while (!Batches.Next(b)) {
      if (std::chrono::steady_clock::now() > end || kz::PlatformPollRead(S, 100) < 0) {
        b.Valid = false;
        return b;
      }
      if (kz::PlatformPollRead(S, 0) != 1) continue;
      const int64_t n = kz::PlatformRecv(S, buf, sizeof buf);
      if (n <= 0) {
        b.Valid = false;
        return b;
      }
      Batches.Feed(buf, static_cast<size_t>(n));
    }
    return b;
  }
  // Whether the relay closed the connection (within Ms).
  bool Closed(int Ms = 8000) {
    uint8_t buf[4096];
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    while (std::chrono::steady_clock::now() < end) {
      if (kz::PlatformPollRead(S, 100) != 1) continue;
      const int64_t n = kz::PlatformRecv(S, buf, sizeof buf);
      if (n <= 0) return true;
    }
    return false;
  }
};

// The commands carried by the packets of an answer.
inline std::vector<kz::TKzCmd> AnswerCommands(const kz::TKzBatch& B) {
  std::vector<kz::TKzCmd> out;
  kz::TKzPacketReader reader;
  for (const auto& c : B.Chunks) {
    reader.Feed(c.Packet.data(), c.Packet.size());
    for (kz::TKzPacket p; reader.Next(p);) {
      kz::TMemoryStream s;
      s.Write(p.Payload.data(), static_cast<int64_t>(p.Payload.size()));
      s.SetPosition(0);
      for (auto& cmd : kz::KzLoadCmdPayload(s)) out.push_back(std::move(cmd));
    }
  }
  return out;
}

using namespace kz;  // the helpers below speak the library's names

// User data packet from From to To / Group (0: not flagged) carrying Text.
inline TBytes UserPacket(const std::string& Text, int From, int To, int Group) {
  return Packet(DATA_TYPE_USERDATA, reinterpret_cast<const uint8_t*>(Text.data()), Text.size(), From, To, Group);
}

// The payload texts of an answer's packets.
inline std::vector<std::string> Texts(const TKzBatch& B) {
  std::vector<std::string> out;
  TKzPacketReader reader;
  for (const auto& c : B.Chunks) {
    reader.Feed(c.Packet.data(), c.Packet.size());
    for (TKzPacket p; reader.Next(p);) out.emplace_back(p.Payload.begin(), p.Payload.end());
  }
  return out;
}

// A raw participant pulling one kind as Me: polls collect what arrived.
struct TPuller {
  TRawPeer Peer;
  int Me;
  std::string Code;
  TPuller(uint16_t Port, int AMe, const std::string& ACode) : Peer(Port), Me(AMe), Code(ACode) {
    EXPECT_TRUE(Poll().Valid);
  }
  TKzBatch Poll() {
    Peer.Request(Code, Me);
    return Peer.Answer();
  }
  // Texts until Last arrives (or 10 s pass).
  std::vector<std::string> Until(const std::string& Last) {
    std::vector<std::string> all;
    for (int i = 0; i < 200 && std::find(all.begin(), all.end(), Last) == all.end(); ++i) {
      for (auto& t : Texts(Poll())) all.push_back(t);
      if (std::find(all.begin(), all.end(), Last) == all.end()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return all;
  }
  std::vector<TKzCmd> CommandsUntil(const std::string& Name) {
    std::vector<TKzCmd> all;
    auto has = [&] { return std::any_of(all.begin(), all.end(), [&](const TKzCmd& c) { return c.Name == Name; }); };
    for (int i = 0; i < 200 && !has(); ++i) {
      for (auto& c : AnswerCommands(Poll())) all.push_back(c);
      if (!has()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return all;
  }
};

inline kz::TKzCmd Cmd(const std::string& Name, std::initializer_list<std::pair<const char*, std::string>> Params = {}) {
  TKzCmd c;
  c.Name = Name;
  for (const auto& [n, v] : Params) c.AddParam(n).SetString(v);
  return c;
}

inline const kz::TKzCmd* Find(const std::vector<TKzCmd>& Cmds, const std::string& Name) {
  for (const TKzCmd& c : Cmds)
    if (c.Name == Name) return &c;
  return nullptr;
}

}  // namespace kztest
