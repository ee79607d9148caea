// The kind of device the loader runs on.
#pragma once

#include <cstdint>

#include "loader/loader_context.h"

inline constexpr std::int32_t PLATFORM_UNKNOWN = 0;
inline constexpr std::int32_t PLATFORM_PLAIN_CE = 1;
inline constexpr std::int32_t PLATFORM_POCKET_PC = 2;
inline constexpr std::int32_t PLATFORM_SMARTPHONE = 4;

// The classification alone: versionOk / isWindowsCe from the version query, typeOk / type from
// the platform type query (type is read only when both queries succeeded on Windows CE).
std::int32_t ClassifyPlatform(bool versionOk, bool isWindowsCe, bool typeOk, const wchar_t* type);

// Queries the system and sets platformKind. Called once, while the context is built.
void DetectPlatform(LoaderContext* context);
bool IsPlainCeDevice(const LoaderContext* context);
