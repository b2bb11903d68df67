#include "driver/output_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/run_stop.hpp"
#include "driver/text_input.hpp"

namespace velmar {

namespace fs = std::filesystem;

namespace {

// Makes sure the disk holds `size` bytes for the file before any old byte is
// overwritten: a full disk, a quota or a file-size limit then fails the run
// while the old content is still whole. Returns 0 or the error number; a file
// system that cannot reserve space (or a file that cannot be opened here)
// gives 0, and the write itself is then the only test.
int reserve_space(const std::string& name, std::size_t size) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  const int err = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
  ::close(fd);
  return (err == ENOSPC || err == EFBIG || err == EDQUOT) ? err : 0;
}

}  // namespace

void OutputFile::open(const std::string& name, const LineSource& deck, int line) {
  name_ = name;
  std::error_code ec;
  if (fs::is_directory(name, ec)) deck.fail(line, "the output file name names a folder", name);
  // A deck redirected from a file that names itself as the output: a complete
  // run would replace the deck with its results.
  if (fs::equivalent("/dev/stdin", name, ec)) {
    deck.fail(line, "the output file is the deck on standard input (the run would overwrite it)", name);
  }
  errno = 0;
  if (!fs::exists(name, ec)) {
    // Create it without touching anything else: append mode never truncates.
    std::ofstream create(name, std::ios::out | std::ios::app);
    if (!create) {
      const int err = errno;
      deck.fail(line, std::string("cannot create the output file (") +
                          (err ? std::strerror(err) : "open failed") + ")", name);
    }
  }
  errno = 0;
  file_.open(name, std::ios::in | std::ios::out | std::ios::binary);
  if (!file_) {
    const int err = errno;
    deck.fail(line, std::string("cannot open the output file for writing (") +
                        (err ? std::strerror(err) : "open failed") + ")", name);
  }
}

void OutputFile::replace_content(const std::string& text) {
  std::error_code size_ec;
  if (fs::is_regular_file(name_, size_ec)) {
    const std::uintmax_t old_size = fs::file_size(name_, size_ec);
    if (!size_ec && text.size() > old_size) {
      if (const int err = reserve_space(name_, text.size())) {
        fs::resize_file(name_, old_size, size_ec);  // undo any growth: the old bytes stay as they were
        throw RunStop(EXIT_INPUT, {}, name_ + ": cannot write the output file (" + std::strerror(err) + ")\n");
      }
    }
  }
  errno = 0;
  file_.seekp(0);
  file_.write(text.data(), static_cast<std::streamsize>(text.size()));
  file_.flush();
  const bool ok = static_cast<bool>(file_);
  const int write_err = errno;
  file_.close();
  std::error_code ec;
  if (ok && fs::is_regular_file(name_, ec)) fs::resize_file(name_, text.size(), ec);
  if (!ok || ec) {
    // The reason the system gave (a full disk, a quota), so the user can act on it.
    const std::string why = ec ? ec.message() : (write_err ? std::strerror(write_err) : "write failed");
    throw RunStop(EXIT_INPUT, {}, name_ + ": cannot write the output file (" + why + ")\n");
  }
}

}  // namespace velmar
