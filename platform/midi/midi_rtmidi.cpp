// MIDI input on Linux through RtMidi, with its ALSA sequencer or its JACK API (one of them: JACK when a JACK
// server runs, else the ALSA sequencer, unless the command line chooses). RtMidi makes the tracker's MIDI client
// "QuavloII" with one input port, "midi_in", and calls back on its own thread (ALSA: RtMidi's input thread; JACK:
// the JACK process thread) with each message's bytes, which go straight to the portable parser and queue
// (os_midi_feed, source 0). RtMidi connects a port to only one other, so the connections are made beside it, with a
// second handle of the same system (an ALSA client without ports, "QuavloII scan"; a JACK client without ports,
// "QuavloII-scan"): every readable MIDI port is connected to the tracker's port at the start, and a watcher thread
// looks once a second for ports that appeared (hot-plug) and for ones that went away, which is no error. Owns the
// RtMidi input, both scanning handles and the watcher thread; opened and closed on the main thread.
#include "os_midi.h"
#include "os_tools.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

static constexpr const char* OS_MIDI_CLIENT = "QuavloII";         // the tracker's MIDI client, as others see it
static constexpr const char* OS_MIDI_PORT = "midi_in";            // its one input port
static constexpr const char* OS_MIDI_ALSA_SCAN = "QuavloII scan"; // the ALSA client that makes the connections
static constexpr const char* OS_MIDI_JACK_SCAN = "QuavloII-scan"; // the JACK client that makes the connections
static constexpr int32_t OS_MIDI_RTMIDI_SOURCE = 0;               // the portable queue this backend feeds

// A port the scanner has seen.
struct os_midi_known_port {
    std::string name; // as listed and logged: "client:port" (ALSA with its address)
    bool connected;   // the tracker's port listens to it (a refused connection is not tried again)
};

// A readable MIDI port found by a scan: its name and, for ALSA, its address.
struct os_midi_found_port {
    std::string name;
    int32_t client, port; // ALSA address; -1 for JACK
};

static int32_t os_midi_api;                 // OS_MIDI_ALSA or OS_MIDI_JACK while input runs, else OS_MIDI_OFF
static RtMidiIn* os_midi_in;                // RtMidi's client with the tracker's port; its thread feeds source 0
static snd_seq_t* os_midi_seq;              // ALSA: the scanning handle
static int32_t os_midi_own_client = -1;     // ALSA: the tracker's client number, -1 when not known
static int32_t os_midi_own_port = -1;       // ALSA: its input port's number
static jack_client_t* os_midi_jack;         // JACK: the scanning client
static std::string os_midi_own_jack_port;   // JACK: the full name of the tracker's port, empty when not known
static std::atomic<bool> os_midi_jack_gone; // JACK: the server shut the scanning client down; set by JACK's thread
static std::vector<os_midi_known_port> os_midi_known; // ports seen by the last scan; the scanning thread's
static std::thread os_midi_watcher;                   // rescans once a second
static std::mutex os_midi_watch_mutex;                // guards os_midi_watch_stop for the condition variable
static std::condition_variable os_midi_watch_wake;    // ends the watcher's wait at once when input closes
static bool os_midi_watch_stop;                       // the watcher is to end; under os_midi_watch_mutex

// ---- Quiet probes: the sound libraries print to standard error when a system is missing, which is no error here.

static void os_midi_alsa_silent(const char*, int, const char*, int, const char*, ...) {}
static void os_midi_jack_silent(const char*) {}
static void os_midi_jack_to_log(const char* text) { os_log("MIDI: JACK: %s\n", text); }

static snd_seq_t* os_midi_alsa_scanner() {
    snd_lib_error_set_handler(os_midi_alsa_silent);
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) seq = nullptr;
    snd_lib_error_set_handler(nullptr);
    if (seq) snd_seq_set_client_name(seq, OS_MIDI_ALSA_SCAN);
    return seq;
}

static void os_midi_jack_shutdown(void*) { os_midi_jack_gone.store(true); }

// A scanning client when a JACK server runs; null otherwise (no server is started for it).
static jack_client_t* os_midi_jack_scanner() {
    jack_set_error_function(os_midi_jack_silent);
    jack_set_info_function(os_midi_jack_silent);
    jack_client_t* client = jack_client_open(OS_MIDI_JACK_SCAN, JackNoStartServer, nullptr);
    jack_set_error_function(nullptr);
    jack_set_info_function(nullptr);
    if (client) {
        os_midi_jack_gone.store(false);
        jack_on_shutdown(client, os_midi_jack_shutdown, nullptr);
    }
    return client;
}

