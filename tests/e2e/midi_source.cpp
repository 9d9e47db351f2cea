// A MIDI keyboard for the end-to-end tests and the benchmark: a JACK or ALSA sequencer client with one output port
// that sends the bytes it is given. It waits for somebody to connect to its port (the tracker connects itself), so
// a test knows the tracker found it.
//
//   quavlo-midi-source jack|alsa [CLIENT]
//
// Prints "ready PORT" once its port exists and "connected" once a reader is connected to it. Then every line read
// from standard input is a message of hex bytes ("90 3c 64"), sent as it is, running status, SysEx pieces and
// stray bytes included (JACK: one event in the next process cycle; ALSA: through the sequencer's MIDI encoder);
// after each line "sent N" (N lines so far) once it has left. Ends at the end of the input; exit status 1 when
// the system is not there.
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

static jack_port_t* source_port;       // JACK: the output port
static jack_ringbuffer_t* source_ring; // JACK: messages on their way to the process callback, each [length][bytes]
static std::atomic<int> source_sent;   // JACK: messages the process callback has written into a cycle

static int source_process(jack_nframes_t frames, void*) {
    void* buffer = jack_port_get_buffer(source_port, frames);
    jack_midi_clear_buffer(buffer);
    jack_nframes_t offset = 0;
    unsigned char length;
    while (jack_ringbuffer_read_space(source_ring) >= 1 && jack_ringbuffer_peek(source_ring, (char*)&length, 1) == 1 &&
           jack_ringbuffer_read_space(source_ring) >= 1u + length) {
        unsigned char bytes[256];
        jack_ringbuffer_read(source_ring, (char*)&length, 1);
        jack_ringbuffer_read(source_ring, (char*)bytes, length);
        jack_midi_event_write(buffer, offset < frames ? offset : frames - 1, bytes, length);
        offset++;
        source_sent.fetch_add(1);
    }
    return 0;
}

static std::vector<unsigned char> parse_line(const char* line) {
    std::vector<unsigned char> bytes;
    char* end = nullptr;
    for (const char* p = line;; p = end) {
        const long value = strtol(p, &end, 16);
        if (end == p) break;
        bytes.push_back((unsigned char)value);
    }
    return bytes;
}

static int run_jack(const char* name) {
    jack_client_t* client = jack_client_open(name, JackNoStartServer, nullptr);
    if (!client) {
        fprintf(stderr, "midi_source: no JACK server\n");
        return 1;
    }
    source_port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    source_ring = jack_ringbuffer_create(1 << 16);
    jack_set_process_callback(client, source_process, nullptr);
    jack_activate(client);
    printf("ready %s\n", jack_port_name(source_port));
    fflush(stdout);
    while (jack_port_connected(source_port) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    printf("connected\n");
    fflush(stdout);
    char line[4096];
    int lines = 0;
    while (fgets(line, sizeof line, stdin)) {
        const std::vector<unsigned char> bytes = parse_line(line);
        if (bytes.empty() || bytes.size() > 255) continue;
        const unsigned char length = (unsigned char)bytes.size();
        jack_ringbuffer_write(source_ring, (const char*)&length, 1);
        jack_ringbuffer_write(source_ring, (const char*)bytes.data(), length);
        lines++;
        while (source_sent.load() < lines) std::this_thread::sleep_for(std::chrono::microseconds(200));
        printf("sent %d\n", lines);
        fflush(stdout);
    }
    jack_client_close(client);
    jack_ringbuffer_free(source_ring);
    return 0;
}

static int run_alsa(const char* name) {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
        fprintf(stderr, "midi_source: no ALSA sequencer\n");
        return 1;
    }
    snd_seq_set_client_name(seq, name);
    const int port = snd_seq_create_simple_port(seq, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    snd_midi_event_t* encoder = nullptr;
    snd_midi_event_new(4096, &encoder);
    printf("ready %d:%d\n", snd_seq_client_id(seq), port);
    fflush(stdout);
    snd_seq_port_info_t* info;
    snd_seq_port_info_alloca(&info);
    for (;;) {
        snd_seq_get_port_info(seq, port, info);
        if (snd_seq_port_info_get_read_use(info) > 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    printf("connected\n");
    fflush(stdout);
    char line[4096];
    int lines = 0;
    while (fgets(line, sizeof line, stdin)) {
        const std::vector<unsigned char> bytes = parse_line(line);
        size_t at = 0;
        while (at < bytes.size()) {
            snd_seq_event_t ev;
            snd_seq_ev_clear(&ev);
            const long used = snd_midi_event_encode(encoder, bytes.data() + at, (long)(bytes.size() - at), &ev);
            if (used <= 0) break;
            at += (size_t)used;
            if (ev.type == SND_SEQ_EVENT_NONE) continue;
            snd_seq_ev_set_source(&ev, port);
            snd_seq_ev_set_subs(&ev);
            snd_seq_ev_set_direct(&ev);
            snd_seq_event_output_direct(seq, &ev);
        }
        lines++;
        printf("sent %d\n", lines);
        fflush(stdout);
    }
    snd_midi_event_free(encoder);
    snd_seq_close(seq);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2 || (strcmp(argv[1], "jack") != 0 && strcmp(argv[1], "alsa") != 0)) {
        fprintf(stderr, "usage: quavlo-midi-source jack|alsa [CLIENT]\n");
        return 2;
    }
    const char* name = argc > 2 ? argv[2] : "quavlo-midi-source";
    return strcmp(argv[1], "jack") == 0 ? run_jack(name) : run_alsa(name);
}
