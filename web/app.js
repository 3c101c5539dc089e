// app.js: the page. A start screen with the study's title and instructions; the Start button
// (full screen needs the subject's gesture) runs the experiment on a canvas that fills the
// screen; an overlay asks the subject back whenever the page leaves full screen; at the end, an
// end screen. The run's files are kept in the browser (store.js) at every save.
//
// Two ways to be served:
// - From a study link of the study server (its study.json answers with the participant and
//   session): Start starts the run on the server, the program records the participant and
//   session the server names, every save's changed files are sent (upload.js), and the end
//   screen waits until the server holds every file, then thanks the participant and sends them
//   on to the study's completion address.
// - From any static web server: the design is settings.txt beside the page, or the file
//   ?settings=URL names, or (when neither gives one, or with ?setup) the one the experimenter
//   picks on a setup screen; ?participant= and ?session= name who runs it; ?seed=N runs on
//   fixed seeds; ?study=URL (or a study.json beside the page) gives {"title", "instructions"}
//   for the start screen. The end screen offers the run's four files for download.

import { idproblem, loadExperiment } from './experiment.js';
import { MemoryStore, newrun, openStore } from './store.js';
import { Refused, Sender, sendleft, sha256hex, startrun, unlike } from './upload.js';

const params = new URLSearchParams(window.location.search);
const $ = (id) => document.getElementById(id);
const COMPLETION_DELAY = 3000; // ms the thanks are shown before the completion address opens

const page = {
  mode: 'local', // or 'server'
  study: null, // the server's study.json
  settings: null, // the design's bytes
  seed: null,
  participant: null,
  session: null,
  store: null,
  run: null, // the store's record of the run
  sender: null,
  experiment: null,
  running: false,
  full: false, // the page was granted full screen at Start
  saves: 0,
  saving: Promise.resolve(),
};

function problem(text, where = 'problem') {
  $(where).textContent = text;
  $(where).hidden = !text;
}

class Closed extends Error {} // the link cannot start a run: nothing to offer

async function fetchbytes(url) {
  const reply = await fetch(url, { cache: 'no-store', credentials: 'same-origin' });
  if (!reply.ok) {
    const e = new Error(`${url}: ${reply.status} ${reply.statusText}`);
    e.status = reply.status;
    throw e;
  }
  return new Uint8Array(await reply.arrayBuffer());
}

function showtexts({ title, instructions }) {
  if (title) {
    $('title').textContent = title;
    document.title = title;
  }
  if (instructions) {
    $('instructions').replaceChildren(...instructions.split(/\n\s*\n/).map((p) => {
      const e = document.createElement('p');
      e.textContent = p;
      return e;
    }));
  }
}

