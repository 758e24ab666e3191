// The page's external program on GSubprocess. A Run is one started process: its asynchronous
// wait, and, when output is captured, a main-loop watch on the pipe that reads whatever is there
// (at most 1 MiB per dispatch, so a fast writer cannot starve the loop). When the wait completes
// the pipe is drained of what the process left in it and the owning Task is told; the Task
// reports only the process it still tracks.
#include "shell/commands/Task.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixinputstream.h>
#include <glib-unix.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "bridge/Exports.h"
#include "core/GLibPtr.h"
#include "core/Log.h"
#include "shell/commands/ScriptConversions.h"

namespace wd {

namespace {

constexpr std::size_t kReadPerDispatch = 1u << 20;

bool hasNul(const std::string& s) {
  return s.find('\0') != std::string::npos;
}

// Runs in the child between fork and exec: the child gets SIGTERM when the application process
// ends, also when it ends without cleaning up. Only async-signal-safe calls here.
void childSetup(gpointer parentPid) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  // The application ended between fork and prctl: nobody would tell the child.
  if (getppid() != static_cast<pid_t>(GPOINTER_TO_INT(parentPid))) _exit(1);
}

}  // namespace

class Task::Run : public std::enable_shared_from_this<Task::Run> {
 public:
  // Starts the process described; nullptr with the reason in `error` when it cannot be started.
  static std::shared_ptr<Run> start(const Description& description,
                                    const std::optional<bridge::Dictionary>& environment,
                                    bool capture, std::weak_ptr<bridge::ScriptObject> owner,
                                    std::string& error);
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
  ~Run() {
    if (source_) g_source_remove(source_);
  }

  void terminate() {
    if (process_) g_subprocess_send_signal(process_.get(), SIGTERM);
  }
  // The owner is going away: the process is asked to end and is no longer awaited here
  // (GSubprocess still reaps it).
  void stop() {
    terminate();
    g_cancellable_cancel(cancellable_.get());
    if (source_) g_source_remove(source_);
    source_ = 0;
  }

 private:
  Run() = default;
  enum class Drain { More, WouldBlock, End };

  Drain drain(std::size_t limit);
  static gboolean onReadable(gint fd, GIOCondition condition, gpointer data);
  static void onExited(GObject* source, GAsyncResult* result, gpointer data);

  GObjectRef<GSubprocess> process_;
  GObjectRef<GCancellable> cancellable_{g_cancellable_new()};
  int fd_ = -1;  // the read end of the output pipe, owned by the process's stdout stream
  guint source_ = 0;
  bool capture_ = false;
  std::string output_;
  std::weak_ptr<bridge::ScriptObject> owner_;
};

std::shared_ptr<Task::Run> Task::Run::start(const Description& description,
                                            const std::optional<bridge::Dictionary>& environment,
                                            bool capture, std::weak_ptr<bridge::ScriptObject> owner,
                                            std::string& error) {
  if (description.path.empty()) {
    error = "no program path";
    return nullptr;
  }
  if (hasNul(description.path) || (description.directory && hasNul(*description.directory))) {
    error = "a NUL character in the path";
    return nullptr;
  }
  GObjectRef<GSubprocessLauncher> launcher(g_subprocess_launcher_new(
      capture ? G_SUBPROCESS_FLAGS_STDOUT_PIPE : G_SUBPROCESS_FLAGS_NONE));
  if (description.directory)
    g_subprocess_launcher_set_cwd(launcher.get(), description.directory->c_str());
  if (environment) {
    for (const auto& [key, value] : environment->entries()) {
      const std::string* text = value.asString();
      if (!text || key.empty() || key.find('=') != std::string::npos || hasNul(key) ||
          hasNul(*text))
        continue;
      g_subprocess_launcher_setenv(launcher.get(), key.c_str(), text->c_str(), TRUE);
    }
  }
  g_subprocess_launcher_set_child_setup(launcher.get(), childSetup,
                                        GINT_TO_POINTER(static_cast<gint>(getpid())), nullptr);
  std::vector<const gchar*> argv;
  argv.push_back(description.path.c_str());
  for (const auto& a : description.arguments) argv.push_back(a.c_str());
  argv.push_back(nullptr);

  g_autoptr(GError) spawnError = nullptr;
  GSubprocess* process = g_subprocess_launcher_spawnv(launcher.get(), argv.data(), &spawnError);
  if (!process) {
    error = spawnError ? spawnError->message : "unknown error";
    return nullptr;
  }
  std::shared_ptr<Run> run(new Run());
  run->process_.reset(process);
  run->capture_ = capture;
  run->owner_ = std::move(owner);
  if (capture) {
    GInputStream* out = g_subprocess_get_stdout_pipe(process);
    run->fd_ = out && G_IS_UNIX_INPUT_STREAM(out)
                   ? g_unix_input_stream_get_fd(G_UNIX_INPUT_STREAM(out))
                   : -1;
    if (run->fd_ >= 0 && g_unix_set_fd_nonblocking(run->fd_, TRUE, nullptr)) {
      run->source_ = g_unix_fd_add_full(
          G_PRIORITY_DEFAULT, run->fd_, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), onReadable,
          new std::weak_ptr<Run>(run),
          +[](gpointer data) { delete static_cast<std::weak_ptr<Run>*>(data); });
    } else {
      run->fd_ = -1;
    }
  }
  g_subprocess_wait_async(process, run->cancellable_.get(), onExited,
                          new std::shared_ptr<Run>(run));
  return run;
}

