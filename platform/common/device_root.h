// What each host's device-root code gives the root state that both hosts share.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// folder (UTF-8) made absolute the host's way, as a UTF-8 host path.
std::string AbsoluteHostFolder(std::string_view folder);

}  // namespace platform
