// What the download tests of every host must know of the host they run on, where the two rightly
// differ.
#pragma once

#include <filesystem>

namespace download_host {

// A device's URL moniker ends the progress of a whole file with status 6
// (BINDSTATUS_ENDDOWNLOADDATA) after the last 5; the Linux host stops at that 5.
extern const bool kProgressEndsWithStatus6;

// Whether the copy a download holds before its move shows in the device's Temp folder under a
// name: on Linux it may be a file without one.
extern const bool kHeldCopyHasAName;

// Set up and checked around each test: COM on the test's thread (Windows).
void BeginTest();
void EndTest();

// Tries what a hostile program beside the loader would do to file: write into it (and, where the
// host lets a held file be moved or deleted, move and delete it). How many of those it managed.
int TryToChange(const std::filesystem::path& file);

}  // namespace download_host
