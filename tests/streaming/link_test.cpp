// kz-test-labels: peer slow
// The receiver with real senders at the far end: four TKzCamSenders in
// another process (kzsenderpeer), compression on and off, GUIDs on and off,
// JPEG, PNG and BMP, over every transport and topology; through the chaos
// proxy; killed and started again.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"
#include "tests/streaming/kzchaosproxy.h"
#include "tests/streaming/kzlinktest.h"
#include "tests/streaming/kzreceivertestutil.h"

using namespace kz;
using namespace kztest;

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kSlow = 3;
#else
constexpr int kSlow = 1;
#endif

struct TRow {
  const char* Proto;
  bool Pull;
  int Row;
  bool Reliable() const { return std::string(Proto) != "udp"; }
};

// The receiver's side of a row, and what it got, sorted out per sender.
struct TLink {
  TRow R;
  int Epoch = 0;
  TReceiverProbe Probe;
  std::vector<uint16_t> Ports;
  TTempDir Dir;
  TPeer Peer;

  explicit TLink(const TRow& Row, uint16_t PushTo = 0)
      : R(Row),
        Probe(std::string(Row.Proto) == "udp"    ? TKzProtocol::kzpUDP
              : std::string(Row.Proto) == "http" ? TKzProtocol::kzpHTTP
                                                 : TKzProtocol::kzpTCP,
              Row.Pull ? TKzTCPConnectionType::kztcpReceiverToSender : TKzTCPConnectionType::kztcpSenderToReceiver) {
    if (!R.Pull) {
      const uint16_t port = Probe.Start();
      Ports.assign(kLinkSenders, PushTo ? PushTo : port);
      return;
    }
    Probe.Receiver.SetRetryCount(50);  // a sender started again comes back on the same port
    for (size_t k = 0; k < kLinkSenders; ++k) {
      Ports.push_back(FreePort());
      auto& item = Probe.Receiver.Senders().Add();
      item.SetSenderHost("127.0.0.1");
      item.SetSenderPort(Ports.back());
      if (LinkSender(k, R.Row).UseGUID) item.SetGUIDFrom(GUIDToStringA(LinkSender(k, R.Row).GUID));
    }
  }
  // Starts the senders; true once they run.
  bool StartPeer() {
    std::string ports;
    for (uint16_t p : Ports) ports += (ports.empty() ? "" : ",") + std::to_string(p);
    const std::string log = Dir / ("peer" + std::to_string(Epoch) + ".out");
    if (!Peer.Start({KZ_SENDERPEER, R.Proto, R.Pull ? "pull" : "push", ports, std::to_string(R.Row),
                     std::to_string(Epoch), "60"}, log))
      return false;
    const bool ready = PumpUntil([&] { return ReadFile(log).find("ready") != std::string::npos || !Peer.Alive(); },
                                 10000 * kSlow) && Peer.Alive();
    if (ready && R.Pull) Probe.Receiver.SetActive(true);
    return ready;
  }

  // Sender k of a shown frame (-1: none of theirs), matched by its pixels;
  // only frames of the current epoch count as current.
  int SenderOf(const TGUID& From, const TKzMBitmap& B, bool& Current) {
    for (int epoch : {Epoch, Epoch - 1}) {
      if (epoch < 0) continue;
      for (size_t k = 0; k < kLinkSenders; ++k) {
        const TLinkSender s = LinkSender(k, R.Row);
        if (s.UseGUID ? From != s.GUID : From != TGUID{}) continue;
        auto& shown = FShown[{k, epoch}];
        if (shown.empty())
          for (uint32_t i = 0; i < kLinkFrames; ++i) shown.push_back(LinkShownFrame(k, R.Row, epoch, i));
        for (const TKzMBitmap& f : shown)
          if (SamePixels(f, B)) return Current = epoch == Epoch, static_cast<int>(k);
      }
    }
    return -1;
  }

