// recover.js: the recovery page. Lists the runs this browser keeps (store.js) with what became
// of each: unfinished (its tab closed or crashed, or still running in another tab), complete,
// files still to be sent to a study server; offers each run's files for download, sends a
// server run's waiting files, and removes a run from the browser when asked twice.

import { openStore } from './store.js';
import { Sender } from './upload.js';

const $ = (id) => document.getElementById(id);
const FILES = ['results0.txt', 'results_coord0.txt', 'results_events0.tsv', 'results_events0.json'];

function element(tag, text, attributes = {}) {
  const e = document.createElement(tag);
  if (text !== undefined && text !== null) e.textContent = text;
  for (const [k, v] of Object.entries(attributes)) e.setAttribute(k, v);
  return e;
}

function when(iso) {
  return iso ? new Date(iso).toLocaleString() : 'never';
}

// The trials in a tab results file's bytes: those started, and those finished (a line whose
// hits are written).
export function trials(bytes) {
  const lines = new TextDecoder('latin1').decode(bytes || new Uint8Array()).split('\n');
  const rows = lines.filter((l) => /^\d+\t/.test(l));
  return { started: rows.length, finished: rows.filter((l) => l.split('\t').length >= 12).length };
}

function state(run, waiting) {
  const t = trials(run.files['results0.txt']);
  const counted = `${t.finished} trial${t.finished === 1 ? '' : 's'} finished`;
  if (run.state === 'running') {
    const recent = run.saved && Date.now() - Date.parse(run.saved) < 120000;
    return `Unfinished: ${counted}${t.started > t.finished ? ', the last one cut short' : ''}` +
      `. Its tab was closed or crashed${recent ? ', or it is still running in another tab' : ''}.`;
  }
  const end = run.status === 0 ? `Complete: ${counted}.` :
    `Ended early (status ${run.status}): ${counted}.`;
  return run.mode === 'server' && waiting ? `${end} Not all of it has reached the server.` : end;
}

function download(name, bytes) {
  const a = element('a', `${name} (${bytes.length} bytes)`);
  a.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  a.download = name;
  return element('li').appendChild(a).parentNode;
}

async function show(store, run) {
  const box = element('section', null, { class: 'run', 'data-run': run.id });
  const waiting = run.mode === 'server' ? (await store.queued(run.id)).length : 0;
  const who = [run.study ? `study ${run.study}` : 'no study server',
    run.participant ? `participant ${run.participant}` : null,
    run.session && run.session !== run.study ? `session ${run.session}` : null].filter(Boolean);
  box.append(element('h2', run.title || 'Spatial memory'),
    element('p', `${who.join(', ')}; started ${when(run.started)}, last saved ${when(run.saved)}.`),
    element('p', state(run, waiting), { class: 'state' }));
  const names = [...FILES.filter((n) => n in run.files),
    ...Object.keys(run.files).filter((n) => !FILES.includes(n))];
  const list = element('ul', null, { class: 'files' });
  list.append(...names.map((n) => download(n, run.files[n])));
  box.append(names.length ? list : element('p', 'No file was saved yet.'));

  if (run.mode === 'server') {
    const line = element('p', '', { class: 'sending' });
    const send = element('button', 'Send to the study server now', { type: 'button' });
    const report = (sender) => {
      line.textContent = sender.refused
        ? `The server refused: ${sender.refused.message}. Download the files and send them to the researcher.`
        : sender.waiting ? `${sender.waiting} file${sender.waiting === 1 ? '' : 's'} still to send…`
          : 'The server holds every file.';
    };
    if (run.problem) {
      line.textContent = `The server refused: ${run.problem.message}. Download the files and ` +
        'send them to the researcher.';
    } else if (waiting) {
      line.textContent = `${waiting} file${waiting === 1 ? '' : 's'} not yet sent.`;
      send.addEventListener('click', async () => {
        send.disabled = true;
        const sender = new Sender(store, run, { onchange: report });
        await sender.drained().catch(() => {});
        report(sender);
      });
      box.append(send);
    } else {
      line.textContent = 'The server holds every file saved.';
    }
    box.append(line);
  }

  const remove = element('button', 'Remove from this browser', { type: 'button', class: 'remove' });
  remove.addEventListener('click', async () => {
    if (!remove.dataset.sure) {
      remove.dataset.sure = '1';
      remove.textContent = waiting ? 'Its files are not all sent: remove anyway?'
        : 'Remove it for good?';
      return;
    }
    await store.remove(run.id);
    box.remove();
    if (!document.querySelector('.run')) $('none').hidden = false;
  });
  box.append(remove);
  return box;
}

async function main() {
  try {
    const store = await openStore();
    if (!store.persistent) {
      throw new Error('This browser gives this site no storage (a private window?): nothing is kept.');
    }
    const runs = (await store.runs()).sort((a, b) => (a.started < b.started ? 1 : -1));
    $('runs').replaceChildren(...await Promise.all(runs.map((r) => show(store, r))));
    $('none').hidden = runs.length > 0;
  } catch (e) {
    $('problem').textContent = e.message;
    $('problem').hidden = false;
  }
  window.spatialmemoryRecovered = true;
}

main();
