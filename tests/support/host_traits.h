// What a test must know of the host it runs on where the two hosts rightly differ.
#pragma once

#include <string>

namespace testing_support {

// Whether the host's file names tell letter case apart (Linux) or not (Windows, like a device).
bool HostNamesTellCaseApart();

// The demo client built for this host, by its host path.
std::string DemoClientProgram();

// Sets an environment variable of this process (and so of the programs it starts); null
// unsets it.
void SetVariable(const char* name, const char* value);

}  // namespace testing_support
