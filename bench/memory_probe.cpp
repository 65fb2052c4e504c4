// memory-probe [--jobs N] FOLDER
//
// Converts every MPO below FOLDER with all options, as mpo-convert-cli --all
// does, and prints the resident and the peak resident memory of the process
// after every entry. At the end it sets the peak beside what one entry
// needs to hold per worker: the file bytes, the images in slots 3 to 7 and
// the two pixel grids.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/driver.h"
#include "app/front_end.h"
#include "image/image_service.h"
#include "image/jpeg_codec.h"
#include "io/files.h"
#include "io/memory_policy.h"

namespace {

using namespace mpo;
namespace fs = std::filesystem;

double mib(double bytes) { return bytes / (1024.0 * 1024.0); }

// VmRSS and VmHWM of this process, in bytes.
void resident(double& now, double& peak) {
  now = peak = 0;
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) now = 1024.0 * std::atof(line.c_str() + 6);
    if (line.rfind("VmHWM:", 0) == 0) peak = 1024.0 * std::atof(line.c_str() + 6);
  }
}

long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

class ProbeReporter : public Reporter {
 public:
  void show_message(const Text& title, const Text& text) override {
    std::fprintf(stderr, "%s: %s\n", to_utf8(title).c_str(), to_utf8(text).c_str());
  }
  void entry_done(int done, int total, const Text& base_path) override {
    double now, peak;
    resident(now, peak);
    const long faults = minor_faults();
    std::printf("entry %3d/%d  resident %7.1f MiB  peak %7.1f MiB  page faults %6ld\n", done,
                total, mib(now), mib(peak), faults - faults_);
    faults_ = faults;
    std::fflush(stdout);
    if (first_base.empty()) first_base = to_utf8(base_path);
    if (done <= jobs) peak_after_first_round = peak;
    if (done > jobs && now > most_resident_later) most_resident_later = now;
    if (done == jobs) resident_after_first_round = now;
  }
  int jobs = 1;
  long faults_ = minor_faults();
  std::string first_base;
  double peak_after_first_round = 0;
  double resident_after_first_round = 0;
  double most_resident_later = 0;
};

int64_t largest_mpo(const std::string& folder) {
  int64_t largest = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".mpo") largest = std::max<int64_t>(largest, int64_t(e.file_size()));
  }
  return largest;
}

// Converts every MPO below the folder with all options, as the command line does.
void convert_all(const std::string& folder, int jobs, ProbeReporter& reporter) {
  const std::string list =
      (fs::temp_directory_path() / ("memory-probe-" + std::to_string(getpid()))).string();
  FileService files;
  ImageService images;
  RunConfig config;
  config.options = OptionFlags{1, 1, 1, 1};
  config.start_path = from_utf8(folder);
  config.list_file = from_utf8(list);
  config.pause_ms = 0;
  config.jobs = jobs;
  config.remove_list_early = true;
  run_batch(files, images, reporter, config);
}

// The accounting of one entry beside what was measured.
void print_summary(const ProbeReporter& ui, int jobs, int64_t largest_file, double peak) {
  // The size of the pictures, from the first entry's left half.
  ImageService sizes;
  register_jpeg_decoder(sizes);
  sizes.load_image(0, from_utf8(ui.first_base + "_L.jpg"));
  const int64_t W = sizes.get_image_width(0), H = sizes.get_image_height(0);
  const double slots = double(4 * pitch_for_width(W) * H + pitch_for_width(2 * W) * H);
  const double grids = 2.0 * 8.0 * double(W + 1) * double(H + 1);
  const double entry = double(largest_file) + slots + grids;

  std::printf("\n%lld x %lld halves, largest MPO %.1f MiB, %d worker(s)\n",
              static_cast<long long>(W), static_cast<long long>(H), mib(double(largest_file)), jobs);
  std::printf("accounting per worker: file %.1f + slots 3-7 %.1f + grids %.1f = %.1f MiB\n",
              mib(double(largest_file)), mib(slots), mib(grids), mib(entry));
  std::printf("peak resident:         %.1f MiB = %.1f MiB per worker, %+.1f %% against the "
              "accounting (target at most +10 %%)\n",
              mib(peak), mib(peak / jobs), 100.0 * (peak / jobs / entry - 1.0));
  std::printf("peak after the first %d entr%s: %.1f MiB; the peak grew by %+.1f MiB after it\n",
              jobs, jobs == 1 ? "y" : "ies", mib(ui.peak_after_first_round),
              mib(peak - ui.peak_after_first_round));
  // With several workers the last entries end as workers finish and free
  // their slots: resident memory then falls, which says nothing.
  if (jobs == 1 && ui.most_resident_later > 0)
    std::printf("resident after the first entry %.1f MiB, most resident later %.1f MiB\n",
                mib(ui.resident_after_first_round), mib(ui.most_resident_later));
}

}  // namespace

int main(int argc, char** argv) {
  int jobs = 1;
  std::string folder;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc) {
      jobs = std::atoi(argv[++i]);
    } else {
      folder = argv[i];
    }
  }
  if (folder.empty() || jobs < 1) {
    std::fprintf(stderr, "usage: memory-probe [--jobs N] FOLDER\n");
    return 2;
  }
  folder = fs::absolute(folder).string();
  const int64_t largest_file = largest_mpo(folder);

  ProbeReporter ui;
  ui.jobs = jobs;
  keep_large_blocks_in_heap(jobs);
  convert_all(folder, jobs, ui);
  double now, peak;
  resident(now, peak);
  if (ui.first_base.empty()) return 1;
  print_summary(ui, jobs, largest_file, peak);
  return 0;
}
