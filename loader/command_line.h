// The three flags of the loader's command line.
#pragma once

#include "loader/loader_context.h"

// Index in characters of the first occurrence of pattern in text (exact, like wcsstr), or -1.
int FindSubstring(const wchar_t* text, const wchar_t* pattern);

// Sets installCfMessages, forceUpgrade and updateLoader from the flags found in commandLine.
void ParseCommandLine(LoaderContext* context, const wchar_t* commandLine);
