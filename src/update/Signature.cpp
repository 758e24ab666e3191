#include "update/Signature.h"

#include <sodium.h>

#include <cstring>

namespace wd::update {

static_assert(crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_SECRETKEYBYTES == 64 &&
              crypto_sign_BYTES == 64 && crypto_hash_sha512_BYTES == 64);

bool cryptoReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

std::string toBase64(const unsigned char* data, std::size_t size) {
  std::string out(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
  out.resize(std::strlen(out.c_str()));
  return out;
}

template <std::size_t N>
std::optional<std::array<unsigned char, N>> fromBase64(std::string_view text) {
  if (!cryptoReady() ||
      text.size() != sodium_base64_ENCODED_LEN(N, sodium_base64_VARIANT_ORIGINAL) - 1)
    return std::nullopt;
  std::array<unsigned char, N> out{};
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      length != N || end != text.data() + text.size())
    return std::nullopt;
  return out;
}
template std::optional<PublicKey> fromBase64<32>(std::string_view);
template std::optional<SecretKey> fromBase64<64>(std::string_view);

std::optional<PublicKey> builtInPublicKey() {
#ifdef WD_UPDATE_PUBLIC_KEY
  return fromBase64<32>(WD_UPDATE_PUBLIC_KEY);
#else
  return std::nullopt;
#endif
}

std::string releaseStatement(std::string_view version, std::uint64_t size, const Digest& digest) {
  static const char* hex = "0123456789abcdef";
  std::string text = "wendrel-desktop release\nversion: ";
  text.append(version);
  text += "\nsize: " + std::to_string(size) + "\nsha512: ";
  for (unsigned char b : digest) {
    text += hex[b >> 4];
    text += hex[b & 15];
  }
  text += '\n';
  return text;
}

bool verifyRelease(const PublicKey& key, const Signature& signature, std::string_view version,
                   std::uint64_t size, const Digest& digest) {
  if (!cryptoReady()) return false;
  const std::string statement = releaseStatement(version, size, digest);
  return crypto_sign_verify_detached(signature.data(),
                                     reinterpret_cast<const unsigned char*>(statement.data()),
                                     statement.size(), key.data()) == 0;
}

Signature signRelease(const SecretKey& key, std::string_view version, std::uint64_t size,
                      const Digest& digest) {
  Signature signature{};
  if (!cryptoReady()) return signature;
  const std::string statement = releaseStatement(version, size, digest);
  crypto_sign_detached(signature.data(), nullptr,
                       reinterpret_cast<const unsigned char*>(statement.data()), statement.size(),
                       key.data());
  return signature;
}

static_assert(sizeof(crypto_hash_sha512_state) <= 256);

Sha512::Sha512() {
  cryptoReady();
  crypto_hash_sha512_init(reinterpret_cast<crypto_hash_sha512_state*>(state_));
}

void Sha512::update(const void* data, std::size_t size) {
  crypto_hash_sha512_update(reinterpret_cast<crypto_hash_sha512_state*>(state_),
                            static_cast<const unsigned char*>(data), size);
}

Digest Sha512::finish() {
  Digest digest{};
  crypto_hash_sha512_final(reinterpret_cast<crypto_hash_sha512_state*>(state_), digest.data());
  return digest;
}

}  // namespace wd::update
