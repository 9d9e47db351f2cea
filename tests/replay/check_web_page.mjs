// Opens a page in a headless Chromium and waits until its title says PASS or FAIL (at most a minute), speaking the
// DevTools protocol over the browser's pipe: no extra package needed. Prints the title; exit status 0 for PASS.
// Usage: node check_web_page.mjs CHROMIUM URL
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const [chromium, url] = process.argv.slice(2);
const profile = mkdtempSync(join(tmpdir(), "quavlo-chromium-"));
const browser = spawn(
  chromium,
  ["--headless", "--no-sandbox", "--disable-gpu", `--user-data-dir=${profile}`, "--remote-debugging-pipe", url],
  { stdio: ["ignore", "ignore", "ignore", "pipe", "pipe"] },
);
const [toBrowser, fromBrowser] = [browser.stdio[3], browser.stdio[4]];

// Messages are JSON texts ended by a NUL byte; each call waits for the answer with its id.
let nextId = 1, pending = "";
const waiting = new Map();
fromBrowser.on("data", (data) => {
  pending += data.toString();
  for (let end; (end = pending.indexOf("\0")) >= 0; pending = pending.slice(end + 1)) {
    const message = JSON.parse(pending.slice(0, end));
    if (waiting.has(message.id)) waiting.get(message.id)(message);
  }
});
function call(method, params = {}, sessionId) {
  const id = nextId++;
  toBrowser.write(JSON.stringify({ id, method, params, sessionId }) + "\0");
  return new Promise((resolve) => waiting.set(id, resolve));
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

let title = "no page";
try {
  let page;
  for (let tries = 0; !page && tries < 100; tries++, await sleep(100))
    page = (await call("Target.getTargets")).result.targetInfos.find((t) => t.type === "page");
  const { sessionId } = (await call("Target.attachToTarget", { targetId: page.targetId, flatten: true })).result;
  for (const start = Date.now(); Date.now() - start < 60000; await sleep(200)) {
    title = (await call("Runtime.evaluate", { expression: "document.title" }, sessionId)).result.result.value;
    if (/^(PASS|FAIL)/.test(title)) break;
  }
} finally {
  const exited = new Promise((resolve) => browser.once("exit", resolve));
  call("Browser.close");
  await Promise.race([exited, sleep(5000)]);
  browser.kill();
  await exited;
  rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
}
console.log(`Chromium: ${title}`);
process.exit(title.startsWith("PASS") ? 0 : 1);
