// The worker thread that runs the loading sequence, and the failures that end the loader.
#pragma once

#include "loader/loader_context.h"

// A fatal condition: one wide message text, caught only by WorkerMain.
class LoaderFailure {
 public:
  explicit LoaderFailure(const wchar_t* message);
  const wchar_t* Message() const { return message_; }

 private:
  wchar_t message_[MAX_PATH];
};

// Raises a LoaderFailure whose text is format with one wide text in place of its %s.
[[noreturn]] void RaiseFailure(const wchar_t* format, const wchar_t* argument);

inline constexpr const wchar_t* FAILURE_CAPTION = L"Loader cannot continue";

// Starts a detached worker running WorkerMain; false when the thread cannot be created.
bool StartWorker(LoaderContext* context);
unsigned WorkerMain(void* context);
