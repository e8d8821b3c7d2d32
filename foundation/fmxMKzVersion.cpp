#include "foundation/fmxMKzVersion.h"

namespace kz {

const char* KzMediaVersion() { return KZMEDIA_VERSION_STRING; }

}  // namespace kz
