// The multi-source frame pipeline: containers, audio, files, commands and
// user data of many senders -> fetch -> decode -> draw -> consumers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/foundation/kzlisttest.h"
#include "foundation/Fmxmkzstreamfuncs.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/video/kzframetestutil.h"
#include "video/fmxMKzAudioSink.h"
#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzMultiGetData.h"

using namespace kz;
using namespace kztest;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Framed(const TBytes& Image, int64_t StartTime, int64_t DiffTime,
              TKzEncodingType Encoding = TKzEncodingType::kzetJPEG) {
  TBytes out;
  KzAppendFramedImage(out, *KzFindFrameFormat(Encoding), Image.data(), static_cast<uint32_t>(Image.size()), StartTime,
                      DiffTime);
  return out;
}

// A frame whose trailing Size disagrees with the leading one.
TBytes Mismatched(const TBytes& Image, int64_t StartTime) {
  TBytes f = Framed(Image, StartTime, 40);
  f[f.size() - 7] ^= 1;
  return f;
}

TBytes Slice(const TBytes& B, size_t From, size_t To) { return TBytes(B.begin() + From, B.begin() + To); }

TBytes PngFrame(uint32_t Colour) {
  TKzMBitmap b;
  FillColour(b, Colour, 40, 30);
  TMemoryStream s;
  EXPECT_TRUE(KzCodecEncodePNG(b, s));
  return TBytes(s.Memory(), s.Memory() + s.Size());
}

TBytes Audio(uint32_t Size, int64_t StartTime, uint32_t Duration, uint8_t Seed) {
  TBytes samples(Size);
  for (uint32_t i = 0; i < Size; ++i) samples[i] = static_cast<uint8_t>(Seed + i * 7);
  TBytes out;
  KzAppendAudioFrame(out, samples.data(), Size, StartTime, Duration);
  return out;
}

TBytes FileChunk(const TKzFileInfo& Info, const TBytes& Payload) {
  TMemoryStream s;
  s.Write(Payload.data(), static_cast<int64_t>(Payload.size()));
  WriteFileHeader(s, Info);
  return TBytes(s.Memory(), s.Memory() + s.Size());
}

// ---- The owner the chain works for: records what reaches it.
struct TFakeOwner : IKzMultiSourceOwner, IKzAudioSink {
  struct TAudio {
    TGUID Source;
    uint16_t Index;
    TKzAudioInfo Info;
    int64_t Start;
    uint32_t Duration;
    TBytes Bytes;
  };
  TComponent Component{nullptr};
  std::mutex Lock;  // guards everything below
  TKzDecodeVideoEvent OnDecodeVideo;
  TKzDataReadEvent OnUserData;
  bool Synchronized = true;
  TKzFileReadEvent OnFileData;
  bool WantFileMessages = false;
  bool WantRegions = false;
  std::vector<std::pair<TGUID, uint16_t>> MotionCalls;
  std::vector<TAudio> AudioBlocks;
  std::vector<std::pair<TGUID, uint16_t>> Removed;
  // Main thread.
  std::vector<std::string> Debug;
  std::vector<TKzCmdMessage> Commands;
  std::vector<TKzUserDataMessage> UserData;
  std::vector<std::pair<uintptr_t, TKzFileMessage>> Files;

  TFakeOwner() {
    auto& pump = KzMessages();
    pump.RegisterMessageHandler2(&Component, KZ_MSG_DEBUG, [this](TMessage& m) { Add(Debug, KzMessageText(m)); });
    pump.RegisterMessageHandler2(&Component, KZ_MSG_COMMAND,
                                 [this](TMessage& m) { Add(Commands, *reinterpret_cast<TKzCmdMessage*>(m.LParam)); });
    pump.RegisterMessageHandler2(&Component, KZ_MSG_USER_DATA, [this](TMessage& m) {
      Add(UserData, *reinterpret_cast<TKzUserDataMessage*>(m.LParam));
    });
    pump.RegisterMessageHandler2(&Component, KZ_MSG_FILE_DATA, [this](TMessage& m) {
      Add(Files, std::make_pair(m.WParam, *reinterpret_cast<TKzFileMessage*>(m.LParam)));
    });
  }
  ~TFakeOwner() override { KzMessages().UnRegister2(&Component); }
  template <typename T, typename V>
  void Add(std::vector<T>& List, V Value) {
    EXPECT_TRUE(IsMainThread());
    std::lock_guard<std::mutex> g(Lock);
    List.push_back(std::move(Value));
  }
  // Waits until every message posted so far has been handled (the pump keeps order).
  void Flush() {
    KzPostMessageDebug(&Component, 0, "flush");
    EXPECT_TRUE(PumpUntil(
        [&] {
          std::lock_guard<std::mutex> g(Lock);
          return !Debug.empty() && Debug.back() == "flush";
        },
        10000));
    std::lock_guard<std::mutex> g(Lock);
    Debug.pop_back();
  }
  template <typename T>
  size_t Count(const std::vector<T>& List) {
    std::lock_guard<std::mutex> g(Lock);
    return List.size();
  }

