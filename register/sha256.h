#pragma once
// SHA-256 (FIPS 180-4): the identity of a recorded version's bytes and the
// check sum of an export file. Small and dependency-free, so that the register
// needs nothing beyond SQLite.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace trellikon::reg {

using Digest = std::array<std::uint8_t, 32>;

class Sha256 {
  public:
    Sha256();
    void add(const std::uint8_t* data, std::size_t n);
    Digest finish(); // the object is spent afterwards

  private:
    void block(const std::uint8_t* p);

    std::array<std::uint32_t, 8> h_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0; // bytes added
};

Digest sha256(const std::uint8_t* data, std::size_t n);
// Lower-case hexadecimal, two characters a byte (a digest: 64).
std::string hex(const std::uint8_t* data, std::size_t n);
inline std::string hex(const Digest& d) {
    return hex(d.data(), d.size());
}

} // namespace trellikon::reg
