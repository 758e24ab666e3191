// GStreamer side of SoundPlayer: one playbin per sound, audio only, its bus watched on the main
// loop. A sound that reached PLAYING and then stopped (end of stream or an error) has Finished;
// an error before that means the sound never played (Failed). The pipeline is taken down to
// NULL on the main loop before it is dropped.
#include "shell/media/SoundPlayer.h"

#include <gst/gst.h>

#include <cstdlib>

#include "core/Log.h"

namespace wd {

namespace {

struct GstObjectUnref {
  void operator()(gpointer object) const {
    if (object) gst_object_unref(object);
  }
};
using ElementPtr = std::unique_ptr<GstElement, GstObjectUnref>;
using BusPtr = std::unique_ptr<GstBus, GstObjectUnref>;

constexpr guint kPlayFlagAudio = 1u << 1;  // playbin's GST_PLAY_FLAG_AUDIO

bool initGstreamer() {
  static const bool ok = [] {
    g_autoptr(GError) error = nullptr;
    if (gst_init_check(nullptr, nullptr, &error)) return true;
    WD_LOG_INFO("GStreamer cannot start, sounds are not played: {}",
                error ? error->message : "unknown error");
    return false;
  }();
  return ok;
}

}  // namespace

class SoundPlayer::Playback {
 public:
  Playback(SoundPlayer& owner, ElementPtr pipeline, EndHandler ended)
      : owner_(owner), pipeline_(std::move(pipeline)), ended_(std::move(ended)) {
    BusPtr bus(gst_element_get_bus(pipeline_.get()));
    bus_ = std::move(bus);
    gst_bus_add_watch(bus_.get(), onMessage, this);
  }
  ~Playback() {
    gst_bus_remove_watch(bus_.get());
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  }
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;

  bool start() {
    return gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  }
  void report(End end) const {
    if (ended_) ended_(end);
  }

 private:
  static gboolean onMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* self = static_cast<Playback*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_STATE_CHANGED:
        if (GST_MESSAGE_SRC(message) == GST_OBJECT(self->pipeline_.get())) {
          GstState state = GST_STATE_VOID_PENDING;
          gst_message_parse_state_changed(message, nullptr, &state, nullptr);
          if (state == GST_STATE_PLAYING) self->started_ = true;
        }
        return G_SOURCE_CONTINUE;
      case GST_MESSAGE_EOS:
        self->owner_.finish(self, End::Finished);
        return G_SOURCE_REMOVE;
      case GST_MESSAGE_ERROR: {
        g_autoptr(GError) error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        WD_LOG_INFO("A sound stopped: {}", error ? error->message : "unknown error");
        self->owner_.finish(self, self->started_ ? End::Finished : End::Failed);
        return G_SOURCE_REMOVE;
      }
      default:
        return G_SOURCE_CONTINUE;
    }
  }

  SoundPlayer& owner_;
  ElementPtr pipeline_;
  BusPtr bus_;
  EndHandler ended_;
  bool started_ = false;
};

SoundPlayer::SoundPlayer(std::string sinkDescription) : sink_(std::move(sinkDescription)) {
  if (sink_.empty())
    if (const char* env = std::getenv("WENDREL_AUDIO_SINK")) sink_ = env;
}

SoundPlayer::~SoundPlayer() = default;

bool SoundPlayer::play(const std::string& path, EndHandler ended) {
  if (!initGstreamer()) return false;
  g_autoptr(GError) error = nullptr;
  g_autofree gchar* uri = g_filename_to_uri(path.c_str(), nullptr, &error);
  if (!uri) {
    WD_LOG_INFO("The sound {} cannot be named as a URI: {}", path, error->message);
    return false;
  }
  ElementPtr pipeline(gst_element_factory_make("playbin", nullptr));
  if (!pipeline) {
    WD_LOG_INFO("GStreamer has no playbin; the sound {} is not played", path);
    return false;
  }
  gst_object_ref_sink(pipeline.get());
  g_object_set(pipeline.get(), "uri", uri, "flags", kPlayFlagAudio, nullptr);
  if (!sink_.empty()) {
    GstElement* sink = gst_parse_bin_from_description(sink_.c_str(), TRUE, &error);
    if (!sink) {
      WD_LOG_INFO("The audio sink \"{}\" cannot be made: {}", sink_,
                  error ? error->message : "unknown error");
      return false;
    }
    g_object_set(pipeline.get(), "audio-sink", sink, nullptr);  // playbin takes the floating ref
  }
  auto playback = std::make_unique<Playback>(*this, std::move(pipeline), std::move(ended));
  if (!playback->start()) {
    WD_LOG_INFO("The sound {} cannot be played", path);
    return false;
  }
  sounds_.push_back(std::move(playback));
  return true;
}

void SoundPlayer::finish(Playback* playback, End end) {
  for (auto it = sounds_.begin(); it != sounds_.end(); ++it) {
    if (it->get() != playback) continue;
    // Dropped only after the handler: it may play again or destroy this player.
    std::unique_ptr<Playback> done = std::move(*it);
    sounds_.erase(it);
    done->report(end);
    return;
  }
}

}  // namespace wd
