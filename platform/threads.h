// Background threads (CreateThread stand-in).
#pragma once

#include "platform/service.h"

namespace platform {

using ThreadEntry = unsigned (*)(void* parameter);

class ThreadService {
 public:
  virtual ~ThreadService() = default;
  // Starts entry(parameter) on a new detached thread; nobody waits for it. False when the
  // thread cannot be created. When entry returns, the front end is told (see
  // DialogFrontEnd::BackgroundThreadEnded).
  virtual bool StartDetached(ThreadEntry entry, void* parameter) = 0;
};

inline ThreadService& Threads() {
  return Use<ThreadService>();
}

}  // namespace platform
