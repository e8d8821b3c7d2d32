// Shared by the receiver tests: payloads made here and wrapped in packets by
// the Python reference codec, a receiver with a view, an audio output and
// every event recorded, and a pulled sender whose answers are scripted.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
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
#include "tests/streaming/kzpackettestutil.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzImageCodecs.h"

namespace kztest {

using TBytes = std::vector<uint8_t>;

template <typename F>
bool PumpUntil(F Done, int Ms = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  while (!Done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    kz::KzMWait(10);
  }
  return true;
}

inline bool HavePython() {
  static const bool have = std::system("python3 -c 'import zlib' >/dev/null 2>&1") == 0;
  return have;
}

#ifdef KZ_REFCODEC
// The reference codec's encoding of each case line: the bytes of a stream,
// or (datagrams) several items.
inline std::vector<std::vector<TBytes>> RefEncode(const std::vector<std::string>& Cases) {
  const std::string in = testing::TempDir() + "kzrecv-ref-in.txt", out = testing::TempDir() + "kzrecv-ref-out.txt";
  {
    std::ofstream f(in);
    for (const std::string& c : Cases) f << c << "\n";
  }
  const std::string cmd = "python3 '" KZ_REFCODEC "' encode < '" + in + "' > '" + out + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::vector<std::vector<TBytes>> result;
  std::ifstream f(out);
  for (std::string line; std::getline(f, line);) {
    std::vector<TBytes> items;
    std::istringstream words(line);
    for (std::string hex; words >> hex;) items.push_back(FromHex(hex));
    result.push_back(items);
  }
  EXPECT_EQ(result.size(), Cases.size());
  return result;
}
#endif

// A picture with a pattern that depends on Seed.
inline kz::TKzMBitmap PatternBitmap(int Seed, int W = 48, int H = 32) {
  kz::TKzMBitmap b;
  b.SetSize(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      b.ScanLine(y)[x] = 0xFF000000u | static_cast<uint32_t>(((x * 5 + Seed * 40) & 255) << 16) |
                         static_cast<uint32_t>(((y * 7 + Seed * 13) & 255) << 8) |
                         static_cast<uint32_t>((Seed * 60) & 255);
  return b;
}

// The picture bytes of a bitmap in one encoding (JPEG, PNG or BMP).
inline TBytes EncodePicture(const kz::TKzMBitmap& B, kz::TKzEncodingType Encoding) {
  kz::TMemoryStream s;
  if (Encoding == kz::TKzEncodingType::kzetPNG)
    EXPECT_TRUE(kz::KzCodecEncodePNG(B, s));
  else if (Encoding == kz::TKzEncodingType::kzetBMP)
    EXPECT_TRUE(kz::KzCodecEncodeBMP(B, s));
  else
    EXPECT_TRUE(kz::KzCodecEncodeJPEG(B, s, 90));
  return TBytes(s.Memory(), s.Memory() + s.Size());
}

// What the receiver must show for those picture bytes.
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

inline TBytes FramedAudio(const TBytes& Samples, int64_t StartTime, uint32_t Duration) {
  TBytes out;
  kz::KzAppendAudioFrame(out, Samples.data(), static_cast<uint32_t>(Samples.size()), StartTime, Duration);
  return out;
}

inline bool SamePixels(const kz::TKzMBitmap& A, const kz::TKzMBitmap& B) {
  return A.Width() == B.Width() && A.Height() == B.Height() &&
         std::equal(A.Data(), A.Data() + A.GetLength(), B.Data());
}

inline std::string Hex(const std::string& S) { return ToHex(TBytes(S.begin(), S.end())); }

// ---- A receiver with everything it delivers recorded.
struct TShown {
  kz::TGUID From;
  kz::TKzMBitmap Frame;
};
struct TFileChunkSeen {
  std::string Name;
  int64_t Offset, Total;
  TBytes Data;
  kz::TGUID From;
};

class TRecordingView : public kz::IKzCamViewConsumer {
public:
  void ViewerGetImageBMP(kz::TComponent*, const kz::TKzMBitmap& B, bool, uint16_t, const kz::TGUID& From) override {
    std::lock_guard<std::mutex> g(Lock);
    Shown.push_back({From, B});
  }
  std::mutex Lock;
  std::vector<TShown> Shown;
};

class TRecordingOutput : public kz::TCustomKzAudioOutput {
public:
  TRecordingOutput() : kz::TCustomKzAudioOutput(nullptr) {}
  void PlayAudio(kz::TMemoryStream& S, int32_t Size, const kz::TGUID& GUID, uint16_t, bool, int32_t Channels,
                 kz::TKzBitsPerSample, int32_t Rate, int64_t Start, uint32_t Duration) override {
    std::lock_guard<std::mutex> g(Lock);
    Blocks.push_back({GUID, TBytes(S.Memory(), S.Memory() + Size), Rate, Channels, Start, Duration});
  }
  struct TBlock {
    kz::TGUID From;
    TBytes Samples;
    int32_t Rate, Channels;
    int64_t Start;
    uint32_t Duration;
  };
  std::mutex Lock;
  std::vector<TBlock> Blocks;
};

struct TReceiverProbe {
  kz::TKzCamReceiver Receiver{nullptr};
  TRecordingView View;
  TRecordingOutput Output;
  std::mutex Lock;  // guards the lists below (the decode thread adds file chunks)
  std::vector<kz::TKzCmd> Commands;
  std::vector<kz::TGUID> CommandSources;
  std::vector<TBytes> UserData;
  std::vector<TFileChunkSeen> FileChunks;
  std::vector<std::pair<uint32_t, uint16_t>> Notices;  // message number, data type
  std::vector<std::string> SystemEvents;

  explicit TReceiverProbe(kz::TKzProtocol Protocol = kz::TKzProtocol::kzpTCP,
                          kz::TKzTCPConnectionType Topology = kz::TKzTCPConnectionType::kztcpSenderToReceiver) {
    using namespace kz;
    Receiver.SetPort(0);
    Receiver.SetProtocol(Protocol);
    Receiver.SetTCPConnectionType(Topology);
    Receiver.SetVideoLatency(0);
    Receiver.SetAudioOutput(&Output);
    Receiver.RegisterCamView(&View);
    Receiver.OnReceiveCmdData = [this](TComponent*, TKzSessionKey, uint16_t, const TGUID& From, const TGUID&,
                                       const TGUID&, uint16_t, const TKzCmd& Cmd) {
      std::lock_guard<std::mutex> g(Lock);
      Commands.push_back(Cmd);
      CommandSources.push_back(From);
    };
    Receiver.OnReceiveUserData = [this](TComponent*, TKzSessionKey, TMemoryStream& S, int32_t, const TGUID&,
                                        const TGUID&, const TGUID&, uint16_t) {
      std::lock_guard<std::mutex> g(Lock);
      UserData.emplace_back(S.Memory() + S.Position(), S.Memory() + S.Size());
    };
    Receiver.OnReceiveFileData = [this](TComponent*, TKzSessionKey, const std::string& Name, int64_t Offs,
                                        int64_t Total, TMemoryStream& S, int32_t, const TGUID& From, const TGUID&,
                                        const TGUID&, uint16_t) {
      std::lock_guard<std::mutex> g(Lock);
      FileChunks.push_back({Name, Offs, Total, TBytes(S.Memory() + S.Position(), S.Memory() + S.Size()), From});
    };
    auto notice = [this](uint32_t Msg) {
      return [this, Msg](TComponent*, uint16_t Type, int64_t) {
        std::lock_guard<std::mutex> g(Lock);
        Notices.emplace_back(Msg, Type);
      };
    };
    Receiver.OnConnected = notice(KZ_MSG_CONNECTED);
    Receiver.OnConnecting = notice(KZ_MSG_CONNECTING);
    Receiver.OnDisconnect = notice(KZ_MSG_DISCONNECTED);
    Receiver.OnConnectError = [this](TComponent*, uint16_t Type) {
      std::lock_guard<std::mutex> g(Lock);
      Notices.emplace_back(KZ_MSG_CONNECTION_ERROR, Type);
    };
    Receiver.OnCloseChannel = [this](TComponent*, uint16_t Type) {
      std::lock_guard<std::mutex> g(Lock);
      Notices.emplace_back(1030, Type);
    };
    Receiver.OnUserJoinsGroup = [this](TComponent*, const TGUID&, const std::string& Group) {
      std::lock_guard<std::mutex> g(Lock);
      SystemEvents.push_back("join " + Group);
    };
  }
  ~TReceiverProbe() {
    Receiver.SetActive(false);
    Receiver.UnRegisterCamView(&View);
    Receiver.SetAudioOutput(nullptr);
  }
  uint16_t Start() {
    Receiver.SetActive(true);
    EXPECT_TRUE(PumpUntil([&] { return Receiver.ListeningPort() != 0; }));
    return Receiver.ListeningPort();
  }
  template <typename T>
  size_t Count(const std::vector<T>& List) {
    std::lock_guard<std::mutex> g(Lock);
    return List.size();
  }
  size_t Frames() {
    std::lock_guard<std::mutex> g(View.Lock);
    return View.Shown.size();
  }
  size_t AudioBlocks() {
    std::lock_guard<std::mutex> g(Output.Lock);
    return Output.Blocks.size();
  }
  size_t NoticeCount(uint32_t Msg, uint16_t Type) {
    std::lock_guard<std::mutex> g(Lock);
    return static_cast<size_t>(std::count(Notices.begin(), Notices.end(), std::make_pair(Msg, Type)));
  }
  // The bytes of every file chunk so far, joined in arrival order.
  TBytes FileBytes() {
    std::lock_guard<std::mutex> g(Lock);
    TBytes all;
    for (const TFileChunkSeen& c : FileChunks) all.insert(all.end(), c.Data.begin(), c.Data.end());
    return all;
  }
};

// Sends bytes to the receiver's port: over one new stream connection (HTTP:
// after the request preamble), or as datagrams.
inline bool PushBytes(uint16_t Port, kz::TKzProtocol Protocol, const std::vector<TBytes>& Items) {
  using namespace kz;
  if (Protocol == TKzProtocol::kzpUDP) {
    TKzSocket s = PlatformSocketUDP();
    bool ok = s != KZ_INVALID_SOCKET;
    for (const TBytes& d : Items) {
      ok = ok && PlatformSendTo(s, d.data(), static_cast<int64_t>(d.size()), PlatformLookupIPv4("127.0.0.1"), Port) ==
                     static_cast<int64_t>(d.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    PlatformCloseSocket(s);
    return ok;
  }
  std::string error;
  TKzSocket s = KzMConnectStream({"127.0.0.1", Port, Protocol, nullptr, 3000}, nullptr, error);
  if (s == KZ_INVALID_SOCKET) return false;
  bool ok = true;
  for (const TBytes& b : Items) ok = ok && KzSendAll(s, b.data(), b.size()) == static_cast<int64_t>(b.size());
  PlatformShutdown(s);
  // The receiver reads to the end before the connection goes.
  uint8_t sink[256];
  while (PlatformPollRead(s, 3000) == 1 && PlatformRecv(s, sink, sizeof sink) > 0) {
  }
  PlatformCloseSocket(s);
  return ok;
}

}  // namespace kztest

namespace kztest {

// A pulled sender whose answers are scripted: batches queued per data type
// are handed out one per request, everything else is answered "hmSN" with
// the current session key. Every request is recorded.
class TFakePullSender {
public:
  struct TRequest {
    std::string Text;
    kz::TKzSessionKey Key;
    std::chrono::steady_clock::time_point At;
    int Connection;
  };
  explicit TFakePullSender(bool Http = false) : FHttp(Http) {
    FListen = kz::PlatformListenTCP(kz::PlatformLookupIPv4("127.0.0.1"), 0, 16);
    Port = kz::PlatformSocketLocalPort(FListen);
    FAccept = std::thread([this] { AcceptLoop(); });
  }
  ~TFakePullSender() { Stop(); }
  void Stop() {
    if (FStop.exchange(true)) return;
    if (FAccept.joinable()) FAccept.join();
    kz::PlatformCloseSocket(FListen);
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> g(Lock);
      for (kz::TKzSocket s : FOpen) kz::PlatformShutdown(s);
      threads.swap(FThreads);
    }
    for (auto& t : threads) t.join();
  }
  void Queue(uint8_t Type, const TBytes& Batch) {
    std::lock_guard<std::mutex> g(Lock);
    FQueued[Type].push_back(Batch);
  }
  std::vector<TRequest> Requests() {
    std::lock_guard<std::mutex> g(Lock);
    return FRequests;
  }
  size_t RequestCount(const std::string& Text) {
    std::lock_guard<std::mutex> g(Lock);
    return static_cast<size_t>(
        std::count_if(FRequests.begin(), FRequests.end(), [&](const TRequest& r) { return r.Text == Text; }));
  }
  // Connections whose socket is still open.
  size_t OpenConnections() {
    std::lock_guard<std::mutex> g(Lock);
    return FOpen.size();
  }
  int Connections() const { return FConnections.load(); }

  uint16_t Port = 0;
  std::atomic<kz::TKzSessionKey> Key{3};
  std::mutex Lock;  // guards the fields below and FQueued, FRequests, FOpen, FThreads

private:
  void AcceptLoop() {
    while (!FStop) {
      kz::TKzSocket s = kz::PlatformAccept(FListen, 100);
      if (s == kz::KZ_INVALID_SOCKET) continue;
      const int n = ++FConnections;
      std::lock_guard<std::mutex> g(Lock);
      FOpen.push_back(s);
      FThreads.emplace_back([this, s, n] { Serve(s, n); });
    }
  }
  void Serve(kz::TKzSocket S, int Connection) {
    std::vector<uint8_t> in;
    uint8_t buf[4096];
    bool preamble = FHttp;
    for (;;) {
      if (kz::PlatformPollRead(S, 200) != 1) {
        if (FStop) break;
        continue;
      }
      const int64_t n = kz::PlatformRecv(S, buf, sizeof buf);
      if (n <= 0) break;
      in.insert(in.end(), buf, buf + n);
      if (preamble) {
        const std::string text(in.begin(), in.end());
        const size_t end = text.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(end + 4));
        preamble = false;
      }
      while (in.size() >= kz::TKzChannelRequest::WireSize) {
        const kz::TKzChannelRequest r = kz::KzChannelRequestFromBytes(in.data());
        in.erase(in.begin(), in.begin() + kz::TKzChannelRequest::WireSize);
        uint8_t code = 0;
        const auto kind = kz::KzChannelRequestKind(r.Text, code);
        TBytes answer;
        {
          std::lock_guard<std::mutex> g(Lock);
          FRequests.push_back({r.Text, r.SessionKey, std::chrono::steady_clock::now(), Connection});
          auto& q = FQueued[code];
          if (kind == kz::TKzChannelRequestKind::kzcrData && !q.empty()) {
            answer = q.front();
            q.erase(q.begin());
          }
        }
        if (answer.empty()) {
          answer.resize(kz::TKzSessionPack::WireSize);
          kz::KzSessionPackToBytes({kz::MARKER_SESSION_NODATA, Key.load(), 0}, answer.data());
        }
        if (kz::KzSendAll(S, answer.data(), answer.size()) < 0) break;
      }
    }
    std::lock_guard<std::mutex> g(Lock);
    FOpen.erase(std::remove(FOpen.begin(), FOpen.end(), S), FOpen.end());
    kz::PlatformCloseSocket(S);
  }

  const bool FHttp;
  kz::TKzSocket FListen;
  std::atomic<bool> FStop{false};
  std::atomic<int> FConnections{0};
  std::thread FAccept;
  std::vector<std::thread> FThreads;
  std::map<uint8_t, std::vector<TBytes>> FQueued;
  std::vector<TRequest> FRequests;
  std::vector<kz::TKzSocket> FOpen;
};

}  // namespace kztest
