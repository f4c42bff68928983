#pragma once
// Sha256: an incremental SHA-256 digest (OpenSSL EVP), fed while a model
// archive downloads so that verifying it costs no second read.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace tolva::store {

class Sha256 {
 public:
  // Throws PlatformError when OpenSSL cannot set up the digest.
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(const void* data, std::size_t size);
  // The digest of everything fed so far, in lowercase hex. Call once.
  std::string finishHex();

 private:
  EVP_MD_CTX* context_;
};

// The digest of a whole file, in lowercase hex. Throws PlatformError naming
// the file when it cannot be read.
std::string sha256OfFile(const std::filesystem::path& path);

}  // namespace tolva::store
