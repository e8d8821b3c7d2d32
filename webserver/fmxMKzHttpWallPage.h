// The page "/" of the HTTP video server: one hand-written HTML file (no
// framework, no script library) compiled into the library. It asks
// "/status.json" for the published sources, shows each as a cell of a grid
// with its name, its live stream and a status line, and one of them full
// screen when clicked.
#pragma once
#include <string>

namespace kz {

// The page's bytes. Any thread, never blocks.
const std::string& KzHttpWallPage();

}  // namespace kz
