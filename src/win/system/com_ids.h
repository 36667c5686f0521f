// Class and interface ids of the system that the program writes out itself
// (from their documented values) instead of linking them from the import
// libraries. The tests check each against its documented text form.
#pragma once

#include <windows.h>

namespace vorlix::com_ids {

// The multimedia device enumerator (MMDeviceEnumerator).
inline constexpr CLSID kClsidMMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
// IAgileObject: a callback that may be called on any thread says so.
inline constexpr IID kIidAgileObject = {0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};
// The IEEE float subformat of an extensible wave format.
inline constexpr GUID kSubtypeIeeeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// The WMI locator (WbemLocator).
inline constexpr CLSID kClsidWbemLocator = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

}  // namespace vorlix::com_ids
