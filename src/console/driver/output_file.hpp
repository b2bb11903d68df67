// output_file.hpp: the result file of a run.
//
// The file is opened when the deck names it, before anything else is read:
// created empty if missing, an existing file left as it is. At the end of a
// complete run its whole new content is written to a temporary file in the
// same folder, flushed to disk and renamed over the output file, so the file
// holds either all of its old bytes or all of the new ones, whatever happens
// during the write (an I/O error, a full disk, a file-size limit, a signal,
// a second run replacing the same file).
//
// A symbolic link is resolved first and its target is replaced; the new file
// gets the old file's permission bits. Only the folder must be writable.
//
// A name that exists but is not a regular file (a FIFO, a terminal, a device
// such as /dev/null or /dev/full, /dev/stdout) is written directly, once, at
// the end of a complete run; nothing can be replaced there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar::console {

class LineSource;

// Test hooks of the writer, off unless a test sets them (see
// write_hooks_from_environment): a write that fails with EIO once
// `fail_after` bytes are written (negative: never), and a pause of
// `pause_ms` milliseconds after each chunk (so a test can signal a run in
// the middle of its write).
struct WriteHooks {
  std::int64_t fail_after = -1;
  int pause_ms = 0;
};

// Reads VELMAR_TEST_WRITE_FAIL_AFTER (bytes) and VELMAR_TEST_WRITE_PAUSE_MS
// (milliseconds) from the environment; a variable that is missing or not a
// plain non-negative number leaves its hook off.
WriteHooks write_hooks_from_environment();

class OutputFile {
 public:
  // Resolves `name` (read on line `line` of `deck`), creates the file when it
  // is missing and checks that it can be replaced: a failure throws the input
  // error for that line. Reads the test hooks from the environment.
  void open(const std::string& name, const LineSource& deck, std::int64_t line);
  // Replaces the file's content with `text` as a whole. A failure leaves the
  // old file as it was, removes the temporary file and throws RunStop
  // (status 2) with "<source>:<line>: cannot write the output file (<reason>): '<name>'".
  void replace_content(std::string_view text);
  void set_write_hooks(const WriteHooks& hooks) { hooks_ = hooks; }

 private:
  [[noreturn]] void fail_write(int err) const;
  void write_direct(std::string_view text) const;

  std::string name_;    // as the deck gives it, for messages
  std::string target_;  // the file replaced: the name with its links resolved
  bool direct_ = false;  // not a regular file: written directly, not replaced
  int descriptor_ = -1;  // a direct name standing for a descriptor this process holds (/dev/stdout)
  std::string source_;   // the deck's name and the line of the file name, for messages
  std::int64_t line_ = 0;
  WriteHooks hooks_;
};

}  // namespace velmar::console
