#pragma once
// MacGap.Task: the page runs one external program at a time (GSubprocess) and learns how it
// ended. The page describes the process (create, arguments, currentDirectoryPath, environment,
// pipeOutput), launches it and may terminate it; when the process ends its callback gets
// {"status", "stdOut", "stdIn", "stdErr"} on the main loop and the object is reset for the next
// create.
//
// Nothing here blocks the main loop: the process is started with GSubprocess (fork and exec) and
// awaited with an asynchronous wait; captured output is read as it comes, so a program writing
// more than a pipe holds never stalls. `waitUntilExit` is a property, not a blocking call: when
// true (the default) `isRunning` stays true until the process has ended and `terminate` reaches
// it; when false `isRunning` is true only during the launch. Either way the end of the process is
// reported once.
//
// Status: the exit code, or 128 + the signal number for a process killed by a signal (143 after
// terminate). stdOut: with pipeOutput the output as text (invalid UTF-8 replaced by U+FFFD, at
// most kMaxCapturedOutput bytes kept, the rest read and dropped); otherwise, like stdIn and
// stdErr, an empty object (the streams themselves are not the page's). A program that cannot be
// started is logged (info), leaves isRunning false and reports nothing.
//
// Children and the application: a child gets SIGTERM when the application process ends (also on
// a crash: the parent-death signal) and when this object is destroyed.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/Command.h"
#include "bridge/ScriptValue.h"
#include "bridge/Value.h"

namespace wd {

class Task : public bridge::Command {
 public:
  // Captured output kept per process: results must fit the bridge's message limit (64 MiB) even
  // when every byte is replaced by a three-byte U+FFFD.
  static constexpr std::size_t kMaxCapturedOutput = 16u << 20;

  explicit Task(std::weak_ptr<bridge::WindowHandle> window);
  ~Task() override;
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  // create(path, callback): a new description of a process running `path` (a name without a
  // slash is looked up in PATH) with no arguments, the application's working directory and
  // environment, and no capture. A process of the previous description is no longer tracked
  // (it runs on, unreported). A missing callback keeps the current one. Returns this object.
  std::shared_ptr<Task> createTask(std::optional<std::string> path, bridge::ScriptValue callback);
  // Starts the described process once.
  void launch();
  // SIGTERM to the process while isRunning.
  void terminate();

  bool isRunning() const { return isRunning_; }
  bool waitUntilExit() const { return waitUntilExit_; }
  void setWaitUntilExit(bool wait) { waitUntilExit_ = wait; }
  bool pipeOutput() const { return pipeOutput_; }
  // True captures standard output of the described process (only after create); false changes
  // nothing.
  void setPipeOutput(bool pipe);
  // The described arguments, null without a description.
  bridge::Value arguments() const;
  // Strings only (an array with anything else, or a NUL inside, is ignored).
  void setArguments(std::optional<bridge::ValueArray> arguments);
  // A dictionary or null. Its string entries are set on top of the application's environment of
  // the next launched process; other entries are ignored.
  bridge::Value environment() const;
  void setEnvironment(std::optional<bridge::Dictionary> environment);
  // The described working directory, null when none is set (the application's) or no description.
  bridge::Value currentDirectoryPath() const;
  void setCurrentDirectoryPath(std::optional<std::string> path);
  // The callback, null when none.
  bridge::Value callback() const;
  void setCallback(bridge::ScriptValue callback) { callback_ = std::move(callback); }

 private:
  struct Description {
    std::string path;
    std::vector<std::string> arguments;
    std::optional<std::string> directory;
  };
  class Run;

  // The process of `run` ended with `status`; `output` is its captured output.
  void ended(const std::shared_ptr<Run>& run, int status, std::optional<std::string> output);
  void reset();

  std::optional<Description> task_;
  bridge::ScriptValue callback_;
  bool isRunning_ = false;
  bool launched_ = false;
  bool waitUntilExit_ = true;
  bool pipeOutput_ = false;
  std::optional<bridge::Dictionary> environment_;
  std::shared_ptr<Run> current_;             // the tracked process
  std::vector<std::shared_ptr<Run>> alive_;  // every process of this object not yet ended
};

}  // namespace wd
