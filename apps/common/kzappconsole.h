// What the programs print and how they are stopped: every line goes through
// the credential redaction before it reaches stdout or stderr, and Ctrl-C or
// SIGTERM set a flag that the programs' loops read, so that they can stop
// cleanly and print their summary.
#pragma once
#include <string>

namespace kzapp {

// printf-style formatting into a string.
std::string KzFormat(const char* Format, ...) __attribute__((format(printf, 1, 2)));
// printf-style output to stdout / stderr, credentials taken out, flushed.
// Any thread.
void KzOut(const char* Format, ...) __attribute__((format(printf, 1, 2)));
void KzErr(const char* Format, ...) __attribute__((format(printf, 1, 2)));

// Catches SIGINT and SIGTERM from now on. Main thread, before any worker starts.
void KzCatchStopSignals();
// The signal that asked the program to stop, 0 while none did. Any thread.
int KzStopSignal();

}  // namespace kzapp
