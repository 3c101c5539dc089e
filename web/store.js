// store.js: the browser's own copy of every run, in IndexedDB, so that a closed or crashed tab
// loses at most the trial that was running. Owns the database "spatialmemory" of the page's
// origin and its two stores:
//
//   runs   {id, mode: 'local' | 'server', state: 'running' | 'ended', started, saved, saves,
//           status, title, study, participant, session, page, files: {name: bytes},
//           server: {run, upload_token, files_url, finish_url, completion_url} | null,
//           problem: a refusal the server will not change its mind about | null}
//   queue  {run, name, bytes, save}: files of a server run not yet acknowledged, keyed by run
//          and file name; a newer content replaces an older one still waiting.
//
// Every save is one transaction over both stores: the run's files and its queue agree. Where a
// browser gives no IndexedDB (some private modes), openStore falls back to memory, which keeps
// the run going but not past the tab.

const NAME = 'spatialmemory';
const VERSION = 1;

function request(r) {
  return new Promise((resolve, reject) => {
    r.onsuccess = () => resolve(r.result);
    r.onerror = () => reject(r.error);
  });
}

function done(tx) {
  return new Promise((resolve, reject) => {
    tx.oncomplete = () => resolve();
    tx.onabort = tx.onerror = () => reject(tx.error || new Error('the transaction was aborted'));
  });
}

// Whether two byte arrays hold the same bytes.
export function samebytes(a, b) {
  if (!a || !b || a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
  return true;
}

// The queue's entries in the order they are to be sent: by save, then by name.
function inorder(entries) {
  return entries.sort((a, b) => a.save - b.save || (a.name < b.name ? -1 : a.name > b.name));
}

// What a save does to a run and its queue, on plain objects: the run's files become `files`
// ({name: bytes}), and for a server run each file whose bytes changed since the last save is
// queued with the save's number. Returns the entries to put into the queue.
export function applysave(run, files, save) {
  const queued = [];
  for (const [name, bytes] of Object.entries(files)) {
    if (run.mode === 'server' && !samebytes(run.files[name], bytes)) {
      queued.push({ run: run.id, name, bytes, save });
    }
    run.files[name] = bytes;
  }
  run.saves = save;
  run.saved = new Date().toISOString();
  return queued;
}

class IndexedStore {
  constructor(db) {
    this.db = db;
    this.persistent = true;
  }

  async put(run) {
    const tx = this.db.transaction('runs', 'readwrite');
    tx.objectStore('runs').put(run);
    await done(tx);
  }

  async get(id) {
    return (await request(this.db.transaction('runs').objectStore('runs').get(id))) || null;
  }

  async runs() {
    return request(this.db.transaction('runs').objectStore('runs').getAll());
  }

  // The run's files as they stand after a save (see applysave), with its queue, at once.
  async save(id, files, save) {
    const tx = this.db.transaction(['runs', 'queue'], 'readwrite');
    const runs = tx.objectStore('runs');
    const run = await request(runs.get(id));
    if (!run) throw new Error(`no run ${id} in this browser's store`);
    const queue = tx.objectStore('queue');
    for (const entry of applysave(run, files, save)) queue.put(entry);
    runs.put(run);
    await done(tx);
    return run;
  }

  async update(id, change) {
    const tx = this.db.transaction('runs', 'readwrite');
    const runs = tx.objectStore('runs');
    const run = await request(runs.get(id));
    if (run) runs.put(Object.assign(run, change));
    await done(tx);
    return run || null;
  }

  async queued(id) {
    const range = IDBKeyRange.bound([id, ''], [id, '\uffff']);
    return inorder(await request(this.db.transaction('queue').objectStore('queue').getAll(range)));
  }

  // The file was acknowledged as sent from save `save`: its entry goes, unless a newer save
  // has replaced it meanwhile.
  async acknowledge(id, name, save) {
    const tx = this.db.transaction('queue', 'readwrite');
    const queue = tx.objectStore('queue');
    const entry = await request(queue.get([id, name]));
    if (entry && entry.save === save) queue.delete([id, name]);
    await done(tx);
  }

  async remove(id) {
    const tx = this.db.transaction(['runs', 'queue'], 'readwrite');
    tx.objectStore('runs').delete(id);
    tx.objectStore('queue').delete(IDBKeyRange.bound([id, ''], [id, '\uffff']));
    await done(tx);
  }
}

// The same in memory, for a browser without IndexedDB, and for tests.
export class MemoryStore {
  constructor() {
    this.table = new Map();
    this.waiting = new Map(); // `${run}\n${name}` -> entry
    this.persistent = false;
  }

  async put(run) { this.table.set(run.id, structuredClone(run)); }

  async get(id) { return this.table.has(id) ? structuredClone(this.table.get(id)) : null; }

  async runs() { return [...this.table.values()].map((r) => structuredClone(r)); }

  async save(id, files, save) {
    const run = this.table.get(id);
    if (!run) throw new Error(`no run ${id} in this browser's store`);
    for (const entry of applysave(run, files, save)) {
      this.waiting.set(`${id}\n${entry.name}`, entry);
    }
    return structuredClone(run);
  }

  async update(id, change) {
    const run = this.table.get(id);
    if (run) Object.assign(run, structuredClone(change));
    return run ? structuredClone(run) : null;
  }

  async queued(id) {
    return inorder([...this.waiting.values()].filter((e) => e.run === id).map((e) => ({ ...e })));
  }

  async acknowledge(id, name, save) {
    const key = `${id}\n${name}`;
    if (this.waiting.get(key)?.save === save) this.waiting.delete(key);
  }

  async remove(id) {
    this.table.delete(id);
    for (const key of [...this.waiting.keys()]) {
      if (key.startsWith(`${id}\n`)) this.waiting.delete(key);
    }
  }
}

// The origin's store: IndexedDB, or memory when the browser gives none.
export async function openStore() {
  if (!globalThis.indexedDB) return new MemoryStore();
  try {
    const open = indexedDB.open(NAME, VERSION);
    open.onupgradeneeded = () => {
      const db = open.result;
      if (!db.objectStoreNames.contains('runs')) db.createObjectStore('runs', { keyPath: 'id' });
      if (!db.objectStoreNames.contains('queue')) {
        db.createObjectStore('queue', { keyPath: ['run', 'name'] });
      }
    };
    return new IndexedStore(await request(open));
  } catch {
    return new MemoryStore();
  }
}

// A new run's record, before its first save.
export function newrun(fields) {
  return {
    mode: 'local', state: 'running', started: new Date().toISOString(), saved: null, saves: 0,
    status: null, title: '', study: null, participant: null, session: null,
    page: globalThis.location ? globalThis.location.pathname : '', files: {}, server: null,
    problem: null, ...fields,
  };
}
