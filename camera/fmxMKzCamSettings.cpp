#include "camera/fmxMKzCamSettings.h"

#include <stdexcept>

namespace kz {

void TKzFFMpegProperty::Assign(const TPersistent& Source) {
  const auto* src = dynamic_cast<const TKzFFMpegProperty*>(&Source);
  if (!src) {
    TPersistent::Assign(Source);
    return;
  }
  // Copy the values only: the owner's hook and the update bracket stay ours.
  auto onChanged = std::move(OnChanged);
  const int updateCount = FUpdateCount;
  const bool changedInUpdate = FChangedInUpdate;
  *this = *src;
  OnChanged = std::move(onChanged);
  FUpdateCount = updateCount;
  FChangedInUpdate = changedInUpdate;
}

void TKzFFMpegProperty::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount > 0 || !FChangedInUpdate) return;
  FChangedInUpdate = false;
  if (OnChanged) OnChanged();
}

void TKzFFMpegProperty::Changed() {
  if (FUpdateCount > 0) {
    FChangedInUpdate = true;
    return;
  }
  if (OnChanged) OnChanged();
}

void TKzGStreamerProperty::Assign(const TPersistent& Source) {
  const auto* src = dynamic_cast<const TKzGStreamerProperty*>(&Source);
  if (!src) {
    TPersistent::Assign(Source);
    return;
  }
  FUseGStreamer = src->FUseGStreamer;
  FLaunchString = src->FLaunchString;
}

}  // namespace kz
