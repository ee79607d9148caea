// COM for the calling thread (CoInitializeEx with COINIT_MULTITHREADED, CoUninitialize): the
// worker sets it up around the loading sequence, whose downloads and progress callback run on it.
// A host without COM does nothing.
#pragma once

#include "platform/service.h"

namespace platform {

class ComService {
 public:
  virtual ~ComService() = default;
  // The result is not examined by the loader, so none is given.
  virtual void InitializeThread() = 0;
  virtual void UninitializeThread() = 0;
};

inline ComService& Com() {
  return Use<ComService>();
}

}  // namespace platform
