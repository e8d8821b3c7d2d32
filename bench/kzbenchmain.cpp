// Entry point of the benchmarks: the runner's thread is the main thread, and
// the library's process-wide objects stop before the process ends.
#include <benchmark/benchmark.h>

#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"

int main(int argc, char** argv) {
  kz::SetMainThread();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kz::KzMessagesShutdown();
  return 0;
}
