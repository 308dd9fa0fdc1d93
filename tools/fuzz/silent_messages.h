// A message service for the fuzz targets: counts the messages instead of writing them to stderr,
// so that a long run is not flooded with the readers' refusals.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/message.h"

namespace zuba {

class SilentMessages : public MessageService {
 public:
  SilentMessages() { SetMessageService(this); }
  void show(const Message&) override { count.fetch_add(1, std::memory_order_relaxed); }
  std::atomic<std::size_t> count{0};
};

}  // namespace zuba
