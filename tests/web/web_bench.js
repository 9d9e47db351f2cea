// The page's budgets, measured in Debian's Chromium, headless, served from 127.0.0.1 (figures, not tests): the
// site's size gzipped; the time from navigation to the first frame on the canvas, in fresh profiles and again
// from the service worker's cache; the delay from a key going down to the first audio period that sounds its
// note (plus what the browser reports for its own output); and the CPU the browser's processes take while the
// page is idle and while it plays a song, from Chromium's own process figures.
// Usage: node web_bench.js SITE_DIR SONG [SECONDS]. Prints a table.
'use strict';

const fs = require('fs');
const h = require('./harness');

const [siteDir, songFile, secondsArg] = process.argv.slice(2);
if (!siteDir || !songFile) {
  console.error('usage: node web_bench.js SITE_DIR SONG [SECONDS]');
  process.exit(2);
}
const seconds = Number(secondsArg || 10);

function median(v) {
  const s = v.slice().sort((a, b) => a - b);
  return s.length ? s[Math.floor(s.length / 2)] : NaN;
}

async function open(browser, url) {
  const page = await browser.newPage();
  await page.setViewport({width: 1000, height: 600});
  await page.goto(url, {waitUntil: 'load'});
  await page.waitForFunction(() => window.quavlo && window.quavlo.firstFrame >= 0, {timeout: 20000});
  return page;
}

// CPU seconds of all of the browser's processes, and of its renderers.
async function cpu(session) {
  const info = await session.send('SystemInfo.getProcessInfo');
  let all = 0, renderer = 0;
  for (const p of info.processInfo) {
    all += p.cpuTime;
    if (p.type === 'renderer') renderer += p.cpuTime;
  }
  return {all, renderer};
}

async function cpuShare(session, ms) {
  const a = await cpu(session);
  const t = Date.now();
  await h.sleep(ms);
  const b = await cpu(session);
  const wall = (Date.now() - t) / 1000;
  return {all: 100 * (b.all - a.all) / wall, renderer: 100 * (b.renderer - a.renderer) / wall};
}

async function main() {
  const server = await h.serve(siteDir);
  const song = fs.readFileSync(songFile);
  const link = server.origin + '/' + h.linkFragment(song);
  const rows = [];
  const size = h.siteSize(siteDir);
  rows.push(['site, gzipped (budget 250 KiB)', (size.gzipped / 1024).toFixed(1) + ' KiB',
             size.files.length + ' files, ' + (size.raw / 1024).toFixed(1) + ' KiB as they are']);

  // First frame: three first visits, each in a fresh profile, then a visit from the service worker's cache.
  const cold = [];
  let warm = NaN;
  for (let i = 0; i < 3; i++) {
    const {browser, close} = await h.launch();
    try {
      const page = await open(browser, link);
      cold.push(await page.evaluate(() => performance.getEntriesByName('quavlo-first-frame')[0].startTime));
      if (i === 2) {
        await page.evaluate(() => navigator.serviceWorker.ready);
        await page.goto('about:blank');
        const again = await open(browser, server.origin + '/');
        warm = await again.evaluate(() => performance.getEntriesByName('quavlo-first-frame')[0].startTime);
      }
    } finally {
      await close();
    }
  }
  rows.push(['first frame after navigation (budget 1 s)', median(cold).toFixed(0) + ' ms',
             'first visits ' + cold.map((v) => v.toFixed(0)).join(', ') + ' ms; from the cache ' +
             warm.toFixed(0) + ' ms']);

  const {browser, close} = await h.launch();
  try {
    const page = await open(browser, link);
    await page.click('#canvas', {offset: {x: 5, y: 5}});
    // Key to sound: edit mode off, a note played from silence, twenty times.
    await page.keyboard.press('Space');
    await h.sleep(300);
    for (let i = 0; i < 20; i++) {
      await page.keyboard.press(i % 2 ? 'KeyQ' : 'KeyE');
      await h.sleep(900 + (i * 37) % 50); // the note ends; the next press falls anywhere in a step
    }
    const audio = await page.evaluate(() => ({
      delays: window.quavlo.keyToSound, rate: window.quavlo.audio.sampleRate,
      base: window.quavlo.audio.baseLatency || 0, output: window.quavlo.audio.outputLatency || 0}));
    rows.push(['key to sound: key down to the period that sounds it (budget 23 ms period + 25 ms step)',
               median(audio.delays).toFixed(1) + ' ms',
               'max ' + Math.max(...audio.delays).toFixed(1) + ' ms over ' + audio.delays.length +
               ' notes; the browser adds ' + ((audio.base + audio.output) * 1000).toFixed(1) +
               ' ms of output buffering; context at ' + audio.rate + ' Hz']);

    const session = await browser.target().createCDPSession();
    await page.keyboard.press('Space');
    await h.sleep(1000);
    const idle = await cpuShare(session, seconds * 1000);
    await page.keyboard.press('Enter');
    await h.sleep(500);
    const playing = await cpuShare(session, seconds * 1000);
    await page.keyboard.press('Enter');
    rows.push(['CPU idle, all of Chromium\'s processes (% of one core)', idle.all.toFixed(1) + ' %',
               'the page\'s renderer ' + idle.renderer.toFixed(1) + ' %; ' + seconds + ' s']);
    rows.push(['CPU playing the song, pattern scrolling', playing.all.toFixed(1) + ' %',
               'the page\'s renderer ' + playing.renderer.toFixed(1) + ' %; ' + seconds + ' s']);
  } finally {
    await close();
    server.close();
  }
  const width = Math.max(...rows.map((r) => r[0].length));
  console.log('| ' + 'web page'.padEnd(width) + ' | value | notes |');
  console.log('|' + '-'.repeat(width + 2) + '|---|---|');
  for (const r of rows) console.log('| ' + r[0].padEnd(width) + ' | ' + r[1] + ' | ' + r[2] + ' |');
}

main().catch((e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
