// Shared by the receiver tests: payloads made here (wrapped in packets by
// the Python reference codec), a receiver with everything it delivers
// recorded, and a pulled sender whose answers are scripted.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/fmxMKzPlatformMainThread.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzCamReceiver.h"
#include "streaming/fmxMKzStreamConnect.h"
#include "tests/streaming/kzloopbackserver.h"
#include "tests/streaming/kzpackettestutil.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzImageCodecs.h"

namespace kztest {

using TBytes = std::vector<uint8_t>;

template <typename F>
bool PumpUntil(F Done, int Ms = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  for (; !Done(); kz::KzMWait(10))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

#ifdef KZ_REFCODEC
// The reference codec's encoding of each case line: a stream's bytes, or datagrams.
inline std::vector<std::vector<TBytes>> RefEncode(const std::vector<std::string>& Cases) {
  std::vector<std::vector<TBytes>> result;
  for (const std::string& line : RunRefCodec("encode", Cases)) {
    std::istringstream words(line);
    result.emplace_back();
    for (std::string hex; words >> hex;) result.back().push_back(FromHex(hex));
  }
  EXPECT_EQ(result.size(), Cases.size());
  return result;
}
#endif

// A picture whose pixels depend on Seed.
inline kz::TKzMBitmap PatternBitmap(int Seed, int W = 48, int H = 32) {
  kz::TKzMBitmap b;
  b.SetSize(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      b.ScanLine(y)[x] = 0xFF000000u | static_cast<uint32_t>(((x * 5 + Seed * 40) & 255) << 16 |
                                                             ((y * 7 + Seed * 13) & 255) << 8 | ((Seed * 60) & 255));
  return b;
}

inline TBytes EncodePicture(const kz::TKzMBitmap& B, kz::TKzEncodingType Encoding) {
  kz::TMemoryStream s;
  EXPECT_TRUE(Encoding == kz::TKzEncodingType::kzetPNG   ? kz::KzCodecEncodePNG(B, s)
              : Encoding == kz::TKzEncodingType::kzetBMP ? kz::KzCodecEncodeBMP(B, s)
                                                         : kz::KzCodecEncodeJPEG(B, s, 90));
  return TBytes(s.Memory(), s.Memory() + s.Size());
}

inline kz::TKzMBitmap DecodePicture(const TBytes& Picture) {
  kz::TKzMBitmap b;
  EXPECT_TRUE(kz::KzCodecDecode(Picture.data(), Picture.size(), b));
  return b;
}

inline TBytes FramedPicture(const TBytes& Picture, kz::TKzEncodingType Encoding, int64_t StartTime) {
  TBytes out;
  kz::KzAppendFramedImage(out, *kz::KzFindFrameFormat(Encoding), Picture.data(), static_cast<uint32_t>(Picture.size()),
                          StartTime, 40);
  return out;
}

inline bool SamePixels(const kz::TKzMCustomBitmap& A, const kz::TKzMCustomBitmap& B) {
  return A.Width() == B.Width() && A.Height() == B.Height() && std::equal(A.Data(), A.Data() + A.GetLength(), B.Data());
}

// ---- A receiver with everything it delivers recorded (under Lock).
struct TReceiverProbe : kz::IKzCamViewConsumer, kz::TCustomKzAudioOutput {
  struct TFileChunk {
    std::string Name;
    int64_t Offset;
    TBytes Data;
  };
  kz::TKzCamReceiver Receiver{nullptr};
  std::mutex Lock;
  std::vector<std::pair<kz::TGUID, kz::TKzMBitmap>> Shown;
  std::vector<std::pair<kz::TGUID, TBytes>> Audio;
  std::vector<int64_t> AudioStarts;
  std::vector<std::pair<kz::TGUID, kz::TKzCmd>> Commands;
  std::vector<TBytes> UserData;
  std::vector<TFileChunk> Files;
  std::vector<std::pair<uint32_t, uint16_t>> Notices;  // message number, data type
  std::vector<std::string> Joins;

  void ViewerGetImageBMP(kz::TComponent*, const kz::TKzMBitmap& B, bool, uint16_t, const kz::TGUID& From) override {
    Add(Shown, std::make_pair(From, B));
  }
  void PlayAudio(kz::TMemoryStream& S, int32_t Size, const kz::TGUID& From, uint16_t, bool, int32_t,
                 kz::TKzBitsPerSample, int32_t, int64_t Start, uint32_t) override {
    Add(AudioStarts, Start);
    Add(Audio, std::make_pair(From, TBytes(S.Memory(), S.Memory() + Size)));
  }
  template <typename T, typename V>
  void Add(std::vector<T>& List, V&& Value) {
    std::lock_guard<std::mutex> g(Lock);
    List.push_back(std::forward<V>(Value));
  }
  template <typename T>
  size_t Count(const std::vector<T>& List) {
    std::lock_guard<std::mutex> g(Lock);
    return List.size();
  }
  size_t NoticeCount(uint32_t Msg, uint16_t Type) {
    std::lock_guard<std::mutex> g(Lock);
    return static_cast<size_t>(std::count(Notices.begin(), Notices.end(), std::make_pair(Msg, Type)));
  }

  explicit TReceiverProbe(kz::TKzProtocol Protocol = kz::TKzProtocol::kzpTCP,
                          kz::TKzTCPConnectionType Topology = kz::TKzTCPConnectionType::kztcpSenderToReceiver)
      : kz::TCustomKzAudioOutput(nullptr) {
    using namespace kz;
    Receiver.SetPort(0);
    Receiver.SetProtocol(Protocol);
    Receiver.SetTCPConnectionType(Topology);
    Receiver.SetVideoLatency(0);
    Receiver.SetAudioOutput(this);
    Receiver.RegisterCamView(this);
    Receiver.OnReceiveCmdData = [this](TComponent*, TKzSessionKey, uint16_t, const TGUID& From, const TGUID&,
                                       const TGUID&, uint16_t, const TKzCmd& Cmd) { Add(Commands, std::make_pair(From, Cmd)); };
    Receiver.OnReceiveUserData = [this](TComponent*, TKzSessionKey, TMemoryStream& S, int32_t, const TGUID&,
                                        const TGUID&, const TGUID&, uint16_t) {
      Add(UserData, TBytes(S.Memory() + S.Position(), S.Memory() + S.Size()));
    };
    Receiver.OnReceiveFileData = [this](TComponent*, TKzSessionKey, const std::string& Name, int64_t Offs, int64_t,
                                        TMemoryStream& S, int32_t, const TGUID&, const TGUID&, const TGUID&, uint16_t) {
      Add(Files, TFileChunk{Name, Offs, TBytes(S.Memory() + S.Position(), S.Memory() + S.Size())});
    };
    Receiver.OnConnected = [this](TComponent*, uint16_t Type, int64_t) { Add(Notices, std::make_pair(KZ_MSG_CONNECTED, Type)); };
    Receiver.OnConnectError = [this](TComponent*, uint16_t Type) {
      Add(Notices, std::make_pair(KZ_MSG_CONNECTION_ERROR, Type));
    };
    Receiver.OnCloseChannel = [this](TComponent*, uint16_t Type) { Add(Notices, std::make_pair(1030u, Type)); };
    Receiver.OnUserJoinsGroup = [this](TComponent*, const TGUID&, const std::string& Group) { Add(Joins, "join " + Group); };
  }
  ~TReceiverProbe() override {
    Receiver.SetActive(false);
    Receiver.UnRegisterCamView(this);
    Receiver.SetAudioOutput(nullptr);
  }
  uint16_t Start() {
    Receiver.SetActive(true);
    EXPECT_TRUE(PumpUntil([&] { return Receiver.ListeningPort() != 0; }));
    return Receiver.ListeningPort();
  }
  // The file bytes so far, joined in arrival order.
  TBytes FileBytes() {
    std::lock_guard<std::mutex> g(Lock);
    TBytes all;
    for (const TFileChunk& c : Files) all.insert(all.end(), c.Data.begin(), c.Data.end());
    return all;
  }
};

// Sends bytes to the receiver's port over one new stream connection (HTTP:
// after the request preamble) and waits until the receiver has read them
// all, or as datagrams.
inline bool PushBytes(uint16_t Port, kz::TKzProtocol Protocol, const std::vector<TBytes>& Items) {
  using namespace kz;
  bool ok = true;
  if (Protocol == TKzProtocol::kzpUDP) {
    TKzSocket s = PlatformSocketUDP();
    for (const TBytes& d : Items) {
      const auto n = static_cast<int64_t>(d.size());
      ok = ok && PlatformSendTo(s, d.data(), n, PlatformLookupIPv4("127.0.0.1"), Port) == n;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    PlatformCloseSocket(s);
    return ok;
  }
  std::string error;
  TKzSocket s = KzMConnectStream({"127.0.0.1", Port, Protocol, nullptr, 3000}, nullptr, error);
  if (s == KZ_INVALID_SOCKET) return false;
  for (const TBytes& b : Items) ok = ok && KzSendAll(s, b.data(), b.size()) == static_cast<int64_t>(b.size());
  PlatformShutdown(s);
  uint8_t sink[256];
  while (PlatformPollRead(s, 3000) == 1 && PlatformRecv(s, sink, sizeof sink) > 0) {
  }
  PlatformCloseSocket(s);
  return ok;
}

// A pulled sender whose answers are scripted: each data request takes the
// next batch queued for its type, anything else is answered "hmSN" with the
// current key. Requests are recorded.
class TFakePullSender {
public:
  struct TRequest {
    std::string Text;
    kz::TKzSessionKey Key;
    std::chrono::steady_clock::time_point At;
    int Connection;
  };
  explicit TFakePullSender(bool Http = false) : FHttp(Http) { Port = FServer.Port; }
  void Queue(uint8_t Type, const TBytes& Batch) {
    std::lock_guard<std::mutex> g(FLock);
    FQueued[Type].push_back(Batch);
  }
  std::vector<TRequest> Requests() {
    std::lock_guard<std::mutex> g(FLock);
    return FRequests;
  }
  size_t RequestCount(const std::string& Text) {
    std::lock_guard<std::mutex> g(FLock);
    return static_cast<size_t>(std::count_if(FRequests.begin(), FRequests.end(), [&](auto& r) { return r.Text == Text; }));
  }
  size_t OpenConnections() {
    std::lock_guard<std::mutex> g(FLock);
    return FOpen.size();
  }
  int Connections() { return FServer.Connections(); }

  uint16_t Port = 0;
  std::atomic<kz::TKzSessionKey> Key{3};

private:
  void Serve(kz::TKzSocket S, int Connection) {
    {
      std::lock_guard<std::mutex> g(FLock);
      FOpen.push_back(S);
    }
    std::string in;
    char buf[4096];
    for (bool preamble = FHttp; !FServer.Stopping();) {
      if (kz::PlatformPollRead(S, 100) != 1) continue;
      const int64_t n = kz::PlatformRecv(S, buf, sizeof buf);
      if (n <= 0) break;
      in.append(buf, static_cast<size_t>(n));
      if (preamble && in.find("\r\n\r\n") == std::string::npos) continue;
      if (preamble) in.erase(0, in.find("\r\n\r\n") + 4), preamble = false;
      for (; in.size() >= kz::TKzChannelRequest::WireSize; in.erase(0, kz::TKzChannelRequest::WireSize)) {
        const auto r = kz::KzChannelRequestFromBytes(reinterpret_cast<const uint8_t*>(in.data()));
        uint8_t code = 0;
        const bool data = kz::KzChannelRequestKind(r.Text, code) == kz::TKzChannelRequestKind::kzcrData;
        TBytes answer(kz::TKzSessionPack::WireSize);
        kz::KzSessionPackToBytes({kz::MARKER_SESSION_NODATA, Key.load(), 0}, answer.data());
        {
          std::lock_guard<std::mutex> g(FLock);
          FRequests.push_back({r.Text, r.SessionKey, std::chrono::steady_clock::now(), Connection});
          if (data && !FQueued[code].empty()) answer = FQueued[code].front(), FQueued[code].erase(FQueued[code].begin());
        }
        if (kz::KzSendAll(S, answer.data(), answer.size()) < 0) break;
      }
    }
    std::lock_guard<std::mutex> g(FLock);
    FOpen.erase(std::remove(FOpen.begin(), FOpen.end(), S), FOpen.end());
    kz::PlatformCloseSocket(S);
  }

  const bool FHttp;
  std::mutex FLock;  // guards everything below but the server
  std::map<uint8_t, std::vector<TBytes>> FQueued;
  std::vector<TRequest> FRequests;
  std::vector<kz::TKzSocket> FOpen;
  TLoopbackServer FServer{[this](kz::TKzSocket S, int Connection) { Serve(S, Connection); }};  // last: its threads use the rest
};

}  // namespace kztest
