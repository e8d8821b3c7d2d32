// The neural noise suppressor (RNNoise), bound at run time: the library is
// looked for as librnnoise.so.0, then librnnoise.so, or under the name given.
// One binding per process, released at exit.
#pragma once
#include <mutex>
#include <string>

namespace kz {

struct DenoiseState;
struct RNNModel;

struct TKzRNNoiseApi {
  int (*rnnoise_get_frame_size)() = nullptr;
  DenoiseState* (*rnnoise_create)(RNNModel*) = nullptr;
  void (*rnnoise_destroy)(DenoiseState*) = nullptr;
  float (*rnnoise_process_frame)(DenoiseState*, float*, const float*) = nullptr;
  RNNModel* (*rnnoise_model_from_file)(void*) = nullptr;
  RNNModel* (*rnnoise_model_from_filename)(const char*) = nullptr;  // optional
  void (*rnnoise_model_free)(RNNModel*) = nullptr;
};

// Loads the suppressor. Without names a loaded library is kept and the call
// succeeds at once; with a name or a directory the loaded one is released
// and the new one loaded. A directory makes the path absolute (never the
// current directory). False, with nothing loaded, unless every entry point
// but rnnoise_model_from_filename is there. Any thread; may block on the loader.
bool KzLoadRNNoise(const std::string& Directory = "", const std::string& Name = "");
// Releases the library. Callers make sure no suppressor state is alive. Any thread.
void KzUnloadRNNoise();
// Whether a library is loaded. Any thread, never blocks.
bool KzRNNoiseLoaded();
// The entry points of the loaded library (valid while it stays loaded).
const TKzRNNoiseApi& KzRNNoise();
// Samples of one suppressor frame; 0 when nothing is loaded.
int KzRNNoiseFrameSize();

}  // namespace kz
