// The audio player on the fake wave-out and the virtual clock: one item per
// source and format, blocks played by time stamp, late blocks dropped or
// played, the queue cap, the free-buffer count under many feeders, a jittered
// stream played whole and on time, teardown with timers pending, and
// recording of what played (WAV by the library's writer, the rest by FFmpeg).
// Then a sender's tone through a receiver onto the player (the fake wave-out
// on the real clock, everything on loopback): the device plays the blocks the
// sender was handed, whole and in order, nothing lost on the way.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

#include "audio/fmxMKzAudioSource.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "foundation/fmxMKzErrors.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/fmxMKzCamReceiver.h"
#include "tests/audio/kzaudiotest.h"
#include "tests/audio/kzplayertest.h"
#include "tests/kztestneed.h"

using namespace kz;
using namespace kztest;

namespace {
const TKzAudioInfo kU8k8{8000, TKzBitsPerSample::kzbps8, 1};
const TKzAudioInfo kS48k16{48000, TKzBitsPerSample::kzbps16, 1};
const TKzAudioInfo kS8k16{8000, TKzBitsPerSample::kzbps16, 1};

std::vector<int> PlayedIds8(const TPlayRig& Rig, int32_t Serial) {
  std::vector<int> ids;
  for (char c : Rig.PlayedBytes(Serial))
    if (ids.empty() || ids.back() != uint8_t(c)) ids.push_back(uint8_t(c));
  return ids;
}

// Everything the device played, whichever device serial.
std::string AllPlayed(const TKzFakeWaveOutBackend& Fake) {
  std::string all;
  for (const auto& p : Fake.Played()) all += p.Bytes;
  return all;
}
}  // namespace

TEST(AudioPlayer, OneItemPerSourceAndFormat) {
  TPlayRig rig;
  const TGUID a = KzCreateGUID();
  rig.Play(a, 0, 1, 1000, kU8k8, 20);
  rig.Play(a, 1, 2, 1000, kS48k16, 20);
  ASSERT_EQ(rig.Player.PlayItems().size(), 2u);
  for (const TKzPlayItemRef& i : rig.Player.PlayItems())
    EXPECT_EQ(i->BufferSize(), i->AudioIndex() == 0 ? 4096u : 65536u) << i->AudioIndex();
  // A new format on index 0 replaces its item and loses its queue.
  rig.Play(a, 0, 3, 1020, kS48k16, 20);
  const auto items = rig.Player.PlayItems();
  ASSERT_EQ(items.size(), 2u);
  for (const TKzPlayItemRef& i : items) {
    EXPECT_EQ(i->Format(), kS48k16);
    EXPECT_EQ(i->Stats().QueuedBytes, 1920);
  }
  EXPECT_EQ(rig.Player.GetPosition(KzCreateGUID(), 0), -1);
  EXPECT_GE(rig.Player.GetPosition(a, 0), 0);

  // Muted, OnGetAudio still sees every block; nothing is queued.
  int seen = 0;
  rig.Player.OnGetAudio = [&](void*, TMemoryStream&, int32_t&, uint16_t, int64_t&, uint32_t&, int32_t&,
                              TKzBitsPerSample&, int32_t&) { ++seen; };
  rig.Player.SetMute(true);
  rig.Play(KzCreateGUID(), 0, 4, 1000, kU8k8, 20);
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(rig.Player.PlayItems().size(), 2u);
}

TEST(AudioPlayer, PlaysByTimeStampAndDropsOnlyWhereAllowed) {
  // Out of order: 1000, 1040, 1020 arrive; they play 1, 2, 3.
  {
    TPlayRig rig;
    const TGUID g = KzCreateGUID();
    rig.Play(g, 0, 1, 1000, kU8k8, 20);
    rig.Play(g, 0, 3, 1040, kU8k8, 20);
    ASSERT_TRUE(rig.Run(20));
    rig.Play(g, 0, 2, 1020, kU8k8, 20);
    ASSERT_TRUE(rig.Run(400));
    EXPECT_EQ(PlayedIds8(rig, 1), (std::vector<int>{1, 2, 3}));
  }
  // A block 18 s behind the clock that does not follow the last one played.
  const struct {
    bool AllowDrop;
    std::vector<int> Played;
  } rows[] = {{true, {1}}, {false, {1, 2}}};
  for (const auto& r : rows) {
    TPlayRig rig;
    const TGUID g = KzCreateGUID();
    rig.Play(g, 0, 1, 1000, kU8k8, 20, r.AllowDrop);
    ASSERT_TRUE(rig.Run(300));
    rig.Clock.Clock.Advance(20000);
    ASSERT_TRUE(rig.Settle());
    rig.Play(g, 0, 2, 2000, kU8k8, 20, r.AllowDrop);
    ASSERT_TRUE(rig.Run(300));
    EXPECT_EQ(PlayedIds8(rig, 1), r.Played) << r.AllowDrop;
    EXPECT_EQ(rig.Player.PlayItems()[0]->Stats().BlocksDropped, r.AllowDrop ? 1u : 0u);
  }
}