// ---- ALSA sequencer

// Every port of another client that others may read MIDI from, except the system's announcements, the scanner's
// and the tracker's own client.
static std::vector<os_midi_found_port> os_midi_alsa_sources(snd_seq_t* seq) {
    std::vector<os_midi_found_port> found;
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int32_t id = snd_seq_client_info_get_client(client);
        if (id == SND_SEQ_CLIENT_SYSTEM || id == snd_seq_client_id(seq) || id == os_midi_own_client) continue;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            const unsigned caps = snd_seq_port_info_get_capability(port);
            const unsigned type = snd_seq_port_info_get_type(port);
            constexpr unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
            if ((caps & readable) != readable || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
            if (!(type & (SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_APPLICATION)))
                continue;
            const int32_t number = snd_seq_port_info_get_port(port);
            char name[256];
            snprintf(name, sizeof name, "%s:%s (%d:%d)", snd_seq_client_info_get_name(client),
                     snd_seq_port_info_get_name(port), id, number);
            found.push_back({name, id, number});
        }
    }
    return found;
}

// The clients named like the tracker's, each with the number of its port named OS_MIDI_PORT (-1: none).
struct os_midi_alsa_candidate {
    int32_t client, port, pid;
};
static std::vector<os_midi_alsa_candidate> os_midi_alsa_candidates(snd_seq_t* seq) {
    std::vector<os_midi_alsa_candidate> found;
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        if (strcmp(snd_seq_client_info_get_name(client), OS_MIDI_CLIENT) != 0) continue;
        const int32_t id = snd_seq_client_info_get_client(client);
        os_midi_alsa_candidate c = {id, -1, snd_seq_client_info_get_pid(client)};
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0)
            if (strcmp(snd_seq_port_info_get_name(port), OS_MIDI_PORT) == 0) c.port = snd_seq_port_info_get_port(port);
        found.push_back(c);
    }
    return found;
}

// Subscribes the tracker's port to a source; true when it listens to it now (also when it already did).
static bool os_midi_alsa_connect(const os_midi_found_port& source) {
    snd_seq_port_subscribe_t* sub;
    snd_seq_port_subscribe_alloca(&sub);
    snd_seq_addr_t sender = {(unsigned char)source.client, (unsigned char)source.port};
    snd_seq_addr_t dest = {(unsigned char)os_midi_own_client, (unsigned char)os_midi_own_port};
    snd_seq_port_subscribe_set_sender(sub, &sender);
    snd_seq_port_subscribe_set_dest(sub, &dest);
    const int result = snd_seq_subscribe_port(os_midi_seq, sub);
    return result >= 0 || result == -EBUSY;
}

// ---- JACK

static std::vector<os_midi_found_port> os_midi_jack_sources(jack_client_t* client) {
    std::vector<os_midi_found_port> found;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    for (int32_t i = 0; ports && ports[i]; i++) found.push_back({ports[i], -1, -1});
    if (ports) jack_free(ports);
    return found;
}

