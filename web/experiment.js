// experiment.js: the experiment as a JavaScript module, for the page and whatever builds on it.
// Owns loading the program (spatialmemory.js and .wasm), its in-memory data folder, starting
// the run and reading back the run's files; what the page shows around it is app.js's.
//
//   const run = await loadExperiment({canvas});     // the program loaded, nothing started
//   run.start({settings: bytes, seed: 7,            // writes /data/settings.txt, runs main;
//              participant: 'p0001', session: 's'}) // recorded in the sidecar
//   run.onFilesSaved = (files) => { ... };           // at start-up, 'g' and 's': the run's
//                                                    // files, synced, each {name, path, bytes}
//   run.onEnd = ({status, files, tally, errors}) => { ... };  // the run has ended
//   run.files();                                     // the run's files as they stand
//   run.phase();                                     // 0 idle, 1 WATCH .. 5 PICK
//   run.onFrame = (gl) => { ... };                   // after each frame is drawn, before the
//                                                    // browser shows it (gl: its WebGL context)
//   run.acceptsInput = () => true;                   // false: keys and clicks do not reach
//                                                    // the program (the page asks the subject
//                                                    // back to full screen)
//
// Leaving full screen and hiding the page are the program's to log (web/library.js).
//
// The files are written into the program's in-memory file system exactly as the desktop writes
// them to disk; nothing here changes a byte of them.

export const DATA_FOLDER = '/data';

// spatialmemory.js is a classic script defining createSpatialMemory; it finds its .wasm beside
// itself.
function loadscript(url) {
  return new Promise((resolve, reject) => {
    const script = document.createElement('script');
    script.src = url;
    script.onload = resolve;
    script.onerror = () => reject(new Error(`${url} could not be loaded`));
    document.head.append(script);
  });
}

export async function loadExperiment({ canvas, print = () => {}, printErr = () => {} }) {
  const run = {
    onFilesSaved: null,
    onEnd: null,
    onFrame: null,
    acceptsInput: () => true,
    output: [], // standard output, line by line
    errors: [], // standard error, line by line
  };
  if (!window.createSpatialMemory) await loadscript(new URL('spatialmemory.js', import.meta.url));
  const module = await window.createSpatialMemory({
    canvas,
    thisProgram: 'spatialmemory',
    print(line) { run.output.push(line); print(line); },
    printErr(line) { run.errors.push(line); printErr(line); },
    onFilesSaved() {
      // Called from inside the program: whatever the page does must not throw into it.
      try {
        filenames();
        if (run.onFilesSaved) run.onFilesSaved(run.files());
      } catch (e) {
        console.error('onFilesSaved:', e);
      }
    },
    onFrame(gl) { if (run.onFrame) run.onFrame(gl); },
    acceptsInput() { return run.acceptsInput(); },
    onExit(status) {
      if (run.onEnd) {
        run.onEnd({ status, files: run.files(), tally: tally(run.output), errors: run.errors });
      }
    },
  });
  run.module = module;

  // The run's four files ({name, path, bytes}), named by the program itself; those written so
  // far (the sidecar comes a moment after the others at start-up). The names are asked for
  // once, while the program runs: once it has exited its memory is no longer its own.
  let names = '';
  function filenames() {
    if (!names) names = module.UTF8ToString(module._spatialmemory_files());
    return names;
  }
  run.files = () => filenames().split('\n')
    .filter((path) => path && module.FS.analyzePath(path).exists)
    .map((path) => ({
      name: path.slice(path.lastIndexOf('/') + 1),
      path,
      bytes: module.FS.readFile(path),
    }));

  run.phase = () => module._spatialmemory_phase();

  // Starts the run: `settings` is the design's bytes (a Uint8Array, or text; null: no settings
  // file, and the program says so and runs its defaults), `seed` the first of the run's seeds
  // (null: the clock's), `participant` and `session` the IDs the sidecar records (null: none),
  // as the desktop's --seed, --participant and --session.
  run.start = ({ settings, seed = null, participant = null, session = null }) => {
    const fs = module.FS;
    fs.mkdir(DATA_FOLDER);
    if (settings !== null && settings !== undefined) {
      fs.writeFile(`${DATA_FOLDER}/settings.txt`, settings);
    }
    const args = [];
    if (seed !== null && seed !== undefined) args.push('--seed', String(seed));
    if (participant !== null && participant !== undefined) args.push('--participant', participant);
    if (session !== null && session !== undefined) args.push('--session', session);
    module.callMain([...args, '--', DATA_FOLDER]);
  };
  return run;
}

// Why `id` cannot be a participant's or session's ID, as the program judges it, or '' when it
// can: 1 to 64 printable ASCII characters other than '/' and '\'.
export function idproblem(id) {
  if (!id.length) return 'is empty';
  if (!/^[\x20-\x7e]*$/.test(id)) return 'holds a character that is not printable ASCII';
  if (/[/\\]/.test(id)) return "holds a '/' or '\\'";
  if (id.length > 64) return 'is longer than 64 characters';
  return '';
}

// The exit tally from standard output: [{targets, distractors, trials}], the lines
// "targets distractors: trials" the program prints as it ends.
export function tally(lines) {
  const rows = [];
  for (const line of lines) {
    const m = /^(\d+) (\d+): (\d+)$/.exec(line);
    if (m) rows.push({ targets: +m[1], distractors: +m[2], trials: +m[3] });
  }
  return rows.slice(-16);
}
