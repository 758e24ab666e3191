#include "update/Release.h"

#include <glib.h>

#include "core/Json.h"
#include "update/Version.h"

namespace wd::update {

namespace {

constexpr std::size_t kMaxNameChars = 200;
constexpr std::size_t kMaxTextBytes = 4096;

const Json* member(const Json& object, const char* key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> shortText(const Json* value) {
  if (!value || !value->is_string()) return std::nullopt;
  const auto& text = value->get_ref<const std::string&>();
  if (text.empty() || text.size() > kMaxTextBytes || text.find('\0') != std::string::npos)
    return std::nullopt;
  return text;
}

}  // namespace

bool isWebURL(std::string_view text) {
  if (text.empty() || text.size() > kMaxTextBytes) return false;
  const std::string copy(text);
  GUri* uri = g_uri_parse(copy.c_str(), G_URI_FLAGS_ENCODED, nullptr);
  if (!uri) return false;
  const char* scheme = g_uri_get_scheme(uri);
  const char* host = g_uri_get_host(uri);
  const bool ok =
      (g_strcmp0(scheme, "https") == 0 || g_strcmp0(scheme, "http") == 0) && host && *host != '\0';
  g_uri_unref(uri);
  return ok;
}

std::variant<Release, std::string> readRelease(std::string_view body) {
  if (body.size() > kMaxReleaseBodyBytes) return std::string("the release description is too long");
  // The depth limit of the parser's callback keeps nested garbage from recursing deeply.
  Json json;
  try {
    json = Json::parse(body.begin(), body.end(),
                       [](int depth, Json::parse_event_t, Json&) { return depth <= 8; });
  } catch (const Json::exception&) {
    return std::string("the release description is not JSON");
  }
  if (!json.is_object()) return std::string("the release description is not a JSON object");

  Release release;
  const auto name = shortText(member(json, "name"));
  if (!name || g_utf8_strlen(name->c_str(), -1) > static_cast<glong>(kMaxNameChars))
    return std::string("the release has no valid name");
  release.releaseName = *name;

  const auto version = shortText(member(json, "version"));
  if (!version || !parseVersion(*version)) return std::string("the release has no valid version");
  release.version = *version;

  const auto url = shortText(member(json, "url"));
  if (!url || !isWebURL(*url)) return std::string("the release has no valid download URL");
  release.url = *url;

  const Json* size = member(json, "size");
  if (!size || !size->is_number_unsigned() || size->get<std::uint64_t>() == 0 ||
      size->get<std::uint64_t>() > kMaxDownloadBytes)
    return std::string("the release has no valid download size");
  release.size = size->get<std::uint64_t>();

  const auto signature = shortText(member(json, "signature"));
  const auto decoded = signature ? fromBase64<64>(*signature) : std::nullopt;
  if (!decoded) return std::string("the release has no valid signature");
  release.signature = *decoded;

  // Optional members: a value of the wrong kind counts as absent.
  if (auto notes = shortText(member(json, "notes")); notes && isWebURL(*notes))
    release.releaseNotes = *notes;
  release.publicationDate = shortText(member(json, "pub_date"));
  return release;
}

}  // namespace wd::update
