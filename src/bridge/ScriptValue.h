#pragma once
// A page value handed to native code untouched, typically a callback function. Copies share one
// handle; when the last copy is dropped the web process releases the page value. Calling is
// asynchronous (the UI process never waits on the page) and does nothing when the value is not
// a function, the handle is empty, or the page that owned it is gone (closed or reloaded).
#include <memory>
#include <vector>

namespace wd::bridge {

class Value;
namespace detail {
struct HandleRef;
}

class ScriptValue {
 public:
  ScriptValue() = default;
  explicit ScriptValue(std::shared_ptr<detail::HandleRef> ref) : ref_(std::move(ref)) {}

  // True when this refers to a page value (which may still be a non-function).
  bool isSet() const { return ref_ != nullptr; }
  explicit operator bool() const { return isSet(); }

  // Calls the page value with these arguments (converted as results are); the return value is
  // dropped. Exceptions thrown by the page function stay in the page.
  void call() const;
  void call(std::vector<Value> args) const;

  // Same underlying page value handle.
  bool operator==(const ScriptValue& other) const { return ref_ == other.ref_; }

  const std::shared_ptr<detail::HandleRef>& ref() const { return ref_; }

 private:
  std::shared_ptr<detail::HandleRef> ref_;
};

}  // namespace wd::bridge
