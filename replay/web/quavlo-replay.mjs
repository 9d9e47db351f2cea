// QuavloII replayer for web pages and games: the replayer's C library built as WebAssembly (quavlo-replay.wasm,
// beside this file) with the small mixer, wrapped for JavaScript. Plays a song from its module bytes sample for
// sample as the tracker plays it, in node and in browsers.
//
//   import { open, createNode } from "./quavlo-replay.mjs";
//   const song = await open(bytes, seed);        // null when the bytes are no usable song
//   const frames = song.render(int16OrFloat32);   // fewer than asked once the song has ended
//   const { order, row } = song.position();
//   song.setPasses(2); song.close();
//   const node = await createNode(audioContext, bytes, seed);  // an AudioWorkletNode playing the song
//   node.connect(audioContext.destination);
//
// Every realm (the page, a worker, the audio worklet) instantiates the module once and opens its songs in it.

const WASM = new URL("./quavlo-replay.wasm", import.meta.url);
const RATES = [22050, 44100, 48000];

let compiled; // the compiled module, a promise once asked for

function compile() {
  compiled ??= (async () => {
    if (typeof process === "object" && process.versions && process.versions.node) {
      const { readFile } = await import("node:fs/promises");
      return WebAssembly.compile(await readFile(WASM));
    }
    const response = await fetch(WASM);
    return WebAssembly.compile(await response.arrayBuffer());
  })();
  return compiled;
}

// The library over one instance of the module: songs, and the scratch memory their calls go through. This function
// is also the audio worklet's code (see createNode), so it uses nothing from outside itself.
function library(module) {
  const q = new WebAssembly.Instance(module, { env: { emscripten_notify_memory_growth() {} } }).exports;
  q._initialize();
  let scratch = 0, room = 0; // a block of the module's memory for the calls' arguments and results
  const at = (bytes) => {
    if (bytes > room) {
      q.free(scratch);
      room = Math.max(bytes, 16384);
      scratch = q.malloc(room);
    }
    return scratch;
  };
  const int32 = () => new Int32Array(q.memory.buffer);

  class Song {
    constructor(handle, rate) {
      this.handle = handle;
      this.rate = rate;
    }
    // Fills out (an Int16Array, or a Float32Array with -1..1) and returns the frames written.
    render(out) {
      const floats = out instanceof Float32Array;
      const to = at(out.length * (floats ? 4 : 2));
      const got = (floats ? q.qvl_replay_render_f32 : q.qvl_replay_render)(this.handle, to, out.length);
      out.set(new out.constructor(q.memory.buffer, to, got));
      return got;
    }
    position() {
      const to = at(8);
      q.qvl_replay_position(this.handle, to, to + 4);
      const [order, row] = int32().subarray(to >> 2, (to >> 2) + 2);
      return { order, row };
    }
    setPasses(passes) {
      q.qvl_replay_set_passes(this.handle, passes);
    }
    seek(order, row) {
      return q.qvl_replay_seek(this.handle, order, row) === 1;
    }
    // Frames of one play through at the song's rate; -1 when it never comes back to its start within an hour.
    length() {
      return q.qvl_replay_length(this.handle);
    }
    frames() {
      return Number(q.qvl_replay_frames(this.handle));
    }
    close() {
      q.qvl_replay_close(this.handle);
    }
  }

  return {
    // The song, or null when the bytes are no usable module (or the rate is none of 22050, 44100, 48000).
    open(bytes, seed, rate) {
      const from = q.malloc(bytes.length + 1);
      new Uint8Array(q.memory.buffer).set(bytes, from);
      const handle = q.qvl_replay_open_rate(from, bytes.length, seed >>> 0, rate, 0);
      q.free(from);
      return handle ? new Song(handle, rate) : null;
    },
  };
}

let main; // this realm's library, a promise once asked for

// Opens a song from its module bytes (a Uint8Array; an ArrayBuffer is taken too) at 22050 frames per second, the
// tracker's own samples, or at 44100 or 48000 through the band-limited resampler. seed_ms seeds the noise sample.
export async function open(bytes, seed = 0, rate = 22050) {
  main ??= compile().then(library);
  return (await main).open(new Uint8Array(bytes), seed, rate);
}

// The audio worklet's processor: one song of its own library, rendered as floats into the node's one output.
function processor(library) {
  registerProcessor(
    "quavlo-replay",
    class extends AudioWorkletProcessor {
      constructor(options) {
        super();
        const { module, bytes, seed, passes } = options.processorOptions;
        this.song = library(module).open(bytes, seed, sampleRate);
        if (this.song && passes) this.song.setPasses(passes);
        this.port.onmessage = (event) => this.song && this.song.setPasses(event.data.passes);
      }
      process(inputs, outputs) {
        const out = outputs[0][0];
        const got = this.song ? this.song.render(out) : 0;
        out.fill(0, got);
        for (const channel of outputs[0].slice(1)) channel.set(out);
        if (got < out.length && this.song) {
          this.song.close();
          this.song = null;
          this.port.postMessage("ended");
        }
        return this.song !== null;
      }
    },
  );
}

const contexts = new WeakMap(); // the audio contexts the processor was added to, each with its promise

// An AudioWorkletNode that plays the song into its one output at the context's rate (which must be 22050, 44100
// or 48000: new AudioContext({ sampleRate: 48000 })), or null when the bytes are no usable song. options.passes
// ends the song after that many plays through; node.setPasses(n) changes it while it plays. The node fires an
// "ended" event when the song has ended.
export async function createNode(context, bytes, seed = 0, options = {}) {
  bytes = new Uint8Array(bytes);
  const song = RATES.includes(context.sampleRate) ? await open(bytes, seed, context.sampleRate) : null;
  if (!song) return null;
  song.close();
  if (!contexts.has(context)) {
    const code = `(${processor})(${library});`;
    const url = URL.createObjectURL(new Blob([code], { type: "text/javascript" }));
    contexts.set(context, context.audioWorklet.addModule(url).finally(() => URL.revokeObjectURL(url)));
  }
  await contexts.get(context);
  const node = new AudioWorkletNode(context, "quavlo-replay", {
    numberOfInputs: 0,
    outputChannelCount: [1],
    processorOptions: { module: await compile(), bytes, seed, passes: options.passes || 0 },
  });
  node.port.onmessage = () => node.dispatchEvent(new Event("ended"));
  node.setPasses = (passes) => node.port.postMessage({ passes });
  return node;
}
