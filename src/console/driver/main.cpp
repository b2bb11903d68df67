// velmar: seismic site response of a layered viscoelastic medium.
// Reads the run deck from standard input and writes the results to the file
// the deck names. See README.md for the deck and the output layouts.
#include <iostream>
#include <memory>
#include <string_view>

#include "console/driver/run_stop.hpp"
#include "console/driver/run.hpp"
#include "console/driver/run_state.hpp"

namespace {

constexpr const char* USAGE =
    "usage: velmar < deck\n"
    "Reads the run deck from standard input and writes the results to the file named\n"
    "on the deck's first line. Options: --help, --version.\n";

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  if (argc > 1) {
    const std::string_view arg = argv[1];
    if (argc == 2 && arg == "--help") {
      std::cout << USAGE;
      return 0;
    }
    if (argc == 2 && arg == "--version") {
      std::cout << "velmar " << VELMAR_VERSION << '\n';
      return 0;
    }
    std::cerr << "velmar: unexpected argument '" << arg << "'\n" << USAGE;
    return velmar::console::EXIT_INPUT;
  }
  try {
    auto state = std::make_unique<velmar::console::RunState>();
    velmar::console::run_deck(std::cin, "standard input", *state);
  } catch (const velmar::console::RunStop& stop) {
    std::cout << stop.out_text() << std::flush;
    std::cerr << stop.err_text() << std::flush;
    return stop.status();
  } catch (const std::exception& e) {
    std::cerr << "velmar: " << e.what() << '\n';
    return velmar::console::EXIT_INPUT;
  }
  return 0;
}
