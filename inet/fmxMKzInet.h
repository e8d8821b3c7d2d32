// The internet-handle client: time-out classes of its connections.
#pragma once
#include <cstdint>

namespace kz {

// Time-out classes of a connection (search probes, stream connections).
enum class TKzTimeOut : uint8_t { kztShort = 0, kztMedium = 1, kztLong = 2, kztHuge = 3 };

}  // namespace kz
