// The microphone on the fake wave-in device and the virtual clock: block
// sizes, the silence run, delivery to recorders, senders and a monitoring
// output, the neural suppressor (a stand-in library), device faults, start
// and stop cycles, and the WAV-file source with its pacing, events and loop.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>

#include "audio/fmxMKzMicrophone.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformFakeWaveIn.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/audio/kzaudiotest.h"

using namespace kz;
using namespace kztest;

namespace {

// The fake backend installed for one test, on a virtual clock.
struct TFakeRig {
  TFakeRig() { KzSetWaveInBackend(&Backend); }
  ~TFakeRig() { KzSetWaveInBackend(nullptr); }
  // Moves the clock in steps until Done (or Ms have passed), running
  // main-thread work; with a device running, each step waits until the
  // device has caught up with the clock.
  bool AdvanceUntil(const std::function<bool()>& Done, uint64_t Ms, uint64_t Step = 50, bool Device = true) {
    for (uint64_t t = 0; t <= Ms; t += Step) {
      Application().ProcessMessages();
      if (Done()) return true;
      const uint64_t waits = Backend.ClockWaits();
      if (Device) PumpUntil([&] { return Backend.ClockWaits() > waits || Done(); }, 5000);
      Clock.Clock.Advance(Step);
    }
    return PumpUntil(Done, 5000);
  }
  TKzVirtualClockScope Clock;
  TKzFakeWaveInBackend Backend;
};

void FillLoud8(uint8_t* Data, size_t Count, uint64_t) {
  for (size_t i = 0; i < Count; ++i) Data[i] = (i & 1) ? 228 : 28;
}

}  // namespace

TEST(Microphone, PropertiesClamp) {
  TFakeRig rig;
  rig.Backend.Devices = {{"a", 1}, {"b", 2}};
  TKzMicrophone mic(nullptr);
  EXPECT_EQ(mic.CalculateBufSize(mic.SamplesPerSec(), 1), 8192);  // 8000 Hz, 1000 ms, 8-bit mono
  struct {
    double In, Stored;
  } volumes[] = {{0, 0.001}, {1e9, 9999}};
  for (const auto& v : volumes) {
    mic.SetVolumeMultiplier(v.In);
    EXPECT_DOUBLE_EQ(mic.VolumeMultiplier(), v.Stored);
  }
  mic.SetBufferDuration(0);
  EXPECT_EQ(mic.BufferDuration(), 1);
  struct {
    int32_t In, Stored;
  } indexes[] = {{5, 1}, {0, 0}, {-1, -1}, {-7, -1}};
  for (const auto& i : indexes) {
    mic.SetAudioInputDeviceIndex(i.In);
    EXPECT_EQ(mic.AudioInputDeviceIndex(), i.Stored) << i.In;
  }
  EXPECT_THROW(mic.SetSamplesPerSec(12345), EKzMediaError);
  EXPECT_EQ(mic.GetMicrophoneVolume(), 1);  // the default device is the first
}

