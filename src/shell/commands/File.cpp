// The page's whole-file reads and writes: argument checks, the text and JSON forms, and the
// core's atomic writer and regular-file reader underneath.
#include "shell/commands/File.h"

#include <sys/stat.h>

#include <algorithm>
#include <string_view>

#include "bridge/Exports.h"
#include "core/AtomicFile.h"
#include "core/Json.h"
#include "core/Log.h"
#include "core/SafeFileReader.h"
#include "shell/commands/ScriptConversions.h"

namespace wd {

namespace {

// The path the page named: a string holding an absolute path without NUL. Anything else (a
// relative path, which would land in the working folder, or a number or object, whose text
// form "NaN" or "[object Object]" would) names nothing.
std::optional<std::string> usablePath(const bridge::Value& value) {
  const std::string* path = value.asString();
  if (!path || path->empty() || path->front() != '/' || path->find('\0') != std::string::npos)
    return std::nullopt;
  return *path;
}

// The deepest nesting of arrays and objects in JSON text (string contents skipped); counting
// stops once past `limit`. Values nested deeper than the page can receive are refused before
// they are built.
int jsonDepth(std::string_view text, int limit) {
  int depth = 0;
  int deepest = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
      if (deepest > limit) break;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

}  // namespace

File::File(std::weak_ptr<bridge::WindowHandle> window) : bridge::Command(std::move(window)) {}

const bridge::ClassInfo& File::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& File::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<File>("File")
          .summary(
              "Whole-file reads and atomic writes of text and JSON; a path is a string holding an "
              "absolute path.")
          .method("writeFile:withData:andType:__JS_EXPORT_AS__write:", &File::writeFile)
          .doc({.summary = "Writes the data atomically: \"string\" its text, \"json\" a plain "
                           "object as JSON.",
                .params = {"path: string", "data: unknown", "type: \"string\" | \"json\""},
                .refused = "nothing is written"})
          .method("readFile:ofType:__JS_EXPORT_AS__read:", &File::readFile)
          .doc({.summary = "Reads a regular file of at most 32 MiB as \"string\" (UTF-8 text) or "
                           "\"json\" (the object or array it holds).",
                .params = {"path: string", "type: \"string\" | \"json\""},
                .result = "string | object | undefined",
                .refused = "undefined"})
          .method("exists:", &File::exists)
          .doc({.summary = "Something exists at the path (links followed).",
                .params = {"path: string"},
                .refused = "false"})
          .build();
  return info;
}

const std::vector<std::string>& File::acceptedTypes() {
  static const std::vector<std::string> types{"string", "json", "image"};
  return types;
}

void File::writeFile(bridge::Value pathValue, bridge::Value data, std::optional<std::string> type) {
  const auto& accepted = acceptedTypes();
  const auto path = usablePath(pathValue);
  if (!path || !type || std::find(accepted.begin(), accepted.end(), *type) == accepted.end())
    return;
  std::optional<std::string> text;
  if (*type == "string") {
    text = script::toString(data);
    if (!text || !script::isUtf8(*text)) {
      WD_LOG_INFO("File: the data for {} has no UTF-8 text form; nothing written", *path);
      return;
    }
  } else if (*type == "json") {
    if (!data.isDictionary()) return;
    if (auto json = data.toJson()) text = JSONString(*json);
    if (!text) {
      WD_LOG_INFO("File: the data for {} has no JSON form; nothing written", *path);
      return;
    }
  } else {
    return;  // "image" has no written form
  }
  if (auto error = writeFileAtomically(*path, *text))
    WD_LOG_INFO("File: {} was not written: {}", *path, *error);
}

bridge::Value File::readFile(bridge::Value pathValue, std::optional<std::string> type) {
  const auto path = usablePath(pathValue);
  if (!path || !type || (*type != "string" && *type != "json")) return {};
  FileContents contents = readRegularFile(*path, kMaxReadBytes);
  if (!contents.data) {
    WD_LOG_INFO("File: {} was not read: {}", *path, contents.error);
    return {};
  }
  if (!script::isUtf8(*contents.data)) {
    WD_LOG_INFO("File: {} is not UTF-8 text", *path);
    return {};
  }
  if (*type == "string") return bridge::Value(std::move(*contents.data));
  if (jsonDepth(*contents.data, kMaxJsonDepth) > kMaxJsonDepth) {
    WD_LOG_INFO("File: {} nests deeper than {} levels", *path, kMaxJsonDepth);
    return {};
  }
  auto json = JSONObject(*contents.data);
  return json ? bridge::Value::fromJson(*json) : bridge::Value();
}

bool File::exists(bridge::Value pathValue) {
  const auto path = usablePath(pathValue);
  struct stat st {};
  return path && ::stat(path->c_str(), &st) == 0;
}

}  // namespace wd
