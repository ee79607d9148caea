// Trusting a release as a whole. A loader built with release keys fetches the release manifest
// and its signature once in each run of the loading sequence, before any other file, and takes
// only files that match their lines in it: never from a release older than itself, nor past the
// manifest's expiry. Without keys, nothing of this happens.
#pragma once

#include "download/release_manifest.h"
#include "loader/loader_context.h"

// The texts of a refusal, for statusMessage.
inline constexpr const wchar_t* kReleaseNotFetchedText =
    L"Unable to download the release manifest.\r\nPlease check your connection settings.";
inline constexpr const wchar_t* kReleaseNotVerifiedText = L"Unable to verify the release manifest.";
inline constexpr const wchar_t* kReleaseExpiredText =
    L"The release on the server has expired.\r\nPlease check the device's date.";
inline constexpr const wchar_t* kReleaseTooOldText =
    L"The release on the server is older than this loader.";
inline constexpr const wchar_t* kFileNotInReleaseText = L"File not in the release: \r\n";
inline constexpr const wchar_t* kUnverifiedFileText = L"Unable to verify file: \r\n";
inline constexpr const wchar_t* kLoaderWithoutKeysText =
    L"The latest loader does not carry this loader's keys.";

// Forgets the manifest of the previous run; called as a run starts.
void ForgetRelease(LoaderContext* context);

// True when this run may fetch files: the loader has no keys, or the manifest of this run is
// fetched, signed by a built-in key, well formed, not older than this loader and not expired.
// Fetches and checks it at the first call of a run; a refusal writes its reason into
// statusMessage and holds for the rest of the run.
bool TrustRelease(LoaderContext* context);

// The manifest's line for remoteName; null when it lists no such file. Only after TrustRelease
// has answered true with keys built in.
const ReleaseFileLine* ReleaseLineFor(const LoaderContext* context, const wchar_t* remoteName);