TEST(Microphone, DeliversEveryBlockWithFormatAndStampsAndDropsLongSilence) {
  TFakeRig rig;
  // Blocks 0-4 are silence, block 5 is loud.
  rig.Backend.Generator = [](uint8_t* Data, size_t Count, uint64_t Offset) {
    if (Offset / 8192 >= 5)
      FillLoud8(Data, Count, Offset);
    else
      std::memset(Data, 128, Count);
  };
  TKzMicrophone mic(nullptr);
  mic.SetNoiseReduction(false);
  TBlockRecorder recorder, sender;
  TLevelMeter meter;
  TOutputDouble output;
  mic.RegisterCamRecorder(&recorder);
  mic.RegisterCamSender(&sender);
  mic.RegisterAudioViewer(&meter);
  mic.SetAudioOutput(&output);
  mic.SetActive(true);
  ASSERT_TRUE(mic.Active());
  ASSERT_TRUE(rig.AdvanceUntil([&] { return recorder.Bytes() >= 3 * 8192 && meter.Levels().size() >= 6; }, 10000));
  mic.SetActive(false);
  ASSERT_TRUE(PumpUntil([&] { return mic.DeliveryIdle(); }, 5000));

  // Silent blocks 0 and 1 pass, 2-4 are held back, the loud block 5 passes.
  // (Blocks that queue up behind a slow delivery may arrive joined.)
  const std::vector<TAudioBlock> got = recorder.Blocks();
  EXPECT_EQ(mic.BlocksSilent(), 3u);
  const std::string all = recorder.All();
  ASSERT_EQ(all.size(), 3u * 8192);
  for (const TAudioBlock& b : got) {
    EXPECT_EQ(b.Bytes.size() % 8192, 0u);
    EXPECT_EQ(b.Info, (TKzAudioInfo{8000, TKzBitsPerSample::kzbps8, 1}));
    EXPECT_EQ(b.Duration, 1024u * (b.Bytes.size() / 8192));
  }
  EXPECT_EQ(all[2 * 8192 - 1], static_cast<char>(128));
  EXPECT_EQ(all[2 * 8192], static_cast<char>(28));
  const std::vector<uint16_t> levels = meter.Levels();
  EXPECT_EQ(std::vector<uint16_t>(levels.begin(), levels.begin() + 6),
            (std::vector<uint16_t>{128, 128, 128, 128, 128, 228}));
  // The sender got the same blocks under its own clock and the zero GUID.
  EXPECT_EQ(sender.All(), all);
  EXPECT_EQ(sender.Blocks()[0].StartTime, 777);
  EXPECT_TRUE(IsNull(sender.Blocks()[0].GUID));
  // Monitoring plays under the component's own GUID.
  EXPECT_EQ(output.Played.Bytes, 3 * 8192);
  EXPECT_FALSE(IsNull(output.Played.GUIDs[0]));
  TKzMicrophone other(nullptr);
  EXPECT_FALSE(CompareGUID(other.MonitorGUID(), mic.MonitorGUID()));
  mic.UnRegisterCamRecorder(&recorder);
  mic.UnRegisterCamSender(&sender);
  mic.UnRegisterAudioViewer(&meter);
  EXPECT_THROW(mic.UnRegisterCamSender(&sender), EKzAssertionFailed);
}

TEST(Microphone, BlocksOfTwoFormatsAreNeverMerged) {
  TFakeRig rig;
  TKzMicrophone mic(nullptr);
  TBlockRecorder recorder;
  mic.RegisterCamRecorder(&recorder);
  // Queued before the data thread starts, so that it delivers them in one wake-up.
  TMemoryStream a, b;
  a.SetSize(100);
  b.SetSize(64);
  mic.GetAudio(a, EmptyGUID(), 100, 1, TKzBitsPerSample::kzbps8, 8000);
  mic.GetAudio(b, EmptyGUID(), 64, 2, TKzBitsPerSample::kzbps16, 8000);
  mic.GetAudio(b, EmptyGUID(), 64, 2, TKzBitsPerSample::kzbps16, 8000);
  mic.SetNoiseReduction(false);
  mic.SetActive(true);
  ASSERT_TRUE(PumpUntil([&] { return mic.DeliveryIdle(); }, 5000));
  mic.SetActive(false);
  const std::vector<TAudioBlock> got = recorder.Blocks();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Bytes.size(), 100u);
  EXPECT_EQ(got[0].Info.Channels, 1);
  EXPECT_EQ(got[1].Bytes.size(), 128u);
  EXPECT_EQ(got[1].Info.BitsPerSample, TKzBitsPerSample::kzbps16);
  mic.UnRegisterCamRecorder(&recorder);
}

