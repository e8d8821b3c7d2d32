// The desktop window host: real windows through SDL2, when the library was
// built with it. A program that wants windows creates the host, installs it
// with KzSetWindowHost and keeps it until its last form is gone:
//
//   auto host = KzCreateSdlWindowHost();
//   if (host) KzSetWindowHost(host.get());
//
// While the host lives it is the main loop's event source (see
// fmxMKzPlatformMainThread.h): Application().Run, ProcessMessages, PumpUntil
// and ShowModal deliver window events, and timers keep firing on time.
#pragma once
#include <memory>

#include "platform/fmxMKzPlatformWindowHost.h"

namespace kz {

// Whether SDL2 is built in and a display can be opened: DISPLAY or
// WAYLAND_DISPLAY is set, or SDL_VIDEODRIVER names a driver (SDL's drivers
// that show nothing count only when named there). Main thread, may block
// briefly while it connects to the display.
bool KzSdlWindowHostAvailable();
// A new desktop host, or nullptr when none is available (as above). Main thread.
std::unique_ptr<IKzWindowHost> KzCreateSdlWindowHost();

}  // namespace kz
