// Wave-in: capture of PCM audio into buffers the caller queues. A device is
// opened by index (or -1, the system default) for one PCM format; its capture
// thread fills the queued buffers in order and hands each full one back
// through the callback. Backends: ALSA (the default) and a fake device that
// feeds PCM on the platform clock, with faults, for tests.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kz {

struct TKzWaveInFormat {
  int32_t SamplesPerSec = 8000;
  int32_t BitsPerSample = 8;  // 8: unsigned, 16: signed little-endian
  int32_t Channels = 1;
  int32_t BlockAlign() const { return BitsPerSample / 8 * Channels; }
  bool Valid() const { return BlockAlign() > 0 && SamplesPerSec > 0; }
};

// A buffer the device fills. The caller keeps it alive and untouched from
// Queue until it comes back through the callback, Reset or Close.
struct TKzWaveInBuffer {
  uint8_t* Data = nullptr;
  uint32_t BufferLength = 0;
  uint32_t BytesRecorded = 0;
  void* User = nullptr;
};

enum class TKzWaveInMessage : uint8_t {
  kzwimData,        // Buffer is full (or returned partly filled by Reset)
  kzwimDeviceLost,  // the device went away; Buffer is null, capture has stopped
};

// The device's capture thread (Reset: the caller's thread). The callback may
// queue the buffer again; it must not Stop, Reset or Close.
using TKzWaveInCallback = std::function<void(TKzWaveInMessage Message, TKzWaveInBuffer* Buffer)>;

// One open device. Every operation: any thread except the callback's, unless
// said otherwise; none blocks for longer than one wait of the capture thread.
class IKzWaveIn {
public:
  virtual ~IKzWaveIn() = default;
  // False leaves it closed (no such device, format refused).
  virtual bool Open(int32_t DeviceIndex, const TKzWaveInFormat& Format, TKzWaveInCallback Callback) = 0;
  // Adds an empty buffer at the end of the queue. Also from the callback.
  virtual bool Queue(TKzWaveInBuffer* Buffer) = 0;
  virtual bool Start() = 0;
  // Pauses capture; queued buffers stay queued.
  virtual void Stop() = 0;
  // Stops and hands every queued buffer back through the callback, in order.
  virtual void Reset() = 0;
  // Reset, then closes the device; the capture thread has ended on return.
  virtual void Close() = 0;
  // Overruns met and recovered from since Open. Any thread.
  virtual uint32_t Overruns() const = 0;
};

// The devices of one audio system. Any thread; may block on the system.
class IKzWaveInBackend {
public:
  virtual ~IKzWaveInBackend() = default;
  virtual std::unique_ptr<IKzWaveIn> CreateWaveIn() = 0;
  // Capture device names in index order.
  virtual std::vector<std::string> DeviceNames() = 0;
  // Capture volume 0..65535 of device Index (-1: default); 0 without a control.
  virtual uint16_t GetVolume(int32_t DeviceIndex) = 0;
  virtual bool SetVolume(int32_t DeviceIndex, uint16_t Volume) = 0;
};

// The backend in use (ALSA unless a test installed another). Any thread.
IKzWaveInBackend& KzWaveInBackend();
// Installs Backend (nullptr: ALSA again); returns the previous one. Main
// thread, while no device is open.
IKzWaveInBackend* KzSetWaveInBackend(IKzWaveInBackend* Backend);
IKzWaveInBackend& KzAlsaWaveInBackend();

// What the ALSA and fake devices share: the queue, the capture thread and its
// requests. A backend supplies the device steps.
class TKzWaveInDevice : public IKzWaveIn {
public:
  TKzWaveInDevice();
  ~TKzWaveInDevice() override;
  bool Open(int32_t DeviceIndex, const TKzWaveInFormat& Format, TKzWaveInCallback Callback) override;
  bool Queue(TKzWaveInBuffer* Buffer) override;
  bool Start() override;
  void Stop() override;
  void Reset() override;
  void Close() override;
  uint32_t Overruns() const override;

protected:
  enum class TFill { kzfProgress, kzfIdle, kzfLost };
  // Capture thread only, except DeviceOpen/DeviceClose (caller, no thread).
  virtual bool DeviceOpen(int32_t DeviceIndex, const TKzWaveInFormat& Format) = 0;
  virtual void DeviceClose() = 0;
  virtual bool DeviceStart() = 0;
  virtual void DeviceStop() = 0;
  // Reads into Buffer from BytesRecorded on; waits at most ~50 ms for data.
  virtual TFill DeviceFill(TKzWaveInBuffer& Buffer) = 0;
  void CountOverrun();
  const TKzWaveInFormat& Format() const { return FFormat; }

private:
  struct TState;
  void Loop();
  void ReturnBuffers(std::vector<TKzWaveInBuffer*> Buffers);
  TKzWaveInFormat FFormat;
  TKzWaveInCallback FCallback;
  std::unique_ptr<TState> FState;
};

}  // namespace kz
