// Entry point of the benchmarks: the runner's thread is the main thread, and
// the library's process-wide objects stop before the process ends. Ends with
// the benchmark's RATIO lines (kzbench.h).
#include <benchmark/benchmark.h>
#include <signal.h>

#include "bench/kzbench.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"

int main(int argc, char** argv) {
  kz::SetMainThread();
  signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kz::KzMessagesShutdown();
  return kzbench::Finish();
}
