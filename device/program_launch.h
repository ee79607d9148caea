// Starting programs and the CAB installer.
#pragma once

inline constexpr const wchar_t* kCabInstaller = L"\\Windows\\WCELOAD.EXE";

// Starts file with parameters and returns at once; false when it could not be started.
bool RunProgram(const wchar_t* file, const wchar_t* parameters);
// Writes the installer's parameter text for package into out (MAX_PATH characters); false when
// it does not fit.
bool FormatInstallerParameters(wchar_t* out, const wchar_t* package);
// Hands package to the CAB installer and waits for it; false when it could not be started.
bool RunInstaller(const wchar_t* file);
