#pragma once
// Plays sound files through GStreamer and reports, once per sound, how it ended. Each sound is
// its own `playbin` (audio only) whose bus is watched on the main loop, so playing never blocks
// and several sounds may play at once. The end notice comes from that watch, never from inside
// play().
//
// The audio output is the sink description given to the constructor (a gst-launch description
// such as "fakesink sync=false"), else the one in the environment variable WENDREL_AUDIO_SINK,
// else playbin's automatic choice of the desktop's output.
#include <functional>
#include <list>
#include <memory>
#include <string>

namespace wd {

class SoundPlayer {
 public:
  enum class End {
    Finished,  // played to its end, or stopped after it had started playing
    Failed,    // never started: the file could not be read or decoded, or no output
  };
  using EndHandler = std::function<void(End)>;

  explicit SoundPlayer(std::string sinkDescription = {});
  // Stops every sound still playing; their handlers are not called.
  ~SoundPlayer();
  SoundPlayer(const SoundPlayer&) = delete;
  SoundPlayer& operator=(const SoundPlayer&) = delete;

  // Starts playing the file at `path`. False (nothing started, `ended` never called) when no
  // pipeline could be made; otherwise `ended` is called once, later, on the main loop.
  bool play(const std::string& path, EndHandler ended);

  // Sounds started and not yet ended.
  std::size_t playing() const { return sounds_.size(); }

 private:
  class Playback;
  void finish(Playback* playback, End end);

  std::string sink_;
  std::list<std::unique_ptr<Playback>> sounds_;
};

}  // namespace wd
