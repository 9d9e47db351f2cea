// The replayer as WebAssembly in node: built by scripts/web-replay.sh, its ES module gives exactly the samples of
// quavlo-cli render for every reference song, the benchmark song and the examples (16-bit and float, in calls of
// any size, two songs at once), ends after the passes asked for where quavlo-cli does, knows the song's length,
// resamples to 48000 Hz on the tracker's samples, refuses what is no song and a closed song, and with its wasm
// takes at most 16 KiB gzipped.
// Usage: node check_wasm.mjs WEB_DIR QUAVLO_CLI REPO_ROOT
import { execFileSync } from "node:child_process";
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { gzipSync } from "node:zlib";
import { pathToFileURL } from "node:url";

const [webDir, cli, root] = process.argv.slice(2).map((p) => resolve(p));
const { open, createNode } = await import(pathToFileURL(join(webDir, "quavlo-replay.mjs")).href);
const work = mkdtempSync(join(tmpdir(), "quavlo-wasm-"));
let failures = 0;
const check = (ok, what) => {
  if (!ok) {
    failures++;
    console.log(`FAIL ${what}`);
  }
};

// The samples of `quavlo-cli render` with these options.
function cliRender(module, args) {
  const out = join(work, "cli.wav");
  execFileSync(cli, ["render", module, out, ...args]);
  const wav = readFileSync(out);
  return new Int16Array(wav.buffer.slice(wav.byteOffset + 44, wav.byteOffset + wav.length));
}

// Everything the song renders up to `most` frames, in calls of `perCall` frames into arrays of `type`.
function renderAll(song, most, perCall = 4096, type = Int16Array) {
  const out = new type(most);
  const chunk = new type(perCall);
  let have = 0;
  for (let n = perCall; n === perCall && have < most; have += n) {
    n = song.render(chunk.subarray(0, Math.min(perCall, most - have)));
    out.set(chunk.subarray(0, n), have);
    if (n < Math.min(perCall, most - have)) return out.subarray(0, have + n);
  }
  return out.subarray(0, have);
}

const same = (a, b) => a.length === b.length && a.every((v, i) => v === b[i]);

const shared = join(root, "..", "shared");
const songs = [join(root, "examples", "tune.qvl"), join(root, "examples", "jingle.qvl")];
if (existsSync(join(shared, "reference")))
  for (const name of readdirSync(join(shared, "reference")).sort())
    if (name.endsWith(".qvl") && !name.includes(".repack.")) songs.push(join(shared, "reference", name));
const bench = join(shared, "bench", "bench_song.qvl");
if (existsSync(bench)) songs.push(bench);

// Bit-exact with the command line, 30 s of every song (or to where it stops itself).
for (const module of songs) {
  const bytes = readFileSync(module);
  for (const clock of module.endsWith("mus_samples.qvl") ? [0, 1234, 66770] : [4321]) {
    const what = `${module.split("/").pop()} clock ${clock}`;
    const expected = cliRender(module, ["--passes", "1000", "--seconds", "30", "--clock", String(clock)]);
    const sizes = module.endsWith("tune.qvl") ? [1, 7, 1102, 4096] : [4096];
    for (const perCall of sizes) {
      const song = await open(bytes, clock);
      check(song && same(renderAll(song, expected.length, perCall), expected), `${what}: ${perCall} per call`);
      song.close();
    }
    const song = await open(bytes, clock);
    const floats = renderAll(song, expected.length, 1000, Float32Array);
    check(same(floats, Array.from(expected, (v) => Math.fround(v / 32768))), `${what}: floats`);
    song.close();
  }
}

// Passes and length as quavlo-cli render --passes counts them; a seek to the start plays the song again.
for (const module of [join(root, "examples", "jingle.qvl"), ...(existsSync(bench) ? [bench] : [])]) {
  const bytes = readFileSync(module);
  const song = await open(bytes, 0);
  const once = cliRender(module, ["--passes", "1", "--seconds", "3600"]);
  check(song.length() === once.length, `${module}: length ${song.length()}, quavlo-cli ${once.length}`);
  for (const passes of [1, 2]) {
    const expected = passes === 1 ? once : cliRender(module, ["--passes", "2", "--seconds", "3600"]);
    check(song.seek(0, 0), "seek to the start");
    song.setPasses(passes);
    check(same(renderAll(song, expected.length + 5000), expected), `${module}: ${passes} passes`);
  }
  song.close();
}

// 48000 Hz: frame 320 m lies on sample 147 m and is that sample; the song's end at its instant.
{
  const bytes = readFileSync(songs[0]);
  const native = renderAll(await open(bytes, 5), 1 << 20);
  const song = await open(bytes, 5, 48000);
  const resampled = renderAll(song, 1 << 21, 999);
  check(resampled.length === Math.ceil((native.length * 320) / 147) && song.length() === resampled.length,
        `48000 Hz: ${resampled.length} frames for ${native.length} samples`);
  let off = 0;
  for (let m = 0; 320 * m < resampled.length; m++) off += resampled[320 * m] !== native[147 * m];
  check(off === 0, `48000 Hz: ${off} frames off the tracker's samples`);
  check(song.frames() === resampled.length, "48000 Hz: frame count");
  song.close();
}

// Two songs at once, in turns: each gives what it gives alone.
{
  const [a, b] = [songs[0], songs[1]];
  const expected = [cliRender(a, ["--passes", "1000"]), cliRender(b, ["--passes", "1000"])];
  const both = [await open(readFileSync(a), 0), await open(readFileSync(b), 0)];
  const got = [[], []];
  for (let turn = 0, live = 2; live > 0; turn++) {
    live = 0;
    for (const k of [0, 1]) {
      const out = new Int16Array([1, 7, 1102, 4096][(turn + 2 * k) % 4]);
      const n = both[k].render(out);
      got[k].push(...out.subarray(0, n));
      live += n > 0;
    }
  }
  for (const k of [0, 1]) check(same(got[k], expected[k]), `song ${k + 1} of two at once`);
  check(same(Object.values(both[0].position()), [1, 62]), `the tune's last position: ${JSON.stringify(both[0].position())}`);
  both.forEach((song) => song.close());
}

// Refusals: no module, no order entry, a rate the resampler does not make; a closed song.
for (const [bytes, rate] of [[[1, 2, 3], 22050], [[0x51, 0x56, 0, 0], 22050], [readFileSync(songs[0]), 32000]])
  check((await open(new Uint8Array(bytes), 0, rate)) === null, `refuses ${bytes.length} bytes at ${rate}`);
{
  const song = await open(readFileSync(songs[0]), 0);
  check(same(Object.values(song.position()), [0, 0]), "position before any sample");
  song.close();
  check(song.render(new Int16Array(64)) === 0 && same(Object.values(song.position()), [-1, -1]), "closed song");
}
check(typeof createNode === "function", "createNode");

const size = ["quavlo-replay.mjs", "quavlo-replay.wasm"]
  .map((name) => gzipSync(readFileSync(join(webDir, name)), { level: 9 }).length)
  .reduce((a, b) => a + b);
check(size <= 16384, `${size} bytes gzipped`);
rmSync(work, { recursive: true, force: true });
console.log(`${failures ? "FAILED" : "passed"}: ${songs.length} songs bit-exact with quavlo-cli; module and wasm ${size} bytes gzipped`);
process.exit(failures ? 1 : 0);
