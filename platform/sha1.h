// SHA-1 (FIPS 180-1) through OpenSSL's EVP interface: the book's integrity
// digest and the URL key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace fvx::platform {

using Sha1Digest = std::array<uint8_t, 20>;

// Incremental digest. REQUIRES: Finish() once, after the last Update().
class Sha1 {
 public:
  Sha1();
  ~Sha1();
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;

  // False only when OpenSSL failed; the failure sticks.
  bool ok() const { return ok_; }
  void Update(const void* data, size_t count);
  // The digest; all zero when the digest could not be computed (ok() false).
  Sha1Digest Finish();

 private:
  struct ContextDeleter {
    void operator()(void* context) const;
  };
  std::unique_ptr<void, ContextDeleter> context_;
  bool ok_ = true;
};

Sha1Digest ComputeSha1(std::string_view data);

// The five big-endian 32-bit words of a digest as "%08X" each: 40 upper-case
// hexadecimal digits.
std::string Sha1WordsHex(const Sha1Digest& digest);

}  // namespace fvx::platform
