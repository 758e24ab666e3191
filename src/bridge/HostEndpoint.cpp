#include "bridge/HostEndpoint.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bridge/wire/Utf.h"
#include "core/Log.h"

namespace wd::bridge {

using wire::CallOp;
using wire::Message;
using wire::MsgType;
using wire::Tag;
using wire::WValue;

namespace {
thread_local ScriptPage* tCallingPage = nullptr;

class CallingPageScope {
 public:
  explicit CallingPageScope(std::shared_ptr<ScriptPage> page)
      : page_(std::move(page)), saved_(tCallingPage) {
    tCallingPage = page_.get();
  }
  ~CallingPageScope() { tCallingPage = saved_; }
  CallingPageScope(const CallingPageScope&) = delete;
  CallingPageScope& operator=(const CallingPageScope&) = delete;

 private:
  std::shared_ptr<ScriptPage> page_;  // alive while native code may reach it
  ScriptPage* saved_;
};
}  // namespace

ScriptPage* callingPage() {
  return tCallingPage;
}

detail::HandleRef::~HandleRef() {
  if (auto ep = endpoint.lock()) ep->releaseHandle(handleId);
}

void ScriptValue::call() const {
  call({});
}

void ScriptValue::call(std::vector<Value> args) const {
  if (!ref_) return;
  if (auto ep = ref_->endpoint.lock())
    ep->callHandle(ref_->pageId, ref_->handleId, std::move(args));
}

HostEndpoint::HostEndpoint(Sender sender, Delegate* delegate, std::optional<std::string> token)
    : sender_(std::move(sender)), delegate_(delegate), token_(std::move(token)) {
  greeted_ = !token_.has_value();
}

HostEndpoint::~HostEndpoint() {
  close();
}

void HostEndpoint::close() {
  if (closed_) return;
  closed_ = true;
  // Dropping objects may run native destructors that reach back here; they find it closed.
  auto objects = std::move(objects_);
  objects_.clear();
  ids_.clear();
  objects.clear();
  if (onClose_) {
    auto cb = std::move(onClose_);
    cb();
  }
}

bool HostEndpoint::send(const Message& message) {
  if (closed_) return false;
  const bool tooMany = wire::countValues(message.values) > wire::kMaxValues;
  std::string frame = tooMany ? std::string() : wire::encodeFrame(message);
  if (tooMany || frame.size() - 4 > wire::kMaxFrame) {
    WD_LOG_INFO("bridge message too large for the page ({} bytes); not sent", frame.size());
    for (const auto& v : message.values) unsent(v);
    if (message.type == MsgType::Reply) reply(message.callId, WValue{});
    return false;
  }
  sender_(std::move(frame));
  return true;
}

void HostEndpoint::unsent(const WValue& v) {
  wire::forEachRef(v, [this](const WValue& ref) { release(ref.id, 1); });
}

void HostEndpoint::ensureClass(const ClassInfo& cls) {
  if (!sentClasses_.insert(cls.id()).second) return;
  Message m;
  m.type = MsgType::ClassDef;
  m.cls.id = cls.id();
  m.cls.name = cls.name();
  for (const auto& mem : cls.members()) {
    wire::MemberDesc d;
    d.kind = static_cast<std::uint8_t>(mem.kind);
    d.name = mem.scriptName;
    d.readOnly = mem.readOnly;
    for (auto p : mem.params) d.params.push_back(static_cast<std::uint8_t>(p));
    m.cls.members.push_back(std::move(d));
  }
  send(m);
}

WValue HostEndpoint::toWire(const Value& v, std::uint64_t pageId, int depth) {
  if (depth > wire::kMaxDepth) return WValue::null();
  switch (v.kind()) {
    case Value::Kind::Undefined:
      return {};
    case Value::Kind::Null:
      return WValue::null();
    case Value::Kind::Bool:
      return WValue::boolean(*v.asBool());
    case Value::Kind::Number:
      return WValue::num(*v.asNumber());
    case Value::Kind::String:
      return WValue::str(*v.asString());
    case Value::Kind::Array: {
      WValue out{Tag::Array};
      out.items.reserve(v.asArray()->size());
      for (const auto& e : *v.asArray()) out.items.push_back(toWire(e, pageId, depth + 1));
      return out;
    }
    case Value::Kind::Dictionary: {
      WValue out{Tag::Object};
      out.entries.reserve(v.asDictionary()->size());
      for (const auto& [k, e] : v.asDictionary()->entries())
        out.entries.emplace_back(k, toWire(e, pageId, depth + 1));
      return out;
    }
    case Value::Kind::Object: {
      auto obj = v.asObject();
      const ClassInfo& cls = obj->scriptClass();
      ensureClass(cls);
      std::uint64_t id;
      const auto key = std::make_pair(pageId, static_cast<const ScriptObject*>(obj.get()));
      if (auto it = ids_.find(key); it != ids_.end()) {
        id = it->second;
      } else {
        id = ++nextObjectId_;
        ids_[key] = id;
        objects_[id].object = obj;
        objects_[id].pageId = pageId;
      }
      ++objects_[id].count;
      return WValue::ref(id, cls.id());
    }
    case Value::Kind::Date: {
      const auto ms = std::chrono::floor<std::chrono::milliseconds>(v.asDate()->time_since_epoch());
      return WValue::date(static_cast<double>(ms.count()));
    }
    case Value::Kind::Script: {
      const auto ref = v.asScript().ref();
      if (ref && ref->endpoint.lock().get() == this && ref->pageId == pageId)
        return WValue::handle(ref->handleId);
      return {};
    }
  }
  return {};
}

Value HostEndpoint::fromWire(WValue& v, std::uint64_t pageId) {
  switch (v.tag) {
    case Tag::Undefined:
      return Value();
    case Tag::Null:
      return Value(nullptr);
    case Tag::False:
      return Value(false);
    case Tag::True:
      return Value(true);
    case Tag::Number:
      return Value(v.number);
    case Tag::String:
      wire::repairUtf8(v.text);  // the one place page strings enter native code
      return Value(std::move(v.text));
    case Tag::Array: {
      ValueArray a;
      a.reserve(v.items.size());
      for (auto& e : v.items) a.push_back(fromWire(e, pageId));
      return Value(std::move(a));
    }
    case Tag::Object: {
      // Linear in the number of keys: a key seen before (only a misbehaving peer repeats
      // one) keeps its first place and takes the later value, as Dictionary::set does. The
      // keys seen are found through a flat table of their hashes (open addressing, at most
      // half full), which stays compact for objects of many keys.
      Dictionary d;
      auto& entries = d.entries();
      entries.reserve(v.entries.size());
      std::size_t slots = 16;
      while (slots < 2 * v.entries.size()) slots *= 2;
      struct Slot {
        std::size_t hash = 0;
        std::size_t index = SIZE_MAX;
      };
      std::vector<Slot> seen(slots);
      const std::hash<std::string_view> hashOf;
      for (auto& [k, e] : v.entries) {
        wire::repairUtf8(k);
        Value value = fromWire(e, pageId);
        const std::size_t h = hashOf(k);
        std::size_t at = h & (slots - 1);
        while (seen[at].index != SIZE_MAX &&
               (seen[at].hash != h || entries[seen[at].index].first != k))
          at = (at + 1) & (slots - 1);
        if (seen[at].index == SIZE_MAX) {
          seen[at] = {h, entries.size()};
          entries.emplace_back(std::move(k), std::move(value));
        } else {
          entries[seen[at].index].second = std::move(value);
        }
      }
      return Value(std::move(d));
    }
    case Tag::Ref: {
      ScriptObject* obj = objectFor(v.id, pageId);
      return obj ? Value(objects_[v.id].object) : Value();
    }
    case Tag::Date: {
      // The system clock holds about 292 years either side of 1970; dates beyond it are null.
      using Ms = std::chrono::duration<double, std::milli>;
      constexpr double kClockLimitMs = 9.2e12;
      if (!(std::fabs(v.number) < kClockLimitMs)) return Value(nullptr);
      return Value(
          Value::Date(std::chrono::duration_cast<Value::Date::duration>(Ms(std::floor(v.number)))));
    }
    case Tag::Handle: {
      auto ref = std::make_shared<detail::HandleRef>();
      ref->endpoint = weak_from_this();
      ref->pageId = pageId;
      ref->handleId = v.id;
      ++liveHandles_;
      return Value(ScriptValue(std::move(ref)));
    }
  }
  return Value();
}

void HostEndpoint::reply(std::uint64_t callId, WValue value) {
  Message r;
  r.type = MsgType::Reply;
  r.callId = callId;
  r.values.push_back(std::move(value));
  send(r);
}

void HostEndpoint::receive(std::string_view payload) {
  if (closed_) return;
  auto self = shared_from_this();  // native code may drop the endpoint meanwhile
  Message m;
  if (!wire::decodeMessage(payload, m)) {
    close();
    return;
  }
  if (!greeted_) {
    if (m.type != MsgType::Hello || m.text != *token_) {
      close();
      return;
    }
    greeted_ = true;
    return;
  }
  switch (m.type) {
    case MsgType::Ping: {
      Message pong;
      pong.type = MsgType::Pong;
      pong.callId = m.callId;
      send(pong);
      break;
    }
    case MsgType::Call:
      handleCall(m);
      break;
    case MsgType::ContextCreated:
      handleContextCreated(m);
      break;
    case MsgType::ReleaseObjects:
      for (const auto& [id, n] : m.releases) release(id, n);
      break;
    case MsgType::FrameLoaded:
      if (delegate_) {
        try {
          delegate_->frameLoaded(*this, m.pageId, m.flag, m.text);
        } catch (...) {
          WD_LOG_DEBUG("frame load handler failed");
        }
      }
      break;
    default:
      break;
  }
}

void HostEndpoint::handleCall(Message& m) {
  Value result;
  const ClassInfo* cls = ClassInfo::byId(m.classId);
  if (cls && sentClasses_.count(m.classId) && m.member < cls->members().size()) {
    const MemberInfo& mem = cls->members()[m.member];
    std::shared_ptr<ScriptObject> self;
    if (mem.kind != MemberInfo::Kind::ClassMethod) {
      ScriptObject* obj = objectFor(m.objectId, m.pageId);
      if (obj && &obj->scriptClass() == cls) self = objects_[m.objectId].object;
    }
    if (self || mem.kind == MemberInfo::Kind::ClassMethod) {
      std::vector<Value> args;
      args.reserve(mem.params.size());
      for (std::size_t i = 0; i < mem.params.size(); ++i)
        args.push_back(i < m.values.size() ? fromWire(m.values[i], m.pageId) : Value());
      CallingPageScope scope(delegate_ ? delegate_->page(m.pageId) : nullptr);
      try {
        const bool isProperty = mem.kind == MemberInfo::Kind::Property;
        if (m.op == CallOp::Invoke && !isProperty && mem.invoke) {
          result = mem.invoke(self.get(), args);
        } else if (m.op == CallOp::Get && isProperty && mem.invoke) {
          std::vector<Value> none;
          result = mem.invoke(self.get(), none);
        } else if (m.op == CallOp::Set && isProperty && !mem.readOnly && mem.set && self) {
          Value value = args.empty() ? Value() : std::move(args[0]);
          mem.set(*self, value);
        }
      } catch (const std::exception& e) {
        WD_LOG_DEBUG("script member {}.{} failed: {}", cls->name(), mem.scriptName, e.what());
        result = Value();
      } catch (...) {  // anything else must not unwind through the main loop either
        WD_LOG_DEBUG("script member {}.{} failed", cls->name(), mem.scriptName);
        result = Value();
      }
    }
  }
  if (closed_) return;
  reply(m.callId, toWire(result, m.pageId));
}

void HostEndpoint::handleContextCreated(Message& m) {
  std::optional<InstallSet> set;
  if (delegate_) {
    CallingPageScope scope(delegate_->page(m.pageId));
    try {
      set = delegate_->contextCreated(*this, m.pageId, m.text);
    } catch (const std::exception& e) {
      WD_LOG_DEBUG("installing the bridge failed: {}", e.what());
      set.reset();
    } catch (...) {
      WD_LOG_DEBUG("installing the bridge failed");
      set.reset();
    }
  }
  if (closed_) return;
  WValue answer;
  if (set && set->root) {
    answer.tag = Tag::Array;
    answer.items.push_back(toWire(Value(set->root), m.pageId));
    for (const auto& [name, obj] : set->members) {
      if (!obj) continue;
      WValue pair{Tag::Array};
      pair.items.push_back(WValue::str(name));
      pair.items.push_back(toWire(Value(obj), m.pageId));
      answer.items.push_back(std::move(pair));
    }
  }
  reply(m.callId, std::move(answer));
}

ScriptObject* HostEndpoint::objectFor(std::uint64_t objectId, std::uint64_t pageId) {
  auto it = objects_.find(objectId);
  if (it == objects_.end() || it->second.pageId != pageId) return nullptr;
  return it->second.object.get();
}

void HostEndpoint::release(std::uint64_t objectId, std::uint32_t count) {
  auto it = objects_.find(objectId);
  if (it == objects_.end()) return;
  it->second.count -= std::min<std::uint64_t>(count, it->second.count);
  if (it->second.count > 0) return;
  auto obj = std::move(it->second.object);
  ids_.erase(std::make_pair(it->second.pageId, static_cast<const ScriptObject*>(obj.get())));
  objects_.erase(it);
  obj.reset();  // may run native destructors that send (handle releases)
}

Message HostEndpoint::pageMessage(MsgType type, std::uint64_t pageId) {
  Message m;
  m.type = type;
  m.pageId = pageId;
  return m;
}

void HostEndpoint::evaluate(std::uint64_t pageId, const std::string& script) {
  Message m = pageMessage(MsgType::Evaluate, pageId);
  m.text = script;
  send(m);
}

void HostEndpoint::sendWithArgs(Message& m, std::vector<Value>& args) {
  if (closed_) return;
  for (const auto& a : args) m.values.push_back(toWire(a, m.pageId));
  send(m);
}

void HostEndpoint::callHandle(std::uint64_t pageId, std::uint64_t handleId,
                              std::vector<Value> args) {
  Message m = pageMessage(MsgType::CallHandle, pageId);
  m.handleId = handleId;
  sendWithArgs(m, args);
}

void HostEndpoint::callGlobal(std::uint64_t pageId, const std::string& name,
                              std::vector<Value> args) {
  Message m = pageMessage(MsgType::CallGlobal, pageId);
  m.text = name;
  sendWithArgs(m, args);
}

void HostEndpoint::releaseHandle(std::uint64_t handleId) {
  if (liveHandles_ > 0) --liveHandles_;
  if (closed_) return;
  Message m;
  m.type = MsgType::ReleaseHandles;
  m.ids.push_back(handleId);
  send(m);
}

}  // namespace wd::bridge
