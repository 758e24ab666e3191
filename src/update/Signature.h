#pragma once
// Ed25519 (libsodium) signatures of releases. What is signed is not the raw file but a short
// statement that binds the file to the release that announces it:
//
//   wendrel-desktop release
//   version: <version>
//   size: <size in bytes>
//   sha512: <SHA-512 of the file, lower-case hex>
//
// so a correctly signed old file cannot be offered under a newer version number, and a file
// cut short or padded never verifies. Keys and signatures travel as standard base64.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wd::update {

using PublicKey = std::array<unsigned char, 32>;
using SecretKey = std::array<unsigned char, 64>;
using Signature = std::array<unsigned char, 64>;
using Digest = std::array<unsigned char, 64>;  // SHA-512

// libsodium is initialised once; false when it cannot be (nothing then verifies).
bool cryptoReady();

std::string toBase64(const unsigned char* data, std::size_t size);
// Exactly N bytes from base64 (standard alphabet, padding required), else none.
template <std::size_t N>
std::optional<std::array<unsigned char, N>> fromBase64(std::string_view text);

// The public key built into the application, when the build was given one.
std::optional<PublicKey> builtInPublicKey();

// The statement signed for a release (see above).
std::string releaseStatement(std::string_view version, std::uint64_t size, const Digest& digest);

bool verifyRelease(const PublicKey& key, const Signature& signature, std::string_view version,
                   std::uint64_t size, const Digest& digest);
Signature signRelease(const SecretKey& key, std::string_view version, std::uint64_t size,
                      const Digest& digest);

// Incremental SHA-512.
class Sha512 {
 public:
  Sha512();
  void update(const void* data, std::size_t size);
  Digest finish();

 private:
  alignas(64) unsigned char state_[256];
};

}  // namespace wd::update