// What the page's folder says of the study: the server's study.json (server mode), texts for
// the start screen, or nothing. A link that cannot start a run throws Closed.
async function studyinfo() {
  if (params.has('study')) {
    return { texts: JSON.parse(new TextDecoder().decode(await fetchbytes(params.get('study')))) };
  }
  for (let attempt = 0, pause = 1000; ; attempt++, pause *= 2) {
    let reply;
    try {
      reply = await fetch('study.json', { cache: 'no-store', credentials: 'same-origin' });
    } catch {
      reply = null;
    }
    const json = reply && (reply.headers.get('Content-Type') || '').startsWith('application/json');
    const body = json ? await reply.json().catch(() => null) : null;
    if (reply && reply.ok && body && typeof body.participant === 'string' &&
        typeof body.session === 'string' && 'settings_sha256' in body) {
      return { server: body, texts: body };
    }
    if (reply && reply.ok && body) return { texts: body };
    if (reply && body && body.error && reply.status < 500) throw new Closed(body.message);
    // A server that is busy (or briefly gone) may answer in a moment; a static one has none.
    if (reply && !(reply.status >= 500 && body && body.error)) return {};
    if (attempt === 4) throw new Error('the study server does not answer; please try again later');
    await new Promise((resolve) => setTimeout(resolve, pause));
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

function identity(name, value) {
  if (value === null || value === '') return null;
  const why = idproblem(value);
  if (why) throw new Error(`the ${name} "${value}" ${why}`);
  return value;
}

// The local design: ?settings=URL, else settings.txt beside the page; null when there is none.
async function localsettings() {
  if (params.has('settings')) return fetchbytes(params.get('settings'));
  try {
    return await fetchbytes('settings.txt');
  } catch (e) {
    if (e.status === 404) return null;
    throw e;
  }
}

// The setup screen: the experimenter picks the design (and may name the participant and the
// session); resolves once they have.
function setup(found) {
  $('setup').hidden = false;
  $('start').hidden = true;
  if (found) $('setup-why').textContent = 'The design beside the page (settings.txt) runs unless you choose another file.';
  $('setup-participant').value = page.participant || '';
  $('setup-session').value = page.session || '';
  return new Promise((resolve) => {
    $('setup-form').addEventListener('submit', async (e) => {
      e.preventDefault();
      try {
        const file = $('setup-settings').files[0];
        const settings = file ? new Uint8Array(await file.arrayBuffer()) : found;
        if (!settings) throw new Error('Choose the settings file first.');
        page.participant = identity('participant', $('setup-participant').value);
        page.session = identity('session', $('setup-session').value);
        page.settings = settings;
      } catch (problemwith) {
        problem(problemwith.message, 'setup-problem');
        return;
      }
      $('setup').hidden = true;
      $('start').hidden = false;
      resolve();
    });
  });
}

// The files as {name: bytes}.
function filemap(files) {
  return Object.fromEntries(files.map((f) => [f.name, f.bytes]));
}

// At every save of the program: the files into the store (and the queue), then sent on. Should
// the browser's storage fail (full, or cleared), the run goes on kept in the page alone, and
// whatever it holds is queued again.
function save(files) {
  const number = ++page.saves;
  const map = filemap(files);
  const keep = async () => {
    try {
      await page.store.save(page.run.id, map, number);
    } catch (e) {
      if (!page.store.persistent) throw e;
      console.warn(`this browser no longer keeps the run (${e.message}); the page keeps it`);
      page.store = new MemoryStore();
      await page.store.put({ ...page.run, files: {} });
      if (page.sender) page.sender = new Sender(page.store, page.run, { onchange: sending });
      await page.store.save(page.run.id, map, number);
    }
    if (page.sender) page.sender.wake();
  };
  page.saving = page.saving.then(keep).catch((e) => console.error('the run was not kept:', e));
  return page.saving;
}

function away(shown) {
  $('away').hidden = !shown;
}

function watchfullscreen() {
  document.addEventListener('fullscreenchange', () => {
    if (page.running && page.full) away(!document.fullscreenElement);
  });
  $('return').addEventListener('click', async () => {
    try {
      await document.documentElement.requestFullscreen({ navigationUI: 'hide' });
    } catch {
      // Refused this time: go on without full screen rather than keep the subject out.
      page.full = false;
      away(false);
    }
  });
  page.experiment.acceptsInput = () => $('away').hidden;
}

function attempt() {
  const key = `spatialmemory-attempt:${window.location.pathname}`;
  let value = sessionStorage.getItem(key);
  if (!value) {
    const bytes = crypto.getRandomValues(new Uint8Array(16));
    value = [...bytes].map((b) => b.toString(16).padStart(2, '0')).join('');
    sessionStorage.setItem(key, value);
  }
  return value;
}

async function begin() {
  const button = $('begin');
  button.disabled = true;
  // Asked for at once: a browser grants it only within the click.
  const full = document.documentElement.requestFullscreen
    ? document.documentElement.requestFullscreen({ navigationUI: 'hide' }).then(() => true, () => false)
    : Promise.resolve(false);
  try {
    if (page.mode === 'server') {
      button.textContent = 'Starting…';
      const s = await startrun(attempt(), {
        onretry: () => problem('The study server does not answer yet; trying again…'),
      });
      problem('');
      page.participant = s.participant;
      page.session = s.session;
      page.run = newrun({
        id: `server-${s.run}`, mode: 'server', title: s.title, study: s.study,
        participant: s.participant, session: s.session,
        server: { run: s.run, upload_token: s.upload_token, files_url: s.files_url,
          finish_url: s.finish_url, completion_url: s.completion_url },
      });
    } else {
      const id = `local-${Date.now().toString(36)}-${Math.random().toString(36).slice(2, 8)}`;
      page.run = newrun({ id, title: document.title, participant: page.participant,
        session: page.session });
    }
    await page.store.put(page.run);
  } catch (e) {
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    button.textContent = 'Start';
    problem(e instanceof Refused ? e.message : `The experiment cannot start: ${e.message}`);
    return;
  }
  if (page.mode === 'server') {
    page.sender = new Sender(page.store, page.run, { onchange: sending });
    // The network back: what waits is sent at once, not after the pause.
    window.addEventListener('online', () => page.sender.wake());
  }
  page.full = await full;
  $('start').hidden = true;
  $('canvas').hidden = false;
  page.running = true;
  page.experiment.onFilesSaved = save;
  page.experiment.onEnd = finish;
  page.experiment.start({ settings: page.settings, seed: page.seed,
    participant: page.participant, session: page.session });
}

// The end screen's line on what is still to be sent.
function sending(sender) {
  if (page.running || !sender) return;
  const left = sender.waiting;
  $('sending').hidden = false;
  $('sending').textContent = sender.refused ? ''
    : left === 0 ? 'Every file has arrived; closing the run…'
      : `${left} file${left === 1 ? '' : 's'} still to send. ${navigator.onLine === false
        ? 'There is no network connection: they are sent as soon as it is back.'
        : sender.failures ? 'The server has not answered yet; trying again…' : ''}`;
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

async function finish({ status, files, tally, errors }) {
  page.running = false;
  away(false);
  if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  $('canvas').hidden = true;
  if (page.mode === 'server') $('end-title').textContent = 'Please wait';
  $('end').hidden = false;
  const trials = tally.reduce((n, r) => n + r.trials, 0);
  const complete = status === 0
    ? `The run is complete: ${trials} trial${trials === 1 ? '' : 's'}.`
    : `The run ended early (status ${status}): ${errors.join(' ')}`;
  const ended = { status, files: files.map((f) => f.name), mode: page.mode };
  await save(files);
  await page.store.update(page.run.id, { state: 'ended', status }).catch(() => {});
  if (page.mode === 'local') {
    $('outcome').textContent = complete;
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
    $('local').hidden = false;
    window.spatialmemoryEnded = ended;
    return;
  }
  $('outcome').textContent = 'Your answers are being sent to the study. Please keep this page open.';
  const onnetwork = () => sending(page.sender);
  window.addEventListener('online', onnetwork);
  window.addEventListener('offline', onnetwork);
  sending(page.sender);
  let held;
  try {
    const answer = await page.sender.finish();
    held = await unlike(filemap(files), answer.files);
    if (held.length) throw new Error(`the server holds other bytes of ${held.join(', ')}`);
  } catch (e) {
    $('end-title').textContent = 'Your answers could not all be sent';
    $('outcome').textContent = `The study's server did not take them (${e.message}). Please ` +
      'tell the researcher. They are kept in this browser; do not clear its data.';
    $('sending').hidden = true;
    window.spatialmemoryEnded = { ...ended, sent: false, problem: e.message };
    return;
  }
  window.removeEventListener('online', onnetwork);
  window.removeEventListener('offline', onnetwork);
  // The server holds every byte: the browser's copy is no longer needed.
  await page.store.remove(page.run.id).catch(() => {});
  $('end-title').textContent = 'Thank you';
  $('outcome').textContent = 'Your answers have arrived safely.';
  $('sending').hidden = true;
  const onward = page.run.server.completion_url;
  $('onward').hidden = false;
  if (onward) {
    const a = document.createElement('a');
    a.href = onward;
    a.textContent = 'continue';
    $('onward').replaceChildren('You are taken on in a moment (or ', a, ').');
    setTimeout(() => window.location.assign(onward), COMPLETION_DELAY);
  } else {
    $('onward').textContent = 'You can close this page now.';
  }
  window.spatialmemoryEnded = { ...ended, sent: true, completion_url: onward };
}

async function main() {
  const button = $('begin');
  try {
    const [info, store] = await Promise.all([studyinfo(), openStore()]);
    page.store = store;
    if (info.texts) showtexts(info.texts);
    page.seed = seed();
    if (info.server) {
      page.mode = 'server';
      page.study = info.server;
      page.settings = await fetchbytes('settings.txt');
      if (await sha256hex(page.settings) !== page.study.settings_sha256) {
        throw new Error('the design did not arrive whole; please load the page again');
      }
      // What an earlier tab of this browser left unsent goes on its way meanwhile.
      sendleft(store);
    } else {
      page.participant = identity('participant', params.get('participant'));
      page.session = identity('session', params.get('session'));
      page.settings = await localsettings();
      if (!page.settings || params.has('setup')) await setup(page.settings);
    }
    page.experiment = await loadExperiment({ canvas: $('canvas') });
    watchfullscreen();
    button.textContent = 'Start';
    button.disabled = false;
    button.addEventListener('click', begin, { once: true });
  } catch (e) {
    problem(e instanceof Closed ? e.message : `The experiment cannot start: ${e.message}`);
    button.textContent = 'Start';
    button.hidden = e instanceof Closed;
  }
  window.spatialmemory = page.experiment; // for the pages and tests that build on this one
}

main();