  TComponent* OwnerComponent() override { return &Component; }
  TKzSessionKey SessionKey() override { return 7; }
  TKzDecodeVideoEvent DecodeVideoHandler() override {
    std::lock_guard<std::mutex> g(Lock);
    return OnDecodeVideo;
  }
  TKzDataReadEvent UserDataHandler() override {
    std::lock_guard<std::mutex> g(Lock);
    return OnUserData;
  }
  bool SynchronizedUserData() override {
    std::lock_guard<std::mutex> g(Lock);
    return Synchronized;
  }
  TKzFileReadEvent ReceiveFileDataHandler() override {
    std::lock_guard<std::mutex> g(Lock);
    return OnFileData;
  }
  bool HasReceivingFileHandler() override { return WantFileMessages; }
  bool HasReceivedFileHandler() override { return WantFileMessages; }
  bool HasRegionsHandler() override { return WantRegions; }
  std::shared_ptr<TKzMotionDetector> MotionStep(TKzMBitmap&, const TGUID& From, uint16_t Index) override {
    std::lock_guard<std::mutex> g(Lock);
    MotionCalls.emplace_back(From, Index);
    return nullptr;
  }
  IKzAudioSink* AudioSink() override { return this; }
  void AudioBlock(const TGUID& Source, uint16_t Index, const TKzAudioInfo& Info, int64_t Start, uint32_t Duration,
                  const uint8_t* Data, size_t Size) override {
    std::lock_guard<std::mutex> g(Lock);
    AudioBlocks.push_back({Source, Index, Info, Start, Duration, TBytes(Data, Data + Size)});
  }
  void RemoveAudioSource(const TGUID& Source, uint16_t Index) override {
    std::lock_guard<std::mutex> g(Lock);
    Removed.emplace_back(Source, Index);
  }
};

constexpr int32_t kHandle = 5;

struct TMultiChain {
  TFakeOwner Owner;
  TKzConsumerLists Lists;
  TRecordingView View{false};
  TKzMultiGetData* Fetch;
  std::atomic<int> Decoded{0};

  explicit TMultiChain(uint32_t Latency, bool WithView = true, bool Start = true) {
    if (WithView) Lists.CamViews.push_back(&View);
    Fetch = new TKzMultiGetData(Owner, Lists);
    Fetch->Paint().SetVideoLatency(Latency);
    Fetch->Decode().OnFPS = [this](TComponent*) { ++Decoded; };
    if (Start) Fetch->Run();
  }
  ~TMultiChain() { KzMFreeThread(Fetch); }

  void Feed(const TGUID& From, uint8_t Type, const TBytes& Bytes, const TKzInfo& Info = {}) {
    TMemoryStream s;
    s.Write(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    s.SetPosition(0);
    Fetch->CopyFrom(kHandle * 256 + Type, Header(From), s, 0, Info);
  }
  void FeedVideo(const TGUID& From, const TBytes& Bytes, TKzEncodingType Encoding = TKzEncodingType::kzetJPEG,
                 uint16_t Index = 0) {
    TKzInfo info;
    info.MediaIndex = Index;
    info.VideoInfo.Encoding = Encoding;
    Feed(From, DATA_TYPE_VIDEO, Bytes, info);
  }
  // Bytes the decoder keeps for a source's video; waits for a running pass.
  int64_t Kept(const TGUID& From) {
    return Fetch->Decode().BufferedBytes(kHandle * 256 + DATA_TYPE_VIDEO, Header(From), 0);
  }
  // Direct user data is handled in the decoder's pass after the video that
  // came before it: once it is seen, that video has been dealt with.
  void Barrier(const TGUID& From) {
    std::atomic<bool> seen{false};
    {
      std::lock_guard<std::mutex> g(Owner.Lock);
      Owner.Synchronized = false;
      Owner.OnUserData = [&seen](TComponent*, TKzSessionKey, TMemoryStream&, int32_t, const TGUID&, const TGUID&,
                                 const TGUID&, uint16_t) { seen = true; };
    }
    Feed(From, DATA_TYPE_USERDATA, {1});
    EXPECT_TRUE(PumpUntil([&] { return seen.load(); }, 10000));
    std::lock_guard<std::mutex> g(Owner.Lock);
    Owner.OnUserData = nullptr;
  }
  bool WaitFrames(size_t N) { return PumpUntil([&] { return View.Count() >= N; }, 10000); }
};

}  // namespace

