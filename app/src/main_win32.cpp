// The tracker's Windows entry point: the frame loop runs the whole program on this thread until the window
// closes. The log's lines also go to the debugger from the first one on.
#include "platform_win32.h"

#include "app.h"
#include "os_platform.h"
#include "os_tools.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    os_use_process_hooks();
    os_log_debugger = os_debug_output;
    app_run();
    return 0;
}
