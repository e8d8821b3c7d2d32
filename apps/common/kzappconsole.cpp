#include "apps/common/kzappconsole.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "foundation/fmxMKzRedact.h"

namespace kzapp {

namespace {
std::string FormatList(const char* Format, va_list Args) {
  va_list copy;
  va_copy(copy, Args);
  const int n = std::vsnprintf(nullptr, 0, Format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  std::vsnprintf(buf.data(), buf.size(), Format, Args);
  return std::string(buf.data(), static_cast<size_t>(n));
}

void Write(FILE* To, const std::string& Text) {
  const std::string clean = kz::KzRedactCredentials(Text);
  std::fwrite(clean.data(), 1, clean.size(), To);
  std::fflush(To);
}

volatile std::sig_atomic_t gStopSignal = 0;
void OnStopSignal(int Signal) { gStopSignal = Signal; }
}  // namespace

std::string KzFormat(const char* Format, ...) {
  va_list args;
  va_start(args, Format);
  std::string s = FormatList(Format, args);
  va_end(args);
  return s;
}

void KzOut(const char* Format, ...) {
  va_list args;
  va_start(args, Format);
  Write(stdout, FormatList(Format, args));
  va_end(args);
}

void KzErr(const char* Format, ...) {
  va_list args;
  va_start(args, Format);
  Write(stderr, FormatList(Format, args));
  va_end(args);
}

void KzCatchStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int KzStopSignal() { return gStopSignal; }

}  // namespace kzapp
