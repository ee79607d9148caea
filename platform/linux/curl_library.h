// libcurl, loaded when the first download starts rather than with the program: the everyday
// start downloads nothing, so it should not pay for mapping libcurl and the many libraries that
// libcurl needs.
#pragma once

#include <curl/curl.h>

namespace platform {

struct CurlLibrary {
  CURLcode (*global_init)(long flags);
  CURL* (*easy_init)();
  CURLcode (*easy_setopt)(CURL* easy, CURLoption option, ...);
  CURLcode (*easy_perform)(CURL* easy);
  CURLcode (*easy_getinfo)(CURL* easy, CURLINFO info, ...);
  void (*easy_reset)(CURL* easy);
  void (*easy_cleanup)(CURL* easy);
  curl_slist* (*slist_append)(curl_slist* list, const char* text);
  void (*slist_free_all)(curl_slist* list);
};

// Loads and globally initialises libcurl once, whatever thread asks first; null when it cannot
// be loaded, and then every download fails.
const CurlLibrary* Curl();

}  // namespace platform
