// How the Win32 services store small files: a new file under an exclusive name beside the final
// one, flushed, then moved over it, so that a crash leaves the old file or the whole new one.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Letters and digits for a new file name that no other loader picks at the same moment.
std::wstring RandomLetters();

// Replaces whatever stands at hostPath (a file, or a link, which is replaced and never written
// through) with a file holding content.
bool ReplaceFileContent(const std::wstring& hostPath, std::string_view content);

}  // namespace platform
