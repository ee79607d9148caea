// The loader's one state record. Built on the main thread's stack at start-up and handed by
// pointer to the dialog, the worker and every operation; it owns nothing.
#pragma once

#include <cstdint>

#include "download/release_manifest.h"
#include "platform/dialog.h"
#include "platform/text.h"

inline constexpr std::size_t kStatusMessageSize = 100;

// Where a run stands with the release manifest of a loader built with release keys.
enum class ReleaseState : std::uint8_t { NotFetched, Trusted, Refused };

struct LoaderContext {
  // Fills every field with its start value and classifies the device.
  LoaderContext();
  LoaderContext(const LoaderContext&) = delete;
  LoaderContext& operator=(const LoaderContext&) = delete;

  platform::WindowHandle dialog;
  platform::WindowHandle statusLabel;
  platform::WindowHandle urlEdit;
  platform::WindowHandle okButton;
  platform::WindowHandle cancelButton;
  wchar_t serverAddress[MAX_PATH];
  char installDirAnsi[MAX_PATH];
  char appDirAnsi[MAX_PATH];
  const wchar_t* const* requiredFiles;
  const wchar_t* const* setupPackages;
  std::int32_t dialogId;
  std::int32_t statusLabelId;
  std::int32_t urlEditId;
  std::int32_t okButtonId;
  std::int32_t cancelButtonId;
  wchar_t statusMessage[kStatusMessageSize];
  wchar_t installDir[MAX_PATH];
  wchar_t appDir[MAX_PATH];
  bool appDirAvailable;
  bool forceUpgrade;
  bool updateLoader;
  bool installCfMessages;
  wchar_t loaderExeName[MAX_PATH];
  wchar_t newLoaderExeName[MAX_PATH];
  wchar_t shortcutName[MAX_PATH];
  wchar_t downloadUrlFormat[MAX_PATH];
  wchar_t downloadUrlFormatWithScheme[MAX_PATH];
  wchar_t clientExeName[MAX_PATH];
  std::int32_t platformKind;
  // The release manifest of this run, once fetched (a loader with release keys only).
  ReleaseState releaseState;
  ReleaseManifest release;
};

// Whether the device is a plain Windows CE one (neither a Pocket PC nor a Smartphone).
bool IsPlainCeDevice(const LoaderContext* context);

// The client's files, in the order they are checked and fetched, ending in a null entry.
extern const wchar_t* const kRequiredFiles[];
// The message package for a plain Windows CE device, then the one for every other kind.
extern const wchar_t* const kMessagesPackages[2];
