// SHA-256 (FIPS 180-4) from the system's cryptographic library.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tolvanik::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::string_view bytes);

}  // namespace tolvanik::platform
