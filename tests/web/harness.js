// What the page's tests and its benchmark share: a static server for the built site on 127.0.0.1 that notes every
// request, Debian's Chromium started headless on a fresh profile through puppeteer-core, a PNG reader, song links
// made with node's own DEFLATE, and the WAV reader.
'use strict';

const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const puppeteer = require('puppeteer-core');

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.webmanifest': 'application/manifest+json', '.png': 'image/png', '.json': 'application/json',
};

// Serves the files of dir on 127.0.0.1 (port 0: any free one). Every request is noted in server.requests.
function serve(dir, port = 0) {
  dir = path.resolve(dir);
  return new Promise((resolve, reject) => {
    const requests = [];
    const server = http.createServer((req, res) => {
      requests.push(req.url);
      let file = decodeURIComponent(req.url.split('?')[0]);
      if (file.endsWith('/')) file += 'index.html';
      const full = path.join(dir, path.normalize(file).replace(/^(\.\.[/\\])+/, ''));
      if (!full.startsWith(dir) || !fs.existsSync(full) || fs.statSync(full).isDirectory()) {
        res.writeHead(404);
        res.end();
        return;
      }
      res.writeHead(200, {'Content-Type': TYPES[path.extname(full)] || 'application/octet-stream',
                          'Cache-Control': 'no-cache'});
      fs.createReadStream(full).pipe(res);
    });
    server.on('error', reject);
    server.listen(port, '127.0.0.1', () => {
      server.requests = requests;
      server.origin = 'http://127.0.0.1:' + server.address().port;
      resolve(server);
    });
  });
}

// Debian's Chromium, headless, on a profile of its own (removed by close()); downloads go to download_dir.
async function launch(downloadDir) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quavlo-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.QUAVLO_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: ['--no-sandbox', '--headless', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--disable-default-apps', '--disable-extensions', '--autoplay-policy=no-user-gesture-required',
           '--disable-features=Translate,MediaRouter,OptimizationHints', '--mute-audio'],
  });
  const close = async () => {
    await browser.close().catch(() => {});
    fs.rmSync(profile, {recursive: true, force: true});
  };
  if (downloadDir) {
    const session = await browser.target().createCDPSession();
    await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloadDir,
                                                       eventsEnabled: true});
  }
  return {browser, close};
}

// A PNG's pixels as RGBA bytes (8-bit grey, RGB or RGBA, not interlaced).
function readPng(buffer) {
  if (buffer.readUInt32BE(0) !== 0x89504e47) throw new Error('not a PNG');
  let pos = 8, width = 0, height = 0, type = 0, depth = 0;
  const data = [];
  while (pos < buffer.length) {
    const length = buffer.readUInt32BE(pos);
    const kind = buffer.toString('latin1', pos + 4, pos + 8);
    const body = buffer.subarray(pos + 8, pos + 8 + length);
    if (kind === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      depth = body[8];
      type = body[9];
      if (depth !== 8 || body[12] !== 0 || ![0, 2, 6].includes(type)) throw new Error('unsupported PNG');
    } else if (kind === 'IDAT') {
      data.push(body);
    }
    pos += 12 + length;
  }
  const channels = {0: 1, 2: 3, 6: 4}[type];
  const raw = zlib.inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const rows = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; x++) {
      const a = x >= channels ? rows[y * stride + x - channels] : 0;
      const b = y > 0 ? rows[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? rows[(y - 1) * stride + x - channels] : 0;
      let v = line[x];
      if (filter === 1) v += a;
      else if (filter === 2) v += b;
      else if (filter === 3) v += (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        v += pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      rows[y * stride + x] = v & 255;
    }
  }
  const rgba = Buffer.alloc(width * height * 4);
  for (let i = 0; i < width * height; i++) {
    const s = i * channels;
    rgba[i * 4] = rows[s];
    rgba[i * 4 + 1] = channels === 1 ? rows[s] : rows[s + 1];
    rgba[i * 4 + 2] = channels === 1 ? rows[s] : rows[s + 2];
    rgba[i * 4 + 3] = channels === 4 ? rows[s + 3] : 255;
  }
  return {width, height, rgba};
}

// The fragment of a song link, made with node's own raw DEFLATE (not the page's).
function linkFragment(module) {
  return '#qvl=' + zlib.deflateRawSync(module, {level: 9}).toString('base64url');
}

// The samples of a 16-bit mono WAV file.
function wavSamples(buffer) {
  if (buffer.toString('latin1', 0, 4) !== 'RIFF' || buffer.toString('latin1', 8, 12) !== 'WAVE')
    throw new Error('not a WAV file');
  const size = buffer.readUInt32LE(40);
  const samples = new Int16Array(size / 2);
  for (let i = 0; i < samples.length; i++) samples[i] = buffer.readInt16LE(44 + i * 2);
  return samples;
}

function sleep(ms) { return new Promise((r) => setTimeout(r, ms)); }

// Waits until file appears in dir (and stops growing); its bytes.
async function waitForFile(dir, name, ms = 10000) {
  const full = path.join(dir, name);
  const end = Date.now() + ms;
  let last = -1;
  while (Date.now() < end) {
    if (fs.existsSync(full)) {
      const size = fs.statSync(full).size;
      if (size === last && size > 0) return fs.readFileSync(full);
      last = size;
    }
    await sleep(100);
  }
  throw new Error('no download ' + name);
}

// The site's files and their size gzipped, as a static host would send them.
function siteSize(dir) {
  let raw = 0, gzipped = 0;
  const files = fs.readdirSync(dir).filter((f) => fs.statSync(path.join(dir, f)).isFile());
  for (const f of files) {
    const data = fs.readFileSync(path.join(dir, f));
    raw += data.length;
    gzipped += zlib.gzipSync(data, {level: 9}).length;
  }
  return {files, raw, gzipped};
}

module.exports = {serve, launch, readPng, linkFragment, wavSamples, sleep, waitForFile, siteSize};
