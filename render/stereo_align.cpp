#include "render/stereo_align.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/flann.hpp>
#include <opencv2/imgproc.hpp>

namespace mpo {

namespace {

constexpr int kFeatures = 3000;
constexpr double kRatio = 0.8;       // second-best match at least this much worse
constexpr double kRansacPixels = 1.0;  // epipolar distance in reduced pixels
constexpr int kMinMatches = 30;
constexpr double kMaxDegrees = 5.0;
constexpr double kMaxShare = 0.10;     // of the height, and in scale
// A richer model replaces a simpler one only when it lowers the held-out
// error by this share.
constexpr double kBetter = 0.97;
constexpr double kBetterPixels = 0.01;
// The roll of the baseline shows only against a spread of disparities.
constexpr double kRollSpread = 4.0;

struct Match {
  cv::Point2d left, right;  // full-resolution positions
};

// The model's terms.
enum Term : unsigned { kBase = 1, kRoll = 2, kKeystone = 4 };

// One eye's map: rotation, scale and keystone about the centre, then a
// vertical shift.
cv::Matx33d eye_map(const cv::Point2d& c, double angle, double log_scale, double keystone,
                    double shift) {
  const double s = std::exp(log_scale);
  const cv::Matx33d to_centre(1, 0, -c.x, 0, 1, -c.y, 0, 0, 1);
  const cv::Matx33d tilt(1, 0, 0, 0, 1, 0, keystone, 0, 1);
  const cv::Matx33d turn(s * std::cos(angle), -s * std::sin(angle), 0, s * std::sin(angle),
                         s * std::cos(angle), shift, 0, 0, 1);
  const cv::Matx33d back(1, 0, c.x, 0, 1, c.y, 0, 0, 1);
  return back * turn * tilt * to_centre;
}

cv::Point2d apply(const cv::Matx33d& m, const cv::Point2d& p) {
  const cv::Vec3d q = m * cv::Vec3d(p.x, p.y, 1);
  return {q[0] / q[2], q[1] / q[2]};
}

// The right row minus the left row of each match through the model's maps.
std::vector<double> residuals(const PairModel& model, const std::vector<Match>& matches) {
  const cv::Matx33d l = left_map(model), r = right_map(model);
  std::vector<double> out;
  out.reserve(matches.size());
  for (const Match& m : matches) out.push_back(apply(r, m.right).y - apply(l, m.left).y);
  return out;
}

// Least squares on the vertical residuals through the current maps, the
// increments added; a few rounds make the small-angle terms exact.
PairModel fit(const std::vector<Match>& matches, unsigned terms, const cv::Point2d& centre,
              double norm) {
  PairModel model;
  model.centre = centre;
  if (terms == 0 || matches.size() < 8) return model;
  const int columns = 3 + ((terms & kRoll) ? 1 : 0) + ((terms & kKeystone) ? 1 : 0);
  for (int round = 0; round < 4; ++round) {
    const cv::Matx33d l = left_map(model), r = right_map(model);
    cv::Mat x(static_cast<int>(matches.size()), columns, CV_64F), y(x.rows, 1, CV_64F);
    for (int i = 0; i < x.rows; ++i) {
      const cv::Point2d a = apply(l, matches[size_t(i)].left);
      const cv::Point2d b = apply(r, matches[size_t(i)].right);
      const double u = ((a.x + b.x) / 2 - centre.x) / norm, v = ((a.y + b.y) / 2 - centre.y) / norm;
      double* row = x.ptr<double>(i);
      int k = 0;
      row[k++] = u;
      row[k++] = v;
      row[k++] = 1;
      if (terms & kRoll) row[k++] = (b.x - a.x) / norm;
      if (terms & kKeystone) row[k++] = u * v;
      y.at<double>(i) = b.y - a.y;
    }
    cv::Mat coef;
    if (!cv::solve(x, y, coef, cv::DECOMP_SVD)) break;
    int k = 0;
    model.rotation += coef.at<double>(k++) / norm;
    model.log_scale += coef.at<double>(k++) / norm;
    model.shift += coef.at<double>(k++);
    if (terms & kRoll) model.roll += coef.at<double>(k++) / norm;
    if (terms & kKeystone) model.keystone += coef.at<double>(k++) / (norm * norm);
  }
  return model;
}

double mean_size(const std::vector<double>& r) {
  double sum = 0;
  for (double e : r) sum += std::abs(e);
  return r.empty() ? 0 : sum / double(r.size());
}

double percentile_size(std::vector<double> r, double p) {
  if (r.empty()) return 0;
  for (double& e : r) e = std::abs(e);
  const size_t k = std::min(r.size() - 1, static_cast<size_t>(p * double(r.size())));
  std::nth_element(r.begin(), r.begin() + std::ptrdiff_t(k), r.end());
  return r[k];
}

// Mean error on each half of the matches of the model fitted to the other.
double held_out_error(const std::vector<Match>& matches, unsigned terms, const cv::Point2d& c,
                      double norm) {
  std::array<std::vector<Match>, 2> fold;
  for (size_t i = 0; i < matches.size(); ++i) fold[i % 2].push_back(matches[i]);
  double sum = 0;
  for (int f = 0; f < 2; ++f) {
    const PairModel m = fit(fold[size_t(f)], terms, c, norm);
    sum += mean_size(residuals(m, fold[size_t(1 - f)]));
  }
  return sum / 2;
}

// Drops the matches the full model leaves far off the rest.
std::vector<Match> trimmed(std::vector<Match> matches, const cv::Point2d& c, double norm,
                           double floor) {
  for (int round = 0; round < 2 && matches.size() >= size_t(kMinMatches); ++round) {
    const PairModel m = fit(matches, kBase | kRoll | kKeystone, c, norm);
    const std::vector<double> r = residuals(m, matches);
    std::vector<double> sizes(r);
    for (double& e : sizes) e = std::abs(e);
    const double limit = std::max(floor, 3 * 1.4826 * percentile_size(sizes, 0.5));
    std::vector<Match> kept;
    for (size_t i = 0; i < r.size(); ++i)
      if (std::abs(r[i]) <= limit) kept.push_back(matches[i]);
    matches.swap(kept);
  }
  return matches;
}

// The terms that lower the held-out error: none at all for a pair that
// no correction makes better.
unsigned chosen_terms(const std::vector<Match>& matches, const cv::Point2d& c, double norm) {
  double sum = 0, square = 0;
  for (const Match& m : matches) {
    const double d = m.right.x - m.left.x;
    sum += d;
    square += d * d;
  }
  const double n = double(matches.size());
  const bool roll = square / n - (sum / n) * (sum / n) >= kRollSpread * kRollSpread;
  unsigned best = 0;
  double best_error = held_out_error(matches, 0, c, norm);
  for (const unsigned terms : {unsigned{kBase}, kBase | kRoll, kBase | kKeystone, kBase | kRoll | kKeystone}) {
    if ((terms & kRoll) && !roll) continue;
    const double error = held_out_error(matches, terms, c, norm);
    if (error < kBetter * best_error && error < best_error - kBetterPixels) {
      best = terms;
      best_error = error;
    }
  }
  return best;
}

// Where the right half's patch around `guess` best matches the left half's
// around `at` (both full resolution), to a fraction of a pixel by a parabola
// through the best score and its neighbours; false when the best lies on
// the search border or matches poorly.
bool refined(const cv::Mat& left, const cv::Mat& right, cv::Point at, cv::Point guess,
             cv::Point2d& found) {
  constexpr int kPatch = 8, kSearch = 4;
  const cv::Rect patch(at.x - kPatch, at.y - kPatch, 2 * kPatch + 1, 2 * kPatch + 1);
  const int side = 2 * (kPatch + kSearch) + 1;
  const cv::Rect area(guess.x - kPatch - kSearch, guess.y - kPatch - kSearch, side, side);
  const cv::Rect whole(0, 0, left.cols, left.rows);
  if ((patch & whole) != patch || (area & whole) != area) return false;
  cv::Mat score;
  cv::matchTemplate(right(area), left(patch), score, cv::TM_CCOEFF_NORMED);
  double best = 0;
  cv::Point peak;
  cv::minMaxLoc(score, nullptr, &best, nullptr, &peak);
  if (best < 0.8 || peak.x < 1 || peak.y < 1 || peak.x >= score.cols - 1 || peak.y >= score.rows - 1)
    return false;
  auto vertex = [](float a, float b, float c) {
    const double den = a - 2.0 * b + c;
    return den < 0 ? 0.5 * (a - c) / den : 0.0;
  };
  const float* row = score.ptr<float>(peak.y);
  const double dx = vertex(row[peak.x - 1], row[peak.x], row[peak.x + 1]);
  const double dy = vertex(score.at<float>(peak.y - 1, peak.x), row[peak.x],
                           score.at<float>(peak.y + 1, peak.x));
  found = {guess.x - kSearch + peak.x + dx, guess.y - kSearch + peak.y + dy};
  return true;
}

cv::Point2d full_position(const cv::Point2f& p, double factor) {
  return {factor * (p.x + 0.5) - 0.5, factor * (p.y + 0.5) - 0.5};
}

// Features of both reduced halves matched with the ratio test and filtered
// by RANSAC on the epipolar geometry, refined to sub-pixel positions.
std::vector<Match> matched_features(const ReducedHalf& left, const ReducedHalf& right) {
  // Two pyramid levels: the halves of a pair differ in scale by a few per
  // cent at most, and the features of coarse levels, placed less exactly,
  // only fill RANSAC with points it must reject.
  const cv::Ptr<cv::ORB> orb = cv::ORB::create(kFeatures, 1.2f, 2, 31, 0, 2,
                                               cv::ORB::HARRIS_SCORE, 31, 8);
  std::vector<cv::KeyPoint> kl, kr;
  cv::Mat dl, dr;
  orb->detectAndCompute(left.grey, cv::noArray(), kl, dl);
  orb->detectAndCompute(right.grey, cv::noArray(), kr, dr);
  if (kl.size() < size_t(kMinMatches) || kr.size() < size_t(kMinMatches)) return {};
  std::vector<std::vector<cv::DMatch>> knn;
  // The hash tables draw their bits from the thread's generator: back to its
  // first state, or an entry's matches (and its correction) would depend on
  // what the thread matched before.
  cv::theRNG() = cv::RNG();
  cv::FlannBasedMatcher(cv::makePtr<cv::flann::LshIndexParams>(6, 12, 1)).knnMatch(dl, dr, knn, 2);
  std::vector<cv::Point2f> pl, pr;
  const double max_rows = 2.5 * kMaxShare * left.grey.rows;
  for (const auto& m : knn) {
    if (m.size() < 2 || m[0].distance >= kRatio * m[1].distance) continue;
    const cv::Point2f a = kl[size_t(m[0].queryIdx)].pt, b = kr[size_t(m[0].trainIdx)].pt;
    if (std::abs(a.y - b.y) > max_rows) continue;
    pl.push_back(a);
    pr.push_back(b);
  }
  if (pl.size() < size_t(kMinMatches)) return {};
  std::vector<uchar> inlier;
  cv::findFundamentalMat(pl, pr, inlier, cv::FM_RANSAC, kRansacPixels, 0.999);
  std::vector<cv::Point2f> ql, qr;
  for (size_t i = 0; i < inlier.size(); ++i) {
    if (!inlier[i]) continue;
    ql.push_back(pl[i]);
    qr.push_back(pr[i]);
  }
  if (ql.size() < size_t(kMinMatches)) return {};
  std::vector<Match> out;
  for (size_t i = 0; i < ql.size(); ++i) {
    const cv::Point2d a = full_position(ql[i], left.factor);
    const cv::Point2d b = full_position(qr[i], right.factor);
    const cv::Point at(int(std::lround(a.x)), int(std::lround(a.y)));
    cv::Point2d found;
    if (refined(left.full, right.full, at, {int(std::lround(b.x)), int(std::lround(b.y))}, found))
      out.push_back({cv::Point2d(at), found});
  }
  return out;
}

bool plausible(const PairModel& m, double height) {
  const double limit = kMaxDegrees * M_PI / 180;
  const double left_turn = m.rotation / 2 - m.roll, right_turn = -m.rotation / 2 - m.roll;
  return std::abs(m.rotation) <= limit && std::abs(left_turn) <= limit &&
         std::abs(right_turn) <= limit && std::abs(m.shift) <= kMaxShare * height &&
         std::abs(std::exp(m.log_scale) - 1) <= kMaxShare;
}

}  // namespace

cv::Matx33d left_map(const PairModel& m) {
  return eye_map(m.centre, m.rotation / 2 - m.roll, m.log_scale / 2, -m.keystone / 2,
                 m.shift / 2);
}

cv::Matx33d right_map(const PairModel& m) {
  return eye_map(m.centre, -m.rotation / 2 - m.roll, -m.log_scale / 2, m.keystone / 2,
                 -m.shift / 2);
}

AlignResult measure_alignment(const ReducedHalf& left, const ReducedHalf& right) {
  AlignResult result;
  if (left.grey.empty() || right.grey.empty() || left.full_width != right.full_width ||
      left.full_height != right.full_height) {
    result.status = AlignStatus::unequal_halves;
    return result;
  }
  const cv::Point2d centre((double(left.full_width) - 1) / 2, (double(left.full_height) - 1) / 2);
  const double norm = double(std::max(left.full_width, left.full_height)) / 2;
  const std::vector<Match> matches =
      trimmed(matched_features(left, right), centre, norm, 0.3 * left.factor);
  result.matches = static_cast<int>(matches.size());
  if (matches.size() < size_t(kMinMatches)) {
    result.status = AlignStatus::too_few_matches;
    return result;
  }
  const unsigned terms = chosen_terms(matches, centre, norm);
  const PairModel model = fit(matches, terms, centre, norm);
  const std::vector<double> r = residuals(model, matches);
  result.residual_mean = mean_size(r);
  result.residual_p95 = percentile_size(r, 0.95);
  if (!plausible(model, double(left.full_height))) {
    result.status = AlignStatus::implausible;
    result.model = model;
    return result;
  }
  result.status = terms == 0 ? AlignStatus::already_aligned : AlignStatus::aligned;
  result.model = model;
  return result;
}

StereoPlan alignment_plan(const AlignResult& result, int64_t w, int64_t h) {
  if (result.status != AlignStatus::aligned) return identity_plan(w, h);
  StereoPlan plan;
  plan.resample = true;
  plan.left = left_map(result.model);
  plan.right = right_map(result.model);
  plan.rect = common_rectangle(plan.left, plan.right, w, h);
  if (plan.rect.empty()) return identity_plan(w, h);
  return plan;
}

}  // namespace mpo
