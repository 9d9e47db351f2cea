// QuavloII's service worker: every file of the site is kept in the cache as it is fetched, so the tracker opens
// without a network after the first visit. The network comes first (a new build is taken at once); the cache
// answers when there is none. Only the page's own host is ever asked.
const CACHE = 'quavlo-site';
const FILES = ['./', 'index.html', 'quavlo.js', 'quavlo.wasm', 'manifest.webmanifest', 'icon-64.png', 'icon-128.png',
               'icon-256.png', 'LICENSE.txt'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => { event.waitUntil(self.clients.claim()); });

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(fetch(request).then((response) => {
    if (response.ok) {
      const copy = response.clone();
      caches.open(CACHE).then((cache) => cache.put(request, copy));
    }
    return response;
  }).catch(() => caches.match(request, {ignoreSearch: true}).then((hit) => hit || caches.match('index.html'))));
});