TEST(Microphone, DeviceFaultsLeaveItInactiveAndCyclesAreClean) {
  TFakeRig rig;
  rig.Backend.Generator = FillLoud8;
  {
    rig.Backend.FailOpen = true;
    TKzMicrophone mic(nullptr);
    mic.SetActive(true);
    EXPECT_FALSE(mic.Active());
    rig.Backend.FailOpen = false;
  }
  {
    rig.Backend.VanishAfterBuffers = 2;
    TKzMicrophone mic(nullptr);
    mic.SetNoiseReduction(false);
    TBlockRecorder recorder;
    mic.RegisterCamRecorder(&recorder);
    mic.SetActive(true);
    ASSERT_TRUE(mic.Active());
    ASSERT_TRUE(rig.AdvanceUntil([&] { return !mic.Active(); }, 10000));
    EXPECT_TRUE(mic.DeviceLost());
    PumpUntil([&] { return mic.DeliveryIdle(); }, 5000);
    EXPECT_EQ(recorder.Count(), 2u);
    mic.UnRegisterCamRecorder(&recorder);
    rig.Backend.VanishAfterBuffers = -1;
  }
  {
    rig.Backend.OverrunEvery = 2;
    TKzMicrophone mic(nullptr);
    mic.SetActive(true);
    ASSERT_TRUE(rig.AdvanceUntil([&] { return mic.DeviceOverruns() >= 1; }, 10000));
    rig.Backend.OverrunEvery = 0;
  }
  TKzMicrophone mic(nullptr);
  mic.SetBufferDuration(10);
  for (int i = 0; i < 200; ++i) {
    mic.SetActive(true);
    ASSERT_TRUE(mic.Active()) << i;
    rig.Clock.Clock.Advance(7);
    mic.SetActive(false);
  }
  EXPECT_EQ(rig.Backend.OpenCount(), 202);  // the failed open is not counted
}

TEST(Microphone, NeuralSuppressorForces48kAndHalvesWholeFrames) {
  TFakeRig rig;
  ASSERT_FALSE(KzLoadRNNoise("", KZ_FAKE_RNNOISE_NOFREE));  // incomplete: the gate is used
  {
    TKzMicrophone mic(nullptr);
    mic.InitRNNoise(false, 1);
    EXPECT_EQ(mic.RNNoiseRefCount(), 0);
    EXPECT_EQ(mic.GetSampleRateForNoiseReduction(), 0);
  }
  ASSERT_TRUE(KzLoadRNNoise("", KZ_FAKE_RNNOISE));
  void* lib = dlopen(KZ_FAKE_RNNOISE, RTLD_NOW);
  auto liveStates = reinterpret_cast<int (*)()>(dlsym(lib, "fake_rnnoise_live_states"));
  {
    rig.Backend.Generator = [](uint8_t* Data, size_t Count, uint64_t) {
      for (size_t i = 0; i + 1 < Count; i += 2) Data[i] = 0xE8, Data[i + 1] = 0x03;  // 1000
    };
    TKzMicrophone mic(nullptr);
    mic.SetBitsPerSample(TKzBitsPerSample::kzbps16);
    mic.SetChannels(2);
    mic.SetBufferDuration(15);  // 720 frames, rounded up to 960 = 2 suppressor frames
    mic.SetSoundMinLevel(0);
    mic.SetSoundIgnoreInterval(0);
    TBlockRecorder recorder;
    mic.RegisterCamRecorder(&recorder);
    mic.SetActive(true);
    ASSERT_TRUE(mic.Active());
    EXPECT_EQ(mic.SamplesPerSec(), 48000);
    EXPECT_EQ(liveStates(), 2);
    ASSERT_TRUE(rig.AdvanceUntil([&] { return recorder.Count() >= 1; }, 2000, 5));
    const TAudioBlock b = recorder.Blocks()[0];
    EXPECT_EQ(b.Bytes.size(), 960u * 4);
    EXPECT_EQ(b.Info.SamplesPerSec, 48000);
    EXPECT_EQ(b.Bytes.substr(0, 4), std::string("\xF4\x01\xF4\x01", 4));  // 500, 500

    mic.SetActive(false);
    EXPECT_EQ(liveStates(), 0);
    mic.UnRegisterCamRecorder(&recorder);

    // Later joins only count; the states go with the last one.
    mic.InitRNNoise(false, 2);
    mic.InitRNNoise(false, 2);
    EXPECT_EQ(liveStates(), 2);
    // A block at another rate is left alone; the tail after whole frames too.
    TMemoryStream s;
    s.SetSize(500 * 4);
    for (int i = 0; i < 1000; ++i) s.Memory()[2 * i] = 0xE8, s.Memory()[2 * i + 1] = 0x03;
    EXPECT_EQ(mic.DoNoiseReduction(s, TKzBitsPerSample::kzbps16, s.Size(), 44100, 2), s.Size());
    EXPECT_EQ(s.Memory()[0], 0xE8);
    EXPECT_EQ(mic.DoNoiseReduction(s, TKzBitsPerSample::kzbps16, s.Size(), 48000, 2), 480 * 4);
    EXPECT_EQ(s.Memory()[4 * 479], 0xF4);
    EXPECT_EQ(s.Memory()[4 * 479 + 2], 0xF4);
    EXPECT_EQ(s.Memory()[4 * 480], 0xE8);
    mic.DoneRNNoise();
    EXPECT_EQ(liveStates(), 2);
    mic.DoneRNNoise();
    EXPECT_EQ(liveStates(), 0);
  }
  dlclose(lib);
  KzUnloadRNNoise();
}