  struct TGot {
    size_t Frames = 0, CurrentFrames = 0, Audio = 0, Commands = 0, UserData = 0, Files = 0;
    // (A sanitizer build decodes too slowly for more than a frame or two per sender.)
    bool operator>=(size_t N) const { return CurrentFrames >= (kSlow > 1 ? 1 : N) && Audio >= N && Commands >= N && UserData >= N && Files >= 1; }
  };
  // What every sender delivered so far; a broken item is an error.
  std::array<TGot, kLinkSenders> Got(std::vector<std::string>& Errors, bool Order) {
    std::array<TGot, kLinkSenders> got{};
    std::lock_guard<std::mutex> g(Probe.Lock);
    for (size_t i = FramesSeen; i < Probe.Shown.size(); ++i) {
      bool current = false;
      const int k = SenderOf(Probe.Shown[i].first, Probe.Shown[i].second, current);
      if (k < 0) {
        Errors.push_back("a frame no sender sent");
        continue;
      }
      ++got[k].Frames, got[k].CurrentFrames += current;
    }
    auto numbered = [&](const char* What, const std::vector<std::pair<size_t, uint32_t>>& Items, size_t TGot::*Count) {
      std::array<int64_t, kLinkSenders> last;
      last.fill(-1);
      for (const auto& [k, n] : Items) {
        if (Order && last[k] >= 0 && (R.Reliable() ? n != last[k] + 1 : n <= last[k])) {
          Errors.push_back(std::string(What) + " of sender " + std::to_string(k) + ": " + std::to_string(n) +
                           " after " + std::to_string(last[k]));
        }
        last[k] = n;
        ++(got[k].*Count);
      }
    };
    std::vector<std::pair<size_t, uint32_t>> audio, user, cmds;
    for (const auto& [from, bytes] : Probe.Audio) {
      size_t k = 0;
      uint32_t n = 0;
      if (LinkCheckItem(bytes, k, n)) audio.emplace_back(k, n); else Errors.push_back("a broken audio block");
    }
    for (const TBytes& bytes : Probe.UserData) {  // items queued together travel as one
      for (size_t at = 0; at < bytes.size();) {
        const size_t size = at + 9 <= bytes.size() ? KzGetLE<uint32_t>(bytes.data() + at + 5) : 0;
        size_t k = 0;
        uint32_t n = 0;
        if (size < 9 || at + size > bytes.size() ||
            !LinkCheckItem(TBytes(bytes.begin() + at, bytes.begin() + at + size), k, n)) {
          Errors.push_back("a broken user-data item");
          break;
        }
        user.emplace_back(k, n);
        at += size;
      }
    }
    for (const auto& [from, c] : Probe.Commands) {
      const auto k = static_cast<size_t>(c.GetAsIntegerSafe("k", -1));
      const auto n = static_cast<uint32_t>(c.GetAsIntegerSafe("n", -1));
      if (c.Name == "link.note" && k < kLinkSenders && c.GetAsStringSafe("text") == std::string(n % 50, 'x'))
        cmds.emplace_back(k, n);
      else
        Errors.push_back("a broken command " + c.Name);
    }
    numbered("audio", audio, &TGot::Audio);
    numbered("user data", user, &TGot::UserData);
    numbered("command", cmds, &TGot::Commands);
    // Files: the chunks of a name follow on from each other; a whole one is byte for byte the file sent.
    std::map<std::string, TBytes> files;
    for (const TReceiverProbe::TFileChunk& c : Probe.Files) {
      TBytes& f = files[c.Name];
      if (c.Offset != static_cast<int64_t>(f.size())) Errors.push_back("file " + c.Name + " chunk out of place");
      f.insert(f.end(), c.Data.begin(), c.Data.end());
    }
    for (const auto& [name, bytes] : files) {
      size_t k = 0;
      uint32_t n = 0;
      if (std::sscanf(name.c_str(), "link-%zu-%u.bin", &k, &n) != 2 || k >= kLinkSenders) {
        Errors.push_back("a file no sender sent: " + name);
      } else if (bytes.size() == LinkFileSize(n)) {
        if (bytes == LinkItem(k, n, LinkFileSize(n))) ++got[k].Files; else Errors.push_back("file " + name + " differs");
      }
    }
    return got;
  }

