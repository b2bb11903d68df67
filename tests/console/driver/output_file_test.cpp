#include "console/driver/output_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "console/driver/run_stop.hpp"
#include "console/driver/text_input.hpp"

namespace velmar::console {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("velmar-output-file-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
    std::ofstream(dir_ / "out.txt", std::ios::binary) << "old content\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Opens out.txt as line 1 of a deck named "deck" would.
  void open(OutputFile& out) {
    std::istringstream in;
    const LineSource deck(in, "deck");
    out.open((dir_ / "out.txt").string(), deck, 1);
  }

  fs::path dir_;
};

TEST_F(OutputFileTest, AFailedWriteKeepsTheOldFileAndRemovesTheTemporaryOne) {
  for (const std::int64_t after : {0, 5, 100000}) {
    OutputFile out;
    open(out);
    out.set_write_hooks({after, 0});
    try {
      out.replace_content(std::string(200000, 'n'));
      FAIL() << "no stop after " << after;
    } catch (const RunStop& e) {
      EXPECT_EQ(e.status(), EXIT_INPUT);
      EXPECT_EQ(e.err_text(), "deck:1: cannot write the output file (Input/output error): '" +
                                  quote_text((dir_ / "out.txt").string()).substr(1) + "\n");
    }
    EXPECT_EQ(contents(dir_ / "out.txt"), "old content\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  }
}

TEST_F(OutputFileTest, ANewContentReplacesTheOldWhollyShorterOrLonger) {
  for (const std::string& text : {std::string(), std::string("new\n"), std::string(300000, 'x')}) {
    OutputFile out;
    open(out);
    out.replace_content(text);
    EXPECT_EQ(contents(dir_ / "out.txt"), text);
  }
}

}  // namespace
}  // namespace velmar::console
