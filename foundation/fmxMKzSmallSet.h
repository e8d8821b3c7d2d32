// A set of up to 16 values of an enumeration, stored as a 16-bit mask
// (bit n stands for ordinal n): the layout sets of the library have in forms
// and on the wire.
#pragma once
#include <cstdint>
#include <initializer_list>

namespace kz {

template <typename E>
class TKzSmallSet {
public:
  constexpr TKzSmallSet() = default;
  constexpr TKzSmallSet(std::initializer_list<E> Items) {
    for (E e : Items) Include(e);
  }
  constexpr void Include(E Item) { FBits = static_cast<uint16_t>(FBits | Bit(Item)); }
  constexpr void Exclude(E Item) { FBits = static_cast<uint16_t>(FBits & ~Bit(Item)); }
  constexpr bool Contains(E Item) const { return (FBits & Bit(Item)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint16_t Bits() const { return FBits; }
  constexpr bool operator==(const TKzSmallSet&) const = default;

private:
  static constexpr uint16_t Bit(E Item) { return static_cast<uint16_t>(1u << static_cast<unsigned>(Item)); }
  uint16_t FBits = 0;
};

}  // namespace kz
