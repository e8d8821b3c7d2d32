// The camera: end notifications of fetch threads and device objects, login
// prompts, the messages it receives, and its sound consumers.
#include "camera/fmxMKzCamera.h"

#include <algorithm>

#include "camera/fmxMKzCamSound.h"
#include "foundation/fmxMKzErrors.h"
#include "platform/fmxMKzPlatformLoginForm.h"

namespace kz {

// ---- End of a fetch thread

void TKzCamera::ThreadDoneVideo(TThread* Sender) {
  TKzCamStreamThread** found = nullptr;
  for (TKzCamStreamThread** ref : {&FThreadHTTP, &FThreadRTSP, &MJPEG}) {
    if (*ref && static_cast<TThread*>(*ref) == Sender) {
      found = ref;
      break;
    }
  }
  if (!found) return;
  if (IsDestroying()) {
    KzClearThreadRef(*found);
    return;
  }
  ResetAbort();
  TKzCamStreamThread& thread = **found;
  FResult = thread.Result();
  const TKzSourceError error = FStopRequested ? TKzSourceError{} : thread.Error();
  const bool again = BeginOutage(thread, error);
  KzClearThreadRef(*found);
  if (again) return;  // still playing for the consumers: the next attempt is scheduled
  FReconnectAttempt = 0;
  FLastError = error;
  if (error.Failed()) {
    FResult = false;
    KzPostMessageDebug(this, 0, error.Text);
  }
  const int32_t status = FResult ? 0 : 1;
  if (found == &MJPEG) {
    if (OnEndVideoFile) OnEndVideoFile(this, status);
  } else if (OnEndVideoStream) {
    OnEndVideoStream(this, status);
  }
  CallDoneVideoStream(status);
}

void TKzCamera::ChangeIndexURL(TKzCamStreamThread* Sender) {
  if (Sender) FVideoImageIndex = Sender->VideoImageIndex();
}

// ---- Device objects

void TKzCamera::DeviceVideoStart(TKzCamDevice&) {
  if (OnVideoStart) OnVideoStart(this);
  CallBeginVideoStream();
}

void TKzCamera::DeviceStartVideoStream(TKzCamDevice&) {
  if (OnStartVideoStream) OnStartVideoStream(this);
}

void TKzCamera::DeviceEndVideoStream(TKzCamDevice&, int32_t Status, const std::string& Reason) {
  ResetAbort();
  if (!Reason.empty()) FLastError = {TKzSourceErrorKind::kzseOther, 0, Reason};
  if (OnEndVideoStream) OnEndVideoStream(this, Status);
  CallDoneVideoStream(Status);
}

void TKzCamera::DeviceFailed(TKzCamDevice& Device, const std::string& Text) {
  KzPostMessageDebug(this, 0, Text);
  FLastError = {TKzSourceErrorKind::kzseOther, 0, Text};
  DoPostMessage(MsgDeviceEnded, 1, static_cast<LPARAM>(Device.Kind()));
}

void TKzCamera::HandleDeviceEnded(TMessage& Message) {
  ResetAbort();
  FReconnectEnding = false;
  const auto status = static_cast<int32_t>(Message.WParam);
  if (OnEndVideoStream) OnEndVideoStream(this, status);
  CallDoneVideoStream(status);
}


// ---- Login

void TKzCamera::DoGetLogin(TComponent*, const std::string& Realm, std::string& AUserName, std::string& APassword,
                           bool& Proceed) {
  if (OnLogin)
    OnLogin(this, Realm, AUserName, APassword, Proceed);
  else
    Proceed = ShowLoginDialog(Realm, AUserName, APassword);
}

bool TKzCamera::ShowLoginDialog(const std::string& Realm, std::string& AUserName, std::string& APassword) {
  TKzLoginFormData data;
  data.Caption = Realm;
  data.Language = static_cast<uint8_t>(FLanguage);
  data.UserName = AUserName;
  data.Password = APassword;
  if (!KzLoginFormProvider().ShowLoginForm(data)) return false;
  AUserName = data.UserName;
  APassword = data.Password;
  return true;
}

// ---- Messages

void TKzCamera::DoPostMessage(uint32_t Msg, WPARAM Param1, LPARAM Param2) {
  KzMessages().PostMessage2(this, Msg, Param1, Param2);
}

void TKzCamera::HandleDebugText(TMessage& Message) {
  // The text itself belongs to the message and is freed with it.
  if (OnDebugDataRead) OnDebugDataRead(this, static_cast<uint32_t>(Message.WParam), KzMessageText(Message));
}

// ---- Sound

void TKzCamera::RegisterCamAudio(IKzCamAudioConsumer* Consumer) {
  TKzSafeLock g(FAudioSection);
  FCamAudio.push_back(Consumer);
  FAudioCount.store(int(FCamAudio.size()), std::memory_order_release);
}

void TKzCamera::UnRegisterCamAudio(IKzCamAudioConsumer* Consumer) {
  bool found = false;
  {
    TKzSafeLock g(FAudioSection);
    const auto it = std::find(FCamAudio.begin(), FCamAudio.end(), Consumer);
    found = it != FCamAudio.end();
    if (found) FCamAudio.erase(it);
    FAudioCount.store(int(FCamAudio.size()), std::memory_order_release);
  }
  KzAssert(found);
}

void TKzCamera::CamAudioBlock(const TKzAudioInfo& Info, const uint8_t* Data, size_t Size) {
  if (!HasAudioConsumers() || !Data || Size == 0) return;
  TKzSafeLock g(FAudioSection);
  for (IKzCamAudioConsumer* c : FCamAudio) c->CamAudioBlock(this, Info, Data, Size);
}

void TKzCamera::SetCamSound(TKzCamSound* Sound) {
  TKzCamSound* old;
  {
    TKzSafeLock g(FAudioSection);
    old = FCamSound;
    FCamSound = nullptr;
  }
  if (old) UnRegisterCamAudio(old);
  if (!Sound) return;
  RegisterCamAudio(Sound);
  TKzSafeLock g(FAudioSection);
  FCamSound = Sound;
}

int64_t TKzCamera::CamSoundPosition() {
  TKzSafeLock g(FAudioSection);
  return FCamSound ? FCamSound->Position() : -1;
}

void TKzCamera::CamAudioStreamStart() {
  TKzSafeLock g(FAudioSection);
  if (FCamSound) FCamSound->RestartClock();
}

}  // namespace kz
