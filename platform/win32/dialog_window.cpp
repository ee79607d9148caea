// Placeholder until the Win32 implementation lands.
