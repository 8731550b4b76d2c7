// glog drops a message whose severity is below FLAGS_minloglevel before it
// reaches any destination: standard error, the "logging before
// InitGoogleLogging" notice, or a log file. Raising that level to FATAL
// therefore silences Ceres without initialising glog and without a sink.
// The flags are set once, whichever thread asks first: fits on several
// worker threads all ask, and concurrent writes would race.
#include "fit/library_logging.h"

#include <glog/logging.h>

#include <mutex>

namespace identify {

void silence_library_logging() {
  static std::once_flag once;
  std::call_once(once, [] {
    FLAGS_minloglevel = google::GLOG_FATAL;
    FLAGS_stderrthreshold = google::GLOG_FATAL;
  });
}

}  // namespace identify
