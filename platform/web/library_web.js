// The page's side of the web backend (linked with --js-library): the canvas and its size on the page, the page's
// dialogs (the save question, the save and open dialogs, the message box, the shared link), files dropped on the
// page, downloads, the page's storage, the leave-page question, the audio context, and the loop on animation
// frames. Everything runs on the page's one thread; answers go back through the backend's exported functions.
var LibraryQuavloWeb = {
  $QV: {
    canvas: null,    // the frame's canvas, 900 x 520
    context: null,   // its 2D context
    image: null,     // ImageData over the backend's RGBA frame in the module's memory
    imageBuffer: null, // the memory buffer image was made over (it changes when the memory grows)
    leave: false,    // the browser asks before the page is left
    audio: null,     // the AudioContext, 22050 Hz
    node: null,      // its script processor
    timer: 0,        // a timeout that runs a step falling due between two animation frames
    firstFrame: -1,  // ms from the page's start to the first frame presented
    keyTime: -1,     // when the last key went down, while its sound is awaited
    keyToSound: [],  // ms from a key going down to the period that first sounds after it
    periods: 0,      // periods the script processor has asked for

    // Enlarges the canvas by the largest whole number of device pixels per frame pixel that fits the page above
    // the footer's line.
    fit: function() {
      var ratio = window.devicePixelRatio || 1;
      var footer = document.querySelector('footer');
      var w = window.innerWidth, h = window.innerHeight - (footer ? 2 * footer.offsetHeight : 0);
      var k = Math.floor(Math.min(w * ratio / 900, h * ratio / 520));
      var scale = k >= 1 ? k / ratio : Math.min(w / 900, h / 520);
      QV.canvas.style.width = (900 * scale) + 'px';
      QV.canvas.style.height = (520 * scale) + 'px';
    },

    // The audio context may only start after the musician has touched the page.
    wake: function() {
      if (QV.audio && QV.audio.state === 'suspended' && !QV.paused) QV.audio.resume();
    },

    // Writes a file the page was given into the module's file system; its path.
    writePicked: function(name, buffer) {
      var safe = String(name).replace(/[\/\\]/g, '_');
      if (!safe || safe === '.' || safe === '..') safe = 'song.qvl';
      var path = '/picked/' + safe;
      FS.writeFile(path, new Uint8Array(buffer));
      return path;
    },

    // A modal box over the page: text, an optional line to edit, and buttons. Return presses the default button,
    // Escape the cancel button. done(value, text) is called once, as the box closes.
    modal: function(text, options, done) {
      var overlay = document.createElement('div');
      overlay.className = 'overlay';
      var box = document.createElement('div');
      box.className = 'box';
      box.setAttribute('role', 'dialog');
      if (options.caption) {
        var caption = document.createElement('h2');
        caption.textContent = options.caption;
        box.appendChild(caption);
      }
      var p = document.createElement('p');
      p.textContent = text;
      box.appendChild(p);
      var input = null;
      if (options.line !== undefined) {
        input = document.createElement('input');
        input.type = 'text';
        input.value = options.line;
        input.spellcheck = false;
        if (options.readOnly) input.readOnly = true;
        box.appendChild(input);
      }
      var row = document.createElement('div');
      row.className = 'buttons';
      box.appendChild(row);
      overlay.appendChild(box);
      var closed = false;
      function close(value) {
        if (closed) return;
        closed = true;
        overlay.remove();
        QV.canvas.focus();
        if (done) done(value, input ? input.value : '');
      }
      var first = null;
      options.buttons.forEach(function(b) {
        var button = document.createElement('button');
        button.textContent = b.label;
        button.addEventListener('click', function() {
          if (b.action) b.action(close); else close(b.value);
        });
        row.appendChild(button);
        if (b.isDefault || !first) first = button;
      });
      overlay.addEventListener('keydown', function(e) {
        e.stopPropagation();
        if (e.key === 'Enter') {
          e.preventDefault();
          options.buttons.forEach(function(b) { if (b.isDefault) { if (b.action) b.action(close); else close(b.value); } });
        } else if (e.key === 'Escape') {
          e.preventDefault();
          options.buttons.forEach(function(b) { if (b.isCancel) close(b.value); });
        }
      });
      document.body.appendChild(overlay);
      if (input) {
        input.focus();
        var dot = input.value.lastIndexOf('.');
        input.setSelectionRange(0, dot > 0 && !options.readOnly ? dot : input.value.length);
      } else {
        first.focus();
      }
      return close;
    },

    answer: function(value, text) {
      var ptr = text ? allocateUTF8(text) : 0;
      _web_answered(value, ptr);
      if (ptr) _free(ptr);
    },

    string: function(text) { return allocateUTF8(String(text)); },
  },

  web_js_init_page__deps: ['$QV', '$FS', 'web_dropped', 'web_fragment_changed_now', 'web_leaving', 'malloc', 'free'],
  web_js_init_page: function() {
    window.quavlo = QV;
    QV.canvas = document.getElementById('canvas');
    QV.canvas.tabIndex = 0;
    QV.context = QV.canvas.getContext('2d', {alpha: false});
    QV.fit();
    window.addEventListener('resize', QV.fit);
    QV.canvas.addEventListener('contextmenu', function(e) { e.preventDefault(); });
    QV.canvas.addEventListener('mousedown', function() { QV.canvas.focus(); });
    // The first touch of the page lets its sound start; a key's time is kept to measure how soon it sounds.
    document.addEventListener('pointerdown', QV.wake, true);
    document.addEventListener('keydown', function(e) {
      QV.wake();
      if (!e.repeat) QV.keyTime = performance.now();
    }, true);
    document.addEventListener('dragover', function(e) { e.preventDefault(); });
    document.addEventListener('drop', function(e) {
      e.preventDefault();
      var file = e.dataTransfer && e.dataTransfer.files && e.dataTransfer.files[0];
      if (!file) return;
      file.arrayBuffer().then(function(buffer) {
        var path = QV.writePicked(file.name, buffer);
        // With LOAD's box open, the file dropped is its answer.
        if (QV.openChosen) {
          QV.openChosen(path);
          return;
        }
        var ptr = QV.string(path);
        _web_dropped(ptr);
        _free(ptr);
      });
    });
    window.addEventListener('hashchange', function() { _web_fragment_changed_now(); });
    window.addEventListener('beforeunload', function(e) {
      // The song as it is this moment goes to the storage, and decides the question.
      _web_leaving();
      if (!QV.leave) return;
      e.preventDefault();
      e.returnValue = '';
    });
    QV.canvas.focus();
  },

  web_js_present__deps: ['$QV'],
  web_js_present: function(rgba, x, y, w, h) {
    if (!QV.image || QV.imageBuffer !== HEAPU8.buffer) {
      QV.image = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, rgba, 900 * 520 * 4), 900, 520);
      QV.imageBuffer = HEAPU8.buffer;
    }
    QV.context.putImageData(QV.image, 0, 0, x, y, w, h);
    if (QV.firstFrame < 0) {
      QV.firstFrame = performance.now();
      performance.mark('quavlo-first-frame');
    }
  },

  web_js_set_title: function(title) { document.title = UTF8ToString(title); },

  web_js_question__deps: ['$QV', 'web_answered'],
  web_js_question: function(text, caption) {
    QV.modal(UTF8ToString(text), {
      caption: UTF8ToString(caption),
      buttons: [{label: 'Save', value: 1, isDefault: true}, {label: 'Discard', value: 2},
                {label: 'Cancel', value: 0, isCancel: true}]
    }, function(value) { QV.answer(value, ''); });
  },

  web_js_save_dialog__deps: ['$QV', 'web_answered'],
  web_js_save_dialog: function(name) {
    QV.modal('Save the song as (a name ending in .h exports the C header):', {
      caption: 'SAVE',
      line: UTF8ToString(name),
      buttons: [{label: 'Save', value: 1, isDefault: true}, {label: 'Cancel', value: 0, isCancel: true}]
    }, function(value, text) { QV.answer(value && text ? 1 : 0, value ? text : ''); });
  },

  web_js_open_dialog__deps: ['$QV', '$FS', 'web_answered'],
  web_js_open_dialog: function() {
    var picker = document.createElement('input');
    picker.type = 'file';
    picker.accept = '.qvl';
    var chosen = '';
    var close = QV.modal('Choose a song (a .qvl file), or drop one on the page.', {
      caption: 'LOAD',
      buttons: [{label: 'Choose file', isDefault: true, action: function() { picker.click(); }},
                {label: 'Cancel', value: 0, isCancel: true}]
    }, function(value) {
      QV.openChosen = null;
      QV.answer(value ? 1 : 0, value ? chosen : '');
    });
    QV.openChosen = function(path) {
      chosen = path;
      close(1);
    };
    picker.addEventListener('change', function() {
      var file = picker.files && picker.files[0];
      if (!file) return;
      file.arrayBuffer().then(function(buffer) { QV.openChosen(QV.writePicked(file.name, buffer)); });
    });
    picker.click();
  },

  web_js_message__deps: ['$QV'],
  web_js_message: function(text, caption) {
    QV.modal(UTF8ToString(text), {
      caption: UTF8ToString(caption),
      buttons: [{label: 'OK', value: 0, isDefault: true, isCancel: true}]
    }, null);
  },

  web_js_download__deps: ['$FS'],
  web_js_download: function(path, name) {
    var p = UTF8ToString(path), n = UTF8ToString(name), data;
    try { data = FS.readFile(p); } catch (e) { return 0; }
    try { FS.unlink(p); } catch (e) {}
    var url = URL.createObjectURL(new Blob([data], {type: 'application/octet-stream'}));
    var a = document.createElement('a');
    a.href = url;
    a.download = n;
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(function() { URL.revokeObjectURL(url); }, 60000);
    return 1;
  },

  web_js_store: function(key, value) {
    try { localStorage.setItem(UTF8ToString(key), UTF8ToString(value)); } catch (e) {}
  },

  web_js_stored__deps: ['$QV'],
  web_js_stored: function(key) {
    var v = null;
    try { v = localStorage.getItem(UTF8ToString(key)); } catch (e) {}
    return v === null ? 0 : QV.string(v);
  },

  web_js_show_link__deps: ['$QV'],
  web_js_show_link: function(link) {
    var text = UTF8ToString(link);
    QV.lastLink = text;
    var close = QV.modal('The link to this song:', {
      caption: 'SHARE',
      line: text,
      readOnly: true,
      buttons: [{label: 'OK', value: 0, isDefault: true, isCancel: true}]
    }, null);
    if (navigator.clipboard && navigator.clipboard.writeText) {
      navigator.clipboard.writeText(text).then(function() {
        var p = document.querySelector('.overlay:last-child p');
        if (p) p.textContent = 'The link to this song (copied to the clipboard):';
      }, function() {});
    }
  },

  web_js_leave_question__deps: ['$QV'],
  web_js_leave_question: function(on) { QV.leave = !!on; },

  web_js_fragment__deps: ['$QV'],
  web_js_fragment: function() { return QV.string(location.hash); },

  web_js_address__deps: ['$QV'],
  web_js_address: function() { return QV.string(location.origin + location.pathname + location.search); },

  web_js_clear_fragment: function() {
    history.replaceState(null, '', location.pathname + location.search);
  },

  web_js_run_frames__deps: ['$QV', 'web_animation_frame', 'web_step_wait'],
  web_js_run_frames: function() {
    // A step runs on the animation frame when it is due; one that falls due before the next frame gets a timeout,
    // so that the steps stay 25 ms apart at any frame rate.
    function tick() {
      _web_animation_frame();
      if (QV.timer) clearTimeout(QV.timer);
      QV.timer = 0;
      var wait = _web_step_wait();
      if (wait > 0 && wait < 16) QV.timer = setTimeout(function() { QV.timer = 0; tick(); }, wait);
    }
    function frame() {
      tick();
      requestAnimationFrame(frame);
    }
    requestAnimationFrame(frame);
    // A hidden page gets no animation frames: the timer keeps the steps (and the recording's writes) going.
    setInterval(function() { if (document.hidden) tick(); }, 100);
  },

  web_js_audio_open__deps: ['$QV', 'web_audio_pull'],
  web_js_audio_open: function(rate, period, samples) {
    var Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return 0;
    var context, node;
    try {
      context = new Context({sampleRate: rate, latencyHint: 'interactive'});
      node = context.createScriptProcessor(period, 0, 1);
    } catch (e) {
      return 0;
    }
    node.onaudioprocess = function(e) {
      var out = e.outputBuffer.getChannelData(0);
      var n = out.length;
      _web_audio_pull(n);
      var base = samples >> 1;
      var sounding = false;
      for (var i = 0; i < n; i++) {
        var s = HEAP16[base + i];
        out[i] = s / 32768;
        if (s !== 0) sounding = true;
      }
      QV.periods++;
      if (QV.keyTime >= 0 && sounding) {
        QV.keyToSound.push(performance.now() - QV.keyTime);
        QV.keyTime = -1;
      }
    };
    node.connect(context.destination);
    QV.audio = context;
    QV.node = node;
    QV.paused = false;
    return 1;
  },

  web_js_audio_pause__deps: ['$QV'],
  web_js_audio_pause: function() {
    QV.paused = true;
    if (QV.audio) QV.audio.suspend();
  },

  web_js_midi_open__deps: ['$QV', 'web_midi_port', 'web_midi_bytes'],
  web_js_midi_open: function(buffer, size) {
    if (!navigator.requestMIDIAccess) return 0;
    QV.midiPorts = {};
    navigator.requestMIDIAccess({sysex: false}).then(function(access) {
      QV.midi = access;
      // Each input port is a source of its own, from the first message on; one that comes back keeps its number.
      function attach(input) {
        if (!QV.midi || input.type !== 'input') return;
        var source = QV.midiPorts[input.id];
        if (source === undefined) {
          source = Object.keys(QV.midiPorts).length;
          if (source >= 16) return;
          QV.midiPorts[input.id] = source;
          var name = allocateUTF8(String(input.name || input.id));
          _web_midi_port(source, name);
          _free(name);
        }
        input.onmidimessage = function(e) {
          if (!QV.midi) return;
          var data = e.data;
          for (var at = 0; at < data.length; at += size) {
            var n = Math.min(size, data.length - at);
            HEAPU8.set(data.subarray(at, at + n), buffer);
            _web_midi_bytes(source, n);
          }
        };
      }
      access.inputs.forEach(attach);
      access.onstatechange = function(e) { if (e.port && e.port.state === 'connected') attach(e.port); };
    }, function() {});
    return 1;
  },

  web_js_midi_close__deps: ['$QV'],
  web_js_midi_close: function() {
    if (QV.midi) {
      QV.midi.inputs.forEach(function(input) { input.onmidimessage = null; });
      QV.midi.onstatechange = null;
    }
    QV.midi = null;
  },

  web_js_audio_close__deps: ['$QV'],
  web_js_audio_close: function() {
    if (QV.node) QV.node.disconnect();
    if (QV.audio) QV.audio.close();
    QV.node = null;
    QV.audio = null;
  },
};

autoAddDeps(LibraryQuavloWeb, '$QV');
mergeInto(LibraryManager.library, LibraryQuavloWeb);
