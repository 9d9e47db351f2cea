// MIDI input on Windows through winmm: every MIDI input device is opened with a callback that hands each short
// message's bytes to the portable parser and queue (os_midi_feed; device slot i feeds source i). The system calls
// it on a thread of its own. winmm tells nobody when a device is plugged in, so a watcher thread compares the list
// of devices once a second: new ones are opened, ones that went away (no error) closed. SysEx needs buffers handed
// to the device, which are not given: the system drops it, as the tracker would. Owns the device handles and the
// watcher thread; opened and closed on the main thread.
#include "platform_win32.h"

#include <mmsystem.h>

#include "os_midi.h"
#include "os_tools.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An input device the tracker has open.
struct os_midi_device {
    HMIDIIN handle;         // the open device; null: the slot is free
    char name[MAXPNAMELEN]; // its name, as the system lists it
};

static os_midi_device os_midi_devices[OS_MIDI_SOURCES]; // slot i feeds source i; the main thread, then the watcher
static std::vector<std::string> os_midi_last_names;     // the device list as the last scan found it; the watcher's
static bool os_midi_running;                            // input is open; main thread
static std::thread os_midi_watcher;                     // rescans once a second
static std::mutex os_midi_watch_mutex;                  // guards os_midi_watch_stop for the condition variable
static std::condition_variable os_midi_watch_wake;      // ends the watcher's wait at once when input closes
static bool os_midi_watch_stop;                         // the watcher is to end; under os_midi_watch_mutex

// The system's thread, one call at a time per device: the message's bytes (its length follows from its status).
static void CALLBACK os_midi_in_proc(HMIDIIN, UINT message, DWORD_PTR slot, DWORD_PTR packed, DWORD_PTR) {
    if (message != MIM_DATA) return;
    const uint8_t bytes[3] = {(uint8_t)(packed & 0xFF), (uint8_t)((packed >> 8) & 0xFF),
                              (uint8_t)((packed >> 16) & 0xFF)};
    const uint8_t status = bytes[0];
    size_t length = 3;
    if ((status & 0xE0) == 0xC0 || status == 0xF1 || status == 0xF3)
        length = 2;
    else if (status >= 0xF4 || status == 0xF0)
        length = 1;
    os_midi_feed((int32_t)slot, bytes, length);
}

static std::vector<std::string> os_midi_device_names() {
    std::vector<std::string> names;
    const UINT count = midiInGetNumDevs();
    for (UINT id = 0; id < count; id++) {
        MIDIINCAPSA caps;
        memset(&caps, 0, sizeof caps);
        names.push_back(midiInGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR ? caps.szPname : "");
    }
    return names;
}

static void os_midi_close_device(os_midi_device& d) {
    midiInStop(d.handle);
    midiInReset(d.handle);
    midiInClose(d.handle); // no callback after this returns
    d.handle = nullptr;
}

// Opens the devices not open yet and closes the ones that went away. Devices are known by name only (their
// numbers move when one is plugged in or out), so a name twice is two devices.
static void os_midi_scan() {
    const std::vector<std::string> names = os_midi_device_names();
    if (names == os_midi_last_names) return;
    os_midi_last_names = names;
    std::vector<bool> taken(names.size(), false);
    for (os_midi_device& d : os_midi_devices) {
        if (!d.handle) continue;
        bool present = false;
        for (size_t i = 0; i < names.size() && !present; i++)
            if (!taken[i] && names[i] == d.name) present = taken[i] = true;
        if (present) continue;
        os_log("MIDI: %s went away\n", d.name);
        os_midi_close_device(d);
    }
    for (size_t i = 0; i < names.size(); i++) {
        if (taken[i]) continue;
        int32_t slot = 0;
        while (slot < OS_MIDI_SOURCES && os_midi_devices[slot].handle) slot++;
        if (slot == OS_MIDI_SOURCES) {
            os_log("MIDI: more than %d input devices; %s is left out\n", OS_MIDI_SOURCES, names[i].c_str());
            continue;
        }
        os_midi_device& d = os_midi_devices[slot];
        os_midi_begin_source(slot);
        HMIDIIN handle = nullptr;
        const MMRESULT opened =
            midiInOpen(&handle, (UINT)i, (DWORD_PTR)os_midi_in_proc, (DWORD_PTR)slot, CALLBACK_FUNCTION);
        if (opened != MMSYSERR_NOERROR) {
            // Another program may hold it; the next change of the device list tries again.
            os_log("MIDI: could not open %s (%u)\n", names[i].c_str(), (unsigned)opened);
            continue;
        }
        snprintf(d.name, sizeof d.name, "%s", names[i].c_str());
        d.handle = handle;
        midiInStart(handle);
        os_log("MIDI: connected %s\n", d.name);
    }
}

static void os_midi_watch() {
    std::unique_lock<std::mutex> hold(os_midi_watch_mutex);
    while (!os_midi_watch_stop) {
        os_midi_watch_wake.wait_for(hold, std::chrono::seconds(1));
        if (os_midi_watch_stop) break;
        hold.unlock();
        os_midi_scan();
        hold.lock();
    }
}

int32_t os_midi_open(int32_t api) {
    if (os_midi_running) return 1;
    if (api == OS_MIDI_ALSA || api == OS_MIDI_JACK) {
        os_log("MIDI: %s is not available on Windows; no MIDI input\n", api == OS_MIDI_JACK ? "JACK" : "ALSA");
        return 0;
    }
    os_midi_last_names.clear();
    os_midi_scan();
    if (os_midi_last_names.empty()) os_log("MIDI: Windows MIDI, no input device yet\n");
    os_midi_watch_stop = false;
    os_midi_watcher = std::thread(os_midi_watch);
    os_midi_running = true;
    return 1;
}

void os_midi_close() {
    if (!os_midi_running) return;
    {
        std::lock_guard<std::mutex> hold(os_midi_watch_mutex);
        os_midi_watch_stop = true;
    }
    os_midi_watch_wake.notify_all();
    if (os_midi_watcher.joinable()) os_midi_watcher.join();
    for (os_midi_device& d : os_midi_devices)
        if (d.handle) os_midi_close_device(d);
    os_midi_running = false;
    os_log("MIDI: closed\n");
}

int32_t os_midi_list(int32_t api, void (*port)(const char* name, void* context), void* context,
                     const char** name_of_api) {
    if (api == OS_MIDI_ALSA || api == OS_MIDI_JACK) {
        *name_of_api = api == OS_MIDI_JACK ? "JACK" : "ALSA sequencer";
        return -1;
    }
    *name_of_api = "Windows MIDI";
    const std::vector<std::string> names = os_midi_device_names();
    for (const std::string& name : names) port(name.c_str(), context);
    return (int32_t)names.size();
}
