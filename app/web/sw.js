// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Keeps the page's files, so that after one visit it opens offline; every file comes from the
// cache, so the page asks the network for nothing it has.
'use strict';
const CACHE = 'dotloom-@PROJECT_VERSION@-@DOTLOOM_SITE_DIGEST@';
const FILES = ['./', '@DOTLOOM_SITE_LIST@'];

self.addEventListener('install', (event) => {
  // Where the browser can, it takes the page's files from the cache itself, without starting
  // this worker first.
  if (event.addRoutes) event.addRoutes({condition: {requestMethod: 'GET'}, source: {cacheName: CACHE}});
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((name) => name !== CACHE).map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  event.respondWith(caches.match(event.request, {ignoreSearch: true})
    .then((cached) => cached || fetch(event.request)));
});
