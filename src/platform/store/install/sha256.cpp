#include "platform/store/install/sha256.hpp"

#include <openssl/evp.h>

#include "platform/platform_error.hpp"

namespace tolva::store {

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (!context_ || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(context_);
    throw PlatformError("cannot set up a SHA-256 digest (OpenSSL)");
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::update(const void* data, std::size_t size) {
  if (size > 0) EVP_DigestUpdate(context_, data, size);
}

std::string Sha256::finishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_, digest, &length) != 1) {
    throw PlatformError("cannot finish a SHA-256 digest (OpenSSL)");
  }
  static constexpr char hexDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex += hexDigits[digest[i] >> 4];
    hex += hexDigits[digest[i] & 0x0f];
  }
  return hex;
}

}  // namespace tolva::store
