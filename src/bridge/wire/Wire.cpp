#include "bridge/wire/Wire.h"

#include <cmath>
#include <cstring>

namespace wd::bridge::wire {

namespace {

class Writer {
 public:
  Writer() { out_.resize(4); }
  void u8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  void u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  void f64(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    u64(bits);
  }
  void str(std::string_view s) {
    u32(static_cast<std::uint32_t>(s.size()));
    out_.append(s.data(), s.size());
  }
  void value(const WValue& v) {
    u8(static_cast<std::uint8_t>(v.tag));
    switch (v.tag) {
      case Tag::Number:
      case Tag::Date:
        f64(v.number);
        break;
      case Tag::String:
        str(v.text);
        break;
      case Tag::Array:
        u32(static_cast<std::uint32_t>(v.items.size()));
        for (const auto& e : v.items) value(e);
        break;
      case Tag::Object:
        u32(static_cast<std::uint32_t>(v.entries.size()));
        for (const auto& [k, e] : v.entries) {
          str(k);
          value(e);
        }
        break;
      case Tag::Ref:
        u64(v.id);
        u32(v.classId);
        break;
      case Tag::Handle:
        u64(v.id);
        break;
      default:
        break;
    }
  }
  std::string finish() {
    const auto n = static_cast<std::uint32_t>(out_.size() - 4);
    for (int i = 0; i < 4; ++i) out_[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    return std::move(out_);
  }

 private:
  std::string out_;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool ok() const { return ok_; }
  bool atEnd() const { return pos_ == in_.size(); }
  bool need(std::size_t n) {
    if (!ok_ || in_.size() - pos_ < n) ok_ = false;
    return ok_;
  }
  std::uint8_t u8() {
    if (!need(1)) return 0;
    return static_cast<std::uint8_t>(in_[pos_++]);
  }
  std::uint32_t u32() {
    if (!need(4)) return 0;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= static_cast<std::uint32_t>(static_cast<unsigned char>(in_[pos_ + i])) << (8 * i);
    pos_ += 4;
    return v;
  }
  std::uint64_t u64() {
    if (!need(8)) return 0;
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
      v |= static_cast<std::uint64_t>(static_cast<unsigned char>(in_[pos_ + i])) << (8 * i);
    pos_ += 8;
    return v;
  }
  double f64() {
    const std::uint64_t bits = u64();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  std::string str() {
    const std::uint32_t n = u32();
    if (!need(n)) return {};
    std::string s(in_.substr(pos_, n));
    pos_ += n;
    return s;
  }
  // A count of elements each taking at least `minSize` bytes: refuses counts the input cannot
  // hold, so a forged count cannot make the decoder reserve huge memory.
  std::uint32_t count(std::size_t minSize) {
    const std::uint32_t n = u32();
    if (ok_ && static_cast<std::uint64_t>(n) * minSize > in_.size() - pos_) ok_ = false;
    return ok_ ? n : 0;
  }
  // A count of values, charged against the message's value budget before anything is
  // allocated for them.
  std::uint32_t valueCount(std::size_t minSize) {
    const std::uint32_t n = count(minSize);
    if (ok_ && n > kMaxValues - values_) ok_ = false;
    return ok_ ? n : 0;
  }
  void value(WValue& v, int depth) {
    if (depth > kMaxDepth + 2 || ++values_ > kMaxValues) {
      ok_ = false;
      return;
    }
    const std::uint8_t tag = u8();
    if (!ok_ || tag > static_cast<std::uint8_t>(Tag::Date)) {
      ok_ = false;
      return;
    }
    v.tag = static_cast<Tag>(tag);
    switch (v.tag) {
      case Tag::Number:
        v.number = f64();
        break;
      case Tag::String:
        v.text = str();
        break;
      case Tag::Array: {
        const std::uint32_t n = valueCount(1);
        v.items.resize(n);
        for (std::uint32_t i = 0; i < n && ok_; ++i) value(v.items[i], depth + 1);
        break;
      }
      case Tag::Object: {
        const std::uint32_t n = valueCount(5);
        v.entries.resize(n);
        for (std::uint32_t i = 0; i < n && ok_; ++i) {
          v.entries[i].first = str();
          value(v.entries[i].second, depth + 1);
        }
        break;
      }
      case Tag::Ref:
        v.id = u64();
        v.classId = u32();
        break;
      case Tag::Handle:
        v.id = u64();
        break;
      case Tag::Date:
        v.number = f64();
        if (!(std::fabs(v.number) <= kMaxDateMs)) ok_ = false;  // NaN too
        break;
      default:
        break;
    }
  }

 private:
  std::string_view in_;
  std::size_t pos_ = 0;
  std::size_t values_ = 0;
  bool ok_ = true;
};

void writeValues(Writer& w, const std::vector<WValue>& values) {
  w.u32(static_cast<std::uint32_t>(values.size()));
  for (const auto& v : values) w.value(v);
}

void readValues(Reader& r, std::vector<WValue>& values) {
  const std::uint32_t n = r.valueCount(1);
  values.resize(n);
  for (std::uint32_t i = 0; i < n && r.ok(); ++i) r.value(values[i], 0);
}

std::size_t countValue(const WValue& v) {
  std::size_t n = 1;
  for (const auto& e : v.items) n += countValue(e);
  for (const auto& e : v.entries) n += countValue(e.second);
  return n;
}

}  // namespace

std::size_t countValues(const std::vector<WValue>& values) {
  std::size_t n = 0;
  for (const auto& v : values) n += countValue(v);
  return n;
}

std::uint32_t frameLength(const char* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return v;
}

std::string encodeFrame(const Message& m) {
  Writer w;
  w.u8(static_cast<std::uint8_t>(m.type));
  switch (m.type) {
    case MsgType::Hello:
      w.str(m.text);
      break;
    case MsgType::ContextCreated:
      w.u64(m.callId);
      w.u64(m.pageId);
      w.str(m.text);
      break;
    case MsgType::Call:
      w.u64(m.callId);
      w.u64(m.pageId);
      w.u64(m.objectId);
      w.u32(m.classId);
      w.u32(m.member);
      w.u8(static_cast<std::uint8_t>(m.op));
      writeValues(w, m.values);
      break;
    case MsgType::ReleaseObjects:
      w.u32(static_cast<std::uint32_t>(m.releases.size()));
      for (const auto& [id, n] : m.releases) {
        w.u64(id);
        w.u32(n);
      }
      break;
    case MsgType::FrameLoaded:
      w.u64(m.pageId);
      w.u8(m.flag ? 1 : 0);
      w.str(m.text);
      break;
    case MsgType::Ping:
    case MsgType::Pong:
      w.u64(m.callId);
      break;
    case MsgType::ClassDef:
      w.u32(m.cls.id);
      w.str(m.cls.name);
      w.u32(static_cast<std::uint32_t>(m.cls.members.size()));
      for (const auto& mem : m.cls.members) {
        w.u8(mem.kind);
        w.str(mem.name);
        w.u8(mem.readOnly ? 1 : 0);
        w.u32(static_cast<std::uint32_t>(mem.params.size()));
        for (auto p : mem.params) w.u8(p);
      }
      break;
    case MsgType::Reply:
      w.u64(m.callId);
      writeValues(w, m.values);
      break;
    case MsgType::Evaluate:
      w.u64(m.pageId);
      w.str(m.text);
      break;
    case MsgType::CallHandle:
      w.u64(m.pageId);
      w.u64(m.handleId);
      writeValues(w, m.values);
      break;
    case MsgType::CallGlobal:
      w.u64(m.pageId);
      w.str(m.text);
      writeValues(w, m.values);
      break;
    case MsgType::ReleaseHandles:
      w.u32(static_cast<std::uint32_t>(m.ids.size()));
      for (auto id : m.ids) w.u64(id);
      break;
  }
  return w.finish();
}

bool decodeMessage(std::string_view payload, Message& m) {
  if (payload.size() > kMaxFrame) return false;
  Reader r(payload);
  const std::uint8_t type = r.u8();
  m = Message{};
  m.type = static_cast<MsgType>(type);
  switch (m.type) {
    case MsgType::Hello:
      m.text = r.str();
      break;
    case MsgType::ContextCreated:
      m.callId = r.u64();
      m.pageId = r.u64();
      m.text = r.str();
      break;
    case MsgType::Call: {
      m.callId = r.u64();
      m.pageId = r.u64();
      m.objectId = r.u64();
      m.classId = r.u32();
      m.member = r.u32();
      const std::uint8_t op = r.u8();
      if (op > static_cast<std::uint8_t>(CallOp::Set)) return false;
      m.op = static_cast<CallOp>(op);
      readValues(r, m.values);
      break;
    }
    case MsgType::ReleaseObjects: {
      const std::uint32_t n = r.count(12);
      m.releases.resize(n);
      for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
        m.releases[i].first = r.u64();
        m.releases[i].second = r.u32();
      }
      break;
    }
    case MsgType::FrameLoaded:
      m.pageId = r.u64();
      m.flag = r.u8() != 0;
      m.text = r.str();
      break;
    case MsgType::Ping:
    case MsgType::Pong:
      m.callId = r.u64();
      break;
    case MsgType::ClassDef: {
      m.cls.id = r.u32();
      m.cls.name = r.str();
      const std::uint32_t n = r.count(10);
      m.cls.members.resize(n);
      for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
        auto& mem = m.cls.members[i];
        mem.kind = r.u8();
        mem.name = r.str();
        mem.readOnly = r.u8() != 0;
        const std::uint32_t np = r.count(1);
        mem.params.resize(np);
        for (std::uint32_t k = 0; k < np && r.ok(); ++k) mem.params[k] = r.u8();
      }
      break;
    }
    case MsgType::Reply:
      m.callId = r.u64();
      readValues(r, m.values);
      break;
    case MsgType::Evaluate:
      m.pageId = r.u64();
      m.text = r.str();
      break;
    case MsgType::CallHandle:
      m.pageId = r.u64();
      m.handleId = r.u64();
      readValues(r, m.values);
      break;
    case MsgType::CallGlobal:
      m.pageId = r.u64();
      m.text = r.str();
      readValues(r, m.values);
      break;
    case MsgType::ReleaseHandles: {
      const std::uint32_t n = r.count(8);
      m.ids.resize(n);
      for (std::uint32_t i = 0; i < n && r.ok(); ++i) m.ids[i] = r.u64();
      break;
    }
    default:
      return false;
  }
  return r.ok() && r.atEnd();
}

}  // namespace wd::bridge::wire
