#pragma once
// A set of enumeration members held as bits: member n is bit n.

#include <cstdint>
#include <initializer_list>
#include <type_traits>

template <typename E, typename Bits>
class EnumSet {
    static_assert(std::is_enum_v<E> && std::is_unsigned_v<Bits>);

public:
    constexpr EnumSet() = default;
    constexpr EnumSet(std::initializer_list<E> members) {
        for (E m : members) bits_ |= Bit(m);
    }
    static constexpr EnumSet FromBits(Bits bits) {
        EnumSet s;
        s.bits_ = bits;
        return s;
    }

    constexpr Bits ToBits() const { return bits_; }
    constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr EnumSet& Include(E m) {
        bits_ |= Bit(m);
        return *this;
    }
    constexpr EnumSet& Exclude(E m) {
        bits_ &= static_cast<Bits>(~Bit(m));
        return *this;
    }
    constexpr bool operator==(const EnumSet&) const = default;
    constexpr EnumSet operator|(EnumSet o) const { return FromBits(bits_ | o.bits_); }
    constexpr EnumSet operator&(EnumSet o) const { return FromBits(bits_ & o.bits_); }

private:
    static constexpr Bits Bit(E m) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(m)); }
    Bits bits_ = 0;
};
