// glog drops a message whose severity is below FLAGS_minloglevel before it
// reaches any destination: standard error, the "logging before
// InitGoogleLogging" notice, or a log file. Raising that level to FATAL
// therefore silences Ceres without initialising glog and without a sink.
#include "fit/library_logging.h"

#include <glog/logging.h>

namespace identify {

void silence_library_logging() {
  FLAGS_minloglevel = google::GLOG_FATAL;
  FLAGS_stderrthreshold = google::GLOG_FATAL;
}

}  // namespace identify