Task::Run::Drain Task::Run::drain(std::size_t limit) {
  char buffer[64 * 1024];
  std::size_t total = 0;
  while (total < limit) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      total += static_cast<std::size_t>(n);
      const std::size_t room = kMaxCapturedOutput - std::min(output_.size(), kMaxCapturedOutput);
      output_.append(buffer, std::min(room, static_cast<std::size_t>(n)));
      continue;
    }
    if (n == 0) return Drain::End;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Drain::WouldBlock;
    return Drain::End;
  }
  return Drain::More;
}

gboolean Task::Run::onReadable(gint, GIOCondition, gpointer data) {
  auto run = static_cast<std::weak_ptr<Run>*>(data)->lock();
  if (!run) return G_SOURCE_REMOVE;
  if (run->drain(kReadPerDispatch) != Drain::End) return G_SOURCE_CONTINUE;
  run->source_ = 0;
  return G_SOURCE_REMOVE;
}

void Task::Run::onExited(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::shared_ptr<Run>> holder(static_cast<std::shared_ptr<Run>*>(data));
  std::shared_ptr<Run> run = *holder;
  g_autoptr(GError) error = nullptr;
  if (!g_subprocess_wait_finish(G_SUBPROCESS(source), result, &error)) return;  // stopped
  GSubprocess* process = run->process_.get();
  int status = 0;
  if (g_subprocess_get_if_exited(process))
    status = g_subprocess_get_exit_status(process);
  else if (g_subprocess_get_if_signaled(process))
    status = 128 + g_subprocess_get_term_sig(process);

  std::optional<std::string> output;
  if (run->capture_) {
    if (run->source_) g_source_remove(run->source_);
    run->source_ = 0;
    // What the process wrote before it ended is in the pipe now; a process it left behind may
    // still hold the pipe open, so read what is there and no more.
    if (run->fd_ >= 0) run->drain(kMaxCapturedOutput + kReadPerDispatch);
    output = script::toValidUtf8(run->output_);
    run->output_.clear();
  }
  if (auto owner = std::static_pointer_cast<Task>(run->owner_.lock()))
    owner->ended(run, status, std::move(output));
}

// --- Task -----------------------------------------------------------------------------------

Task::Task(std::weak_ptr<bridge::WindowHandle> window) : bridge::Command(std::move(window)) {}

Task::~Task() {
  for (const auto& run : alive_) run->stop();
}

const bridge::ClassInfo& Task::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& Task::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Task>("Task")
          .summary("One external program at a time: describe it, launch it, and hear how it ended.")
          .method("createTask:withCallback:__JS_EXPORT_AS__create:", &Task::createTask)
          .doc({.summary = "Describes a new process running the program (a name without a slash is "
                           "looked up in PATH); gives this object.",
                .params = {"path",
                           "callback?: ((result: { status: number; stdOut: string | {}; stdIn: {}; "
                           "stdErr: {} }) => void) | null"},
                .result = "MacGapTask",
                .refused = "a missing callback keeps the current one"})
          .method("launch", &Task::launch)
          .doc({.summary =
                    "Starts the described process once; its end calls `callback` with the exit "
                    "status (128 + signal when killed) and, with `pipeOutput`, its output."})
          .method("terminate", &Task::terminate)
          .doc({.summary = "Sends SIGTERM to the process while `isRunning`."})
          .property("isRunning", &Task::isRunning)
          .doc(
              {.summary = "The process runs (with `waitUntilExit` false: only during the launch)."})
          .property("waitUntilExit", &Task::waitUntilExit, &Task::setWaitUntilExit)
          .doc({.summary =
                    "Keeps `isRunning` true until the process ends (the default); never blocks."})
          .property("pipeOutput", &Task::pipeOutput, &Task::setPipeOutput)
          .doc({.summary = "Captures the standard output for `callback` (set after `create`)."})
          .property("arguments", &Task::arguments, &Task::setArguments)
          .doc({.summary = "The process's arguments; null before `create`.",
                .result = "string[] | null",
                .refused = "an array with anything but strings is ignored"})
          .property("environment", &Task::environment, &Task::setEnvironment)
          .doc({.summary =
                    "Variables set on top of the application's environment for the next launch.",
                .result = "Record<string, string> | null"})
          .property("currentDirectoryPath", &Task::currentDirectoryPath,
                    &Task::setCurrentDirectoryPath)
          .doc({.summary = "The process's working directory; null for the application's.",
                .result = "string | null"})
          .property("callback", &Task::callback, &Task::setCallback)
          .doc({.summary = "Called once when the described process ends.",
                .result = "((result: { status: number; stdOut: string | {}; stdIn: {}; stdErr: {} "
                          "}) => void) | null"})
          .build();
  return info;
}

