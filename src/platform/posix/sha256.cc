#include "platform/sha256.h"

#include <openssl/evp.h>

namespace tolvanik::platform {

Sha256Digest sha256(std::string_view bytes) {
  Sha256Digest digest{};
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr);
  return digest;
}

}  // namespace tolvanik::platform
