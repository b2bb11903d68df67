#include "console/driver/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "console/driver/run_stop.hpp"
#include "console/driver/text_input.hpp"

namespace velmar::console {

namespace fs = std::filesystem;

namespace {

// The temporary file being written, where a signal handler can reach it. A
// handler may only make async-signal-safe calls on state it can see, so the
// path lives in a fixed buffer and its validity in a sig_atomic_t flag: the
// only static state the program changes. The flag is set and cleared with
// the handled signals blocked.
constexpr std::size_t TEMP_PATH_CAPACITY = 4096;
char temp_path[TEMP_PATH_CAPACITY];
volatile std::sig_atomic_t temp_armed = 0;

// Signals whose default action ends the process: while writing, they first
// remove the temporary file. And signals ignored while writing, so that the
// write fails with EFBIG (past the file-size limit) or EPIPE (a FIFO whose
// reader has gone) and gets a message.
constexpr std::array<int, 7> ENDING_SIGNALS = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2};
constexpr std::array<int, 2> IGNORED_SIGNALS = {SIGXFSZ, SIGPIPE};

extern "C" void remove_temp_and_reraise(int sig) {
  if (temp_armed != 0) ::unlink(temp_path);
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // delivered with the default action when the handler returns
}

sigset_t ending_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : ENDING_SIGNALS) sigaddset(&set, sig);
  return set;
}

// Blocks the ending signals for its lifetime, so that the temporary file's
// name and the flag that arms it change together.
class BlockedSignals {
 public:
  BlockedSignals() {
    const sigset_t set = ending_set();
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~BlockedSignals() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

 private:
  sigset_t old_;
};

// The signal dispositions of a write, installed for its lifetime and then
// restored. An ending signal that was ignored when the program started
// (nohup) stays ignored.
class WriteSignals {
 public:
  WriteSignals() {
    struct sigaction act {};
    act.sa_handler = remove_temp_and_reraise;
    act.sa_mask = ending_set();
    for (std::size_t k = 0; k < ENDING_SIGNALS.size(); ++k) {
      sigaction(ENDING_SIGNALS[k], nullptr, &old_ending_[k]);
      if (old_ending_[k].sa_handler != SIG_IGN) sigaction(ENDING_SIGNALS[k], &act, nullptr);
    }
    struct sigaction ign {};
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    for (std::size_t k = 0; k < IGNORED_SIGNALS.size(); ++k) sigaction(IGNORED_SIGNALS[k], &ign, &old_ignored_[k]);
  }
  ~WriteSignals() {
    for (std::size_t k = 0; k < ENDING_SIGNALS.size(); ++k) sigaction(ENDING_SIGNALS[k], &old_ending_[k], nullptr);
    for (std::size_t k = 0; k < IGNORED_SIGNALS.size(); ++k) sigaction(IGNORED_SIGNALS[k], &old_ignored_[k], nullptr);
  }
  WriteSignals(const WriteSignals&) = delete;
  WriteSignals& operator=(const WriteSignals&) = delete;

