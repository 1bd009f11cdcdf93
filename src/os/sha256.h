#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zq {

// SHA-256 from the system's own implementation: Windows CNG (bcrypt.dll, part of every
// Windows), OpenSSL's libcrypto elsewhere. A record that an auditor checks must not rest on
// a digest written by hand.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t length);
    // The digest of everything given so far; the object is spent afterwards.
    Digest finish();

    static std::string hex(const Digest& digest);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest of `bytes` as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

}  // namespace zq