// ---- Containers

TEST(FrameContainer, ScanFindsValidFramesAndKeepsWhatFollowsTheLastValidEnd) {
  const TBytes a = Framed(TBytes(10, 'a'), 100, 40), b = Framed(TBytes(11, 'b'), 140, 40),
               c = Framed(TBytes(12, 'c'), 180, 40);
  const TBytes bad = Mismatched(TBytes(9, 'x'), 120);
  const TBytes garbage = {'J', 'G', 'E', 0, 0, 0, 0, 'J', 'G', 'B', 1, 'J', 'G', 'E', 9};
  struct TCase {
    const char* Name;
    TBytes Bytes;
    std::vector<int64_t> Starts;  // newest first
    size_t Consumed;
    bool EndSeen;
  } cases[] = {
      {"three frames", Concat({a, b, c}), {180, 140, 100}, a.size() + b.size() + c.size(), true},
      {"trailing size differs", bad, {}, 0, true},
      {"differing frame before a good one", Concat({bad, b}), {140}, bad.size() + b.size(), true},
      {"differing frame after a good one", Concat({a, bad}), {100}, a.size(), true},
      {"garbage and half a frame", Concat({a, garbage, b, Slice(c, 0, 20)}), {140, 100},
       a.size() + garbage.size() + b.size(), true},
      {"stray end markers only", garbage, {}, 0, true},
      {"no end marker", Slice(c, 0, c.size() - 1), {}, 0, false},
      {"empty picture", Framed({}, 100, 40), {}, 0, true},
      {"another format's start", Concat({Framed(TBytes(5, 'p'), 1, 1, TKzEncodingType::kzetPNG)}), {}, 0, false},
      {"extra end marker after a frame", Concat({a, {'J', 'G', 'E'}}), {100}, a.size(), true},
  };
  for (const TCase& t : cases) {
    TKzFrameScan scan;
    KzScanFramedImages(t.Bytes.data(), static_cast<int64_t>(t.Bytes.size()), *KzFindFrameFormat(TKzEncodingType::kzetJPEG),
                       0, 100, scan);
    std::vector<int64_t> starts;
    for (const auto& f : scan.Frames) starts.push_back(f.StartTime);
    EXPECT_EQ(starts, t.Starts) << t.Name;
    EXPECT_EQ(scan.Consumed, static_cast<int64_t>(t.Consumed)) << t.Name;
    EXPECT_EQ(scan.EndMarkerSeen, t.EndSeen) << t.Name;
    for (const auto& f : scan.Frames) EXPECT_EQ(f.DiffTime, 40) << t.Name;
  }
}

TEST(FrameContainer, ScanLimitsAndResumesWhereItLeftOff) {
  const auto& jpeg = *KzFindFrameFormat(TKzEncodingType::kzetJPEG);
  const TBytes all = Concat({Framed(TBytes(10, 'a'), 1, 40), Framed(TBytes(10, 'b'), 2, 40), Framed(TBytes(10, 'c'), 3, 40)});
  TKzFrameScan scan;
  KzScanFramedImages(all.data(), static_cast<int64_t>(all.size()), jpeg, 0, 2, scan);
  ASSERT_EQ(scan.Frames.size(), 2u);
  EXPECT_EQ(scan.Frames[0].StartTime, 3);
  EXPECT_EQ(scan.Consumed, static_cast<int64_t>(all.size())) << "frames beyond the limit go too";
  // A frame whose end marker straddles the bytes searched before is still found.
  for (size_t cut = all.size() - 3; cut < all.size(); ++cut) {
    KzScanFramedImages(all.data(), static_cast<int64_t>(cut), jpeg, 0, 100, scan);
    ASSERT_EQ(scan.Frames.size(), 2u);
    KzScanFramedImages(all.data(), static_cast<int64_t>(all.size()), jpeg, static_cast<int64_t>(cut), 100, scan);
    ASSERT_FALSE(scan.Frames.empty()) << cut;
    EXPECT_EQ(scan.Frames[0].StartTime, 3) << cut;
  }
}

