// The output file under faults: an injected write error, a file-size limit,
// a signal in the middle of the write and a second run on the same file each
// leave either every old byte or the whole new content, and no temporary file.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "e2e/velmar_run.hpp"

namespace velmar::e2e {
namespace {

// A transfer deck of `rows` rows of 31 bytes (a 30000-row table is 930000
// bytes, written in 15 chunks).
std::string table_deck(const std::string& out, int rows) {
  return out + "\n0 30.0\n1 1 1\n10.0 1.8 200.0 10.0 400.0 20.0\n0.0 2.2 1000.0 50.0 2000.0 100.0\n0\n0.0 " +
         std::to_string(rows) + ".0 1.0\n";
}

// Old content a user would hate to lose: random bytes, larger than the
// file-size limits used below.
std::string old_bytes() {
  std::mt19937 g(15);
  std::string s(20000, '\0');
  for (char& c : s) c = static_cast<char>(g() & 0xff);
  return s;
}

// The names in a folder, apart from the test's own files.
std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> v;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (n != ".deck" && n != ".stdout" && n != ".stderr") v.push_back(n);
  }
  std::sort(v.begin(), v.end());
  return v;
}

// Starts velmar in `dir` with `deck` on standard input and `env` ("NAME=value"
// entries) added to the environment; standard error goes to `err`.
pid_t start_velmar(const fs::path& dir, const std::string& deck, const std::vector<std::string>& env,
                   const std::string& err = "/dev/null") {
  const fs::path deck_path = dir / (".deck" + std::to_string(std::random_device{}()));
  write_file(deck_path, deck);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    const int in = open(deck_path.c_str(), O_RDONLY);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || e < 0 || dup2(in, 0) < 0 || dup2(e, 2) < 0) _exit(127);
    unlink(deck_path.c_str());
    for (const std::string& v : env) putenv(const_cast<char*>(v.c_str()));
    execl(VELMAR_EXE, VELMAR_EXE, static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

int wait_status(pid_t pid) {
  int raw = 0;
  waitpid(pid, &raw, 0);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
}

// The output of a clean run of `deck`, for comparison.
std::string clean_output(const std::string& deck) {
  ScratchDir d;
  EXPECT_EQ(run_velmar(d.path(), deck).status, 0);
  return read_file(d / "out.txt");
}

class InjectedWriteError : public ::testing::TestWithParam<int> {};

// The write fails after 0 bytes, inside the first chunk and after several chunks.
TEST_P(InjectedWriteError, LeavesEveryOldByteAndNoTemporaryFile) {
  ScratchDir d;
  const std::string old = old_bytes();
  write_file(d / "out.txt", old);
  const RunResult r = run_velmar(d.path(), table_deck("out.txt", 30000),
                                 "", "VELMAR_TEST_WRITE_FAIL_AFTER=" + std::to_string(GetParam()));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "standard input:1: cannot write the output file (Input/output error): 'out.txt'\n");
  EXPECT_EQ(read_file(d / "out.txt"), old);
  EXPECT_EQ(names_in(d.path()), std::vector<std::string>{"out.txt"});
}

INSTANTIATE_TEST_SUITE_P(Bytes, InjectedWriteError, ::testing::Values(0, 1000, 200000),
                         [](const auto& info) { return "After" + std::to_string(info.param); });

TEST(OutputFileFaults, FileSizeLimitWithItsSignalInPlaceGivesAMessage) {
  // No trap: the program itself must turn SIGXFSZ into a failed write.
  ScratchDir d;
  const std::string old = old_bytes();
  write_file(d / "out.txt", old);
  write_file(d / ".deck", table_deck("out.txt", 30000));
  const std::string cmd = "cd '" + d.path().string() + "' && sh -c 'ulimit -f 8; exec \"" +
                          std::string(VELMAR_EXE) + "\" < .deck > .stdout 2> .stderr'";
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 2);
  EXPECT_EQ(read_file(d / ".stderr"), "standard input:1: cannot write the output file (File too large): 'out.txt'\n");
  EXPECT_EQ(read_file(d / "out.txt"), old);
  EXPECT_EQ(names_in(d.path()), std::vector<std::string>{"out.txt"});
}

class SignalDuringWrite : public ::testing::TestWithParam<int> {};

