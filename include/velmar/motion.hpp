// motion.hpp: acceleration records and their propagation through a profile.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "velmar/response.hpp"

namespace velmar {

// Standard gravity, m/s2: records in g are converted with it.
constexpr double STANDARD_GRAVITY = 9.80665;

// The sample intervals a record may have, s: every accelerogram lies within
// them, and n * dt stays finite for any sample count.
constexpr double MIN_RECORD_DT = 1e-6;
constexpr double MAX_RECORD_DT = 10.0;

// The largest record file read_record reads, bytes (a device or pipe is read
// up to this many bytes and no further).
constexpr std::size_t MAX_RECORD_FILE_BYTES = std::size_t{256} << 20;

// An acceleration history sampled every dt seconds, in `units` ("g", "m/s2"
// or "cm/s2").
struct Record {
  std::vector<double> accel;
  double dt = 0.0;
  std::string units = "g";
  std::string name;
  // What the file says of the record, where its format says it (else ""):
  // the event (an AT2 file's second line, a COSMOS file's second line, a
  // K-NET file's origin time and magnitude), the station and the component
  // (direction or channel).
  std::string description;
  std::string station;
  std::string component;
};

// The canonical name, "g", "m/s2" or "cm/s2", of an acceleration unit. Case
// is ignored, and "m/s^2", "m/s**2", "m/s/s", "m/sec2" ... and "gal",
// "cm/s^2", "cm/s/s", "cm/sec/sec" ... are accepted. Throws InvalidArgument
// for another name. This one table serves every door (C++, Python, files).
std::string_view acceleration_unit_name(std::string_view units);

// m/s2 per unit of `units` (any spelling acceleration_unit_name accepts).
double acceleration_unit(std::string_view units);

// Throws InvalidArgument unless MIN_RECORD_DT <= dt <= MAX_RECORD_DT.
void check_record_dt(double dt);

// Checks a record: at least one sample, every sample finite, dt within
// [MIN_RECORD_DT, MAX_RECORD_DT], known units. Throws InvalidArgument naming
// the first fault.
void check_record(const Record& record);

// The acceleration units that header lines name (canonical), or "" when they
// name none. A statement ("UNITS: G", "UNITS = CM/S/S", "IN UNITS OF G") wins
// over units merely mentioned ("PEAK 245.2 CM/S/S", "in gal", "0.25 G").
// Throws InvalidArgument for statements, or (without a statement) mentions,
// that disagree, for a stated unit that is unknown, and for a header that
// names a velocity or displacement rather than an acceleration.
std::string header_units(std::string_view text);

// Reads an acceleration record from a text file. After `skip_header` lines,
// the lines before the first line of numbers are the header; the layout of
// the numbers is recognised:
//   - PEER NGA .AT2: four header lines, the fourth "NPTS=  5590, DT=   .0050 SEC"
//     or "4096    0.0100    NPTS, DT", then the values several to a line; a
//     header with NPTS= and DT= anywhere is read the same way;
//   - a line of two numbers "N DT" (a count and a step, as a PEER fourth line
//     "4096    0.0100" or the line after a title), then N values or N time,
//     value pairs;
//   - time, value pairs, the times rising by one step (dt from the times);
//   - one value a line (dt from the header, or given);
//   - COSMOS V2 (processed "volume 2" files): text header, integer and real
//     header blocks, then the acceleration block "N acceleration pts, approx
//     T secs, units=cm/sec2 (04), Format=(8F10.5)" in fixed-width columns; dt
//     is the real header's time increment (value 62), which must agree with
//     the block's stated duration; the units are the block's; the event is
//     the second text line, the station the fifth;
//   - K-NET / KiK-net ASCII: the header lines "Sampling Freq(Hz)" and "Scale
//     Factor" ("7845(gal)/8223790"), then counts after the "Memo." line,
//     multiplied by the factor, less their mean (as the network documents);
//     units gal (cm/s2); station from "Station Code", component from "Dir.".
// Values several to a line are read in order only when a count in the file
// confirms them: a table of two or more columns without a time column or a
// count is refused, so times are never read as samples. DT in the header may
// be in SEC or MSEC. The count must match the values; a last line without a
// line end, or an E field with fewer digits than every field above it, is
// refused (a file cut short). A dt given must agree with the file's step
// (within 1e-4), or is used when the file has none; it must lie in
// [MIN_RECORD_DT, MAX_RECORD_DT] (0: not given).
// Units: the header's (as header_units, "IN UNITS OF G" for PEER) when
// `units` is empty, else `units`, which must agree with the header's; g when
// neither names any. A header naming velocity or displacement ("VELOCITY TIME
// HISTORY IN UNITS OF CM/S") is refused. A folder, binary content (a device
// such as /dev/urandom), a file above MAX_RECORD_FILE_BYTES and a path holding
// a NUL byte are refused. Throws FileError naming the file and line for the
// content, InvalidArgument for a bad argument or one the file contradicts.
Record read_record(const std::string& path, double dt = 0.0, std::string_view units = {},
                   std::size_t skip_header = 0);

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
