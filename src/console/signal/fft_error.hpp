// fft_error.hpp: how the float transform and its set-up fail. They report a
// plain error and leave it to their caller to say what it means for a run
// (the console's driver turns it into its limit stop or radix stop).
#pragma once

#include <stdexcept>

namespace velmar::console {

class FftError : public std::runtime_error {
 public:
  enum class Kind {
    LENGTH,  // a length with a prime factor other than 2, 3 and 5 ("FACTORIZATION FAILED IN FACTOR")
    RADIX,   // a factor list with a radix no pass serves ("radix one encountered")
  };
  FftError(Kind kind, const char* what) : std::runtime_error(what), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

}  // namespace velmar::console