TEST(FileChunkRecord, RoundTripsAndRefusesShortOrDamagedRecords) {
  TKzFileInfo info;
  info.FileName = "dir/sub\\R\xC3\xA9sum\xC3\xA9 \xF0\x9D\x84\x9E.bin";  // "Résumé 𝄞.bin"
  info.FileGUID = KzCreateGUID();
  info.FileOffs = 1 << 20;
  info.TotalFileSize = (int64_t{1} << 33) + 5;
  const TBytes payload = {9, 8, 7, 6, 5};
  const TBytes record = FileChunk(info, payload);
  ASSERT_EQ(record.size(), KZ_FILE_CHUNK_FIXED + 2 * 13 + payload.size());  // 13 UTF-16 units
  TKzFileChunk chunk;
  size_t used = 0;
  ASSERT_EQ(KzReadFileChunk(record.data(), record.size(), chunk, used), TKzFileChunkResult::kzfcOk);
  EXPECT_EQ(used, record.size());
  EXPECT_EQ(chunk.FileInfo.FileName, "R\xC3\xA9sum\xC3\xA9 \xF0\x9D\x84\x9E.bin");
  EXPECT_EQ(chunk.FileInfo.FileGUID, info.FileGUID);
  EXPECT_EQ(chunk.FileInfo.FileOffs, info.FileOffs);
  EXPECT_EQ(chunk.FileInfo.TotalFileSize, info.TotalFileSize);
  EXPECT_EQ(Slice(record, chunk.DataOffset, used), payload);
  for (size_t n = 0; n < record.size(); ++n)
    EXPECT_EQ(KzReadFileChunk(record.data(), n, chunk, used), TKzFileChunkResult::kzfcIncomplete) << n;
  TBytes negative = record;
  negative[record.size() - payload.size() - 1] = 0x80;  // top byte of the payload length
  EXPECT_EQ(KzReadFileChunk(negative.data(), negative.size(), chunk, used), TKzFileChunkResult::kzfcInvalid);

  // Names longer than the length byte allows are cut, never inside a surrogate pair.
  info.FileName = std::string(126, 'n') + "\xF0\x9D\x84\x9E";
  EXPECT_EQ(KzFileInfoBytes(info)[0], 2 * 126);
}

// ---- The chain

TEST(MultiSource, FramesWithinVideoLatencyOfTheNewestAreDrawn) {
  for (const uint32_t latency : {100u, 0u}) {
    SCOPED_TRACE(latency);
    TKzVirtualClockScope clock;
    TMultiChain chain(latency);
    const TGUID src = KzCreateGUID();
    chain.FeedVideo(src, Concat({Framed(JpegFrame(kColours[0]), 1000, 40), Framed(JpegFrame(kColours[1]), 1040, 40),
                                 Framed(JpegFrame(kColours[2]), 1080, 40)}));
    if (latency == 0) {
      ASSERT_TRUE(chain.WaitFrames(1));
      // A backlog of large frames costs one decode: the older ones would be
      // dropped anyway, and decoding them made a decoder that had fallen
      // behind fall further behind with every pass.
      TBytes backlog;
      for (int i = 0; i < 6; ++i) backlog = Concat({backlog, Framed(JpegFrame(kColours[i], 1280, 720), 2000 + i * 40, 40)});
      chain.FeedVideo(src, backlog);
      ASSERT_TRUE(chain.WaitFrames(2));
      EXPECT_EQ(chain.Decoded.load(), 2) << "only the newest of each pass is decoded";
      EXPECT_EQ(chain.View.Frames(), (std::vector<int>{2, 5}));
      continue;
    }
    ASSERT_TRUE(PumpUntil([&] { return chain.Fetch->Paint().QueuedFrames() == 3; }, 10000));
    // The newest frame maps to now, the others to 40 and 80 ms before; each
    // is shown VideoLatency later, one per step of the clock.
    for (size_t step = 0; step < 3; ++step) {
      clock.Clock.Advance(step == 0 ? 20 : 40);
      ASSERT_TRUE(chain.WaitFrames(step + 1)) << step;
    }
    EXPECT_EQ(chain.View.Frames(), (std::vector<int>{0, 1, 2}));
  }
}

// Waiting pictures over the byte bound: the oldest count as due, so the
// source catches up (the newest of them shown) while the clock stands still.
TEST(MultiSource, WaitingPicturesStayUnderTheByteBound) {
  TKzVirtualClockScope clock;
  TMultiChain chain(10000, true, false);
  chain.Fetch->Paint().SetMaxQueuedBytes(2 * 64 * 48 * 4 + 1);
  chain.Fetch->Run();
  TBytes frames;
  for (int i = 0; i < 4; ++i) frames = Concat({frames, Framed(JpegFrame(kColours[i]), 1000 + i * 40, 40)});
  chain.FeedVideo(KzCreateGUID(), frames);
  ASSERT_TRUE(chain.WaitFrames(1));
  ASSERT_TRUE(PumpUntil([&] { return chain.Fetch->Paint().QueuedFrames() == 2; }, 10000));
  EXPECT_EQ(chain.View.Frames(), (std::vector<int>{1}));
}

