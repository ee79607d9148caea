#include "loader/worker.h"

#include <memory>
#include <optional>

#include "device/device_folders.h"
#include "device/shortcuts.h"
#include "loader/loading_sequence.h"
#include "loader/status_line.h"
#include "loader/status_message.h"
#include "platform/com.h"
#include "platform/device_lock.h"
#include "platform/download.h"
#include "platform/threads.h"
#include "settings/settings_file.h"

namespace {

constexpr const wchar_t* kWaitingText = L"Waiting for another loader to finish";

// A run that has started the client or the newest loader keeps the device lock until this
// process is gone. Let go any earlier, the next loader could find this program still running
// and its file not yet replaceable. The process ends without destroying this.
std::unique_ptr<platform::HeldDeviceLock>& LockKeptToTheEnd() {
  static std::unique_ptr<platform::HeldDeviceLock> lock;
  return lock;
}

// The run holds the device lock: a run that finds the client's files complete checks them under
// it, and one that fetches them lets nobody change the folder until the client has been
// started. Without a lock (no device root) the run goes on as before. The device's folders are
// checked for links once the lock is held, before anything is swept, created or written.
std::optional<LoaderFailure> RunLocked(LoaderContext* context) {
  std::unique_ptr<platform::HeldDeviceLock> lock =
      platform::DeviceLock().Take([context] { SetStatusText(context, kWaitingText); });
  // A device folder reached through a link would take the sweeps, the clearing and every write
  // below out of the device: nothing is touched until the user mends it.
  if (wchar_t linked[MAX_PATH]; FindLinkedDeviceFolder(context, linked)) {
    SetStatusMessage(context, kLinkedFolderText, linked);
    SetStatusText(context, context->statusMessage);
    context->statusMessage[0] = L'\0';
    // Reading the address saved there is bounded and changes nothing: the prompt offers it.
    if (context->serverAddress[0] == L'\0') {
      ReadServerAddress(context, context->serverAddress);
    }
    ShowAddressPrompt(context, true, context->serverAddress);
    return std::nullopt;
  }
  if (lock != nullptr) {
    // Downloads happen under the lock, so copies found now were left by a loader that was killed;
    // the new files of the settings and the shortcuts are spared while their writer lives.
    platform::Downloads().RemoveAbandonedCopies();
    RemoveAbandonedSettingsReplacements(context);
    RemoveAbandonedShortcutReplacements(context);
  }
  try {
    if (RunLoadingSequence(context)) {
      LockKeptToTheEnd() = std::move(lock);
    }
  } catch (const LoaderFailure& failure) {
    return failure;
  }
  return std::nullopt;
}

}  // namespace

bool StartWorker(LoaderContext* context) {
  return platform::Threads().StartDetached(WorkerMain, context);
}

unsigned WorkerMain(void* parameter) {
  auto* context = static_cast<LoaderContext*>(parameter);
  platform::Com().InitializeThread();
  // The lock is let go before the message box: a box nobody dismisses must not hold up
  // another loader.
  if (const std::optional<LoaderFailure> failure = RunLocked(context)) {
    platform::Dialogs().MessageBox(failure->Message(), kFailureCaption);
    CloseLoader(context);
  }
  platform::Com().UninitializeThread();
  return 0;
}
