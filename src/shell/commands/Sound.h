#pragma once
// MacGap.Sound: the page plays sound files of the application's resources (`play`) and named
// system sounds (`playSystem`), and hears of each end through a callback chosen per sound name.
//
// A sound's name is the file's last path component ('ding.wav' for 'sounds/ding.wav') or the
// system sound's name as the page gave it. Each call registers its callback under that name,
// replacing the earlier one (whatever the value is; a non-function is later called to no
// effect), so two sounds of one name playing at once share the callback registered last, and
// each end calls it with the name. While it is called, `cb` holds it.
//
// A file that is not among the resources, or an unknown system sound, plays nothing and
// registers nothing. A sound that turns out to be unplayable (not decodable, no audio output) is
// logged at info and calls nothing; its registration is withdrawn unless a later call replaced
// it.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bridge/Command.h"
#include "bridge/ScriptValue.h"
#include "shell/media/SoundPlayer.h"

namespace wd {

class Sound : public bridge::Command {
 public:
  // `audioSink`: the GStreamer sink description for this object's sounds (SoundPlayer).
  explicit Sound(std::weak_ptr<bridge::WindowHandle> window, std::string audioSink = {});
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  void play(std::optional<std::string> file, bridge::ScriptValue onComplete);
  void playSystem(std::optional<std::string> name, bridge::ScriptValue onComplete);

  bridge::ScriptValue cb() const { return cb_; }
  void setCb(bridge::ScriptValue cb) { cb_ = std::move(cb); }

  // Sounds of this object started and not yet ended.
  std::size_t playing() const { return player_.playing(); }

 private:
  struct Registration {
    bridge::ScriptValue callback;
    std::shared_ptr<int> token;  // identifies the call that registered it
  };

  void playSound(const std::string& path, const std::string& name, bridge::ScriptValue onComplete);
  void ended(const std::string& name, const Registration& mine,
             const std::optional<Registration>& previous, SoundPlayer::End end);

  std::map<std::string, Registration> callbacks_;
  bridge::ScriptValue cb_;
  SoundPlayer player_;  // last: its sounds stop before the callbacks go
};

}  // namespace wd