TEST(AudioPlayer, QueueCapKeepsTheNewestBytes) {
  TPlayRig rig;
  const TGUID g = KzCreateGUID();
  // 500 blocks of 1024 bytes at once: the newest 400 fit.
  for (int id = 1; id <= 500; ++id) rig.Play(g, 0, id, 1000 + 64 * (id - 1), kS8k16, 64);
  const TKzPlayItemStats s = rig.Player.PlayItems()[0]->Stats();
  EXPECT_EQ(s.QueuedBytes, KZ_PLAY_MAX_QUEUED);
  EXPECT_EQ(s.BlocksDropped, 100u);
  rig.Clock.Clock.Advance(6600);
  ASSERT_TRUE(rig.Settle());
  ASSERT_TRUE(rig.Run(100));
  const std::vector<int> played = TaggedRuns16(rig.PlayedBytes(1));
  ASSERT_FALSE(played.empty());
  EXPECT_EQ(played.front(), 101);
}

TEST(AudioPlayer, FreeBufferCountStaysInRangeUnderTwelveFeeders) {
  TFakeWaveOut fake;
  fake.RecordPlayed = false;
  {
    TKzAudioPlayer player(nullptr);
    player.SetActive(true);
    const TGUID g = KzCreateGUID();
    std::atomic<bool> done{false};
    std::atomic<int> outside{0};
    std::thread sampler([&] {
      while (!done)
        for (const TKzPlayItemRef& i : player.PlayItems())
          if (i->FreeBuffers() < 0 || i->FreeBuffers() > KZ_PLAY_BUFFERS) ++outside;
    });
    std::vector<std::thread> feeders;
    for (int t = 0; t < 12; ++t)
      feeders.emplace_back([&, t] {
        const std::string block = TaggedBlock(t, kS48k16, 5);
        const int64_t start = int64_t(KzMGetTickCountSinceStart());
        for (int n = 0; n < 300; ++n) {
          TMemoryStream s;
          s.Write(block.data(), int64_t(block.size()));
          player.PlayAudio(s, int32_t(block.size()), g, 0, true, 1, TKzBitsPerSample::kzbps16, 48000,
                           start + 5 * n, 5);
        }
      });
    for (std::thread& f : feeders) f.join();
    // Let the device complete what it was given.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (player.PlayItems()[0]->FreeBuffers() != KZ_PLAY_BUFFERS && std::chrono::steady_clock::now() < limit)
      std::this_thread::yield();
    done = true;
    sampler.join();
    EXPECT_EQ(outside.load(), 0);
    EXPECT_EQ(player.PlayItems()[0]->FreeBuffers(), KZ_PLAY_BUFFERS);
  }
}

// 20 ms blocks of 16-bit 48 kHz with +-80 ms jitter, 5 % reordered, 1 % lost,
// latency 300 ms: the input minus the lost blocks plays, in order, each block
// within 10 ms of its time.
TEST(AudioPlayerJitter, PlaysTheStreamWholeAndOnTime) {
  TPlayRig rig;
  rig.Player.SetLatency(300);
  const TGUID g = KzCreateGUID();
  std::mt19937 rng(28);
  const int count = 150;
  std::vector<int64_t> arrival(count);
  std::vector<bool> lost(count, false);
  for (int k = 0; k < count; ++k) arrival[k] = 100 + 20 * k + int64_t(rng() % 161) - 80;
  for (int k = 1; k + 1 < count; ++k) {
    if (rng() % 100 < 5) arrival[k] = std::max(arrival[k], arrival[k + 1] + 1);  // after its successor
    if (rng() % 100 < 1) lost[k] = true;
  }
  lost[count / 2] = true;  // at least one
  for (uint64_t t = 0; t < 20 * count + 800; ++t) {
    for (int k = 0; k < count; ++k)
      if (!lost[k] && arrival[k] == int64_t(t)) rig.Play(g, 0, k + 1, 5000 + 20 * k, kS48k16, 20);
    ASSERT_TRUE(rig.Run(1));
  }
  std::vector<int> expected;
  for (int k = 0; k < count; ++k)
    if (!lost[k]) expected.push_back(k + 1);
  EXPECT_EQ(TaggedRuns16(rig.PlayedBytes(1)), expected);

  // Each block's start from the writes that carried it.
  std::vector<double> start(count + 1, -1);
  for (const auto& p : rig.Fake.Played()) {
    for (size_t off = 0; off + 1 < p.Bytes.size(); off += 1920) {
      const int id = uint8_t(p.Bytes[off]) | (uint8_t(p.Bytes[off + 1]) << 8);
      if (start[id] < 0) start[id] = p.StartMs + double(off / 2) / 48.0;
    }
  }
  ASSERT_GE(start[1], 0);
  for (int k = 0; k < count; ++k)
    if (!lost[k]) {
      EXPECT_NEAR(start[k + 1], start[1] + 20 * k, 10.0) << "block " << k;
    }
}

