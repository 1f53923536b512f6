// A set of values of a small enumeration (at most 32 members), held as a bit mask: the set types
// of the components' published properties (socket options, log options). A value type.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace rtl {

template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> values) {
    for (E v : values)
      Include(v);
  }
  static constexpr TSet FromBits(uint32_t bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }

  // Values whose number is 32 or more are never members.
  constexpr bool Contains(E v) const { return Bit(v) != 0 && (bits_ & Bit(v)) != 0; }
  constexpr void Include(E v) { bits_ |= Bit(v); }
  constexpr void Exclude(E v) { bits_ &= ~Bit(v); }
  constexpr TSet Without(E v) const {
    TSet s = *this;
    s.Exclude(v);
    return s;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr uint32_t Bit(E v) {
    auto n = static_cast<uint32_t>(v);
    return n < 32 ? uint32_t{1} << n : 0;
  }
  uint32_t bits_ = 0;
};

}  // namespace rtl