TEST(MultiSource, GarbageAndTruncatedFramesCostOnlyThemselves) {
  TMultiChain chain(0);
  const TGUID src = KzCreateGUID();
  const TBytes jpeg = JpegFrame(kColours[3]);
  const TBytes damagedPicture = Framed(TBytes(100, 0x11), 1120, 40);  // container fine, no picture
  const TBytes cut = Slice(Framed(jpeg, 1060, 40), 0, 200);                          // container cut
  const TBytes garbage = {'J', 'G', 'E', 'J', 'G', 'B', 0, 0, 0, 0, 'J', 'G', 'E', 0xFF, 0xD9};
  chain.FeedVideo(src, Concat({Framed(JpegFrame(kColours[0]), 1000, 40), garbage, cut,
                               Framed(JpegFrame(kColours[1]), 1080, 40), damagedPicture}));
  ASSERT_TRUE(chain.WaitFrames(1));
  EXPECT_EQ(chain.View.Frames(), std::vector<int>{1}) << "the newest picture that decodes";
  EXPECT_EQ(chain.Fetch->Decode().DataCount(), 1);
  EXPECT_EQ(chain.Kept(src), 0);
  // A frame split between two chunks waits for its second half.
  const TBytes split = Framed(JpegFrame(kColours[5]), 1160, 40);
  chain.FeedVideo(src, Slice(split, 0, split.size() - 2));
  chain.Barrier(src);
  EXPECT_EQ(chain.Kept(src), static_cast<int64_t>(split.size() - 2));
  EXPECT_TRUE(chain.Fetch->KeyDrained(kHandle * 256 + DATA_TYPE_VIDEO)) << "a frame's start is nothing to pass on";
  chain.FeedVideo(src, Slice(split, split.size() - 2, split.size()));
  ASSERT_TRUE(chain.WaitFrames(2));
  EXPECT_EQ(chain.View.Frames(), (std::vector<int>{1, 5}));
}

TEST(MultiSource, OnDecodeVideoMayRewriteThePictureAndItsKind) {
  struct TCase {
    const char* Name;
    bool Rewrite;
    TKzImageType NewType;
    int Expected;  // colour shown, -1: none
    const char* Reported;
  } cases[] = {
      {"JPEG rewritten as PNG", true, TKzImageType::kzitPNG, 3, nullptr},
      {"JPEG bytes declared PNG", false, TKzImageType::kzitPNG, -1, nullptr},
      {"JPEG bytes declared HWL", false, TKzImageType::kzitHWL, -1, nullptr},
      {"unknown kind", false, static_cast<TKzImageType>(9), -1, "picture kind 9 is not supported"},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.Name);
    TMultiChain chain(0);
    const TGUID src = KzCreateGUID();
    std::atomic<int> calls{0};
    chain.Owner.OnDecodeVideo = [&](TComponent* Sender, TMemoryStream& S, TKzImageType& Type) {
      EXPECT_EQ(Sender, &chain.Owner.Component);
      EXPECT_EQ(Type, TKzImageType::kzitJPEG);
      if (t.Rewrite) {
        const TBytes png = PngFrame(kColours[3]);
        S.SetSize(0);
        S.Write(png.data(), static_cast<int64_t>(png.size()));
      }
      Type = t.NewType;
      ++calls;
    };
    chain.FeedVideo(src, Concat({Framed(JpegFrame(kColours[0]), 1000, 40), Framed(JpegFrame(kColours[0]), 1040, 40)}));
    if (t.Expected >= 0) {
      ASSERT_TRUE(chain.WaitFrames(1));
      EXPECT_EQ(chain.View.Frames(), std::vector<int>{t.Expected});
    } else {
      chain.Barrier(src);
      EXPECT_EQ(chain.View.Count(), 0u);
      EXPECT_EQ(chain.Decoded.load(), 0);
    }
    EXPECT_EQ(calls.load(), t.Expected >= 0 ? 1 : 2) << "each picture until one decodes";
    if (t.Reported) {
      chain.Owner.Flush();
      std::lock_guard<std::mutex> g(chain.Owner.Lock);
      ASSERT_EQ(chain.Owner.Debug.size(), 1u) << "reported once";
      EXPECT_NE(chain.Owner.Debug[0].find(t.Reported), std::string::npos) << chain.Owner.Debug[0];
    }
  }
}

TEST(MultiSource, AClosedConnectionTakesOnlyItsOwnDataAlong) {
  TMultiChain chain(0);
  const TGUID src = KzCreateGUID();
  const TBytes frame = Framed(JpegFrame(kColours[2]), 1000, 40);
  chain.FeedVideo(src, Slice(frame, 0, frame.size() / 2));
  chain.Barrier(src);
  ASSERT_EQ(chain.Kept(src), static_cast<int64_t>(frame.size() / 2));
  chain.Fetch->DeleteKey(kHandle * 256 + DATA_TYPE_USERDATA);
  EXPECT_EQ(chain.Kept(src), static_cast<int64_t>(frame.size() / 2)) << "another key";
  chain.Fetch->DeleteKey(kHandle * 256 + DATA_TYPE_VIDEO);
  EXPECT_EQ(chain.Kept(src), 0);
  chain.FeedVideo(src, Slice(frame, frame.size() / 2, frame.size()));  // the rest alone is no frame
  chain.FeedVideo(src, frame);
  ASSERT_TRUE(chain.WaitFrames(1));
  EXPECT_EQ(chain.View.Frames(), std::vector<int>{2});
  EXPECT_EQ(chain.Decoded.load(), 1);
}

