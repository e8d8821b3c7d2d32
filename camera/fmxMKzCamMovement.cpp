// Pan/tilt movement of the camera. The vendor command sets that carry these
// requests to a device are not part of this build: no method is accessible
// and every request reports that nothing was sent, which views treat as a
// camera that cannot move.
#include "camera/fmxMKzCamera.h"

namespace kz {

TKzCamMethods TKzCamera::GetAccessibleCamMethods() const { return {}; }

bool TKzCamera::MoveLeft() { return false; }
bool TKzCamera::MoveRight() { return false; }
bool TKzCamera::MoveUp() { return false; }
bool TKzCamera::MoveDown() { return false; }
bool TKzCamera::MoveLeftUp() { return false; }
bool TKzCamera::MoveLeftDown() { return false; }
bool TKzCamera::MoveRightUp() { return false; }
bool TKzCamera::MoveRightDown() { return false; }
bool TKzCamera::MoveCenter() { return false; }
bool TKzCamera::MoveLeftStop() { return false; }
bool TKzCamera::MoveRightStop() { return false; }
bool TKzCamera::MoveUpStop() { return false; }
bool TKzCamera::MoveDownStop() { return false; }

}  // namespace kz
