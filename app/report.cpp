#include "app/report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "io/output_file.h"

namespace mpo {

namespace {

std::string number(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string report_header() {
  return "datei,vertikal_px,drehung_grad,massstab,treffer,rest_mittel_px,rest_p95_px,"
         "fenster_px,nah_px,fern_px,tiefe_promille,status";
}

std::string report_line(const Text& file, const StereoRecord& r) {
  std::string line = csv_field(to_utf8(file));
  auto add = [&line](bool known, const std::string& value) {
    line += ',';
    if (known) line += value;
  };
  add(r.aligned, number(r.shift, 2));
  add(r.aligned, number(r.rotation, 3));
  add(r.aligned, number(r.scale, 4));
  add(r.aligned, std::to_string(r.matches));
  add(r.aligned, number(r.residual_mean, 3));
  add(r.aligned, number(r.residual_p95, 3));
  add(r.windowed, std::to_string(r.window_shift));
  add(r.depth, number(r.near, 1));
  add(r.depth, number(r.far, 1));
  add(r.depth, number(r.permille, 1));
  add(true, r.status);
  return line;
}

void StereoReport::add(size_t position, const Text& file, const StereoRecord& record) {
  std::string line = report_line(file, record);
  std::lock_guard lock(mutex_);
  lines_[position] = std::move(line);
}

bool StereoReport::write(const std::string& path) const {
  std::string text = report_header() + "\n";
  {
    std::lock_guard lock(mutex_);
    for (const auto& [position, line] : lines_) text += line + "\n";
  }
  PendingFile file = PendingFile::start(path, O_WRONLY);
  if (file.fd() < 0) return false;
  if (!write_all(file.fd(), text)) {
    const int saved = errno;
    file.abandon();
    errno = saved;
    return false;
  }
  return file.commit();
}

}  // namespace mpo