 private:
  std::array<struct sigaction, ENDING_SIGNALS.size()> old_ending_{};
  std::array<struct sigaction, IGNORED_SIGNALS.size()> old_ignored_{};
};

// A temporary file beside the output file, removed on destruction unless
// commit() renamed it over the output file.
class TempFile {
 public:
  // Creates "<folder>/.<base>.velmar-XXXXXX" (mode 0600); on failure fd() is
  // negative and error() holds the reason.
  TempFile(const std::string& folder, const std::string& base) {
    // A long base name would push the temporary name past the name limit.
    constexpr std::size_t MAX_BASE = 200;
    const std::string name = folder + "/." + (base.size() > MAX_BASE ? std::string("velmar") : base) + ".velmar-XXXXXX";
    if (name.size() >= TEMP_PATH_CAPACITY) {
      err_ = ENAMETOOLONG;
      return;
    }
    const BlockedSignals blocked;
    std::memcpy(temp_path, name.c_str(), name.size() + 1);
    fd_ = ::mkostemp(temp_path, O_CLOEXEC);
    if (fd_ < 0) {
      err_ = errno;
    } else {
      temp_armed = 1;
    }
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    const BlockedSignals blocked;
    if (temp_armed != 0) ::unlink(temp_path);
    temp_armed = 0;
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  int error() const { return err_; }

  // Flushes the content to disk, closes the file and renames it over
  // `target`. Returns 0 or the error number (the file is then still removed
  // by the destructor).
  int commit(const std::string& target) {
    if (::fsync(fd_) != 0 && errno != EINVAL) return errno;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return errno;
    const BlockedSignals blocked;
    if (::rename(temp_path, target.c_str()) != 0) return errno;
    temp_armed = 0;
    return 0;
  }

 private:
  int fd_ = -1;
  int err_ = 0;
};

// Writes all of `text` to `fd` in chunks. Returns 0 or the error number.
int write_all(int fd, std::string_view text, const WriteHooks& hooks) {
  constexpr std::size_t CHUNK = std::size_t{1} << 16;
  std::size_t done = 0;
  while (done < text.size()) {
    std::size_t n = std::min(CHUNK, text.size() - done);
    if (hooks.fail_after >= 0) {
      const auto limit = static_cast<std::size_t>(hooks.fail_after);
      if (done >= limit) return EIO;
      n = std::min(n, limit - done);
    }
    const ssize_t w = ::write(fd, text.data() + done, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(w);
    if (hooks.pause_ms > 0) {
      const timespec pause{hooks.pause_ms / 1000, static_cast<long>(hooks.pause_ms % 1000) * 1000000L};
      ::nanosleep(&pause, nullptr);
    }
  }
  return 0;
}

// Gives the new file the old file's permission bits (and, where the system
// allows it, its group and owner); a file that has gone meanwhile gives the
// bits a newly created file would get.
int copy_mode(int fd, const std::string& target) {
  struct stat st {};
  mode_t mode = 0;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
      [[maybe_unused]] const int ignored = ::fchown(fd, st.st_uid, st.st_gid);
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  return ::fchmod(fd, mode) == 0 ? 0 : errno;
}

// Flushes a folder's entries to disk after a rename; a file system that
// cannot do it is left as it is.
void sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The path of the file a name stands for: every symbolic link on the way,
// the last component's included, is followed. `via_proc` is set when the
// path leads into /proc (/dev/stdout, /dev/fd/N): such a name stands for an
// open descriptor, not for a file that can be replaced.
struct Resolved {
  fs::path path;
  bool via_proc = false;
  std::error_code ec;
  int descriptor = -1;  // N when the name stands for this process's descriptor N
};

// The descriptor number a path into /proc stands for: N of
// /proc/<this process>/fd/N, or -1.
int own_descriptor(const fs::path& folder, const fs::path& file) {
  if (folder != fs::path("/proc/" + std::to_string(::getpid()) + "/fd")) return -1;
  const std::string f = file.string();
  int n = -1;
  const auto [ptr, ec] = std::from_chars(f.data(), f.data() + f.size(), n);
  return (ec == std::errc() && ptr == f.data() + f.size() && n >= 0) ? n : -1;
}

Resolved resolve_links(const std::string& name) {
  constexpr int MAX_LINK_HOPS = 40;
  fs::path p = name;
  for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
    const fs::path parent = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    std::error_code ec;
    const fs::path folder = fs::canonical(parent, ec);
    if (ec) return {p, false, ec};
    if (folder.string().starts_with("/proc/")) return {p, true, {}, own_descriptor(folder, p.filename())};
    p = folder / p.filename();
    if (!fs::is_symlink(p, ec)) return {p, false, {}};
    const fs::path link = fs::read_symlink(p, ec);
    if (ec) return {p, false, ec};
    p = link.is_absolute() ? link : folder / link;
  }
  return {p, false, std::make_error_code(std::errc::too_many_symbolic_link_levels)};
}

// A non-negative integer held by environment variable `var`, or -1.
std::int64_t env_count(const char* var) {
  const char* v = std::getenv(var);
  if (v == nullptr || *v == '\0') return -1;
  std::int64_t n = -1;
  const char* end = v + std::strlen(v);
  const auto [ptr, ec] = std::from_chars(v, end, n);
  return (ec == std::errc() && ptr == end && n >= 0) ? n : -1;
}

}  // namespace

WriteHooks write_hooks_from_environment() {
  constexpr std::int64_t MAX_PAUSE_MS = 10000;
  WriteHooks h;
  h.fail_after = env_count("VELMAR_TEST_WRITE_FAIL_AFTER");
  const std::int64_t pause = env_count("VELMAR_TEST_WRITE_PAUSE_MS");
  h.pause_ms = static_cast<int>(std::clamp<std::int64_t>(pause, 0, MAX_PAUSE_MS));
  return h;
}

void OutputFile::open(const std::string& name, const LineSource& deck, std::int64_t line) {
  name_ = name;
  source_ = deck.name();
  line_ = line;
  hooks_ = write_hooks_from_environment();
  std::error_code ec;
  if (fs::is_directory(name, ec)) deck.fail(line, "the output file name names a folder", name);
  // A deck redirected from a file that names itself as the output: a complete
  // run would replace the deck with its results.
  if (fs::equivalent("/dev/stdin", name, ec)) {
    deck.fail(line, "the output file is the deck on standard input (the run would overwrite it)", name);
  }
  const Resolved r = resolve_links(name);
  if (r.ec) deck.fail(line, "cannot create the output file (" + r.ec.message() + ")", name);
  target_ = r.path.string();
  descriptor_ = r.descriptor;
  struct stat st {};
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (r.via_proc || (exists && !S_ISREG(st.st_mode))) {
    // Written directly at the end; opening a FIFO now would wait for its reader.
    direct_ = true;
    if (::access(name.c_str(), W_OK) != 0) {
      deck.fail(line, std::string("cannot open the output file for writing (") + std::strerror(errno) + ")", name);
    }
    return;
  }
  if (!exists) {
    // Created empty now, as the run starts; never truncated here.
    const int fd = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) deck.fail(line, std::string("cannot create the output file (") + std::strerror(errno) + ")", name);
    ::close(fd);
  }
  // The new content is renamed into the folder: it, not the file, must be writable.
  const std::string folder = r.path.parent_path().string();
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    deck.fail(line, std::string("the output file's folder is not writable (") + std::strerror(errno) + ")", name);
  }
}

void OutputFile::fail_write(int err) const {
  fail_at(source_, line_, std::string("cannot write the output file (") + std::strerror(err) + ")", name_);
}

void OutputFile::write_direct(std::string_view text) const {
  const WriteSignals signals;
  if (descriptor_ >= 0) {
    // /dev/stdout and the like: the descriptor the process already holds,
    // at its own offset, so output the shell wrote before ours stays.
    if (const int err = write_all(descriptor_, text, hooks_)) fail_write(err);
    return;
  }
  const int fd = ::open(name_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) fail_write(errno);
  int err = write_all(fd, text, hooks_);
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) fail_write(err);
}

void OutputFile::replace_content(std::string_view text) {
  if (direct_) {
    write_direct(text);
    return;
  }
  const fs::path target(target_);
  const std::string folder = target.parent_path().string();
  const WriteSignals signals;
  TempFile temp(folder, target.filename().string());
  if (temp.fd() < 0) fail_write(temp.error());
  int err = write_all(temp.fd(), text, hooks_);
  if (err == 0) err = copy_mode(temp.fd(), target_);
  if (err == 0) err = temp.commit(target_);
  if (err != 0) fail_write(err);
  sync_folder(folder);
}

}  // namespace velmar::console