TEST(MultiSource, NothingIsDecodedWithoutAConsumer) {
  TMultiChain chain(0, false);
  const TGUID src = KzCreateGUID();
  chain.FeedVideo(src, Framed(JpegFrame(kColours[0]), 1000, 40));
  chain.Barrier(src);
  EXPECT_EQ(chain.Decoded.load(), 0);
  EXPECT_EQ(chain.Kept(src), 0) << "the frame is consumed all the same";
  chain.Fetch->Paint().LockDisplay();
  chain.Lists.CamViews.push_back(&chain.View);
  chain.Fetch->Paint().UnlockDisplay();
  chain.FeedVideo(src, Framed(JpegFrame(kColours[1]), 1040, 40));
  ASSERT_TRUE(chain.WaitFrames(1));
  EXPECT_EQ(chain.View.Frames(), std::vector<int>{1});
}

TEST(MultiSource, AudioBlocksGoToThePlaybackWithTheirTimes) {
  const TGUID src = KzCreateGUID();
  TMultiChain chain(0);
  {
    TKzInfo info;
    info.MediaIndex = 2;
    info.AudioInfo = {16000, TKzBitsPerSample::kzbps16, 1};
    TBytes broken = Audio(64, 4990, 20, 9);
    broken[4] ^= 0x40;  // leading Size no longer matches
    chain.Feed(src, DATA_TYPE_AUDIO, Concat({Audio(640, 5000, 20, 1), broken, Audio(640, 5020, 20, 2)}), info);
    chain.Feed(src, DATA_TYPE_AUDIO, Audio(320, 5040, 10, 3), info);
    ASSERT_TRUE(PumpUntil([&] { return chain.Owner.Count(chain.Owner.AudioBlocks) == 3; }, 10000));
    std::lock_guard<std::mutex> g(chain.Owner.Lock);
    const int64_t starts[] = {5000, 5020, 5040};
    const uint32_t durations[] = {20, 20, 10};
    for (size_t i = 0; i < 3; ++i) {
      const auto& a = chain.Owner.AudioBlocks[i];
      EXPECT_EQ(a.Source, src);
      EXPECT_EQ(a.Index, 2);
      EXPECT_EQ(a.Info, info.AudioInfo);
      EXPECT_EQ(a.Start, starts[i]);
      EXPECT_EQ(a.Duration, durations[i]);
      EXPECT_EQ(a.Bytes, Slice(Audio(static_cast<uint32_t>(a.Bytes.size()), 0, 0, static_cast<uint8_t>(i + 1)), 19,
                               19 + a.Bytes.size()));
    }
    EXPECT_TRUE(chain.Owner.Removed.empty());
  }
  KzMFreeThread(chain.Fetch);
  ASSERT_EQ(chain.Owner.Removed.size(), 1u) << "the playback forgets the source when the chain ends";
  EXPECT_EQ(chain.Owner.Removed[0], std::make_pair(src, uint16_t{2}));
}