  // Waits until every sender delivered N of everything (a file whole) and
  // nothing broken came; the errors otherwise.
  std::string WaitEveryKind(size_t N, int Ms, bool Order = true) {
    std::vector<std::string> errors;
    std::array<TGot, kLinkSenders> got{};
    PumpUntil([&] {
      errors.clear();
      got = Got(errors, Order);
      return !errors.empty() || std::all_of(got.begin(), got.end(), [&](const TGot& g) { return g >= N; });
    }, Ms * kSlow);
    std::string text;
    for (size_t k = 0; k < kLinkSenders; ++k)
      if (!(got[k] >= N))
        text += "sender " + std::to_string(k) + ": frames " + std::to_string(got[k].CurrentFrames) + " audio " +
                std::to_string(got[k].Audio) + " commands " + std::to_string(got[k].Commands) + " user data " +
                std::to_string(got[k].UserData) + " files " + std::to_string(got[k].Files) + "\n";
    for (size_t i = 0; i < errors.size() && i < 5; ++i) text += errors[i] + "\n";
    return text;
  }

  size_t FramesSeen = 0;  // frames before this index were checked already

private:
  std::map<std::pair<size_t, int>, std::vector<TKzMBitmap>> FShown;
};

const TRow kRows[] = {{"tcp", false, 0}, {"udp", false, 1}, {"http", false, 2}, {"tcp", true, 1}, {"http", true, 2}};

}  // namespace

// Every transport and topology: frames shown are the senders' (decoded
// pixels), audio, commands and user data intact and in order (over UDP in
// order with gaps allowed), files byte for byte.
TEST(Link, EveryKindFromRealSendersArrivesAsSent) {
  for (const TRow& r : kRows) {
    SCOPED_TRACE(std::string(r.Proto) + (r.Pull ? " pull" : " push"));
    TLink link(r);
    ASSERT_TRUE(link.StartPeer()) << ReadFile(link.Dir / "peer0.out");
    EXPECT_EQ(link.WaitEveryKind(3, 20000), "") << ReadFile(link.Dir / "peer0.out");
  }
}

// A sender killed and started again (a new process, a new session): the
// receiver shows the new stream within 3 s of its start.
TEST(Link, ASenderKilledAndStartedAgainIsShownWithinThreeSeconds) {
  for (const TRow& r : {kRows[0], kRows[3]}) {
    SCOPED_TRACE(r.Pull ? "pull" : "push");
    TLink link(r);
    ASSERT_TRUE(link.StartPeer());
    ASSERT_EQ(link.WaitEveryKind(1, 20000), "");
    link.Peer.Kill();
    link.Epoch = 1;
    ASSERT_TRUE(link.StartPeer()) << ReadFile(link.Dir / "peer1.out");
    std::vector<std::string> errors;
    EXPECT_TRUE(PumpUntil([&] {
      const auto got = link.Got(errors, false);
      return std::all_of(got.begin(), got.end(), [](const TLink::TGot& g) { return g.CurrentFrames > 0; });
    }, 3000 * kSlow)) << "every sender's new frames within 3 s";
  }
}

// The chaos proxy on the way: after each fault the video comes back, no
// frame is shown twice in a row (each sender never sends one twice in a
// row), everything else still arrives intact, in order, files whole.
TEST(Link, VideoResumesAfterEveryFaultOfTheChaosProxy) {
  for (TChaosFault fault : {TChaosFault::OneByteWrites, TChaosFault::CutMidPacket, TChaosFault::Garbage,
                            TChaosFault::Stall, TChaosFault::Reset}) {
    SCOPED_TRACE(static_cast<int>(fault));
    TLink probeSide(kRows[0]);
    TChaosProxy proxy(probeSide.Ports[0], fault, 30000, DATA_TYPE_VIDEO);
    probeSide.Ports.assign(kLinkSenders, proxy.Port);
    ASSERT_TRUE(probeSide.StartPeer());
    ASSERT_TRUE(PumpUntil([&] { return proxy.Struck(); }, 20000 * kSlow));
    probeSide.FramesSeen = probeSide.Probe.Count(probeSide.Probe.Shown);
    // Order holds for what one connection carried; a cut connection's
    // video is the only thing that breaks off.
    EXPECT_EQ(probeSide.WaitEveryKind(3, 20000), "");
    std::lock_guard<std::mutex> g(probeSide.Probe.Lock);
    const auto& shown = probeSide.Probe.Shown;
    for (size_t i = 1; i < shown.size(); ++i) {
      if (shown[i].first == shown[i - 1].first && !IsNull(shown[i].first)) {
        EXPECT_FALSE(SamePixels(shown[i].second, shown[i - 1].second)) << "frame " << i << " shown twice";
      }
    }
  }
}