TEST(AudioPlayer, TeardownWithTimersPendingAndCallbacksRunning) {
  TFakeWaveOut fake;
  fake.RecordPlayed = false;
  for (int cycle = 0; cycle < 500; ++cycle) {
    const TGUID g = KzCreateGUID();
    // A clock that started a second ago: the first blocks are due at once.
    GetGUIDInfoWithCreate(g, false, 0)->ReceiveTime = int64_t(KzMGetTickCount()) - 1000;
    TKzPlayItem item(g, 0, kU8k8, -1, 100, 0);
    ASSERT_TRUE(item.InitSound());
    const std::string block = TaggedBlock(1, kU8k8, 2);
    for (int n = 0; n < 4; ++n) {
      TMemoryStream s;
      s.Write(block.data(), int64_t(block.size()));
      // The last one lies in the future: its timer is pending.
      item.AddToBuffer(s, int32_t(block.size()), n < 3 ? 2 * n : 5000, 2, true);
    }
    if (cycle % 25 == 0) {
      // Wait for a completion: the refill timer is then armed too.
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (item.FreeBuffers() < KZ_PLAY_BUFFERS && std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
    }
    item.DestroySound();
    EXPECT_EQ(fake.OpenDevices(), 0);
    ClearGuidInfo(g);
  }
}

TEST(AudioPlayer, RecordsOnePlayedSourceToWav) {
  TTempDir dir;
  TPlayRig rig;
  const std::string file = dir / "out.wav";
  rig.Player.SetOutputFileName(file);
  int stopped = 0;
  rig.Player.OnStopRecording = [&](TComponent*) { ++stopped; };

  // 32-bit and float samples cannot go into a WAV recording.
  for (TKzSampleFormat f : {TKzSampleFormat::kzsf32, TKzSampleFormat::kzsfFloat}) {
    rig.Player.SetEncodeSampleFormat(f);
    EXPECT_THROW(rig.Player.SetRecording(true), EKzMediaError);
    EXPECT_FALSE(rig.Player.Recording());
  }
  // Compressed formats need FFmpeg: turned off, nothing starts.
  rig.Player.SetEncodeAudioCodec(TKzAudioCodec::kzacMP3);
  rig.Player.SetUseFFMpeg(false);
  rig.Player.SetRecording(true);
  EXPECT_FALSE(rig.Player.Recording());
  rig.Player.SetUseFFMpeg(true);

  rig.Player.SetEncodeAudioCodec(TKzAudioCodec::kzacWAV);
  rig.Player.SetEncodeSampleFormat(TKzSampleFormat::kzsf16);
  rig.Player.SetRecording(true);
  ASSERT_TRUE(rig.Player.Recording());
  const TGUID a = KzCreateGUID(), b = KzCreateGUID();
  std::string expected;
  for (int id = 1; id <= 5; ++id) {
    rig.Play(a, 0, id, 1000 + 20 * id, kS8k16, 20);
    rig.Play(b, 0, 100 + id, 1000 + 20 * id, kS8k16, 20);  // left out
    expected += TaggedBlock(id, kS8k16, 20);
  }
  // An 8-bit block of the same source is another format: left out as well.
  rig.Play(a, 0, 9, 1200, kU8k8, 20);
  rig.Player.SetRecording(false);
  EXPECT_EQ(stopped, 1);
  const std::string wav = ReadFile(file);
  ASSERT_EQ(wav.size(), 44 + expected.size());
  EXPECT_TRUE(wav.substr(44) == expected);
  KZ_NEED(HaveProgram("soxi"), "soxi (sox)");
  EXPECT_EQ(RunOutput("soxi -s " + file), "800\n");
}

// Compressed recordings through FFmpeg last what was played, give or take
// one codec frame; a codec without an encoder ends the recording.
TEST(AudioPlayer, RecordsThroughFFmpeg) {
  KZ_NEED(HaveProgram("ffprobe"), "ffprobe (ffmpeg)");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  TTempDir dir;
  TPlayRig rig;
  int stopped = 0;
  rig.Player.OnStopRecording = [&](TComponent*) { ++stopped; };
  const struct {
    const char* File;
    TKzAudioCodec Codec;
    const char* Name;    // what ffprobe calls it; "" when it cannot be written
    double FrameSeconds;  // one codec frame at 8 kHz
  } rows[] = {{"out.mp3", TKzAudioCodec::kzacMP3, "mp3", 0.072},
              {"out.ogg", TKzAudioCodec::kzacVorbis, "vorbis", 0.256},
              {"out.m4a", TKzAudioCodec::kzacAAC, "aac", 0.128},
              {"out.amr", TKzAudioCodec::kzacAMR, "", 0}};
  const TGUID source = KzCreateGUID();
  int64_t stamp = 1000;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.File);
    const std::string file = dir / r.File;
    rig.Player.SetOutputFileName(file);
    rig.Player.SetEncodeAudioCodec(r.Codec);
    stopped = 0;
    rig.Player.SetRecording(true);
    ASSERT_TRUE(rig.Player.Recording());
    for (int id = 1; id <= 75; ++id, stamp += 20) rig.Play(source, 0, 1000 * (id % 7), stamp, kS8k16, 20);
    if (!*r.Name) {
      EXPECT_FALSE(rig.Player.Recording());
      EXPECT_EQ(stopped, 1);
      continue;
    }
    rig.Player.SetRecording(false);
    EXPECT_EQ(stopped, 1);
    EXPECT_EQ(RunOutput("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + file),
              std::string(r.Name) + "\n");
    // Decoded, without the encoder's delay and padding (which ffprobe's mp3 duration counts).
    const double seconds = double(RunOutput("ffmpeg -v error -i " + file + " -f s16le -ac 1 -ar 8000 -").size()) / 16000;
    EXPECT_NEAR(seconds, 1.5, r.FrameSeconds);
    EXPECT_EQ(RunOutput("ffmpeg -v error -i " + file + " -f null - 2>&1"), "");
  }
}


