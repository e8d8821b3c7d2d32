// A sender's tone through a receiver onto the player (the fake wave-out on
// the real clock, everything on loopback): the device plays the blocks the
// sender was handed, whole and in order, nothing lost on the way.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "audio/fmxMKzAudioSource.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/fmxMKzCamReceiver.h"
#include "tests/audio/kzplayertest.h"

namespace kz {
namespace {

std::string PlayedBytes(const TKzFakeWaveOutBackend& Fake) {
  std::string all;
  for (const auto& p : Fake.Played()) all += p.Bytes;
  return all;
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
    PumpUntil([&] { return PlayedBytes(fake).size() >= sent.size(); }, 5000);
    EXPECT_TRUE(PumpUntil([&] { return queued() == 0; }, 20000));
    uint64_t dropped = 0;
    for (const TKzPlayItemRef& item : player.PlayItems()) dropped += item->Stats().BlocksDropped;
    // The blocks played in order, whole; only those the player itself
    // dropped (stamped by their hand-over time, a block handed over late on
    // a loaded machine overlaps the one before) are missing.
    const std::string played = PlayedBytes(fake);
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

}  // namespace
}  // namespace kz
