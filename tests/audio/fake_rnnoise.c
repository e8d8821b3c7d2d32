/* A stand-in for the neural suppressor with its C interface: frames of 480
   samples, each sample halved. Built twice by the tests, once without
   rnnoise_model_free (an incomplete library). Counts its live states. */
#include <stdlib.h>

typedef struct DenoiseState { int Unused; } DenoiseState;
typedef struct RNNModel RNNModel;

static int gLiveStates = 0;

int fake_rnnoise_live_states(void) { return gLiveStates; }
int rnnoise_get_frame_size(void) { return 480; }
DenoiseState* rnnoise_create(RNNModel* model) {
  (void)model;
  ++gLiveStates;
  return calloc(1, sizeof(DenoiseState));
}
void rnnoise_destroy(DenoiseState* st) {
  --gLiveStates;
  free(st);
}
float rnnoise_process_frame(DenoiseState* st, float* out, const float* in) {
  (void)st;
  for (int i = 0; i < 480; ++i) out[i] = in[i] * 0.5f;
  return 0.0f;
}
RNNModel* rnnoise_model_from_file(void* f) {
  (void)f;
  return NULL;
}
#ifndef KZ_FAKE_WITHOUT_MODEL_FREE
void rnnoise_model_free(RNNModel* model) { (void)model; }
#endif
