#include "bridge/ScriptObject.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "bridge/Exports.h"

namespace wd::bridge {

namespace {
std::vector<const ClassInfo*>& registry() {
  static std::vector<const ClassInfo*> classes{nullptr};  // ids start at 1
  return classes;
}
constexpr std::string_view kExportAs = "__JS_EXPORT_AS__";
}  // namespace

ClassInfo::ClassInfo(std::string name, std::vector<MemberInfo> members, ClassDoc doc)
    : name_(std::move(name)), members_(std::move(members)), doc_(std::move(doc)) {
  auto& r = registry();
  id_ = static_cast<std::uint32_t>(r.size());
  r.push_back(this);
}

const MemberInfo* ClassInfo::instanceMember(const std::string& scriptName) const {
  for (const auto& m : members_)
    if (m.kind != MemberInfo::Kind::ClassMethod && m.scriptName == scriptName) return &m;
  return nullptr;
}

const MemberInfo* ClassInfo::classMember(const std::string& scriptName) const {
  for (const auto& m : members_)
    if (m.kind == MemberInfo::Kind::ClassMethod && m.scriptName == scriptName) return &m;
  return nullptr;
}

const ClassInfo* ClassInfo::byId(std::uint32_t id) {
  auto& r = registry();
  return id < r.size() ? r[id] : nullptr;
}

ScriptObject::~ScriptObject() = default;

std::string nativeSelector(const std::string& selector) {
  const auto pos = selector.find(kExportAs);
  return pos == std::string::npos ? selector : selector.substr(0, pos);
}

std::size_t selectorArity(const std::string& selector) {
  std::size_t n = 0;
  for (char c : nativeSelector(selector))
    if (c == ':') ++n;
  return n;
}

std::string scriptNameForSelector(const std::string& selector) {
  const auto pos = selector.find(kExportAs);
  if (pos != std::string::npos) {
    std::string name = selector.substr(pos + kExportAs.size());
    while (!name.empty() && name.back() == ':') name.pop_back();
    return name;
  }
  std::string out;
  bool pieceStart = false;
  for (char c : selector) {
    if (c == ':') {
      pieceStart = true;
      continue;
    }
    if (pieceStart && !out.empty())
      out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    else
      out.push_back(c);
    pieceStart = false;
  }
  return out;
}

namespace detail {
void exportsError(const std::string& className, const std::string& selector) {
  std::fprintf(stderr, "script class %s: selector %s does not match its function's arguments\n",
               className.c_str(), selector.c_str());
  std::abort();
}
}  // namespace detail

}  // namespace wd::bridge