TEST(SenderToPlayer, TheDevicePlaysWhatWasSent) {
  kztest::TFakeWaveOut fake;
  {
    TKzAudioPlayer player(nullptr);
    player.SetLatency(300);  // room for a loaded machine's scheduling
    player.SetActive(true);
    TKzCamReceiver receiver(nullptr);
    receiver.SetPort(0);
    receiver.SetAudioOutput(&player);
    receiver.SetActive(true);
    ASSERT_TRUE(PumpUntil([&] { return receiver.ListeningPort() != 0; }, 10000));
    TKzAudioSource tone(nullptr);
    TKzCamSender sender(nullptr);
    sender.SetAudioSource(&tone);
    sender.SetReceiverHost("127.0.0.1");
    sender.SetReceiverPort(receiver.ListeningPort());
    sender.SetActive(true);

    // 100 blocks of 20 ms, 16-bit 8 kHz, handed over at their own pace.
    constexpr size_t kBlockBytes = 320;
    std::string sent;
    const auto t0 = std::chrono::steady_clock::now();
    for (int b = 0; b < 100; ++b) {
      TMemoryStream s;
      for (int i = 0; i < 160; ++i) {
        const int16_t v = int16_t(8000 * std::sin((b * 160 + i) * 2 * M_PI * 440 / 8000));
        s.Write(&v, 2);
      }
      sent.append(reinterpret_cast<const char*>(s.Memory()), size_t(s.Size()));
      s.SetPosition(0);
      tone.OutputSound(s, int32_t(s.Size()), TGUID{}, 1, TKzBitsPerSample::kzbps16, 8000);
      std::this_thread::sleep_until(t0 + std::chrono::milliseconds(20 * (b + 1)));
    }
    // Until the device has played what came (a quiet moment of the queue).
    auto queued = [&] {
      uint64_t n = 0;
      for (const TKzPlayItemRef& item : player.PlayItems()) n += item->Stats().QueuedMs;
      return n;
    };
    PumpUntil([&] { return AllPlayed(fake).size() >= sent.size(); }, 5000);
    EXPECT_TRUE(PumpUntil([&] { return queued() == 0; }, 20000));
    uint64_t dropped = 0;
    for (const TKzPlayItemRef& item : player.PlayItems()) dropped += item->Stats().BlocksDropped;
    // The blocks played in order, whole; only those the player itself
    // dropped (stamped by their hand-over time, a block handed over late on
    // a loaded machine overlaps the one before) are missing.
    const std::string played = AllPlayed(fake);
    size_t at = 0, missing = 0;
    for (size_t b = 0; b < sent.size(); b += kBlockBytes) {
      if (played.compare(at, kBlockBytes, sent, b, kBlockBytes) == 0)
        at += kBlockBytes;
      else
        ++missing;
    }
    EXPECT_EQ(at, played.size()) << "the device played something else than the blocks sent";
    EXPECT_EQ(missing, dropped);
    EXPECT_LE(missing, 10u);
    sender.SetActive(false);
    receiver.SetActive(false);
    receiver.SetAudioOutput(nullptr);
  }
}
