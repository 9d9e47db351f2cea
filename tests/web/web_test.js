// The tracker's page in Debian's Chromium, headless, served from 127.0.0.1:
//  (a) opened with a song link, the canvas holds exactly the native program's frame of that song
//      (tests/screens/tune_link.png, which a CTest suite makes with the headless program);
//  (b) keys typed into the page reach the pattern, and SAVE downloads exactly the module they make;
//  (c) a WAV recording made in the page holds the samples `quavlo-cli render --recorder` gives for that song;
//  (d) a reload brings back an edited song (after the browser's leave-page question);
//  (e) a broken link, or a dropped file that is no song, shows "Can not load" and keeps the song;
//  (f) no request leaves 127.0.0.1, and the page opens again from the service worker without its server.
// Usage: node web_test.js SITE_DIR QUAVLO_CLI SOURCE_DIR. Prints one line per check and "N passed, N failed".
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const {execFileSync} = require('child_process');
const h = require('./harness');

const [siteDir, cli, sourceDir] = process.argv.slice(2);
if (!siteDir || !cli || !sourceDir) {
  console.error('usage: node web_test.js SITE_DIR QUAVLO_CLI SOURCE_DIR');
  process.exit(2);
}

let passed = 0, failed = 0;
function check(ok, what, detail) {
  if (ok) passed++;
  else failed++;
  console.log((ok ? 'ok     ' : 'FAILED ') + what + (detail ? ' (' + detail + ')' : ''));
}

// The message the page shows in its topmost box, '' when none.
async function boxText(page) {
  return page.evaluate(() => {
    const boxes = document.querySelectorAll('.overlay p');
    return boxes.length ? boxes[boxes.length - 1].textContent : '';
  });
}

async function closeBoxes(page) {
  while (await page.$('.overlay')) {
    await page.keyboard.press('Escape');
    await h.sleep(50);
  }
}

async function keys(page, list) {
  for (const k of list) {
    if (k.startsWith('Ctrl+')) {
      // Held across steps on both sides of the key, as fingers do.
      await page.keyboard.down('Control');
      await h.sleep(60);
      await page.keyboard.press(k.slice(5));
      await h.sleep(60);
      await page.keyboard.up('Control');
    } else {
      await page.keyboard.press(k);
    }
    await h.sleep(60); // a step or two: each key is its own press, as typed
  }
}

async function frames(page, n = 3) {
  for (let i = 0; i < n; i++) await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => r())));
}

// SAVE through the page's save dialog, under the name given; the downloaded bytes.
async function save(page, downloads, name) {
  await keys(page, ['Ctrl+KeyS']);
  await page.waitForSelector('.overlay input');
  const offered = await page.$eval('.overlay input', (el) => el.value);
  await page.$eval('.overlay input', (el, n) => { el.value = n; }, name);
  await page.keyboard.press('Enter');
  return {offered, bytes: await h.waitForFile(downloads, name)};
}

function dump(file) { return JSON.parse(execFileSync(cli, ['dump', file]).toString()); }

