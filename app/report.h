// The stereo report (--report FILE): one CSV line per entry after a header,
// in the batch's list order whatever order the workers finish in, written
// at the end of the run as a whole file or not at all.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "io/text.h"

namespace mpo {

// What the stereo correction of one entry measured and did. Fields that
// were not measured stay empty in the line.
struct StereoRecord {
  std::string status;       // one word, see texts::kStatus*
  bool aligned = false;     // the alignment fields below were measured
  double shift = 0;         // vertical shift of the right half, pixels
  double rotation = 0;      // its rotation against the left half, degrees
  double scale = 1;         // its scale against the left half
  int matches = 0;          // matches the fit used
  double residual_mean = 0;  // vertical residual after the fit, pixels
  double residual_p95 = 0;
  bool windowed = false;    // the window fields were set
  int window_shift = 0;     // pixels; disparities grow by it
  bool depth = false;       // near, far and the depth range were measured
  double near = 0, far = 0;  // 1st and 99th percentile of the disparity, pixels
  double permille = 0;      // far - near per mille of the width
};

// The header line, without the line break.
std::string report_header();
// One entry's line (the file's name quoted where CSV needs it).
std::string report_line(const Text& file, const StereoRecord& record);

class StereoReport {
 public:
  // Safe to call from several workers at once.
  void add(size_t position, const Text& file, const StereoRecord& record);
  // Writes the header and the lines in list order to `path`, replacing it
  // only when complete; false (errno set) when that failed.
  bool write(const std::string& path) const;

 private:
  mutable std::mutex mutex_;
  std::map<size_t, std::string> lines_;
};

}  // namespace mpo
