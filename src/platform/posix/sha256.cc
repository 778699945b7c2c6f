#include "platform/sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>

namespace tolvanik::platform {

Sha256Digest sha256(std::string_view bytes) {
  Sha256Digest digest{};
  unsigned int size = 0;
  // Only a broken crypto library fails a digest of bytes in memory.
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
      size != digest.size()) {
    std::fputs("tolvanik_host: internal error: SHA-256 failed\n", stderr);
    std::abort();
  }
  return digest;
}

}  // namespace tolvanik::platform
