// MacGap.Sound on SoundPlayer (GStreamer): resolves the file or system sound, registers the
// callback under the sound's name and reports each end through the callback registered last.
#include "shell/commands/Sound.h"

#include <filesystem>

#include "bridge/Exports.h"
#include "core/Bundle.h"
#include "core/Log.h"
#include "shell/media/SystemSounds.h"

namespace wd {

Sound::Sound(std::weak_ptr<bridge::WindowHandle> window, std::string audioSink)
    : bridge::Command(std::move(window)), player_(std::move(audioSink)) {}

const bridge::ClassInfo& Sound::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& Sound::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Sound>("Sound")
          .summary(
              "Sound files among the application's resources and the desktop's named system "
              "sounds.")
          .method("play:onComplete:__JS_EXPORT_AS__play:", &Sound::play)
          .doc({.summary = "Plays a resource's sound file; its end calls the callback with the "
                           "file's name.",
                .params = {"file", "onComplete?: (name: string) => void"},
                .refused = "nothing plays"})
          .method("playSystem:onComplete:__JS_EXPORT_AS__playSystem:", &Sound::playSystem)
          .doc({.summary = "Plays a named system sound (\"Basso\", \"Glass\", … any case); its end "
                           "calls the callback with the name.",
                .params = {"name", "onComplete?: (name: string) => void"},
                .refused = "nothing plays"})
          .property("cb", &Sound::cb, &Sound::setCb)
          .doc({.summary = "The callback while it is being called.",
                .result = "((name: string) => void) | null | undefined"})
          .build();
  return info;
}

void Sound::play(std::optional<std::string> file, bridge::ScriptValue onComplete) {
  if (!file || file->empty() || file->find('\0') != std::string::npos) return;
  const auto path = pathForResource(*file);
  if (!path) {
    WD_LOG_INFO("The sound {} is not among the resources", *file);
    return;
  }
  playSound(*path, std::filesystem::path(*file).filename().string(), std::move(onComplete));
}

void Sound::playSystem(std::optional<std::string> name, bridge::ScriptValue onComplete) {
  if (!name || name->find('\0') != std::string::npos) return;
  const auto path = systemsounds::fileForName(*name);
  if (!path) {
    WD_LOG_INFO("There is no system sound named {}", *name);
    return;
  }
  playSound(*path, *name, std::move(onComplete));
}

void Sound::playSound(const std::string& path, const std::string& name,
                      bridge::ScriptValue onComplete) {
  Registration mine{std::move(onComplete), std::make_shared<int>()};
  std::optional<Registration> previous;
  if (auto it = callbacks_.find(name); it != callbacks_.end()) previous = it->second;
  callbacks_[name] = mine;
  const bool started = player_.play(path, [this, name, mine, previous](SoundPlayer::End end) {
    ended(name, mine, previous, end);
  });
  if (!started) ended(name, mine, previous, SoundPlayer::End::Failed);
}

void Sound::ended(const std::string& name, const Registration& mine,
                  const std::optional<Registration>& previous, SoundPlayer::End end) {
  auto it = callbacks_.find(name);
  if (end == SoundPlayer::End::Failed) {
    // Never played: as if it had not been asked for, unless a later call registered since.
    if (it != callbacks_.end() && it->second.token == mine.token) {
      if (previous)
        it->second = *previous;
      else
        callbacks_.erase(it);
    }
    return;
  }
  if (it == callbacks_.end()) return;
  cb_ = it->second.callback;
  const bridge::ScriptValue callback = cb_;
  callback.call({bridge::Value(name)});
  cb_ = {};
}

}  // namespace wd
