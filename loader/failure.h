// The failures that end the loader: raised anywhere in the loading sequence, caught only by the
// worker, which shows the message.
#pragma once

#include "platform/windows_types.h"

// A fatal condition: one wide message text.
class LoaderFailure {
 public:
  explicit LoaderFailure(const wchar_t* message);
  const wchar_t* Message() const { return message_; }

 private:
  wchar_t message_[MAX_PATH];
};

// Raises a LoaderFailure whose text is format with one wide text in place of its %s.
[[noreturn]] void RaiseFailure(const wchar_t* format, const wchar_t* argument);

inline constexpr const wchar_t* kFailureCaption = L"Loader cannot continue";
