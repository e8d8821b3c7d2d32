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

void TKzCamControl::UnRegisterCamera(TKzCamera* Camera) {
  auto it = std::find(FCameras.begin(), FCameras.end(), Camera);
  KzAssert(it != FCameras.end());
  FCameras.erase(it);
  Camera->CtrlDoneControlEvent = nullptr;
}

}  // namespace kz
