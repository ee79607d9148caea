#include "loader/status_message.h"

#include "platform/text.h"

// A name too long for the message is cut rather than lost.
void SetStatusMessage(LoaderContext* context, const wchar_t* first, const wchar_t* name) {
  platform::CopyText(context->statusMessage, first);
  platform::AppendText(context->statusMessage, name);
}