async function main() {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'quavlo-web-'));
  const downloads = path.join(work, 'downloads');
  fs.mkdirSync(downloads);
  const server = await h.serve(siteDir);
  const {browser, close} = await h.launch(downloads);
  const foreign = [];
  const errors = [];
  const watch = (target) => {
    target.createCDPSession().then(async (s) => {
      s.on('Network.requestWillBeSent', (e) => {
        const url = e.request.url;
        if (!url.startsWith(server.origin + '/') && !/^(data|blob):/.test(url)) foreign.push(url);
      });
      await s.send('Network.enable');
    }).catch(() => {});
  };
  browser.on('targetcreated', (t) => { if (t.type() === 'service_worker') watch(t); });
  try {
    const page = await browser.newPage();
    watch(page.target());
    page.on('pageerror', (e) => errors.push(e.message));
    if (process.env.QUAVLO_WEB_CONSOLE) page.on('console', (m) => console.log('console: ' + m.text()));
    page.on('dialog', (d) => d.accept());
    await page.setViewport({width: 1000, height: 600});
    // A MIDI keyboard as Web MIDI gives the page one: window.midiKeyboard(bytes) plays on it.
    await page.evaluateOnNewDocument(() => {
      const input = {id: 'test-keyboard', name: 'Test keyboard', type: 'input', state: 'connected',
                     onmidimessage: null};
      window.midiKeyboard = (bytes) => {
        if (input.onmidimessage) input.onmidimessage({data: new Uint8Array(bytes)});
        return !!input.onmidimessage;
      };
      navigator.requestMIDIAccess = () => Promise.resolve({inputs: new Map([[input.id, input]]), onstatechange: null});
    });

    // (a) The tune's link: the first frames show the song, exactly as the native program draws it.
    const tune = fs.readFileSync(path.join(sourceDir, 'examples/tune.qvl'));
    const link = server.origin + '/' + h.linkFragment(tune);
    check(link.length <= 300, 'the example song\'s link is at most 300 characters', link.length + ' characters');
    await page.goto(link, {waitUntil: 'load'});
    await page.waitForFunction(() => window.quavlo && window.quavlo.firstFrame >= 0);
    await frames(page, 5);
    const shot = await page.evaluate(() => {
      const c = document.getElementById('canvas');
      return {w: c.width, h: c.height, url: c.toDataURL('image/png'), hash: location.hash,
              css: getComputedStyle(c).width, rendering: getComputedStyle(c).imageRendering};
    });
    const canvas = h.readPng(Buffer.from(shot.url.split(',')[1], 'base64'));
    const want = h.readPng(fs.readFileSync(path.join(sourceDir, 'tests/screens/tune_link.png')));
    let differ = 0;
    for (let i = 0; i < want.rgba.length; i++) if (canvas.rgba[i] !== want.rgba[i]) differ++;
    check(shot.w === 900 && shot.h === 520 && canvas.width === 900, 'the canvas holds the 900 x 520 frame');
    check(differ === 0, 'the link\'s song on the canvas is the native program\'s frame, pixel for pixel',
          differ + ' bytes differ');
    check(shot.css === '900px' && shot.rendering === 'pixelated', 'shown at a whole factor with crisp pixels',
          shot.css + ', ' + shot.rendering);
    check(shot.hash === '', 'the link leaves the address once loaded');

    // (b) Keys reach the pattern; SAVE offers the song's name and downloads the module they make.
    await page.click('#canvas', {offset: {x: 5, y: 5}});
    await keys(page, ['Ctrl+KeyO']); // the link's song has no changes: no question
    await keys(page, ['KeyQ', 'KeyW', 'KeyE', 'ArrowRight', 'ArrowRight', 'ArrowRight', 'ArrowUp', 'ArrowUp',
                      'ArrowUp', 'Digit0', 'KeyF']);
    await keys(page, ['ArrowRight', 'Digit0', 'Digit1']);
    const first = await save(page, downloads, 'typed.qvl');
    fs.writeFileSync(path.join(work, 'typed.qvl'), first.bytes);
    const cells = dump(path.join(work, 'typed.qvl')).patterns[0];
    const expected = [
      {channel: 0, row: 0, flags: 27, fields: [0x40, 0, 0, 0x0f, 0x01]},
      {channel: 0, row: 1, flags: 3, fields: [0x42, 0, 0, 0, 0]},
      {channel: 0, row: 2, flags: 3, fields: [0x44, 0, 0, 0, 0]},
    ];
    check(JSON.stringify(cells) === JSON.stringify(expected), 'typed keys reach the pattern',
          JSON.stringify(cells));
    check(first.offered === 'song.qvl', 'SAVE offers the song\'s name', first.offered);
    execFileSync(cli, ['repack', path.join(work, 'typed.qvl'), path.join(work, 'repacked.qvl')]);
    check(Buffer.compare(first.bytes, fs.readFileSync(path.join(work, 'repacked.qvl'))) === 0,
          'SAVE downloads exactly the module of those cells', first.bytes.length + ' bytes');
    const header = await save(page, downloads, 'typed.h');
    check(header.bytes.toString().includes('typed[]') || header.bytes.toString().includes('typed ['),
          'a name ending in .h downloads the C header');

    // (d) An edit, kept within a second; the reload asks first (the leave-page question) and brings it back.
    await page.focus('#canvas');
    await keys(page, ['ArrowLeft', 'ArrowLeft', 'ArrowLeft', 'ArrowLeft', 'ArrowDown', 'ArrowDown', 'ArrowDown',
                      'KeyR']);
    await h.sleep(1000);
    let asked = false;
    const onDialog = (d) => { if (d.type() === 'beforeunload') asked = true; };
    page.on('dialog', onDialog);
    await page.reload({waitUntil: 'load'});
    page.off('dialog', onDialog);
    check(asked, 'leaving the page with unsaved changes asks first');
    await page.waitForFunction(() => window.quavlo && window.quavlo.firstFrame >= 0);
    await page.focus('#canvas');
    const again = await save(page, downloads, 'again.qvl');
    fs.writeFileSync(path.join(work, 'again.qvl'), again.bytes);
    const restored = dump(path.join(work, 'again.qvl')).patterns[0];
    check(again.offered === 'typed.qvl' && restored.length === 4 && restored[3].row === 3 &&
          restored[3].fields[0] === 0x45, 'a reload restores the edited song with its name',
          again.offered + ' ' + JSON.stringify(restored[3]));

    // (c) WAV records while the song plays once through (row speed 1: 64 blocks); STOP hands over song.wav.
    const periods = await page.evaluate(() => window.quavlo.periods);
    await keys(page, ['Ctrl+KeyW']);
    // 64 blocks of 1102 samples are 138 periods of 512: a few more, and the song has played through once.
    await page.waitForFunction((p) => window.quavlo.periods >= p + 160, {timeout: 30000}, periods);
    await keys(page, ['Ctrl+KeyW']);
    const wav = h.wavSamples(await h.waitForFile(downloads, 'song.wav'));
    execFileSync(cli, ['render', '--recorder', path.join(work, 'again.qvl'), path.join(work, 'cli.wav')]);
    const cliWav = h.wavSamples(fs.readFileSync(path.join(work, 'cli.wav')));
    let firstDiff = -1;
    for (let i = 0; i < cliWav.length && i < wav.length; i++) {
      if (wav[i] !== cliWav[i]) { firstDiff = i; break; }
    }
    check(cliWav.length > 0 && wav.length >= cliWav.length && firstDiff < 0,
          'the page\'s recording holds the samples quavlo-cli render --recorder gives',
          'page ' + wav.length + ', cli ' + cliWav.length + ' samples, first difference ' + firstDiff);

    // (e) A broken link and a dropped file that is no song: "Can not load", the song stays.
    await page.goto(server.origin + '/#qvl=AAAA_not-a-song', {waitUntil: 'load'});
    await page.waitForSelector('.overlay');
    check((await boxText(page)) === 'Can not load', 'a broken link shows "Can not load"');
    await closeBoxes(page);
    const junk = h.linkFragment(Buffer.from('QV but no song'));
    await page.goto(server.origin + '/' + junk, {waitUntil: 'load'});
    await page.waitForSelector('.overlay');
    check((await boxText(page)) === 'Can not load', 'a link to bytes that are no song shows "Can not load"');
    await closeBoxes(page);
    // With unsaved changes, a dropped file asks first; Discard, then the verdict on its bytes.
    await page.focus('#canvas');
    // The cursor stands where the recording's playback stopped: Up held repeats it to the top row.
    await page.keyboard.down('ArrowUp');
    await h.sleep(2500);
    await page.keyboard.up('ArrowUp');
    await keys(page, ['ArrowDown', 'ArrowDown', 'ArrowDown', 'ArrowDown', 'ArrowDown', 'KeyT']);
    await page.evaluate(() => {
      const data = new DataTransfer();
      data.items.add(new File([new Uint8Array([0x51, 0x56, 1, 2, 3])], 'bad.qvl'));
      document.dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));
    });
    await page.waitForSelector('.overlay button:nth-child(3)');
    const question = await boxText(page);
    await page.click('.overlay button:nth-child(2)'); // Discard
    await page.waitForFunction(() => document.querySelector('.overlay p') &&
                               document.querySelector('.overlay p').textContent === 'Can not load');
    check(question.startsWith('The song has unsaved changes'), 'a dropped file asks about unsaved changes first');
    await closeBoxes(page);
    await page.focus('#canvas');
    const kept = await save(page, downloads, 'kept.qvl');
    fs.writeFileSync(path.join(work, 'kept.qvl'), kept.bytes);
    const keptCells = dump(path.join(work, 'kept.qvl')).patterns[0];
    check(keptCells.length === 5 && keptCells[4].row === 5 && keptCells[4].fields[0] === 0x47,
          'the song stays after bad input, with its unsaved change', JSON.stringify(keptCells[4]));

    // LOAD through the page's file picker.
    await page.focus('#canvas');
    const [chooser] = await Promise.all([page.waitForFileChooser(), keys(page, ['Ctrl+KeyL'])]);
    await chooser.accept([path.join(sourceDir, 'examples/tune.qvl')]);
    await page.waitForFunction(() => document.title === 'QuavloII - tune.qvl');
    await page.focus('#canvas');
    const loaded = await save(page, downloads, 'loaded.qvl');
    check(Buffer.compare(loaded.bytes, tune) === 0, 'LOAD takes a file from the page\'s picker');

    // With LOAD's box open, a file dropped on the page is the one chosen.
    await page.focus('#canvas');
    await keys(page, ['Ctrl+KeyL']);
    await page.waitForSelector('.overlay button');
    const jingle = fs.readFileSync(path.join(sourceDir, 'examples/jingle.qvl'));
    await page.evaluate((bytes) => {
      const data = new DataTransfer();
      data.items.add(new File([new Uint8Array(bytes)], 'jingle.qvl'));
      document.dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));
    }, [...jingle]);
    const dropped = await page.waitForFunction(() => document.title === 'QuavloII - jingle.qvl' &&
                                               !document.querySelector('.overlay'), {timeout: 5000})
      .then(() => true, () => false);
    check(dropped, 'a file dropped on LOAD\'s box is loaded');

    // The share key: the link shown loads the same song.
    await page.focus('#canvas');
    await keys(page, ['F12']);
    await page.waitForSelector('.overlay input');
    const shared = await page.$eval('.overlay input', (el) => el.value);
    check(shared.startsWith(server.origin + '/#qvl=') && shared.length <= 300,
          'F12 shows the song\'s link', shared.length + ' characters');
    await closeBoxes(page);

    // A larger window: the canvas twice as large, and a click on the NEW button lands on it.
    await page.setViewport({width: 1900, height: 1100});
    await h.sleep(200);
    const doubled = await page.evaluate(() => getComputedStyle(document.getElementById('canvas')).width);
    await page.click('#canvas', {offset: {x: 2 * 55, y: 2 * 115}, delay: 150});
    const renewed = await page.waitForFunction(() => document.title === 'QuavloII', {timeout: 5000})
      .then(() => true, () => false);
    check(doubled === '1800px' && renewed, 'twice as large, the mouse is mapped back: NEW clicked', doubled);

    // Web MIDI: a note-on from the keyboard (with a clock byte inside and a note-off after) writes its note in the
    // new song, as the note key would; C-4 is MIDI note 60.
    await page.focus('#canvas');
    const heard = await page.evaluate(() => window.midiKeyboard([0x90, 0xf8, 60, 100, 0x80, 60, 0]));
    await frames(page, 3);
    const played = await save(page, downloads, 'midi.qvl');
    fs.writeFileSync(path.join(work, 'midi.qvl'), played.bytes);
    const midiCells = dump(path.join(work, 'midi.qvl')).patterns[0];
    check(heard && midiCells.length === 1 && midiCells[0].fields[0] === 0x40,
          'a Web MIDI note-on writes its note', JSON.stringify(midiCells));

    // (f) Offline: the service worker opens the page without its server.
    const before = server.requests.length;
    server.closeAllConnections();
    await new Promise((r) => server.close(r));
    await page.goto(server.origin + '/', {waitUntil: 'load'});
    const offline = await page.waitForFunction(() => window.quavlo && window.quavlo.firstFrame >= 0,
                                               {timeout: 10000}).then(() => true, () => false);
    check(offline, 'the page opens again without its server (service worker)');
    check(before > 0 && foreign.length === 0, 'no request leaves 127.0.0.1',
          foreign.length ? foreign.join(' ') : before + ' requests, all to the page\'s own host');
    check(errors.length === 0, 'no error on the page', errors.join('; '));
  } catch (e) {
    check(false, 'the page session ran to its end', e.stack || String(e));
  } finally {
    await close();
    server.close();
    fs.rmSync(work, {recursive: true, force: true});
  }
  console.log(passed + ' passed, ' + failed + ' failed');
  process.exit(failed ? 1 : 0);
}

main();
