// Shared set-up of the fuzz targets: messages go nowhere (every target feeds
// damaged data on purpose) and nothing is shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/config.h"
#include "base/messages.h"

namespace talven::fuzz {

inline void quiet() {
  static bool done = [] {
    set_message_sink([](unsigned, const std::string&) { return kMessageOk; });
    config().Error = 0;
    return true;
  }();
  (void)done;
}

}  // namespace talven::fuzz
