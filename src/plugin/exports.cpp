// The module's boundary with the VELQ loader: the exported record, the load
// entry, the arming entry and DllMain. Compiled only into the DLL itself.
#include "plugin/record.h"
#include "plugin/startup.h"
#include "workers/worker_flags.h"

#include <windows.h>

extern "C" {

__declspec(dllexport) extern const PluginVersionRecord VELQPlugin_Version;
const PluginVersionRecord VELQPlugin_Version = kPluginRecord;

__declspec(dllexport) bool VELQPlugin_Load(const HostInterface* host) {
    return StartPlugin(host);
}

// Lets another plugin or tool arm the CPU worker; the activity watcher turns
// the request into the armed state on its next pass.
__declspec(dllexport) void VELQPlugin_Arm() {
    RequestArm();
}

// Nothing happens here on purpose: the loader lock is held, so all real work
// waits for the load entry.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
}
