// libFuzzer target: frames (4-byte little-endian length, payload) a web process may send, each
// decoded (and re-encoded unchanged) and handed to a host endpoint with script objects installed.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/Exports.h"
#include "bridge/HostEndpoint.h"
#include "bridge/wire/Wire.h"

namespace {

using namespace wd::bridge;

struct Target : ScriptObject {
  std::string text(std::optional<std::string> s) { return s.value_or("none"); }
  double number(std::optional<double> d) { return d.value_or(-1); }
  bool flag(bool b) { return !b; }
  Value echo(Value v) { return v; }
  std::string dict(std::optional<Dictionary> d) { return d ? "dict" : "none"; }
  std::string list(std::optional<ValueArray> a) { return a ? "array" : "none"; }
  void keep(ScriptValue cb) { (kept = std::move(cb)).call({Value("called")}); }
  std::shared_ptr<Target> other(std::shared_ptr<Target> t) { return t ? t : child; }
  std::optional<std::string> title() const { return title_; }
  void setTitle(std::optional<std::string> t) { title_ = std::move(t); }
  static std::string shared(std::optional<std::string> s) { return s.value_or(""); }
  const ClassInfo& scriptClass() const override {
    static const ClassInfo& info = ClassBuilder<Target>("Target")
                                       .method("text:", &Target::text)
                                       .method("number:", &Target::number)
                                       .method("flag:", &Target::flag)
                                       .method("echo:", &Target::echo)
                                       .method("dict:", &Target::dict)
                                       .method("list:", &Target::list)
                                       .method("keep:", &Target::keep)
                                       .method("other:", &Target::other)
                                       .property("title", &Target::title, &Target::setTitle)
                                       .classMethod("shared:", &Target::shared)
                                       .build();
    return info;
  }
  ScriptValue kept;
  std::shared_ptr<Target> child;
  std::optional<std::string> title_;
};

struct Delegate : HostEndpoint::Delegate {
  std::optional<InstallSet> contextCreated(HostEndpoint&, std::uint64_t pageId,
                                           const std::string&) override {
    if (pageId != 1 && pageId != 2) return std::nullopt;
    auto root = std::make_shared<Target>();
    root->child = std::make_shared<Target>();
    return InstallSet{root, {{"Child", root->child}, {"Shared", shared}}};
  }
  std::shared_ptr<ScriptPage> page(std::uint64_t) override { return nullptr; }
  std::shared_ptr<Target> shared = std::make_shared<Target>();
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace wd::bridge::wire;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Delegate delegate;
  auto endpoint = std::make_shared<HostEndpoint>([](std::string) {}, &delegate);  // answers dropped
  std::size_t offset = 0;
  while (input.size() - offset >= 4 && !endpoint->closed()) {
    const std::uint32_t len = frameLength(input.data() + offset);
    if (len > input.size() - offset - 4) break;
    const std::string_view payload = input.substr(offset + 4, len);
    offset += 4 + len;
    Message m;
    if (decodeMessage(payload, m)) {
      const std::string again = encodeFrame(m);
      Message m2;
      if (!decodeMessage(std::string_view(again).substr(4), m2) || encodeFrame(m2) != again)
        __builtin_trap();
    }
    endpoint->receive(payload);
  }
  endpoint->close();
  return 0;
}
