// What a test must know of the host it runs on where the two hosts rightly differ.
#pragma once

namespace testing_support {

// Whether the host's file names tell letter case apart (Linux) or not (Windows, like a device).
bool HostNamesTellCaseApart();

}  // namespace testing_support
