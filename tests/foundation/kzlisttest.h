// Helpers of the tests that fill the data and image lists.
#pragma once
#include "foundation/fmxMKzType.h"

namespace kztest {

// A packet header from the given sender: the lists key their entries by it.
inline kz::TKzHeaderPack Header(const kz::TGUID& From) {
  kz::TKzHeaderPack h;
  h.GUIDFrom = From;
  return h;
}

}  // namespace kztest
