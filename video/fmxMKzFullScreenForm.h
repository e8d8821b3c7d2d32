// The borderless, maximised, stay-on-top window a view or a wall opens for
// full screen: on the display of the control that asks, filled with its
// colour, first sized like that control's form.
#pragma once

#include "platform/fmxMKzPlatformControl.h"

namespace kz {

// Main thread. The caller owns the form.
TForm* KzNewFullScreenForm(TControl* Of, TAlphaColor Fill);

}  // namespace kz
