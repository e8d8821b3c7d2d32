// The pan/tilt control panel as a view or a wall of views sees it: the
// panel follows the camera of one video source at a time. The panel
// component implements this interface; views never need to know its type.
#pragma once

namespace kz {

class TKzVideoSource;

class IKzCamControlPanel {
public:
  virtual ~IKzCamControlPanel() = default;
  // Follows the camera behind Source (a source that is not a camera leaves
  // the panel without one). Main thread, never blocks.
  virtual void AttachVideoSource(TKzVideoSource* Source) = 0;
  // Lets go of the camera AttachVideoSource gave it. Main thread, never blocks.
  virtual void DetachVideoSource() = 0;
};

}  // namespace kz
