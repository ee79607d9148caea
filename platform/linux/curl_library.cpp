#include "platform/linux/curl_library.h"

#include <dlfcn.h>

namespace platform {
namespace {

// The soname of Debian's libcurl4 (the OpenSSL build the project compiles against).
constexpr const char* kLibraryName = "libcurl.so.4";

template <class Function>
bool Resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

const CurlLibrary* Load() {
  static CurlLibrary curl;
  void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    return nullptr;
  }
  const bool resolved = Resolve(library, "curl_global_init", curl.global_init) &&
                        Resolve(library, "curl_easy_init", curl.easy_init) &&
                        Resolve(library, "curl_easy_setopt", curl.easy_setopt) &&
                        Resolve(library, "curl_easy_perform", curl.easy_perform) &&
                        Resolve(library, "curl_easy_getinfo", curl.easy_getinfo) &&
                        Resolve(library, "curl_easy_reset", curl.easy_reset) &&
                        Resolve(library, "curl_easy_cleanup", curl.easy_cleanup) &&
                        Resolve(library, "curl_slist_append", curl.slist_append) &&
                        Resolve(library, "curl_slist_free_all", curl.slist_free_all);
  if (!resolved || curl.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    return nullptr;
  }
  return &curl;
}

}  // namespace

const CurlLibrary* Curl() {
  static const CurlLibrary* const loaded = Load();
  return loaded;
}

}  // namespace platform
