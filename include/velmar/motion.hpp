// motion.hpp: acceleration records and their propagation through a profile.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "velmar/response.hpp"

namespace velmar {

// Standard gravity, m/s2: records in g are converted with it.
constexpr double STANDARD_GRAVITY = 9.80665;

// An acceleration history sampled every dt seconds, in `units` ("g", "m/s2"
// or "cm/s2").
struct Record {
  std::vector<double> accel;
  double dt = 0.0;
  std::string units = "g";
  std::string name;
};

// m/s2 per unit of `units`; throws InvalidArgument for another name.
double acceleration_unit(std::string_view units);

// Checks a record: at least one sample, every sample finite, dt finite and
// above 0, known units. Throws InvalidArgument naming the first fault.
void check_record(const Record& record);

// Reads an acceleration record. Formats, recognised from the content:
//   - PEER NGA .AT2: four header lines, the fourth "NPTS=  5590, DT=   .0050 SEC"
//     or "4096    0.0100    NPTS, DT", then the values in g; a value count
//     other than NPTS is refused;
//   - two columns, time and value, with or without a header line (dt from the
//     times, which must rise evenly);
//   - one column of values (dt must be given).
// A dt given (> 0) overrides the file's. Throws FileError for a file that
// cannot be read or holds something else, InvalidArgument for a bad dt.
Record read_record(const std::string& path, double dt = 0.0, std::string units = "g");

// Where the record was observed.
enum class InputMotion {
  INCIDENT,  // the up-going wave at the top of the half-space
  OUTCROP,   // at an outcrop of the half-space's rock: 2 x incident
  WITHIN,    // the total motion at input_depth inside the profile (borehole)
};
InputMotion input_motion_from_name(std::string_view name);  // "incident", "outcrop", "within"

struct PropagateOptions {
  WaveSetup setup;
  InputMotion input = InputMotion::OUTCROP;
  double input_depth = 0.0;  // m, for WITHIN
  double depth = 0.0;        // m, where the output is wanted
  Quantity quantity = Quantity::ACCELERATION;
  std::optional<Component> component;  // default: the wave's own (see transfer)
  double scale = 1.0;                  // multiplies the record
};

// The history of `quantity` at `depth` when the record (times scale) is the
// input motion: acceleration in the record's units, velocity in m/s,
// displacement in m, strain as a plain ratio (du/dz), stress in kPa (with
// density in t/m3). Same length and step as the record. The record is padded
// with zeros to the shortest length 2^k or 3 2^k at least twice its own
// before the transform, so the response does not wrap around; velocity and displacement are integrated in
// the frequency domain (their mean over the padded window is zero). For a
// WITHIN input the spectrum is divided by the response at input_depth with a
// floor of 1e-7 on its squared modulus.
std::vector<double> propagate(const Record& record, const Profile& profile,
                              const PropagateOptions& options);

}  // namespace velmar
