// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The page is the window: this script shows what the program (dotloom.wasm) describes, the
// menu, the canvas and the browser's file dialogs, and holds no rule of its own. The build
// puts it in dotloom.js after the program's loader and the program itself, in base64 as
// dotloomProgram (page_script.cmake).
(async () => {
  'use strict';

  // A picked file as the program sees it: a path the dialog answers, under which the program
  // finds the Blob to read or the way to save (see files/file_web.cpp). Only the last pick is
  // kept: a command asks once and is done with it before the next can run.
  const pickedFiles = new Map();
  function picked(name, what) {
    const path = '/picked/' + name.replace(/\//g, '_');
    pickedFiles.clear();
    pickedFiles.set(path, what);
    return path;
  }

  function cancelled(error) {
    if (error && error.name === 'AbortError') return null;
    throw error;
  }

  async function writeHandle(handle, bytes, keepRest) {
    // Over the start of the file, the rest kept; or the file replaced whole when it closes.
    const writable = await handle.createWritable({keepExistingData: keepRest});
    try {
      await writable.write(keepRest ? {type: 'write', position: 0, data: bytes} : bytes);
    } catch (error) {
      await writable.abort();
      throw error;
    }
    await writable.close();
  }

  // Without the File System Access API: the browser's file chooser, and a name asked here
  // whose file goes to the downloads.
  function choose() {
    const chooser = document.getElementById('chooser');
    chooser.value = '';
    return new Promise((resolve) => {
      chooser.onchange = () => resolve(chooser.files.length ? picked(chooser.files[0].name, {blob: chooser.files[0]}) : null);
      chooser.oncancel = () => resolve(null);
      chooser.click();
    });
  }

  function download(name, bytes) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([bytes], {type: 'application/octet-stream'}));
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  function askName() {
    const box = document.getElementById('ask-name');
    const name = document.getElementById('file-name');
    const before = document.activeElement;
    name.value = '';
    box.hidden = false;
    name.focus();
    return new Promise((resolve) => {
      const end = (chosen) => {
        box.hidden = true;
        if (before) before.focus();
        resolve(chosen ? picked(chosen, {save: (bytes) => download(chosen, bytes)}) : null);
      };
      document.getElementById('ask-name-save').onclick = () => end(name.value);
      document.getElementById('ask-name-cancel').onclick = () => end('');
      box.onkeydown = (event) => {
        if (event.key === 'Enter') end(name.value);
        if (event.key === 'Escape') end('');
      };
    });
  }

  // The program's file dialog, offering the kinds as types: resolves to the picked file's
  // path, or null when cancelled.
  async function ask(save, types) {
    const options = {types: types, excludeAcceptAllOption: false};
    if (save && window.showSaveFilePicker) {
      const handle = await window.showSaveFilePicker(options).catch(cancelled);
      return handle && picked(handle.name, {save: (bytes, keepRest) => writeHandle(handle, bytes, keepRest)});
    }
    if (!save && window.showOpenFilePicker) {
      const handles = await window.showOpenFilePicker(options).catch(cancelled);
      return handles && picked(handles[0].name, {blob: await handles[0].getFile()});
    }
    return save ? askName() : choose();
  }

  // The program is compiled and started at once, in this task: with nothing to wait for, the
  // canvas is drawn before the page is first shown.
  const program = Uint8Array.fromBase64 ? Uint8Array.fromBase64(dotloomProgram)
    : Uint8Array.from(atob(dotloomProgram), (c) => c.charCodeAt(0));
  const core = await createDotloom({
    dotloomAsk: ask,
    dotloomPicked: pickedFiles,
    instantiateWasm: (imports, started) => {
      const instance = new WebAssembly.Instance(new WebAssembly.Module(program), imports);
      started(instance);
      return instance.exports;
    },
  });
  if (document.readyState === 'loading') {
    await new Promise((resolve) => document.addEventListener('DOMContentLoaded', resolve, {once: true}));
  }
  const text = (index) => core.UTF8ToString(core._dotloom_text(index));
  document.title = text(0);

  // The canvas: each canvas pixel a whole number of device pixels, drawn one to one.
  const canvas = document.getElementById('Picture1');
  const client = document.getElementById('client');
  // The system colours the program names, as this browser shows them, read through the
  // canvas: asking a styled element would lay out the page first.
  const context = canvas.getContext('2d');
  const colours = [];
  for (let index = 0, name; (name = core.UTF8ToString(core._dotloom_colour_name(index))) !== ''; ++index) {
    context.fillStyle = '#000000';
    context.fillStyle = name;
    const [red, green, blue] = context.fillStyle.startsWith('#')
      ? [1, 3, 5].map((at) => parseInt(context.fillStyle.slice(at, at + 2), 16))
      : context.fillStyle.match(/\d+/g).map(Number);
    colours.push(red | (green << 8) | (blue << 16));
  }
  core._dotloom_start(...colours);
  canvas.setAttribute('aria-label', 'Canvas');
  canvas.setAttribute('aria-busy', 'false');

  function paint() {
    const ratio = window.devicePixelRatio || 1;
    const scale = core._dotloom_scale(ratio);
    const [width, height, clientWidth, clientHeight] = [0, 1, 2, 3].map((what) => core._dotloom_size(scale, what));
    canvas.width = width;
    canvas.height = height;
    canvas.style.width = width / ratio + 'px';
    canvas.style.height = height / ratio + 'px';
    client.style.width = clientWidth / ratio + 'px';
    client.style.height = clientHeight / ratio + 'px';
    const pixels = core.HEAPU8.subarray(core._dotloom_draw(scale));
    context.putImageData(new ImageData(new Uint8ClampedArray(pixels.subarray(0, width * height * 4)), width, height), 0, 0);
    matchMedia('(resolution: ' + ratio + 'dppx)').addEventListener('change', paint, {once: true});
  }
  paint();
  performance.mark('dotloom-drawn');

  // The menu: "&File" over its items, the letters after & their access keys.
  const menubar = document.getElementById('menubar');
  function caption(element, label) {
    const at = label.indexOf('&');
    const key = at >= 0 ? label[at + 1] : '';
    element.append(label.slice(0, Math.max(at, 0)));
    if (key) {
      const underlined = document.createElement('u');
      underlined.textContent = key;
      element.append(underlined, label.slice(at + 2));
    } else {
      element.append(label);
    }
    element.dataset.key = key.toLowerCase();
  }
  const holder = document.createElement('div');
  const top = document.createElement('button');
  top.setAttribute('role', 'menuitem');
  top.setAttribute('aria-haspopup', 'menu');
  top.setAttribute('aria-expanded', 'false');
  top.tabIndex = 0;
  caption(top, text(1));
  const menu = document.createElement('div');
  menu.setAttribute('role', 'menu');
  menu.hidden = true;
  const items = [];
  for (let index = 0, label; (label = text(2 + index)) !== ''; ++index) {
    const item = document.createElement('div');
    item.setAttribute('role', 'menuitem');
    item.tabIndex = -1;
    caption(item, label);
    item.addEventListener('click', () => run(index));
    items.push(item);
    menu.append(item);
  }
  holder.append(top, menu);
  menubar.append(holder);

  function open(focusItem) {
    menu.hidden = false;
    top.setAttribute('aria-expanded', 'true');
    (focusItem ? items[0] : top).focus();
  }
  function close(focusTop) {
    menu.hidden = true;
    top.setAttribute('aria-expanded', 'false');
    if (focusTop) top.focus(); else top.blur();
  }
  let running = false;
  async function run(index) {
    close(false);
    if (running) return;
    running = true;
    canvas.setAttribute('aria-busy', 'true');
    performance.mark('dotloom-command');
    try {
      await core.ccall('dotloom_run', null, ['number'], [index], {async: true});
    } finally {
      running = false;
      paint();
      canvas.setAttribute('aria-busy', 'false');
      performance.measure('dotloom-command', 'dotloom-command');
    }
  }
  top.addEventListener('click', () => (menu.hidden ? open(false) : close(false)));
  document.addEventListener('click', (event) => {
    if (!holder.contains(event.target)) close(false);
  });
  document.addEventListener('keydown', (event) => {
    const key = event.key.toLowerCase();
    if (event.altKey && key === top.dataset.key) {
      event.preventDefault();
      open(true);
    } else if (key === 'f10') {
      event.preventDefault();
      top.focus();
    } else if (document.activeElement === top && ['enter', ' ', 'arrowdown'].includes(key)) {
      event.preventDefault();
      open(true);
    } else if (!menu.hidden) {
      const at = items.indexOf(document.activeElement);
      if (key === 'escape') close(true);
      else if (key === 'arrowdown' || key === 'arrowup') items[(at + (key === 'arrowdown' ? 1 : items.length - 1)) % items.length].focus();
      else if ((key === 'enter' || key === ' ') && at >= 0) run(at);
      else if (items.some((item) => item.dataset.key === key)) run(items.findIndex((item) => item.dataset.key === key));
      else return;
      event.preventDefault();
    }
  });

  if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js');
  document.body.dataset.ready = 'true';
})();
