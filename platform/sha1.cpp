#include "platform/sha1.h"

#include <openssl/evp.h>

#include <cstdio>

namespace fvx::platform {

void Sha1::ContextDeleter::operator()(void* context) const {
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context));
}

Sha1::Sha1() : context_(EVP_MD_CTX_new()) {
  ok_ = context_ && EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_.get()), EVP_sha1(),
                                      nullptr) == 1;
}

Sha1::~Sha1() = default;

void Sha1::Update(const void* data, size_t count) {
  if (!ok_ || count == 0) return;
  ok_ = EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_.get()), data, count) == 1;
}

Sha1Digest Sha1::Finish() {
  Sha1Digest digest{};
  unsigned int length = 0;
  if (ok_ && EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_.get()), digest.data(),
                                &length) == 1 &&
      length == digest.size()) {
    return digest;
  }
  ok_ = false;
  return Sha1Digest{};
}

Sha1Digest ComputeSha1(std::string_view data) {
  Sha1 sha;
  sha.Update(data.data(), data.size());
  return sha.Finish();
}

std::string Sha1WordsHex(const Sha1Digest& digest) {
  std::string text;
  text.reserve(40);
  for (size_t word = 0; word < 5; ++word) {
    uint32_t value = (uint32_t{digest[4 * word]} << 24) | (uint32_t{digest[4 * word + 1]} << 16) |
                     (uint32_t{digest[4 * word + 2]} << 8) | uint32_t{digest[4 * word + 3]};
    char group[9];
    std::snprintf(group, sizeof group, "%08X", value);
    text += group;
  }
  return text;
}

}  // namespace fvx::platform
