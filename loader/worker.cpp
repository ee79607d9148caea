#include "loader/worker.h"

#include "loader/loader_dialog.h"
#include "loader/loading_sequence.h"
#include "platform/threads.h"

LoaderFailure::LoaderFailure(const wchar_t* message) : message_{} {
  // A text too long for the buffer is shown cut rather than not at all.
  platform::FormatText(message_, L"%s", message);
}

void RaiseFailure(const wchar_t* format, const wchar_t* argument) {
  wchar_t message[MAX_PATH];
  platform::FormatText(message, format, argument);
  throw LoaderFailure(message);
}

bool StartWorker(LoaderContext* context) {
  return platform::Threads().StartDetached(WorkerMain, context);
}

unsigned WorkerMain(void* parameter) {
  auto* context = static_cast<LoaderContext*>(parameter);
  try {
    RunLoadingSequence(context);
  } catch (const LoaderFailure& failure) {
    platform::Dialogs().MessageBox(failure.Message(), FAILURE_CAPTION);
    CloseLoader(context);
  }
  return 0;
}
