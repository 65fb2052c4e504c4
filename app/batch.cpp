#include "app/batch.h"

#include <map>

#include "app/aligned_mpo.h"
#include "app/display_outputs.h"
#include "app/lossless_output.h"
#include "app/output_failure.h"
#include "app/report.h"
#include "app/stereo_outputs.h"
#include "app/texts.h"
#include "app/viewing_outputs.h"
#include "app/vr_output.h"
#include "app/wiggle_output.h"

namespace mpo {

Text entry_base_path(const Entry& entry) {
  return entry.output_base.empty() ? base_path_of(entry.mpo_path) : entry.output_base;
}

std::vector<size_t> first_with_same_outputs(const std::vector<Entry>& entries) {
  std::vector<size_t> first(entries.size());
  std::map<Text, size_t> seen;
  for (size_t i = 0; i < entries.size(); ++i) {
    first[i] = seen.emplace(entry_base_path(entries[i]), i).first->second;
  }
  return first;
}

EntryResult EntryProcessor::process(const Entry& entry, OptionFlags& flags) {
  EntryResult result;
  apply_name_token_rule(text_upper(entry.base_name), name_);
  const Text base_path = entry_base_path(entry);
  ui_.show_progress_window(base_path);
  ui_.keep_painted();

  SplitResult split = split_mpo(files_, entry.mpo_path, base_path, extra_.mp_index,
                               EntryBudget{extra_.entry_memory, flags, extra_});
  if (split.stop != StopReason::none) {
    result.stop = split.stop;
    add_report_line(entry, texts::kStatusUnreadable);
    ui_.show_message(texts::kErrorTitle, stop_reason_text(split.stop) + u"\r" + entry.mpo_path);
    return result;
  }
  result.output_failed = !split.left_written || !split.right_written;
  // The desktop program passes over the halves in silence.
  const FailureReport report(ui_, extra_.detailed_failures);
  if (!split.left_written) {
    report.quiet_output_failed(texts::kLeftFailed, split.left_name, split.left_reason);
  }
  if (!split.right_written) {
    report.quiet_output_failed(texts::kRightFailed, split.right_name, split.right_reason);
  }
  ui_.keep_painted();

  if (flags.exif) flags.sbs = 1;
  // Only halves written for this entry are decoded: a file left at that name
  // by an earlier run (or anything else standing there) is not this MPO's.
  // Halves no output draws from are not decoded at all.
  const bool drawn = flags.sbs || flags.sbsh || flags.ouh || extra_.anaglyph || extra_.cross ||
                     extra_.tv || extra_.wiggle || wants_display_formats(extra_);
  const bool stereo = extra_.corrects_stereo();
  if (drawn || stereo) {
    decode_halves(images_, split.left_written ? split.left_name : Text(),
                  split.right_written ? split.right_name : Text(), halves_);
  }
  ui_.keep_painted();
  if (stereo) correct_stereo(entry, base_path, split, result);

  const CompositeOutcome composites =
      drawn || !stereo ? build_composites(images_, ui_, base_path, flags, halves_, extra_)
                       : CompositeOutcome{};
  result.output_failed = result.output_failed || composites.any_failed;
  ui_.keep_painted();
  if (flags.exif && !write_exif_image(files_, ui_, base_path, split.exif_segment, name_,
                                      composites.sbs_written, extra_)) {
    result.output_failed = true;
  }
  write_extra_outputs(base_path, split, composites.sbs_written, result);
  if (!stereo) add_report_line(entry, texts::kStatusUnchanged);
  // The file bytes and the Exif segment go with `split`.
  return result;
}

void EntryProcessor::correct_stereo(const Entry& entry, const Text& base_path,
                                    const SplitResult& split, EntryResult& result) {
  const StereoRecord record = correct_halves(images_, ui_, entry.mpo_path, halves_, extra_);
  ui_.keep_painted();
  if (!write_aligned_mpo(files_, images_, ui_, base_path, halves_, split, extra_))
    result.output_failed = true;
  if (extra_.report) extra_.report->add(entry.position, entry.mpo_path, record);
  ui_.keep_painted();
}

void EntryProcessor::add_report_line(const Entry& entry, const char* status) {
  if (!extra_.report) return;
  StereoRecord record;
  record.status = status;
  extra_.report->add(entry.position, entry.mpo_path, record);
}

void EntryProcessor::write_extra_outputs(const Text& base_path, const SplitResult& split,
                                         bool sbs_drawn, EntryResult& result) {
  const Sources from{halves_, sbs_drawn ? images_.view(kSbsSlot) : PixelView{},
                     split.exif_segment};
  if (extra_.anaglyph || extra_.cross || extra_.tv) {
    ui_.keep_painted();
    if (!write_viewing_formats(images_, ui_, base_path, from, extra_)) {
      result.output_failed = true;
    }
  }
  if (wants_display_formats(extra_)) {
    ui_.keep_painted();
    if (!write_display_formats(images_, ui_, base_path, from, extra_)) {
      result.output_failed = true;
    }
  }
  if (extra_.lossless) {
    ui_.keep_painted();
    if (!write_lossless_side_by_side(files_, ui_, base_path, split.file_bytes, split.separator,
                                     split.exif_segment, extra_.detailed_failures)) {
      result.output_failed = true;
    }
  }
  write_display_targets(base_path, split, result);
}

void EntryProcessor::write_display_targets(const Text& base_path, const SplitResult& split,
                                           EntryResult& result) {
  if (extra_.wiggle) {
    ui_.keep_painted();
    if (!write_wiggle_pictures(files_, ui_, base_path, halves_, split.exif_segment, extra_)) {
      result.output_failed = true;
    }
  }
  if (extra_.vr) {
    ui_.keep_painted();
    if (!write_vr_photo(files_, ui_, base_path, split.file_bytes, split.separator, extra_.fov,
                        extra_.detailed_failures)) {
      result.output_failed = true;
    }
  }
}

}  // namespace mpo
