// The least a VELQ plugin can be: the same three exports as Quellstone, no
// work, built and linked the same way. What LoadLibrary of it costs is the
// floor for LoadLibrary of Quellstone.dll.
#include "plugin/record.h"

#include <windows.h>

extern "C" {
__declspec(dllexport) extern const PluginVersionRecord VELQPlugin_Version;
const PluginVersionRecord VELQPlugin_Version = kPluginRecord;

__declspec(dllexport) bool VELQPlugin_Load(const HostInterface*) {
    return true;
}

__declspec(dllexport) void VELQPlugin_Arm() {}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
}
