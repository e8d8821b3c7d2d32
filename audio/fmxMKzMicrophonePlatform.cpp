#include "audio/fmxMKzMicrophonePlatform.h"

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

bool TKzMicrophoneBuffer::Init(IKzWaveIn* Handle, uint32_t Size) {
  FHandle = Handle;
  FMemory.assign(Size, 0);
  FHeader = TKzWaveInBuffer();
  FHeader.Data = FMemory.data();
  FHeader.BufferLength = Size;
  return Size > 0;
}

bool TKzMicrophoneBuffer::PrepareAndAdd() { return FHandle && FHandle->Queue(&FHeader); }

void TKzMicrophoneBuffer::Done() {
  FHandle = nullptr;
  FHeader = TKzWaveInBuffer();
  std::vector<uint8_t>().swap(FMemory);
}

std::string TKzAudioDeviceCollection::Name(int32_t Index) const {
  const std::vector<std::string> names = Names();
  return Index >= 0 && static_cast<size_t>(Index) < names.size() ? names[Index] : std::string();
}

TCustomKzMicrophonePlatform::TCustomKzMicrophonePlatform(TComponent* AOwner)
    : TCustomKzMicrophone(AOwner), FSelf(std::make_shared<TCustomKzMicrophonePlatform*>(this)) {}

TCustomKzMicrophonePlatform::~TCustomKzMicrophonePlatform() {
  FSelf.reset();
  ShutDown();
}

uint32_t TCustomKzMicrophonePlatform::DeviceOverruns() const { return FDevice ? FDevice->Overruns() : 0; }

bool TCustomKzMicrophonePlatform::InitMicrophone() {
  FDeviceLost = false;
  FCaptureRate = PrepareCaptureRate();
  FCaptureChannels = Channels();
  FCaptureBits = BitsPerSample();
  TKzWaveInFormat format;
  format.SamplesPerSec = FCaptureRate;
  format.BitsPerSample = KzBitsToInt(FCaptureBits);
  format.Channels = FCaptureChannels;
  const int64_t size = CalculateBufSize(FCaptureRate, format.BlockAlign());
  FDevice = KzWaveInBackend().CreateWaveIn();
  const bool opened =
      size > 0 && size <= UINT32_MAX &&
      FDevice->Open(AudioInputDeviceIndex(), format,
                    [this](TKzWaveInMessage Message, TKzWaveInBuffer* Buffer) { WaveInCallback(Message, Buffer); });
  bool ok = opened;
  for (TKzMicrophoneBuffer& b : FBuffers.Buffers) ok = ok && b.Init(FDevice.get(), static_cast<uint32_t>(size));
  for (TKzMicrophoneBuffer& b : FBuffers.Buffers) ok = ok && b.PrepareAndAdd();
  // Buffers of an inactive component are dropped, so it is active before the first one.
  FActive = ok;
  if (ok && FDevice->Start()) return true;
  FActive = false;
  KzPostMessageDebug(this, 0, "microphone: cannot open capture device " + (AudioInputDeviceIndex() < 0
                                                                                ? std::string("default")
                                                                                : FDevices.Name(AudioInputDeviceIndex())));
  DeinitMicrophone();
  return false;
}

void TCustomKzMicrophonePlatform::DeinitMicrophone() {
  if (FDevice) {
    FDevice->Stop();
    FDevice->Reset();
    FDevice->Close();
    FDevice.reset();
    for (TKzMicrophoneBuffer& b : FBuffers.Buffers) b.Done();
  }
  DoneRNNoise();
}

void TCustomKzMicrophonePlatform::WaveInCallback(TKzWaveInMessage Message, TKzWaveInBuffer* Buffer) {
  if (Message == TKzWaveInMessage::kzwimDeviceLost) {
    FDeviceLost = true;
    KzPostMessageDebug(this, 0, "microphone: capture device lost");
    std::weak_ptr<TCustomKzMicrophonePlatform*> self = FSelf;
    QueueOnMainThread([self] {
      if (auto mic = self.lock()) (*mic)->SetActive(false);
    });
    return;
  }
  if (!Active() || Application().Terminated() || !Buffer) return;
  TMemoryStream block;
  block.Write(Buffer->Data, Buffer->BytesRecorded);
  const int32_t size = static_cast<int32_t>(Buffer->BytesRecorded);
  FDevice->Queue(Buffer);
  ProcessBlock(block, size, FCaptureChannels, FCaptureBits, FCaptureRate, true);
}

}  // namespace kz
