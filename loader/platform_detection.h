// The kind of device the loader runs on.
#pragma once

#include <cstdint>

inline constexpr std::int32_t kPlatformUnknown = 0;
inline constexpr std::int32_t kPlatformPlainCe = 1;
inline constexpr std::int32_t kPlatformPocketPc = 2;
inline constexpr std::int32_t kPlatformSmartphone = 4;

// The classification alone: versionOk / isWindowsCe from the version query, typeOk / type from
// the platform type query (type is read only when both queries succeeded on Windows CE).
std::int32_t ClassifyPlatform(bool versionOk, bool isWindowsCe, bool typeOk, const wchar_t* type);

// Queries the system for the kind of device. Called once, while the context is built.
std::int32_t DetectPlatform();
