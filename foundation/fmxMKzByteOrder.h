// Little-endian integers in byte buffers, as every wire and file layout of
// the library stores them. Any thread, never block.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace kz {

// Reads an unsigned or signed integer of sizeof(T) bytes at P.
template <typename T>
T KzGetLE(const uint8_t* P) {
  static_assert(std::is_integral_v<T>);
  std::make_unsigned_t<T> v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<std::make_unsigned_t<T>>(P[i]) << (8 * i);
  return static_cast<T>(v);
}

// Writes V as sizeof(T) bytes at P.
template <typename T>
void KzPutLE(uint8_t* P, T V) {
  static_assert(std::is_integral_v<T>);
  const auto u = static_cast<std::make_unsigned_t<T>>(V);
  for (size_t i = 0; i < sizeof(T); ++i) P[i] = static_cast<uint8_t>(u >> (8 * i));
}

}  // namespace kz
