// Every platform service is an abstract class with one implementation per host (its
// HostService, platform/host.h). The loader reaches a service through Use<Service>(); a test may
// put its own implementation in place for as long as a ScopedService lives (set it up before any
// worker thread starts).
#pragma once

#include "platform/host.h"

namespace platform {

template <class Service>
Service*& ServiceOverride() {
  static Service* replacement = nullptr;
  return replacement;
}

template <class Service>
Service& Use() {
  Service* replacement = ServiceOverride<Service>();
  return replacement != nullptr ? *replacement : HostService<Service>();
}

template <class Service>
class ScopedService {
 public:
  explicit ScopedService(Service& replacement) : previous_(ServiceOverride<Service>()) {
    ServiceOverride<Service>() = &replacement;
  }
  ~ScopedService() { ServiceOverride<Service>() = previous_; }
  ScopedService(const ScopedService&) = delete;
  ScopedService& operator=(const ScopedService&) = delete;

 private:
  Service* previous_;
};

}  // namespace platform