TEST(Microphone, WavFilePlaysInRealTimeWithEventsInOrderAndLoops) {
  TFakeRig rig;
  TTempDir dir;
  // 10 s of 8-bit mono at 8000 Hz.
  uint8_t header[44];
  KzWriteWaveHeader(header, 1, 8000, 8, 80000);
  std::string file(reinterpret_cast<char*>(header), 44);
  for (int i = 0; i < 80000; ++i) file += static_cast<char>(i % 7 == 0 ? 28 : 128 + i % 3);
  WriteFile(dir / "ten.wav", file);

  TKzMicrophone mic(nullptr);
  mic.SetSourceType(TKzSoundSourceType::kzsstWav);
  mic.SetWavFileName(dir / "ten.wav");
  TBlockRecorder recorder;
  mic.RegisterCamRecorder(&recorder);
  std::vector<std::string> events;
  const uint64_t start = PlatformTickCount();
  uint64_t closedAt = 0;
  mic.OnOpenWavFile = [&](TComponent*, int64_t Frames, int32_t, TKzBitsPerSample, int32_t Rate) {
    events.push_back("open " + std::to_string(Frames) + " " + std::to_string(Rate));
  };
  mic.OnReadWavFile = [&](TComponent*, int64_t Position, int64_t Frames) {
    events.push_back("read " + std::to_string(Position) + " " + std::to_string(Frames));
  };
  mic.OnCloseWavFile = [&](TComponent*, int64_t Position, int64_t) {
    events.push_back("close " + std::to_string(Position));
    closedAt = PlatformTickCount();
  };
  mic.SetActive(true);
  ASSERT_TRUE(mic.Active());
  ASSERT_TRUE(rig.AdvanceUntil([&] { return !mic.Active(); }, 15000, 10, false));
  std::vector<std::string> want = {"open 80000 8000"};
  for (int k = 0; k < 10; ++k) want.push_back("read " + std::to_string(k * 8000) + " 8000");
  want.push_back("close 80000");
  EXPECT_EQ(events, want);
  // Block 9 is due at 9 s; the file has lasted 10 s give or take one block.
  EXPECT_GE(closedAt - start, 9000u);
  EXPECT_LE(closedAt - start, 11000u);
  ASSERT_TRUE(PumpUntil([&] { return mic.DeliveryIdle(); }, 5000));
  EXPECT_EQ(recorder.All(), file.substr(44));

  events.clear();
  mic.SetWavLoop(true);
  mic.SetActive(true);
  ASSERT_TRUE(rig.AdvanceUntil([&] { return events.size() >= 13; }, 15000, 10, false));
  EXPECT_EQ(events[11], "read 0 8000");
  EXPECT_TRUE(mic.Active());
  mic.SetActive(false);
  mic.UnRegisterCamRecorder(&recorder);
}
