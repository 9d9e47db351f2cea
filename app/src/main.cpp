// The tracker's entry point: the frame loop runs the whole program on this thread until the window closes.
#include "os_platform.h"

int main() {
    os_run();
    return 0;
}
