// One download of a release's file, as both the client's files and the message package are
// fetched: with release keys built in, only a file that this run's manifest lists, cut off at its
// listed size and checked against its digest (the newest loader also for this loader's keys)
// before the download counts as fetched, so that nothing unchecked is ever moved into place.
#pragma once

#include <span>

#include "download/progress_callback.h"
#include "loader/loader_context.h"

enum class DownloadFailure {
  None,
  NotFetched,      // the transfer or its storage failed
  ReleaseRefused,  // the release manifest was refused; its reason is in statusMessage
  NotInRelease,    // the manifest does not list the file
  NotVerified,     // the file differs from its line in the manifest
  LacksKeys,       // the newest loader does not carry this loader's keys
};

// Fetches remoteName into a cache copy, whose device path goes to cachePath, or, when target is
// given, into target. Without keys, as a plain download.
DownloadFailure DownloadChecked(LoaderContext* context, const wchar_t* remoteName,
                                DownloadProgressCallback* progress, std::span<wchar_t> cachePath,
                                const wchar_t* target);

// Writes the reason for a failure that has one of its own (all but NotFetched) into
// statusMessage, naming remoteName where the text names a file; false for NotFetched.
bool ExplainDownloadFailure(LoaderContext* context, DownloadFailure failure,
                            const wchar_t* remoteName);

// Fetches remoteName into installDir under localName (or remoteName when null). With release
// keys built in, only a file of this run's release that matches its line is put in place. On
// failure, the reason goes to failure when given.
bool DownloadFile(LoaderContext* context, const wchar_t* remoteName,
                  DownloadProgressCallback* progress, const wchar_t* localName,
                  DownloadFailure* failure = nullptr);