std::shared_ptr<Task> Task::createTask(std::optional<std::string> path,
                                       bridge::ScriptValue callback) {
  task_ = Description{path.value_or(std::string()), {}, std::nullopt};
  if (callback) callback_ = std::move(callback);
  environment_.reset();
  pipeOutput_ = false;  // a capture belonged to the previous description
  launched_ = false;
  isRunning_ = false;
  current_.reset();
  return std::static_pointer_cast<Task>(shared_from_this());
}

void Task::launch() {
  if (!task_ || launched_) return;
  isRunning_ = true;
  std::string error;
  auto run = Run::start(*task_, environment_, pipeOutput_, weak_from_this(), error);
  if (!run) {
    isRunning_ = false;
    WD_LOG_INFO("Task: {} could not be started: {}", task_->path, error);
    return;
  }
  launched_ = true;
  current_ = run;
  alive_.push_back(std::move(run));
  if (!waitUntilExit_) isRunning_ = false;
}

void Task::terminate() {
  if (isRunning_ && current_) current_->terminate();
}

void Task::setPipeOutput(bool pipe) {
  if (pipe && task_) pipeOutput_ = true;
}

bridge::Value Task::arguments() const {
  if (!task_) return bridge::Value(nullptr);
  bridge::ValueArray out;
  for (const auto& a : task_->arguments) out.emplace_back(a);
  return bridge::Value(std::move(out));
}

void Task::setArguments(std::optional<bridge::ValueArray> arguments) {
  if (!task_ || !arguments) return;
  std::vector<std::string> strings;
  for (const auto& a : *arguments) {
    const std::string* text = a.asString();
    if (!text || hasNul(*text)) {
      WD_LOG_INFO("Task: arguments must be strings without NUL characters; ignored");
      return;
    }
    strings.push_back(*text);
  }
  task_->arguments = std::move(strings);
}

bridge::Value Task::environment() const {
  return environment_ ? bridge::Value(*environment_) : bridge::Value(nullptr);
}

void Task::setEnvironment(std::optional<bridge::Dictionary> environment) {
  environment_ = std::move(environment);
}

bridge::Value Task::currentDirectoryPath() const {
  if (!task_ || !task_->directory) return bridge::Value(nullptr);
  return bridge::Value(*task_->directory);
}

void Task::setCurrentDirectoryPath(std::optional<std::string> path) {
  if (task_) task_->directory = std::move(path);
}

bridge::Value Task::callback() const {
  return callback_ ? bridge::Value(callback_) : bridge::Value(nullptr);
}

void Task::ended(const std::shared_ptr<Run>& run, int status, std::optional<std::string> output) {
  std::erase(alive_, run);
  if (run != current_) return;  // replaced by a later create: not reported
  bridge::Dictionary result{
      {"status", status},
      {"stdOut", output ? bridge::Value(std::move(*output)) : bridge::Value(bridge::Dictionary())},
      {"stdIn", bridge::Dictionary()},
      {"stdErr", bridge::Dictionary()}};
  // Reset before the call: the page may create the next process from inside its callback.
  bridge::ScriptValue callback = std::move(callback_);
  reset();
  callback.call({bridge::Value(std::move(result))});
}

void Task::reset() {
  task_.reset();
  callback_ = bridge::ScriptValue();
  isRunning_ = false;
  launched_ = false;
  environment_.reset();
  pipeOutput_ = false;
  current_.reset();
}

}  // namespace wd
