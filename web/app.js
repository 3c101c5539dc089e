// app.js: the page. A start screen with the study's title and instructions; the Start button
// (full screen needs the subject's gesture) runs the experiment on a canvas that fills the
// screen; at the end, an end screen with the tally and the run's four files to download.
//
// The design is settings.txt beside the page, or the file the URL names with ?settings=...;
// ?seed=N runs on fixed seeds (a scripted run); ?study=URL names a JSON file giving
// {"title": ..., "instructions": ...} (plain text; instructions as paragraphs split at blank
// lines) for the start screen, which otherwise shows the page's own.

import { loadExperiment } from './experiment.js';

const params = new URLSearchParams(window.location.search);
const $ = (id) => document.getElementById(id);

function problem(text) {
  $('problem').textContent = text;
  $('problem').hidden = false;
}

async function fetchtext(url) {
  const reply = await fetch(url, { cache: 'no-store' });
  if (!reply.ok) throw new Error(`${url}: ${reply.status} ${reply.statusText}`);
  return reply.text();
}

async function study() {
  if (!params.has('study')) return;
  const s = JSON.parse(await fetchtext(params.get('study')));
  if (s.title) {
    $('title').textContent = s.title;
    document.title = s.title;
  }
  if (s.instructions) {
    $('instructions').replaceChildren(...s.instructions.split(/\n\s*\n/).map((p) => {
      const e = document.createElement('p');
      e.textContent = p;
      return e;
    }));
  }
}

function seed() {
  if (!params.has('seed')) return null;
  const text = params.get('seed');
  if (!/^\d+$/.test(text) || Number(text) > 4294967295) {
    throw new Error(`seed=${text}: a whole number from 0 to 4294967295 is needed`);
  }
  return Number(text);
}

function download(file) {
  const li = document.createElement('li');
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([file.bytes], { type: 'application/octet-stream' }));
  a.download = file.name;
  a.textContent = `${file.name} (${file.bytes.length} bytes)`;
  li.append(a);
  return li;
}

function finish({ status, files, tally, errors }) {
  if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  $('canvas').hidden = true;
  $('end').hidden = false;
  const trials = tally.reduce((n, r) => n + r.trials, 0);
  $('outcome').textContent = status === 0
    ? `The run is complete: ${trials} trial${trials === 1 ? '' : 's'}.`
    : `The run ended early (status ${status}): ${errors.join(' ')}`;
  $('tally').querySelector('tbody').replaceChildren(...tally.filter((r) => r.trials).map((r) => {
    const tr = document.createElement('tr');
    for (const v of [r.targets, r.distractors, r.trials]) {
      const td = document.createElement('td');
      td.textContent = v;
      tr.append(td);
    }
    return tr;
  }));
  $('files').replaceChildren(...files.map(download));
  window.spatialmemoryEnded = { status, files: files.map((f) => f.name) };
}

async function main() {
  const button = $('begin');
  let settings, run;
  try {
    await study();
    const fixed = seed();
    settings = await fetchtext(params.get('settings') || 'settings.txt');
    run = await loadExperiment({ canvas: $('canvas') });
    run.onEnd = finish;
    button.textContent = 'Start';
    button.disabled = false;
    button.addEventListener('click', async () => {
      button.disabled = true;
      try {
        await document.documentElement.requestFullscreen({ navigationUI: 'hide' });
      } catch {
        // Without full screen (refused, or a browser without it) the page itself is the screen.
      }
      $('start').hidden = true;
      $('canvas').hidden = false;
      run.start({ settings, seed: fixed });
    }, { once: true });
  } catch (e) {
    problem(`The experiment cannot start: ${e.message}`);
    button.textContent = 'Start';
  }
  window.spatialmemory = run; // for the pages and tests that build on this one
}

main();
