#include "loader/failure.h"

#include "platform/text.h"

LoaderFailure::LoaderFailure(const wchar_t* message) : message_{} {
  // A text too long for the buffer is shown cut rather than not at all.
  platform::FormatText(message_, L"%s", message);
}

void RaiseFailure(const wchar_t* format, const wchar_t* argument) {
  wchar_t message[MAX_PATH];
  platform::FormatText(message, format, argument);
  throw LoaderFailure(message);
}
