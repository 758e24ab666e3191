#include "shell/window/WindowEffects.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

namespace wd::effects {

namespace {

constexpr const char* kShakeKey = "wd-shake";
constexpr guint kFrameMilliseconds = 15;

struct Shake {
  GtkWindow* window;  // not owned: the state is data of the window
  int x = 0, y = 0, width = 0;
  gint64 start = 0;
  guint source = 0;
};

void destroyShake(gpointer data) {
  auto* shake = static_cast<Shake*>(data);
  if (shake->source) g_source_remove(shake->source);
  delete shake;
}

gboolean shakeFrame(gpointer data) {
  auto* shake = static_cast<Shake*>(data);
  const double elapsed =
      static_cast<double>(g_get_monotonic_time() - shake->start) / G_USEC_PER_SEC;
  if (elapsed >= kShakeDuration) {
    gtk_window_move(shake->window, shake->x, shake->y);
    shake->source = 0;
    g_object_set_data(G_OBJECT(shake->window), kShakeKey, nullptr);  // frees `shake`
    return G_SOURCE_REMOVE;
  }
  const double offset = shakeOffsetAt(shake->width, elapsed);
  gtk_window_move(shake->window, shake->x + static_cast<int>(std::lround(offset)), shake->y);
  return G_SOURCE_CONTINUE;
}

}  // namespace

std::vector<double> shakeKeyframes(double width) {
  const double d = width * kShakeFactor;
  std::vector<double> points{0};
  for (int i = 0; i < kShakeCount; ++i) {
    points.push_back(-d);
    points.push_back(d);
  }
  points.push_back(0);  // the path closes where it began
  return points;
}

double shakeOffsetAt(double width, double elapsed) {
  if (!(elapsed > 0) || elapsed >= kShakeDuration) return 0;
  const auto points = shakeKeyframes(width);
  const double segments = static_cast<double>(points.size() - 1);
  const double position = elapsed / kShakeDuration * segments;
  const auto i = std::min(static_cast<std::size_t>(position), points.size() - 2);
  const double f = position - static_cast<double>(i);
  return points[i] + (points[i + 1] - points[i]) * f;
}

bool isShaking(GtkWindow* window) {
  return window && g_object_get_data(G_OBJECT(window), kShakeKey);
}

bool shake(GtkWindow* window) {
  if (!window || isShaking(window)) return false;
  auto* state = new Shake{window};
  gtk_window_get_position(window, &state->x, &state->y);
  gtk_window_get_size(window, &state->width, nullptr);
  if (state->width <= 0) {
    delete state;
    return false;
  }
  state->start = g_get_monotonic_time();
  state->source = g_timeout_add(kFrameMilliseconds, shakeFrame, state);
  g_object_set_data_full(G_OBJECT(window), kShakeKey, state, destroyShake);
  return true;
}

}  // namespace wd::effects