// The input ports named like the tracker's ("QuavloII:midi_in", or "QuavloII-01:midi_in" when the name was taken).
static std::vector<std::string> os_midi_jack_candidates(jack_client_t* client) {
    std::vector<std::string> found;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    const std::string suffix = std::string(":") + OS_MIDI_PORT;
    for (int32_t i = 0; ports && ports[i]; i++) {
        const std::string name = ports[i];
        if (name.compare(0, strlen(OS_MIDI_CLIENT), OS_MIDI_CLIENT) != 0 || name.size() < suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string between =
            name.substr(strlen(OS_MIDI_CLIENT), name.size() - suffix.size() - strlen(OS_MIDI_CLIENT));
        if (between.empty() || (between[0] == '-' && between.find_first_not_of("0123456789", 1) == std::string::npos))
            found.push_back(name);
    }
    if (ports) jack_free(ports);
    return found;
}

static bool os_midi_jack_connect(const os_midi_found_port& source) {
    const int result = jack_connect(os_midi_jack, source.name.c_str(), os_midi_own_jack_port.c_str());
    return result == 0 || result == EEXIST;
}

// ---- Scanning, on the main thread at the start and then on the watcher thread

static std::vector<os_midi_found_port> os_midi_sources() {
    if (os_midi_api == OS_MIDI_ALSA) return os_midi_alsa_sources(os_midi_seq);
    if (os_midi_jack_gone.load()) return {};
    return os_midi_jack_sources(os_midi_jack);
}

// Connects the tracker's port to every source not seen before and forgets the ones that went away.
static void os_midi_scan() {
    const bool can_connect = os_midi_api == OS_MIDI_ALSA ? os_midi_own_client >= 0 : !os_midi_own_jack_port.empty();
    const std::vector<os_midi_found_port> found = os_midi_sources();
    for (auto k = os_midi_known.begin(); k != os_midi_known.end();) {
        const bool present =
            std::any_of(found.begin(), found.end(), [&](const os_midi_found_port& f) { return f.name == k->name; });
        if (present) {
            ++k;
            continue;
        }
        if (k->connected) os_log("MIDI: %s went away\n", k->name.c_str());
        k = os_midi_known.erase(k);
    }
    for (const os_midi_found_port& f : found) {
        if (std::any_of(os_midi_known.begin(), os_midi_known.end(),
                        [&](const os_midi_known_port& k) { return k.name == f.name; }))
            continue;
        bool connected = false;
        if (can_connect) {
            connected = os_midi_api == OS_MIDI_ALSA ? os_midi_alsa_connect(f) : os_midi_jack_connect(f);
            os_log(connected ? "MIDI: connected %s\n" : "MIDI: could not connect %s\n", f.name.c_str());
        }
        os_midi_known.push_back({f.name, connected});
    }
}

static void os_midi_watch() {
    std::unique_lock<std::mutex> hold(os_midi_watch_mutex);
    bool told_gone = false;
    while (!os_midi_watch_stop) {
        os_midi_watch_wake.wait_for(hold, std::chrono::seconds(1));
        if (os_midi_watch_stop) break;
        hold.unlock();
        if (os_midi_api == OS_MIDI_JACK && os_midi_jack_gone.load()) {
            if (!told_gone) os_log("MIDI: the JACK server has gone; no MIDI input from now on\n");
            told_gone = true;
        } else {
            os_midi_scan();
        }
        hold.lock();
    }
}

// ---- RtMidi's side

static void os_midi_rtmidi_message(double, std::vector<unsigned char>* message, void*) {
    if (message && !message->empty()) os_midi_feed(OS_MIDI_RTMIDI_SOURCE, message->data(), message->size());
}

static void os_midi_rtmidi_error(RtMidiError::Type, const std::string& text, void*) {
    os_log("MIDI: RtMidi: %s\n", text.c_str());
}

// Makes the tracker's client and port with RtMidi and finds them with the scanning handle: the one named like
// them that was not there before (ALSA also by the process id). False when RtMidi could not start.
static bool os_midi_start_rtmidi(RtMidi::Api api) {
    std::vector<int32_t> alsa_before;
    std::vector<std::string> jack_before;
    if (api == RtMidi::LINUX_ALSA)
        for (const auto& c : os_midi_alsa_candidates(os_midi_seq)) alsa_before.push_back(c.client);
    else
        jack_before = os_midi_jack_candidates(os_midi_jack);
    try {
        os_midi_in = new RtMidiIn(api, OS_MIDI_CLIENT);
        os_midi_in->setErrorCallback(os_midi_rtmidi_error, nullptr);
        // SysEx, clock and active sensing reach the parser too, which reads and skips them.
        os_midi_in->ignoreTypes(false, false, false);
        os_midi_in->setCallback(os_midi_rtmidi_message, nullptr);
        os_midi_in->openVirtualPort(OS_MIDI_PORT);
    } catch (const RtMidiError& e) {
        os_log("MIDI: RtMidi: %s\n", e.getMessage().c_str());
        delete os_midi_in;
        os_midi_in = nullptr;
        return false;
    }
    if (api == RtMidi::LINUX_ALSA) {
        const int32_t pid = (int32_t)getpid();
        for (const auto& c : os_midi_alsa_candidates(os_midi_seq)) {
            const bool before = std::find(alsa_before.begin(), alsa_before.end(), c.client) != alsa_before.end();
            if (c.port >= 0 && (c.pid > 0 ? c.pid == pid : !before)) {
                os_midi_own_client = c.client;
                os_midi_own_port = c.port;
            }
        }
        if (os_midi_own_client < 0) os_log("MIDI: the tracker's ALSA port was not found; it connects to nothing\n");
    } else {
        std::vector<std::string> fresh;
        for (const std::string& name : os_midi_jack_candidates(os_midi_jack))
            if (std::find(jack_before.begin(), jack_before.end(), name) == jack_before.end()) fresh.push_back(name);
        if (fresh.size() == 1)
            os_midi_own_jack_port = fresh[0];
        else
            os_log("MIDI: the tracker's JACK port was not found; it connects to nothing\n");
    }
    return true;
}

static void os_midi_release() {
    delete os_midi_in; // RtMidi stops its thread (or closes its JACK client) here: no os_midi_feed after this
    os_midi_in = nullptr;
    if (os_midi_seq) snd_seq_close(os_midi_seq);
    os_midi_seq = nullptr;
    if (os_midi_jack) {
        jack_client_close(os_midi_jack);
        jack_set_error_function(nullptr);
    }
    os_midi_jack = nullptr;
    os_midi_own_client = os_midi_own_port = -1;
    os_midi_own_jack_port.clear();
    os_midi_known.clear();
    os_midi_api = OS_MIDI_OFF;
}

int32_t os_midi_open(int32_t api) {
    if (os_midi_api != OS_MIDI_OFF) return 1;
    if (api == OS_MIDI_AUTO || api == OS_MIDI_JACK) {
        os_midi_jack = os_midi_jack_scanner();
        if (!os_midi_jack && api == OS_MIDI_JACK) {
            os_log("MIDI: no JACK server runs; no MIDI input\n");
            return 0;
        }
        if (os_midi_jack) api = OS_MIDI_JACK;
    }
    if (api != OS_MIDI_JACK) {
        os_midi_seq = os_midi_alsa_scanner();
        if (!os_midi_seq) {
            os_log("MIDI: no ALSA sequencer%s; no MIDI input\n", api == OS_MIDI_AUTO ? " and no JACK server" : "");
            return 0;
        }
        api = OS_MIDI_ALSA;
    }
    os_midi_api = api;
    os_midi_begin_source(OS_MIDI_RTMIDI_SOURCE);
    if (api == OS_MIDI_JACK) jack_set_error_function(os_midi_jack_to_log);
    if (!os_midi_start_rtmidi(api == OS_MIDI_JACK ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA)) {
        os_midi_release();
        return 0;
    }
    if (api == OS_MIDI_ALSA)
        os_log("MIDI: ALSA sequencer, input port %s:%s (%d:%d)\n", OS_MIDI_CLIENT, OS_MIDI_PORT, os_midi_own_client,
               os_midi_own_port);
    else
        os_log("MIDI: JACK, input port %s\n", os_midi_own_jack_port.empty() ? "?" : os_midi_own_jack_port.c_str());
    os_midi_scan();
    os_midi_watch_stop = false;
    os_midi_watcher = std::thread(os_midi_watch);
    return 1;
}

void os_midi_close() {
    if (os_midi_api == OS_MIDI_OFF) return;
    {
        std::lock_guard<std::mutex> hold(os_midi_watch_mutex);
        os_midi_watch_stop = true;
    }
    os_midi_watch_wake.notify_all();
    if (os_midi_watcher.joinable()) os_midi_watcher.join();
    os_midi_release();
    os_log("MIDI: closed\n");
}

int32_t os_midi_list(int32_t api, void (*port)(const char* name, void* context), void* context,
                     const char** name_of_api) {
    std::vector<os_midi_found_port> found;
    jack_client_t* jack = nullptr;
    if (api == OS_MIDI_AUTO || api == OS_MIDI_JACK) jack = os_midi_jack_scanner();
    if (jack) {
        *name_of_api = "JACK";
        found = os_midi_jack_sources(jack);
        jack_client_close(jack);
    } else if (api == OS_MIDI_JACK) {
        *name_of_api = "JACK";
        return -1;
    } else {
        *name_of_api = "ALSA sequencer";
        snd_seq_t* seq = os_midi_alsa_scanner();
        if (!seq) return -1;
        found = os_midi_alsa_sources(seq);
        snd_seq_close(seq);
    }
    for (const os_midi_found_port& f : found) port(f.name.c_str(), context);
    return (int32_t)found.size();
}
