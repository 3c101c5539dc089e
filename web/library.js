// library.js: the page's side of the browser platform (presentation/platform_web.cpp), linked
// into the program by Emscripten (--js-library). Owns the WebGL context on the canvas, the
// canvas's size, the listeners for keys, buttons and the wheel, the frame loop on
// requestAnimationFrame, the page leaving full screen or being hidden (which the program logs
// during a trial), and the end of the run: every call into the program goes through
// smGuard, so that exit() ends the run as on the desktop (the exit handlers write the tally and
// close the files, then Module.onExit) and never escapes to the page as an exception.

mergeInto(LibraryManager.library, {
  $smGuard__deps: ['$runtimeKeepalivePop', 'exit'],
  $smGuard: function (call) {
    if (ABORT || runtimeExited) return;
    try {
      call();
    } catch (e) {
      if (e === 'unwind') return;
      if (!(e instanceof ExitStatus)) throw e;
      // exit() was called while the frame loop held the runtime: let go and exit for real.
      runtimeKeepalivePop();
      try {
        _exit(e.status);
      } catch (again) {
        if (!(again instanceof ExitStatus) && again !== 'unwind') throw again;
      }
    }
  },

  smweb_createcontext__deps: ['$Browser', '$smFitCanvas'],
  smweb_createcontext: function () {
    var canvas = Module['canvas'];
    smFitCanvas(canvas);
    // No alpha: the picture is opaque, as a window is, whatever the framebuffer's alpha holds.
    var ctx = Browser.createContext(canvas, true, true, {
      alpha: false, depth: true, stencil: false, antialias: false,
      premultipliedAlpha: false, preserveDrawingBuffer: false, powerPreference: 'high-performance'
    });
    return ctx ? 1 : 0;
  },

  smweb_canvassize: function (width, height) {
    var canvas = Module['canvas'];
    HEAP32[width >> 2] = canvas.width;
    HEAP32[height >> 2] = canvas.height;
  },

  smweb_filessaved: function () {
    if (Module['onFilesSaved']) Module['onFilesSaved']();
  },

  smweb_setcursor: function (visible) {
    Module['canvas'].style.cursor = visible ? 'default' : 'none';
  },

  smweb_listen__deps: ['$smGuard', '$runtimeKeepalivePush', '$smFitCanvas'],
  smweb_listen: function () {
    var canvas = Module['canvas'];
    // The frame loop keeps the runtime alive once main has returned.
    runtimeKeepalivePush();
    var pixel = function (e) {
      var box = canvas.getBoundingClientRect();
      return [Math.floor((e.clientX - box.left) * canvas.width / box.width),
              Math.floor((e.clientY - box.top) * canvas.height / box.height)];
    };
    // The page may hold input back (it asks the subject to return to full screen first).
    var accepts = function () {
      return !Module['acceptsInput'] || Module['acceptsInput']();
    };
    var key = function (down) {
      return function (e) {
        // Characters only, as the toolkit's keyboard callback; no auto-repeat.
        if (e.key.length !== 1 || e.ctrlKey || e.altKey || e.metaKey) return;
        if (!accepts()) return;
        e.preventDefault();
        if (e.repeat) return;
        var code = e.key.charCodeAt(0);
        if (code > 255) return;
        smGuard(function () { _smweb_key(code, down); });
      };
    };
    document.addEventListener('keydown', key(1), true);
    document.addEventListener('keyup', key(0), true);
    var held = [false, false, false]; // buttons whose press the program has had
    canvas.addEventListener('mousedown', function (e) {
      var p = pixel(e);
      e.preventDefault();
      if (e.button > 2 || !accepts()) return;
      held[e.button] = true;
      smGuard(function () { _smweb_mouse(e.button, 0, p[0], p[1]); });
    });
    // A release counts wherever the pointer has gone, as with the toolkit's grab; but only the
    // release of a press the program had (not of a click on the page's own buttons).
    document.addEventListener('mouseup', function (e) {
      var p = pixel(e);
      if (e.button > 2 || !held[e.button]) return;
      held[e.button] = false;
      smGuard(function () { _smweb_mouse(e.button, 1, p[0], p[1]); });
    });
    canvas.addEventListener('wheel', function (e) {
      e.preventDefault();
      if (e.deltaY === 0 || !accepts()) return;
      var p = pixel(e), button = e.deltaY < 0 ? 3 : 4;
      smGuard(function () {
        _smweb_mouse(button, 0, p[0], p[1]);
        _smweb_mouse(button, 1, p[0], p[1]);
      });
    }, {passive: false});
    canvas.addEventListener('contextmenu', function (e) { e.preventDefault(); });
    var resized = function () {
      if (smFitCanvas(canvas)) {
        smGuard(function () { _smweb_resize(canvas.width, canvas.height); });
      }
    };
    window.addEventListener('resize', resized);
    document.addEventListener('fullscreenchange', resized);
    // Leaving full screen and coming back, hiding the page and showing it: pagechanges
    // (presentation/platform.h), which the program logs during a trial.
    var full = !!document.fullscreenElement;
    document.addEventListener('fullscreenchange', function () {
      var now = !!document.fullscreenElement;
      if (now === full) return;
      full = now;
      smGuard(function () { _smweb_page(now ? 1 : 0); });
    });
    document.addEventListener('visibilitychange', function () {
      smGuard(function () { _smweb_page(document.hidden ? 2 : 3); });
    });
    smGuard(function () { _smweb_resize(canvas.width, canvas.height); });
    var tick = function () {
      if (ABORT || runtimeExited) return;
      resized();
      smGuard(function () { _smweb_frame(); });
      // The page may look at each frame as drawn, before the browser composites it.
      if (Module['onFrame']) Module['onFrame'](GLctx);
      requestAnimationFrame(tick);
    };
    requestAnimationFrame(tick);
  },

  // Sizes the drawing buffer to the canvas's size on the page in device pixels; true when it
  // changed.
  $smFitCanvas: function (canvas) {
    var ratio = window.devicePixelRatio || 1;
    var box = canvas.getBoundingClientRect();
    var width = Math.max(1, Math.round(box.width * ratio));
    var height = Math.max(1, Math.round(box.height * ratio));
    if (canvas.width === width && canvas.height === height) return false;
    canvas.width = width;
    canvas.height = height;
    return true;
  },
});
