#pragma once
// Loads a GtkBuilder layout of the bundle ("GeneralView", "AccountPreferencesViewController",
// "InitialConfiguration": resources/ui/<name>.ui) and hands out its objects.
#include <gtk/gtk.h>

#include <string>

#include "core/GLibPtr.h"

namespace wd {

class PaneLayout {
 public:
  // A missing or damaged layout leaves the builder empty (logged); object() then gives nullptr.
  explicit PaneLayout(const std::string& name);

  bool loaded() const { return loaded_; }
  // The object `id` when it is of `type`, else nullptr.
  GObject* object(const char* id, GType type) const;
  template <class T>
  T* get(const char* id, GType type) const {
    return reinterpret_cast<T*>(object(id, type));
  }

 private:
  GObjectRef<GtkBuilder> builder_;
  bool loaded_ = false;
};

}  // namespace wd
