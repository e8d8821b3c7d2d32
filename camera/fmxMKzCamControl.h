// The pan/tilt control panel that a camera can be attached to. The panel
// keeps the cameras registered with it and hears when their movement
// commands complete; drawing and input are its subclasses' business.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/fmxMKzPlatformComponent.h"
#include "video/fmxMKzCamControlPanel.h"

namespace kz {

class TKzCamera;

class TKzCamControl : public TComponent, public IKzCamControlPanel {
public:
  // Main thread, never blocks.
  explicit TKzCamControl(TComponent* AOwner);
  ~TKzCamControl() override;

  // Adds Camera and sets its CtrlDoneControlEvent to this panel's
  // movement-done handler. Main thread, never blocks.
  virtual void RegisterCamera(TKzCamera* Camera);
  // Removes Camera and clears its handler; a camera that is not registered
  // raises EKzAssertionFailed. Main thread, never blocks.
  virtual void UnRegisterCamera(TKzCamera* Camera);
  const std::vector<TKzCamera*>& Cameras() const { return FCameras; }

  // Follows the camera behind Source (registering it unless it already is);
  // nothing when Source is not a camera. Main thread, never blocks.
  void AttachVideoSource(TKzVideoSource* Source) override;
  // Unregisters the camera AttachVideoSource registered. Main thread.
  void DetachVideoSource() override;
  // The camera followed through AttachVideoSource (nullptr: none).
  TKzCamera* AttachedCamera() const { return FAttached; }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // A movement command of Sender finished with Status. Main thread.
  virtual void DoneControl(TComponent* Sender, int32_t Status) {
    (void)Sender;
    (void)Status;
  }

private:
  std::vector<TKzCamera*> FCameras;
  TKzCamera* FAttached = nullptr;
  bool FAttachRegistered = false;  // AttachVideoSource registered FAttached
};

}  // namespace kz
