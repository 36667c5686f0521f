// A stand-in "mfsensorgroup.dll" that a test puts on the DLL search path
// outside the system folder: the host must never load it. Its camera
// creation answers "access denied", which the host would report as such.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT WINAPI MFCreateVirtualCamera(int, int, int, LPCWSTR, LPCWSTR, const GUID*,
                                                                      ULONG, void** camera) {
    if (camera) *camera = nullptr;
    return E_ACCESSDENIED;
}