TEST_P(SignalDuringWrite, EndsTheRunAndLeavesEveryOldByte) {
  ScratchDir d;
  const std::string old = old_bytes();
  write_file(d / "out.txt", old);
  const pid_t pid = start_velmar(d.path(), table_deck("out.txt", 30000), {"VELMAR_TEST_WRITE_PAUSE_MS=100"});
  // Wait for the temporary output file: the write has begun. (Not just any
  // second name: until the child has opened and unlinked its deck, the deck
  // is one, and a signal then would leave it behind.)
  bool writing = false;
  for (int k = 0; k < 500 && !writing; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (const std::string& n : names_in(d.path())) writing = writing || n.rfind(".out.txt.velmar-", 0) == 0;
  }
  kill(pid, GetParam());
  EXPECT_TRUE(writing) << "no temporary file appeared";
  EXPECT_EQ(wait_status(pid), 128 + GetParam());  // ended by the signal, as it would have been
  EXPECT_EQ(read_file(d / "out.txt"), old);
  EXPECT_EQ(names_in(d.path()), std::vector<std::string>{"out.txt"});
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringWrite, ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGALRM, SIGUSR1),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST(OutputFileFaults, TwoRunsOnOneFileLeaveOneWholeResult) {
  const std::string a = table_deck("out.txt", 20000);
  const std::string b = table_deck("out.txt", 30000);
  const std::string want_a = clean_output(a);
  const std::string want_b = clean_output(b);
  ScratchDir d;
  write_file(d / "out.txt", old_bytes());
  const pid_t pa = start_velmar(d.path(), a, {"VELMAR_TEST_WRITE_PAUSE_MS=20"});
  const pid_t pb = start_velmar(d.path(), b, {"VELMAR_TEST_WRITE_PAUSE_MS=20"});
  EXPECT_EQ(wait_status(pa), 0);
  EXPECT_EQ(wait_status(pb), 0);
  const std::string got = read_file(d / "out.txt");
  EXPECT_TRUE(got == want_a || got == want_b) << "a mixed file of " << got.size() << " bytes";
  EXPECT_EQ(names_in(d.path()), std::vector<std::string>{"out.txt"});
}

TEST(OutputFileReplace, LinksAreFollowedAndTheirTargetsReplaced) {
  ScratchDir d;
  const std::string want = clean_output(table_deck("out.txt", 3));
  fs::create_directory(d / "real");
  write_file(d / "real" / "target.txt", "old\n");
  fs::create_symlink("real/target.txt", d / "hop.txt");
  fs::create_symlink("hop.txt", d / "out.txt");            // a chain of two relative links
  fs::create_symlink("real/new.txt", d / "dangling.txt");  // a link to a file not yet there
  ASSERT_EQ(run_velmar(d.path(), table_deck("out.txt", 3)).status, 0);
  ASSERT_EQ(run_velmar(d.path(), table_deck("dangling.txt", 3)).status, 0);
  EXPECT_TRUE(fs::is_symlink(d / "out.txt"));
  EXPECT_TRUE(fs::is_symlink(d / "hop.txt"));
  EXPECT_EQ(read_file(d / "real" / "target.txt"), want);
  EXPECT_EQ(read_file(d / "real" / "new.txt"), want);
  EXPECT_EQ(names_in(d / "real"), (std::vector<std::string>{"new.txt", "target.txt"}));
}

TEST(OutputFileReplace, PermissionBitsAreKeptAndOnlyTheFolderMustBeWritable) {
  const std::string want = clean_output(table_deck("out.txt", 3));
  for (const fs::perms mode : {fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                               fs::perms::owner_read | fs::perms::others_read, fs::perms::none}) {
    ScratchDir d;
    write_file(d / "out.txt", "old\n");
    fs::permissions(d / "out.txt", mode);
    const RunResult r = run_velmar(d.path(), table_deck("out.txt", 3));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::status(d / "out.txt").permissions(), mode);
    fs::permissions(d / "out.txt", fs::perms::owner_read, fs::perm_options::add);
    EXPECT_EQ(read_file(d / "out.txt"), want);
  }
}

TEST(OutputFileReplace, AnExistingFileInAReadOnlyFolderIsRefusedBeforeComputing) {
  if (geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root from writing";
  ScratchDir d;
  fs::create_directory(d / "ro");
  write_file(d / "ro" / "out.txt", "old\n");
  fs::permissions(d / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  const RunResult r = run_velmar(d.path(), table_deck("ro/out.txt", 3));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "standard input:1: the output file's folder is not writable (Permission denied): 'ro/out.txt'\n");
  EXPECT_EQ(read_file(d / "ro" / "out.txt"), "old\n");
}

TEST(OutputFileDirect, AFifoGetsTheWholeTableAtTheEnd) {
  ScratchDir d;
  const std::string want = clean_output(table_deck("out.txt", 3000));
  ASSERT_EQ(mkfifo((d / "pipe").c_str(), 0600), 0);
  write_file(d / ".deck", table_deck("pipe", 3000));
  const std::string cmd = "cd '" + d.path().string() + "' && { '" + std::string(VELMAR_EXE) +
                          "' < .deck 2> .stderr & cat pipe > got.txt; wait $!; }";
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0) << read_file(d / ".stderr");
  EXPECT_EQ(read_file(d / "got.txt"), want);
}

TEST(OutputFileDirect, DevStdoutWritesAfterWhatTheShellWrote) {
  ScratchDir d;
  const std::string want = clean_output(table_deck("out.txt", 3));
  write_file(d / ".deck", table_deck("/dev/stdout", 3));
  const std::string cmd = "cd '" + d.path().string() + "' && { echo before; '" + std::string(VELMAR_EXE) +
                          "' < .deck; echo after; } > got.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(read_file(d / "got.txt"), "before\n" + want + "after\n");
}

}  // namespace
}  // namespace velmar::e2e
