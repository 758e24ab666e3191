#pragma once
// Values between the page and the wire. Arguments are converted by the parameter types the host
// declared (string, number, int32, boolean, any, dictionary, array, script value, native
// object) under one budget per message (values and bytes); results become script values. Page
// values handed to native code by handle are protected here until the host releases them.
// Dates cross as dates (an invalid page Date as null). Page code that throws while a value is
// read (getters, toString, valueOf, Proxy traps) refuses the value; its exception is caught
// and never reaches the page.
#include <JavaScriptCore/JavaScript.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "webext/PageClasses.h"
#include "webext/PageState.h"

namespace wd::webext {

// Page values held for the host (functions and other values passed by handle).
class HandleTable {
 public:
  struct Entry {
    std::shared_ptr<ContextState> state;
    JSValueRef value = nullptr;
  };
  // Protects `v` of the (live) context: its id, or 0 when the context is gone.
  std::uint64_t add(ContextState& st, JSValueRef v);
  const Entry* find(std::uint64_t id) const;
  // Unprotects and forgets handle `id` (unknown ids are ignored).
  void release(std::uint64_t id);
  // Forgets the handles of a context that is going away (unprotecting them).
  void dropContext(const ContextState& st);
  std::size_t size() const { return entries_.size(); }

 private:
  std::uint64_t next_ = 0;
  std::unordered_map<std::uint64_t, Entry> entries_;
};

class ValueConverter {
 public:
  struct Budget {
    std::size_t values = 0;
    std::size_t bytes = 0;
  };

  ValueConverter(PageClasses& classes, HandleTable& handles, ReleaseSink& releases)
      : classes_(classes), handles_(handles), releases_(releases) {}

  // Converts argument `v` by its declared type into `out`. False when the value is refused
  // (too deep, too many values or bytes, a cycle, or page code that threw while it was read):
  // the call then answers undefined without reaching the host.
  bool toWire(ContextState& st, JSValueRef v, std::uint8_t type, Budget& budget, wire::WValue& out);
  // A wire value as a script value of the context; null when the context died (its references
  // are given back).
  JSValueRef toJS(ContextState& st, wire::WValue& v);

 private:
  bool convertAny(ContextState& st, JSValueRef v, int depth, Budget& budget, wire::WValue& out);
  // A page Date: its time, or null for an invalid Date.
  static wire::WValue dateOf(ContextState& st, JSValueRef date);

  PageClasses& classes_;
  HandleTable& handles_;
  ReleaseSink& releases_;
};

}  // namespace wd::webext
