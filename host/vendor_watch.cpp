#include "vendor_watch.h"

namespace zelka::host {

VendorWatch::VendorWatch(std::string directory) : directory_(std::move(directory)) {
  last_ = take();
}

bool VendorWatch::changed() {
  Snapshot now = take();
  if (now == last_) return false;
  last_ = std::move(now);
  return true;
}

VendorWatch::Snapshot VendorWatch::take() const {
  Snapshot snapshot;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory_, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code fileError;
    if (!it->is_regular_file(fileError)) continue;
    const std::uintmax_t size = it->file_size(fileError);
    const std::filesystem::file_time_type time = it->last_write_time(fileError);
    if (fileError) continue;
    snapshot[it->path().filename().string()] = {size, time};
  }
  return snapshot;
}

}  // namespace zelka::host
