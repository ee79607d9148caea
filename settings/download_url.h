// Download addresses composed from the server address, and the platform-marked file names.
#pragma once

#include <cstddef>

#include "loader/loader_context.h"

bool MatchesPrefix(const wchar_t* text, const wchar_t* lower, const wchar_t* upper,
                   std::size_t count);
bool HasHttpPrefix(const wchar_t* address);
bool HasHttpsPrefix(const wchar_t* address);

// Writes the download address of fileName into url (MAX_PATH characters), after giving
// serverAddress its closing "/" in the context itself. An address with no room for that "/"
// or a URL that would not fit is refused: url is then the empty text and false is returned.
bool BuildDownloadUrl(LoaderContext* context, wchar_t* url, const wchar_t* fileName);

// out (MAX_PATH characters, may be source) receives source with its first marker replaced;
// false, with out untouched, when marker does not occur (or the result would not fit).
bool ReplaceFirstOccurrence(wchar_t* out, const wchar_t* source, const wchar_t* marker,
                            const wchar_t* replacement);
