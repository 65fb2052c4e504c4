// Every image slot an entry uses, in one place: the steps of an entry hold
// their pictures side by side, and two steps on one slot would draw over
// (or free) each other's pixels.
#pragma once

#include <array>

namespace mpo {

// The decoded halves and the composites.
constexpr int kLeftSlot = 3;
constexpr int kRightSlot = 4;
constexpr int kSbsSlot = 5;
constexpr int kSbshSlot = 6;
constexpr int kOuhSlot = 7;
// The viewing formats.
constexpr int kAnaglyphSlot = 10;
constexpr int kCrossSlot = 11;
constexpr int kTvSlot = 12;
// The display formats.
constexpr int kDisplaySbsSlot = 13;
constexpr int kFittedLeftSlot = 14;
constexpr int kFittedRightSlot = 15;
// The corrected halves, which the formats above are drawn from.
constexpr int kCorrectedLeftSlot = 16;
constexpr int kCorrectedRightSlot = 17;

namespace slots_detail {
constexpr std::array kAll = {kLeftSlot,          kRightSlot,         kSbsSlot,
                             kSbshSlot,          kOuhSlot,           kAnaglyphSlot,
                             kCrossSlot,         kTvSlot,            kDisplaySbsSlot,
                             kFittedLeftSlot,    kFittedRightSlot,   kCorrectedLeftSlot,
                             kCorrectedRightSlot};
constexpr bool all_distinct() {
  for (size_t i = 0; i < kAll.size(); ++i)
    for (size_t j = i + 1; j < kAll.size(); ++j)
      if (kAll[i] == kAll[j]) return false;
  return true;
}
}  // namespace slots_detail
static_assert(slots_detail::all_distinct(), "two steps of an entry share an image slot");

}  // namespace mpo
