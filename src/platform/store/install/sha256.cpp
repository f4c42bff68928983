#include "platform/store/install/sha256.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

std::string sha256OfFile(const std::filesystem::path& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) throw PlatformError("cannot read " + path.string() + ": " + std::strerror(errno));
  Sha256 digest;
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      int error = errno;
      close(fd);
      throw PlatformError("cannot read " + path.string() + ": " + std::strerror(error));
    }
    if (got == 0) break;
    digest.update(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return digest.finishHex();
}

}  // namespace tolva::store
