// Wave-out: playback of PCM buffers the caller writes. A device is opened by
// index (or -1, the system default) for one PCM format; writing only queues
// a buffer, the device's own thread feeds the device and hands each buffer
// back through the callback once its last frame has played. Backends: ALSA
// (the default) and a fake device that plays on the platform clock and
// records what it played when, for tests. Device names and volumes come from
// the same audio system as capture's.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformWaveIn.h"

namespace kz {

using TKzWaveOutFormat = TKzWaveInFormat;

// A buffer to play. The caller keeps it alive and untouched from Write until
// it comes back through the callback, Reset or Close.
struct TKzWaveOutBuffer {
  const uint8_t* Data = nullptr;
  uint32_t BufferLength = 0;
  void* User = nullptr;
};

// The device's thread (Reset: the caller's thread). The callback must not
// Reset, Close or block.
using TKzWaveOutCallback = std::function<void(TKzWaveOutBuffer* Buffer)>;

// One open device. Every operation: any thread except the callback's, unless
// said otherwise; none blocks longer than one wait of the device thread.
class IKzWaveOut {
public:
  virtual ~IKzWaveOut() = default;
  // False leaves it closed (no such device, format refused).
  virtual bool Open(int32_t DeviceIndex, const TKzWaveOutFormat& Format, TKzWaveOutCallback Callback) = 0;
  // Queues a buffer behind the others (whole frames). Also from the callback.
  virtual bool Write(TKzWaveOutBuffer* Buffer) = 0;
  virtual void Pause() = 0;
  virtual void Restart() = 0;
  // Drops what is queued and hands every buffer back through the callback, in order.
  virtual void Reset() = 0;
  // Reset, then closes the device; no callback comes after it returns.
  virtual void Close() = 0;
  // Frames played since Open. Any thread.
  virtual int64_t Position() const = 0;
  // Underruns met and recovered from since Open. Any thread.
  virtual uint32_t Underruns() const = 0;
};

class IKzWaveOutBackend {
public:
  virtual ~IKzWaveOutBackend() = default;
  virtual std::unique_ptr<IKzWaveOut> CreateWaveOut() = 0;
  // Playback device names in index order. Any thread; may block on the system.
  virtual std::vector<std::string> DeviceNames() = 0;
  // Playback volume 0..65535 of device Index (-1: default); 0 without a control.
  virtual uint16_t GetVolume(int32_t DeviceIndex) = 0;
  virtual bool SetVolume(int32_t DeviceIndex, uint16_t Volume) = 0;
};

// The backend in use (ALSA unless a test installed another). Any thread.
IKzWaveOutBackend& KzWaveOutBackend();
// Installs Backend (nullptr: ALSA again); returns the previous one. Main
// thread, while no device is open.
IKzWaveOutBackend* KzSetWaveOutBackend(IKzWaveOutBackend* Backend);
IKzWaveOutBackend& KzAlsaWaveOutBackend();

// What the ALSA and fake devices share: the queue, the device thread, its
// requests and the completion of buffers by frames played. A backend
// supplies the device steps, all on the device thread except
// DeviceOpen/DeviceClose (the caller's, without the thread).
class TKzWaveOutDevice : public IKzWaveOut {
public:
  TKzWaveOutDevice();
  ~TKzWaveOutDevice() override;
  bool Open(int32_t DeviceIndex, const TKzWaveOutFormat& Format, TKzWaveOutCallback Callback) override;
  bool Write(TKzWaveOutBuffer* Buffer) override;
  void Pause() override;
  void Restart() override;
  void Reset() override;
  void Close() override;
  int64_t Position() const override;
  uint32_t Underruns() const override;

protected:
  virtual bool DeviceOpen(int32_t DeviceIndex, const TKzWaveOutFormat& Format) = 0;
  virtual void DeviceClose() = 0;
  // Takes up to Frames frames; how many it took (0: full), or -1 when the
  // device is gone. Never waits.
  virtual int64_t DeviceWrite(const uint8_t* Data, int64_t Frames) = 0;
  // Frames written but not yet played.
  virtual int64_t DeviceDelay() = 0;
  virtual void DevicePause(bool Pause) = 0;
  // Drops what the device holds; it takes new frames afterwards.
  virtual void DeviceDrop() = 0;
  // How long the thread may wait for room or progress when a pass did
  // nothing (a write, a request or, when Idle, the expected end of the first
  // buffer wakes it sooner). Idle: nothing left to write.
  virtual std::chrono::microseconds DeviceWaitTime(bool Idle) = 0;
  // The end of one pass of the device thread; Idle: nothing left to write.
  virtual void DevicePassDone(bool Idle) { (void)Idle; }
  void CountUnderrun();
  const TKzWaveOutFormat& Format() const { return FFormat; }
  // Buffers queued and not yet wholly given to the device. Any thread.
  bool HasUnwritten() const;

private:
  struct TState;
  void Loop();
  TKzWaveOutFormat FFormat;
  TKzWaveOutCallback FCallback;
  std::unique_ptr<TState> FState;
};

}  // namespace kz
