// The microphone on the system's wave-in service: the device it opens, the
// two buffers that alternate on it, and the list of capture devices.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "audio/fmxMKzCustomMic.h"
#include "platform/fmxMKzPlatformWaveIn.h"

namespace kz {

// One capture buffer: its memory and the header that describes it to the device.
class TKzMicrophoneBuffer {
public:
  // Main thread, never block.
  bool Init(IKzWaveIn* Handle, uint32_t Size);
  bool PrepareAndAdd();
  void Done();
  TKzWaveInBuffer& Header() { return FHeader; }

private:
  IKzWaveIn* FHandle = nullptr;
  std::vector<uint8_t> FMemory;
  TKzWaveInBuffer FHeader;
};

struct TKzMicrophoneBuffers {
  TKzMicrophoneBuffer Buffers[2];
};

// The capture devices: count, names, per-device volume. Any thread; asks the system.
class TKzAudioDeviceCollection {
public:
  int32_t Count() const { return static_cast<int32_t>(KzWaveInBackend().DeviceNames().size()); }
  std::vector<std::string> Names() const { return KzWaveInBackend().DeviceNames(); }
  // "" for an index out of range.
  std::string Name(int32_t Index) const;
  uint16_t Volume(int32_t Index) const { return KzWaveInBackend().GetVolume(Index); }
  bool SetVolume(int32_t Index, uint16_t Value) const { return KzWaveInBackend().SetVolume(Index, Value); }
};

class TCustomKzMicrophonePlatform : public TCustomKzMicrophone {
public:
  // Main thread, never blocks.
  explicit TCustomKzMicrophonePlatform(TComponent* AOwner);
  // Closes the device. Main thread; blocks until its capture thread ends.
  ~TCustomKzMicrophonePlatform() override;

  // Main thread; ask the system.
  int32_t GetAudioInputDeviceCount() override { return FDevices.Count(); }
  std::string GetAudioInputDeviceList(int32_t Index) const { return FDevices.Name(Index); }
  void SetMicrophoneVolume(uint16_t Value) { FDevices.SetVolume(AudioInputDeviceIndex(), Value); }
  uint16_t GetMicrophoneVolume() const { return FDevices.Volume(AudioInputDeviceIndex()); }
  // Overruns of the running device. Any thread.
  uint32_t DeviceOverruns() const;
  // The device went away while capturing (the source is then inactive). Any thread.
  bool DeviceLost() const { return FDeviceLost.load(); }

protected:
  bool InitMicrophone() override;
  void DeinitMicrophone() override;

private:
  void WaveInCallback(TKzWaveInMessage Message, TKzWaveInBuffer* Buffer);
  std::unique_ptr<IKzWaveIn> FDevice;
  TKzMicrophoneBuffers FBuffers;
  TKzAudioDeviceCollection FDevices;
  // The format of the running device; the properties may change meanwhile.
  int32_t FCaptureRate = 0;
  int32_t FCaptureChannels = 1;
  TKzBitsPerSample FCaptureBits = TKzBitsPerSample::kzbps8;
  std::atomic<bool> FDeviceLost{false};
  // Lets a device-lost notice queued for the main thread find out whether
  // the component still exists.
  std::shared_ptr<TCustomKzMicrophonePlatform*> FSelf;
};

}  // namespace kz
