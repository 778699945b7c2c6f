#include "platform/sha256.h"

#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace tolvanik::platform {
namespace {

// The hash provider is part of every supported system and hashing a buffer
// in memory has no failure mode, so a failure means a broken system.
[[noreturn]] void fail(const char* what) {
  std::fputs("tolvanik_host: SHA-256 failed: ", stderr);
  std::fputs(what, stderr);
  std::fputs("\n", stderr);
  std::abort();
}

bool succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

Sha256Digest sha256(std::string_view bytes) {
  if (bytes.size() > ULONG_MAX) fail("input too large");
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    fail("no provider");
  }
  Sha256Digest digest{};
  // BCryptHash only reads its input; the parameter merely lacks const.
  auto* input = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
  const NTSTATUS hashed = BCryptHash(algorithm, nullptr, 0, input, static_cast<ULONG>(bytes.size()),
                                     digest.data(), static_cast<ULONG>(digest.size()));
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!succeeded(hashed)) fail("hashing");
  return digest;
}

}  // namespace tolvanik::platform
