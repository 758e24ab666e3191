#pragma once
// MacGap.Notify: posts desktop notifications exactly as MacGap.notify does (same options, same
// generated id, same click handling by the application) and withdraws them by the id the page
// gave, or all of them with "*", whoever posted them. It keeps no list of its own: its
// `notifications` property reads undefined. A "sheet" alert is shown on this object's window.
#include <memory>
#include <optional>
#include <string>

#include "bridge/Command.h"
#include "bridge/Value.h"

namespace wd {

class ShellContext;

class Notify : public bridge::Command {
 public:
  Notify(std::weak_ptr<bridge::WindowHandle> window, ShellContext& context);
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  void notify(std::optional<bridge::Dictionary> options);
  void close(std::optional<std::string> id);
  bridge::Value notifications() const { return {}; }

 private:
  ShellContext& context_;
};

}  // namespace wd
