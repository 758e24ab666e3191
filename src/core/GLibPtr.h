#pragma once
// Owning references to GLib objects, variants and strings: released by the destructor, so no
// error path frees by hand.
#include <glib-object.h>

#include <memory>

namespace wd {

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
template <class T>
using GObjectRef = std::unique_ptr<T, GObjectUnref>;

// Takes a new reference to `object` (nullptr stays empty).
template <class T>
GObjectRef<T> refObject(T* object) {
  return GObjectRef<T>(object ? static_cast<T*>(g_object_ref(object)) : nullptr);
}

struct GVariantUnref {
  void operator()(GVariant* v) const {
    if (v) g_variant_unref(v);
  }
};
using GVariantRef = std::unique_ptr<GVariant, GVariantUnref>;

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

}  // namespace wd
