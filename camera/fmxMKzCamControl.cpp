#include "camera/fmxMKzCamControl.h"

#include <algorithm>

#include "camera/fmxMKzCamera.h"
#include "foundation/fmxMKzErrors.h"

namespace kz {

TKzCamControl::TKzCamControl(TComponent* AOwner) : TComponent(AOwner) {}

TKzCamControl::~TKzCamControl() {
  Destroying();
  for (TKzCamera* c : FCameras) c->CtrlDoneControlEvent = nullptr;
}

void TKzCamControl::RegisterCamera(TKzCamera* Camera) {
  if (!Camera) return;
  FCameras.push_back(Camera);
  Camera->CtrlDoneControlEvent = [this](TComponent* Sender, int32_t Status) { DoneControl(Sender, Status); };
}

void TKzCamControl::AttachVideoSource(TKzVideoSource* Source) {
  auto* cam = dynamic_cast<TKzCamera*>(Source);
  if (cam == FAttached) return;
  DetachVideoSource();
  if (!cam) return;
  FAttached = cam;
  FAttachRegistered = std::find(FCameras.begin(), FCameras.end(), cam) == FCameras.end();
  if (FAttachRegistered) RegisterCamera(cam);
  FreeNotification(cam);
}

void TKzCamControl::DetachVideoSource() {
  TKzCamera* cam = FAttached;
  if (!cam) return;
  FAttached = nullptr;
  RemoveFreeNotification(cam);
  if (FAttachRegistered && std::find(FCameras.begin(), FCameras.end(), cam) != FCameras.end()) UnRegisterCamera(cam);
  FAttachRegistered = false;
}

void TKzCamControl::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove || !AComponent) return;
  // A camera going away: compare addresses only.
  FCameras.erase(std::remove_if(FCameras.begin(), FCameras.end(),
                                [&](TKzCamera* c) { return static_cast<TComponent*>(c) == AComponent; }),
                 FCameras.end());
  if (static_cast<TComponent*>(FAttached) == AComponent) {
    FAttached = nullptr;
    FAttachRegistered = false;
  }
}

void TKzCamControl::UnRegisterCamera(TKzCamera* Camera) {
  auto it = std::find(FCameras.begin(), FCameras.end(), Camera);
  KzAssert(it != FCameras.end());
  FCameras.erase(it);
  Camera->CtrlDoneControlEvent = nullptr;
}

}  // namespace kz
