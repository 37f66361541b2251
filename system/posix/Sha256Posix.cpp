// SHA-256 through OpenSSL's libcrypto (EVP interface).

#include <openssl/evp.h>

#include <stdexcept>

#include "base/UniqueHandle.h"
#include "system/Sha256.h"

namespace lk {

struct Sha256::Impl {
  UniqueHandle<NullHandleTraits<EVP_MD_CTX*, &EVP_MD_CTX_free>> context{EVP_MD_CTX_new()};

  void Start() {
    if (!context || EVP_DigestInit_ex(context.Get(), EVP_sha256(), nullptr) != 1) {
      throw std::runtime_error("SHA-256 is not available (libcrypto)");
    }
  }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) { impl_->Start(); }

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t length) {
  if (length == 0) return;
  if (EVP_DigestUpdate(impl_->context.Get(), data, length) != 1) {
    throw std::runtime_error("SHA-256 failed (libcrypto)");
  }
}

Sha256::Digest Sha256::Finish() {
  Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(impl_->context.Get(), digest.data(), &length) != 1 ||
      length != digest.size()) {
    throw std::runtime_error("SHA-256 failed (libcrypto)");
  }
  impl_->Start();
  return digest;
}

}  // namespace lk
