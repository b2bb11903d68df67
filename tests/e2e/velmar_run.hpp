// Runs the velmar executable as a user would: a deck on standard input, in a
// scratch folder, capturing standard output, standard error and the exit status.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace velmar::e2e {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_file(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("velmar-e2e-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// Runs velmar in `dir` with `deck` (raw bytes) on standard input; `env` is
// put before the command ("NAME=value ...").
inline RunResult run_velmar(const fs::path& dir, const std::string& deck, const std::string& args = "",
                            const std::string& env = "") {
  write_file(dir / ".deck", deck);
  const std::string cmd = "cd '" + dir.string() + "' && " + env + " '" + std::string(VELMAR_EXE) + "' " + args +
                          " < .deck > .stdout 2> .stderr";
  const int raw = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
  r.out = read_file(dir / ".stdout");
  r.err = read_file(dir / ".stderr");
  fs::remove(dir / ".deck");
  fs::remove(dir / ".stdout");
  fs::remove(dir / ".stderr");
  return r;
}

// Number of lines in a text.
inline int count_lines(const std::string& s) {
  int n = 0;
  for (char c : s) n += (c == '\n');
  return n;
}

}  // namespace velmar::e2e

namespace velmar::e2e {

// A signal-run output: the header's NFFT and DT, then the histories' values
// and the number of values on each line.
struct Histories {
  int nfft = 0;
  double dt = 0;
  std::vector<double> values;
  std::vector<int> per_line;
};

inline Histories parse_histories(const std::string& text) {
  Histories h;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line)) return h;
  h.nfft = std::stoi(line.substr(0, 10));
  h.dt = std::stod(line.substr(10, 10));
  while (std::getline(in, line)) {
    int n = 0;
    for (std::size_t p = 0; p + 12 <= line.size(); p += 12, ++n) h.values.push_back(std::stod(line.substr(p, 12)));
    h.per_line.push_back(n);
  }
  return h;
}

// Each value of a signal file, one per line.
inline std::string record_text(const std::vector<double>& v) {
  std::ostringstream s;
  s.precision(9);
  for (double x : v) s << x << '\n';
  return s.str();
}

}  // namespace velmar::e2e