TEST(MultiSource, FileChunksAreReassembledAndEachFileReportedTwice) {
  TMultiChain chain(0);
  const TGUID src = KzCreateGUID();
  std::map<std::string, TBytes> files;
  std::vector<int64_t> offsets;
  chain.Owner.WantFileMessages = true;
  chain.Owner.OnFileData = [&](TComponent*, TKzSessionKey Key, const std::string& Name, int64_t Offs, int64_t Total,
                               TMemoryStream& Data, int32_t Socket, const TGUID& From, const TGUID&, const TGUID&,
                               uint16_t) {
    EXPECT_FALSE(IsMainThread());
    EXPECT_EQ(Key, 7u);
    EXPECT_EQ(Socket, kHandle);
    EXPECT_EQ(From, src);
    TBytes& f = files[Name];
    EXPECT_EQ(static_cast<int64_t>(f.size()), Offs) << "chunks arrive in order";
    f.insert(f.end(), Data.Memory(), Data.Memory() + Data.Size());
    EXPECT_LE(static_cast<int64_t>(f.size()), Total);
    offsets.push_back(Offs);
  };
  // A damaged record is reported and costs nothing else.
  chain.Feed(src, DATA_TYPE_FILE, {0, 1, 2});
  ASSERT_TRUE(PumpUntil([&] { return chain.Owner.Count(chain.Owner.Debug) == 1; }, 5000));

  TBytes first(2500), second(700);
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i * 13);
  for (size_t i = 0; i < second.size(); ++i) second[i] = static_cast<uint8_t>(i * 5 + 1);
  TKzFileInfo a{"/tmp/a.bin", KzCreateGUID(), 0, static_cast<int64_t>(first.size())};
  for (size_t from = 0; from < first.size(); from += 1000) {
    a.FileOffs = static_cast<int64_t>(from);
    chain.Feed(src, DATA_TYPE_FILE, FileChunk(a, Slice(first, from, std::min(first.size(), from + 1000))));
  }
  const TKzFileInfo b{"b.dat", KzCreateGUID(), 0, static_cast<int64_t>(second.size())};
  chain.Feed(src, DATA_TYPE_FILE, FileChunk(b, second));
  ASSERT_TRUE(PumpUntil([&] { return chain.Owner.Count(chain.Owner.Files) == 4; }, 10000));
  EXPECT_EQ(files["a.bin"], first);
  EXPECT_EQ(files["b.dat"], second);
  EXPECT_EQ(offsets, (std::vector<int64_t>{0, 1000, 2000, 0}));
  std::lock_guard<std::mutex> g(chain.Owner.Lock);
  const std::pair<uintptr_t, const char*> expected[] = {
      {KZ_FILE_RECEIVING, "a.bin"}, {KZ_FILE_RECEIVED, "a.bin"}, {KZ_FILE_RECEIVING, "b.dat"}, {KZ_FILE_RECEIVED, "b.dat"}};
  for (size_t i = 0; i < 4; ++i) {
    const auto& [flag, record] = chain.Owner.Files[i];
    EXPECT_EQ(flag, expected[i].first) << i;
    EXPECT_EQ(record.FileName, expected[i].second) << i;
    EXPECT_EQ(record.ClientHandle, kHandle);
    EXPECT_EQ(record.SessionKey, 7u);
    EXPECT_EQ(record.Header.GUIDFrom, src);
  }
  EXPECT_EQ(chain.Owner.Files[1].second.TotalFileSize, 2500);
}

TEST(MultiSource, CommandsAndUserDataReachTheOwner) {
  TMultiChain chain(0);
  const TGUID src = KzCreateGUID();
  std::atomic<int> direct{0};
  chain.Owner.OnUserData = [&](TComponent*, TKzSessionKey, TMemoryStream& Data, int32_t, const TGUID&, const TGUID&,
                               const TGUID&, uint16_t) {
    EXPECT_FALSE(IsMainThread());
    EXPECT_EQ(Data.Size(), 3);
    ++direct;
  };
  TKzInfo info;
  info.MediaIndex = 3;
  const TBytes command = {1, 4, 'K', 'z', '_', 'X', 0};
  chain.Feed(src, DATA_TYPE_CMD, command, info);
  chain.Feed(src, DATA_TYPE_USERDATA, {'u', 's', 'r'}, info);
  ASSERT_TRUE(PumpUntil(
      [&] { return chain.Owner.Count(chain.Owner.Commands) == 1 && chain.Owner.Count(chain.Owner.UserData) == 1; },
      10000));
  {
    std::lock_guard<std::mutex> g(chain.Owner.Lock);
    const TKzCmdMessage& c = chain.Owner.Commands[0];
    EXPECT_EQ(c.Data, command);
    EXPECT_EQ(c.ClientHandle, kHandle);
    EXPECT_EQ(c.MediaIndex, 3);
    EXPECT_EQ(c.SessionKey, 7u);
    EXPECT_EQ(c.Header.GUIDFrom, src);
    const TKzUserDataMessage& u = chain.Owner.UserData[0];
    EXPECT_EQ(u.Data, (TBytes{'u', 's', 'r'}));
    EXPECT_EQ(u.ClientHandle, kHandle);
    EXPECT_EQ(u.Header.GUIDFrom, src);
    chain.Owner.Synchronized = false;
  }
  chain.Feed(src, DATA_TYPE_USERDATA, {'u', 's', 'r'}, info);
  ASSERT_TRUE(PumpUntil([&] { return direct.load() == 1; }, 10000));
  EXPECT_EQ(chain.Owner.Count(chain.Owner.UserData), 1u);
}

