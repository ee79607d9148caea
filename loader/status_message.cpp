#include "loader/status_message.h"

#include <span>

// A name too long for the message is cut rather than lost.
void SetStatusMessage(LoaderContext* context, const wchar_t* first, const wchar_t* name) {
  std::span<wchar_t> out(context->statusMessage);
  platform::CopyText(out, first);
  if (name == nullptr) {
    return;
  }
  std::size_t length = 0;
  while (out[length] != L'\0') {
    ++length;
  }
  while (*name != L'\0' && length + 1 < out.size()) {
    out[length++] = *name++;
  }
  out[length] = L'\0';
}
