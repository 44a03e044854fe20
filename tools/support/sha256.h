// SHA-256 of a byte string (libcrypto's, which uses the processor's SHA
// instructions), for checksums printed by the tools.
#pragma once

#include <string>
#include <string_view>

namespace quillon::tool {

// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace quillon::tool
