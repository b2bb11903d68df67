// errors.hpp: the exceptions the library throws.
//
// Every failure of a library call is an exception; the library never ends the
// process. Messages name the argument and the offending value
// ("vs[3] must be above 0, got -120").
#pragma once

#include <stdexcept>
#include <string>

namespace velmar {

// A value or combination of values with no meaning (a negative velocity, an
// angle at 90 degrees, arrays of different lengths, an unknown name).
class InvalidArgument : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A file that cannot be opened, read or written, or whose content is not
// what its format promises.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velmar
