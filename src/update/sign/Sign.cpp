// wendrel-desktop-sign: the publisher's side of update signatures.
//
//   wendrel-desktop-sign generate-key PRIVATE_KEY_FILE
//       Makes an Ed25519 key pair, writes the secret key (base64, one line) to a new file of
//       mode 0600 (an existing file is never overwritten) and prints the public key (base64),
//       which a build takes as -DWD_UPDATE_PUBLIC_KEY=<key>.
//   wendrel-desktop-sign release --key PRIVATE_KEY_FILE --file TARBALL --version V --name NAME
//                                --url DOWNLOAD_URL [--notes NOTES_URL] [--date ISO8601]
//       Prints the release description the update service serves (see update/Release.h), with
//       the size and signature of TARBALL. The date defaults to now (UTC).
// Exit status 0 on success, 2 for a usage error, 1 for any other failure (message on stderr).
#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "core/Json.h"
#include "update/Release.h"
#include "update/Signature.h"
#include "update/Version.h"

namespace {

using namespace wd::update;

int usage() {
  std::cerr << "usage: wendrel-desktop-sign generate-key PRIVATE_KEY_FILE\n"
               "       wendrel-desktop-sign release --key PRIVATE_KEY_FILE --file TARBALL "
               "--version V --name NAME --url DOWNLOAD_URL [--notes NOTES_URL] [--date ISO8601]\n";
  return 2;
}

int failure(const std::string& message) {
  std::cerr << "wendrel-desktop-sign: " << message << "\n";
  return 1;
}

int generateKey(const std::string& path) {
  PublicKey publicKey{};
  SecretKey secretKey{};
  crypto_sign_keypair(publicKey.data(), secretKey.data());
  const std::string text = toBase64(secretKey.data(), secretKey.size()) + "\n";
  sodium_memzero(secretKey.data(), secretKey.size());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return failure("cannot create " + path + " (it must not exist yet)");
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    ::unlink(path.c_str());
    return failure("cannot write " + path);
  }
  std::cout << toBase64(publicKey.data(), publicKey.size()) << "\n";
  return 0;
}

std::string nowIso8601() {
  const std::time_t t = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

int release(const std::map<std::string, std::string>& options) {
  for (const char* required : {"--key", "--file", "--version", "--name", "--url"})
    if (!options.count(required)) return usage();
  const std::string& version = options.at("--version");
  if (!parseVersion(version)) return failure("the version must be 1 to 4 dot-separated numbers");
  if (!isWebURL(options.at("--url"))) return failure("the URL must be an absolute http(s) URL");
  if (options.count("--notes") && !isWebURL(options.at("--notes")))
    return failure("the notes URL must be an absolute http(s) URL");

  std::ifstream keyFile(options.at("--key"));
  std::string keyText;
  std::getline(keyFile, keyText);
  auto secretKey = fromBase64<64>(keyText);
  sodium_memzero(keyText.data(), keyText.size());
  if (!secretKey) return failure("cannot read a secret key from " + options.at("--key"));

  std::ifstream file(options.at("--file"), std::ios::binary);
  if (!file) return failure("cannot read " + options.at("--file"));
  Sha512 sha;
  std::uint64_t size = 0;
  std::string buffer(1 << 16, '\0');
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(file.gcount());
    sha.update(buffer.data(), got);
    size += got;
  }
  if (!file.eof()) return failure("cannot read " + options.at("--file"));
  if (size == 0 || size > kMaxDownloadBytes) return failure("the file is empty or too large");
  const Signature signature = signRelease(*secretKey, version, size, sha.finish());
  sodium_memzero(secretKey->data(), secretKey->size());

  wd::Json json = {{"name", options.at("--name")},
                   {"version", version},
                   {"url", options.at("--url")},
                   {"size", size},
                   {"signature", toBase64(signature.data(), signature.size())},
                   {"pub_date", options.count("--date") ? options.at("--date") : nowIso8601()}};
  if (options.count("--notes")) json["notes"] = options.at("--notes");
  // The reader checks what the service will serve: what this prints must read back.
  const std::string text = json.dump(2);
  if (!std::holds_alternative<Release>(readRelease(text)))
    return failure("the release description would not be accepted (check the name)");
  std::cout << text << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!cryptoReady()) return failure("libsodium cannot be initialised");
  if (argc == 3 && std::string(argv[1]) == "generate-key") return generateKey(argv[2]);
  if (argc >= 2 && std::string(argv[1]) == "release" && argc % 2 == 0) {
    std::map<std::string, std::string> options;
    for (int i = 2; i + 1 < argc; i += 2) {
      const std::string key = argv[i];
      if (key != "--key" && key != "--file" && key != "--version" && key != "--name" &&
          key != "--url" && key != "--notes" && key != "--date")
        return usage();
      options[key] = argv[i + 1];
    }
    return release(options);
  }
  return usage();
}
