// Texts: bounded wide formatting with the device's meaning of %s, and conversion between wide
// text and the narrow text (UTF-8) that stands in for the device's ANSI code page.
#pragma once

#include <cstddef>
#include <span>

#include "platform/windows_types.h"

namespace platform {

// Formats like the device's wsprintfW: %s takes a wide string (%hs a narrow one), %c a wide
// character; %d, %ld, %u, %lu, %x, %f with flags, width and precision as in printf. Never
// writes past out; the result is always terminated. Returns false (and a cut text) when the
// result did not fit.
bool FormatText(std::span<wchar_t> out, const wchar_t* format, ...);

// Narrow formatting (sprintf stand-in) that never writes past out; false when cut.
bool FormatNarrow(std::span<char> out, const char* format, ...);

// Copies text into out; false (and out empty) when it does not fit.
bool CopyText(std::span<wchar_t> out, const wchar_t* text);
// Appends text to the zero-terminated text in out, as much of it as fits; false when not all of it
// fits, and when out holds no terminator (out is then unchanged).
bool AppendText(std::span<wchar_t> out, const wchar_t* text);

// WideCharToMultiByte stand-in: the zero-terminated wide text as UTF-8, terminator included.
// False, with out holding the empty text, when the result does not fit (nothing is overrun).
// Code points that UTF-8 cannot carry become '?', the device's default character.
bool WideToNarrow(std::span<char> out, const wchar_t* text);

// The zero-terminated wide text as UTF-8 (whatever the narrow text of the host), terminator
// included; false, with out holding the empty text, when it does not fit.
bool WideToUtf8(std::span<char> out, const wchar_t* text);

// MultiByteToWideChar stand-in: zero-terminated UTF-8 into wide text. Malformed sequences
// become U+FFFD. False, with out holding the empty text, when the result does not fit.
bool NarrowToWide(std::span<wchar_t> out, const char* text);

}  // namespace platform
