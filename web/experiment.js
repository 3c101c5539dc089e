// experiment.js: the experiment as a JavaScript module, for the page and whatever builds on it.
// Owns loading the program (spatialmemory.js and .wasm), its in-memory data folder, starting
// the run and reading back the run's files; what the page shows around it is app.js's.
//
//   const run = await loadExperiment({canvas});     // the program loaded, nothing started
//   run.start({settings: text, seed: 7});           // writes /data/settings.txt, runs main
//   run.onFilesSaved = (files) => { ... };           // at start-up, 'g' and 's': the run's
//                                                    // files, synced, each {name, path, bytes}
//   run.onEnd = ({status, files, tally, errors}) => { ... };  // the run has ended
//   run.files();                                     // the run's files as they stand
//   run.phase();                                     // 0 idle, 1 WATCH .. 5 PICK
//   run.onFrame = (gl) => { ... };                   // after each frame is drawn, before the
//                                                    // browser shows it (gl: its WebGL context)
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
    output: [], // standard output, line by line
    errors: [], // standard error, line by line
  };
  if (!window.createSpatialMemory) await loadscript(new URL('spatialmemory.js', import.meta.url));
  const module = await window.createSpatialMemory({
    canvas,
    thisProgram: 'spatialmemory',
    print(line) { run.output.push(line); print(line); },
    printErr(line) { run.errors.push(line); printErr(line); },
    onFilesSaved() { if (run.onFilesSaved) run.onFilesSaved(run.files()); },
    onFrame(gl) { if (run.onFrame) run.onFrame(gl); },
    onExit(status) {
      if (run.onEnd) {
        run.onEnd({ status, files: run.files(), tally: tally(run.output), errors: run.errors });
      }
    },
  });
  run.module = module;

  // The run's four files ({name, path, bytes}), named by the program itself.
  run.files = () => {
    const names = module.UTF8ToString(module._spatialmemory_files());
    return names.split('\n').filter(Boolean).map((path) => ({
      name: path.slice(path.lastIndexOf('/') + 1),
      path,
      bytes: module.FS.readFile(path),
    }));
  };

  run.phase = () => module._spatialmemory_phase();

  // Starts the run: `settings` is the design's text (null: no settings file, and the program
  // says so and runs its defaults), `seed` the first of the run's seeds (null: the clock's).
  run.start = ({ settings, seed = null }) => {
    const fs = module.FS;
    fs.mkdir(DATA_FOLDER);
    if (settings !== null && settings !== undefined) {
      fs.writeFile(`${DATA_FOLDER}/settings.txt`, settings);
    }
    const args = seed === null || seed === undefined ? [] : ['--seed', String(seed)];
    module.callMain([...args, DATA_FOLDER]);
  };
  return run;
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
