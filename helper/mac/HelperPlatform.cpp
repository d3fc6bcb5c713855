#include "HelperPlatform.h"

namespace tessaly {

HelperPlatform::HelperPlatform(Log& log_) : log(log_) {}

}  // namespace tessaly
