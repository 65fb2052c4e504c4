// Reports of outputs that were not written. The desktop program shows the
// output's own failure text; the command line adds the file's name and why
// it failed, in German.
#pragma once

#include "app/front_end.h"
#include "io/text.h"

namespace mpo {

// Why an output was not written: an errno value, or one of the batch's own
// reasons below (negative, so they never meet an errno value).
constexpr int kReasonUnreadableImage = -1;  // a half could not be decoded
constexpr int kReasonNoExif = -2;           // the MPO has no Exif segment
constexpr int kReasonNoSideBySide = -3;     // no side-by-side file of this entry
constexpr int kReasonUnknown = 0;

// The German reason text ("Zugriff verweigert", ...). Unknown errno values
// are named by their number.
Text failure_reason_text(int reason);

// Shows one failed output under "Fehlerinfo". `failure_text` alone (the
// desktop's message), or, when `detailed`, followed by a line with the
// file's name and the reason.
class FailureReport {
 public:
  FailureReport(Reporter& ui, bool detailed) : ui_(ui), detailed_(detailed) {}
  void output_failed(const Text& failure_text, const Text& file_name, int reason) const;
  void output_failed(const Text& failure_text, const Text& file_name, const Text& reason) const;
  // An output whose failure only the detailed report names (the halves).
  void quiet_output_failed(const Text& failure_text, const Text& file_name, int reason) const;
  bool detailed() const { return detailed_; }

 private:
  Reporter& ui_;
  bool detailed_;
};

}  // namespace mpo