TEST(MultiSource, FileTransferIsHeldBackAbove32MiBPerSource) {
  TMultiChain chain(0, true, false);  // not running: nothing drains
  const TGUID src = KzCreateGUID(), other = KzCreateGUID();
  const TKzHeaderPack header = kztest::Header(src);
  const int32_t key = kHandle * 256 + DATA_TYPE_FILE;
  TKzInfo info;
  info.MediaIndex = 4;  // file data is kept under index 0 whatever the chunk says
  const TBytes block(1 << 20, 0x5A);
  for (int i = 0; i < 32; ++i) chain.Feed(src, DATA_TYPE_FILE, block, info);
  EXPECT_FALSE(chain.Fetch->IsFileBufferTooLarge(key, header, info));
  chain.Feed(src, DATA_TYPE_FILE, {1}, info);
  EXPECT_TRUE(chain.Fetch->IsFileBufferTooLarge(key, header, info));
  EXPECT_FALSE(chain.Fetch->IsEmpty(key, header, info));
  EXPECT_TRUE(chain.Fetch->IsEmpty(key, kztest::Header(other), info));
  chain.Fetch->Run();
  EXPECT_TRUE(PumpUntil([&] { return chain.Fetch->IsEmpty(key, header, info); }, 60000));  // 32 MiB: slow under sanitizers
}

TEST(MultiSource, ImageEventsArrivePerSourceOnTheMainThread) {
  TMultiChain chain(0);
  const TGUID a = KzCreateGUID(), b = KzCreateGUID();
  std::mutex lock;
  std::map<std::pair<uint32_t, uint16_t>, int> events;  // (GUID D1, video index) -> width
  chain.Owner.WantRegions = true;
  chain.Fetch->Paint().SetRotation(TKzRotation::kzr90);
  chain.Fetch->Paint().SetSmoothImage(true);
  chain.Fetch->Paint().SetOnGetImage([&](TComponent* Sender, TKzMBitmap& Img, int32_t Client, const TGUID& From,
                                         const TGUID&, uint16_t Index) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(Sender, &chain.Owner.Component);
    EXPECT_EQ(Client, kHandle);
    std::lock_guard<std::mutex> g(lock);
    events[{From.D1, Index}] = Img.Width();
  });
  chain.FeedVideo(a, Framed(JpegFrame(kColours[0], 64, 48), 1000, 40), TKzEncodingType::kzetJPEG, 1);
  chain.FeedVideo(b, Framed(JpegFrame(kColours[1], 64, 48), 1000, 40), TKzEncodingType::kzetJPEG, 0);
  ASSERT_TRUE(PumpUntil(
      [&] {
        std::lock_guard<std::mutex> g(lock);
        return events.size() == 2;
      },
      10000));
  EXPECT_EQ((events[{a.D1, 1}]), 48) << "rotated";
  EXPECT_EQ((events[{b.D1, 0}]), 48);
  std::lock_guard<std::mutex> g(chain.Owner.Lock);
  EXPECT_EQ(chain.Owner.MotionCalls.size(), 2u) << "motion detection runs per frame and source";
}

TEST(MultiSource, ConsumersComeAndGoWhileFramesFlow) {
  TMultiChain chain(60);
  constexpr int kSenders = 4;
  std::atomic<bool> stop{false};
  std::vector<std::thread> senders;
  std::atomic<int> fed{0};
  for (int s = 0; s < kSenders; ++s)
    senders.emplace_back([&, s] {
      const TGUID src = KzCreateGUID();
      const TBytes frames[] = {JpegFrame(kColours[s % 6], 32, 24), JpegFrame(kColours[(s + 1) % 6], 32, 24)};
      for (int64_t i = 0; !stop.load() && i < 2000; ++i) {
        chain.FeedVideo(src, Framed(frames[i % 2], 1000 + 10 * i, 10), TKzEncodingType::kzetJPEG,
                        static_cast<uint16_t>(s % 2));
        ++fed;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  std::atomic<int> events{0};
  TRecordingView extra{false};
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
  for (int round = 0; std::chrono::steady_clock::now() < until; ++round) {
    chain.Fetch->Paint().LockDisplay();
    {
      std::lock_guard<std::mutex> shape(chain.Lists.ShapeLock);  // the decode thread reads the lists under it
      if (round % 2)
        chain.Lists.CamViews.push_back(&extra);
      else
        std::erase(chain.Lists.CamViews, &extra);
    }
    chain.Fetch->Paint().UnlockDisplay();
    if (round % 3 == 1)
      chain.Fetch->Paint().SetOnGetImage(nullptr);
    else if (round % 3 == 2)
      chain.Fetch->Paint().SetOnGetImage(
          [&](TComponent*, TKzMBitmap&, int32_t, const TGUID&, const TGUID&, uint16_t) { ++events; });
    PumpUntil([] { return false; }, 5);
  }
  stop = true;
  for (auto& t : senders) t.join();
  EXPECT_GT(fed.load(), 0);
  EXPECT_GT(chain.View.Count(), 0u);
  KzMFreeThread(chain.Fetch);  // before extra goes
}
