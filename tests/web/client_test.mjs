// The page's upload client and its store without a browser (node): a scripted server that
// fails the way networks and servers fail, and a clock that records the pauses instead of
// waiting them out.
//
//   node tests/web/client_test.mjs WEB_FOLDER

import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import path from 'node:path';
import test from 'node:test';
import { pathToFileURL } from 'node:url';

const folder = path.resolve(process.argv[2] || 'web');
const { MemoryStore, newrun } = await import(pathToFileURL(path.join(folder, 'store.js')));
const upload = await import(pathToFileURL(path.join(folder, 'upload.js')));
const { Refused, Sender, sha256, startrun, unlike } = upload;

const hex = (bytes) => createHash('sha256').update(bytes).digest('hex');
const bytes = (text) => new TextEncoder().encode(text);

// A server of one run: it keeps what each PUT sent and answers with its digest, unless the
// next fault in `faults` says otherwise: 'offline' (fetch throws), a status (408, 429, 503,
// 409 ...), or 'garbled' (200 with the digest of other bytes).
class Server {
  constructor(faults = []) {
    this.faults = faults;
    this.stored = {};
    this.requests = [];
    this.finished = false;
    this.fetcher = this.fetch.bind(this);
  }

  async fetch(url, init) {
    this.requests.push(`${init.method} ${url}`);
    assert.equal(init.headers.Authorization, 'Bearer upload-token');
    const fault = this.faults.shift();
    if (fault === 'offline') throw new TypeError('Failed to fetch');
    const answer = (status, body) => ({
      status,
      headers: { get: (h) => (h === 'Content-Type' ? 'application/json' : null) },
      json: async () => body,
      arrayBuffer: async () => new ArrayBuffer(0),
    });
    if (typeof fault === 'number') return answer(fault, { error: 'x', message: `refused ${fault}` });
    if (init.method === 'POST') {
      this.finished = true;
      const files = Object.fromEntries(Object.entries(this.stored).map(([n, b]) =>
        [n, { size: b.length, sha256: hex(b) }]));
      return answer(200, { finished: true, files });
    }
    const name = decodeURIComponent(url.split('/').pop().split('?')[0]);
    this.stored[name] = init.body;
    return answer(200, { name, sha256: fault === 'garbled' ? hex(bytes('other')) : hex(init.body) });
  }
}

// A clock for the pauses: each is recorded and over at once.
function clock() {
  const pauses = [];
  return { pauses, set: (fn, ms) => { pauses.push(ms); queueMicrotask(fn); return 0; }, clear: () => {} };
}

async function serverrun(store) {
  const run = newrun({ id: 'server-r1', mode: 'server', server: { run: 'r1',
    upload_token: 'upload-token', files_url: '/api/runs/r1/files/', finish_url: '/api/runs/r1/finish' } });
  await store.put(run);
  return run;
}

test('the digest in plain JavaScript is SHA-256 at every block boundary', () => {
  for (const n of [0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 70000]) {
    const data = new Uint8Array(n).map((_, i) => (i * 31 + 7) & 255);
    assert.equal(Buffer.from(sha256(data)).toString('hex'), hex(data), `${n} bytes`);
  }
});

test('a save queues only what changed, a newer save replaces a queued older one, and an ' +
     'acknowledgement of the older one leaves the newer waiting', async () => {
  const store = new MemoryStore();
  const run = await serverrun(store);
  await store.save(run.id, { 'results0.txt': bytes('a'), 'results_coord0.txt': bytes('c') }, 1);
  await store.save(run.id, { 'results0.txt': bytes('ab'), 'results_coord0.txt': bytes('c') }, 2);
  let queue = await store.queued(run.id);
  assert.deepEqual(queue.map((e) => [e.name, e.save]), [['results_coord0.txt', 1], ['results0.txt', 2]]);
  await store.acknowledge(run.id, 'results0.txt', 1); // late: an older content was acknowledged
  assert.equal((await store.queued(run.id)).length, 2);
  await store.acknowledge(run.id, 'results0.txt', 2);
  queue = await store.queued(run.id);
  assert.deepEqual(queue.map((e) => e.name), ['results_coord0.txt']);
  assert.deepEqual([...(await store.get(run.id)).files['results0.txt']], [...bytes('ab')]);
  // A run with no server keeps its files and queues nothing.
  await store.put(newrun({ id: 'local-1' }));
  await store.save('local-1', { 'results0.txt': bytes('x') }, 1);
  assert.equal((await store.queued('local-1')).length, 0);
  assert.equal((await store.get('local-1')).saves, 1);
});

test('failures are tried again after pauses that double from 1 s to 30 s with jitter, reset ' +
     'by a success, until every file is acknowledged; then the run is finished', async () => {
  const store = new MemoryStore();
  const run = await serverrun(store);
  const server = new Server(['offline', 503, 429, 408, 'garbled', 'offline', 'offline', 'offline',
    'offline', 'offline', 'offline', undefined, 'offline', undefined, 502]);
  const timer = clock();
  let random = 0;
  const sender = new Sender(store, run, { fetcher: server.fetcher, timer,
    random: () => [0, 1, 0.5][random++ % 3] });
  const files = { 'results0.txt': bytes('tab\n'), 'results_events0.json': bytes('{}\n') };
  await store.save(run.id, files, 1);
  const answer = await sender.finish();
  assert.equal(server.finished, true);
  assert.deepEqual(await unlike(files, answer.files), []);
  assert.deepEqual(await unlike({ ...files, 'results0.txt': bytes('tab\nmore') }, answer.files),
    ['results0.txt']);
  assert.deepEqual(server.stored['results0.txt'], files['results0.txt']);
  // 1 s, 2, 4, 8, 16, then 30 at most, with jitter 0.8, 1.2, 1.0, ...; 1 s again after the
  // first file's success, and after the second's, before the finish is tried again.
  const expected = [800, 2400, 4000, 6400, 19200, 30000, 24000, 36000, 30000, 24000, 36000,
    1000, 800];
  assert.equal(timer.pauses.length, expected.length);
  timer.pauses.forEach((ms, i) => assert.ok(Math.abs(ms - expected[i]) < 1e-6, `pause ${i}: ${ms}`));
  assert.equal((await store.queued(run.id)).length, 0);
});

test('a refusal that trying again cannot change stops the sender, keeps the files queued and ' +
     'records the problem; the start of a run is retried the same way', async () => {
  const store = new MemoryStore();
  const run = await serverrun(store);
  const server = new Server([503, 409]);
  const sender = new Sender(store, run, { fetcher: server.fetcher, timer: clock() });
  await store.save(run.id, { 'results0.txt': bytes('a') }, 1);
  await assert.rejects(sender.finish(), (e) => e instanceof Refused && e.status === 409);
  assert.equal(server.finished, false);
  assert.equal(server.requests.length, 2);
  assert.equal((await store.queued(run.id)).length, 1);
  assert.equal((await store.get(run.id)).problem.status, 409);
  // A sender made later for the same run does not try again.
  const again = new Sender(store, await store.get(run.id), { fetcher: server.fetcher, timer: clock() });
  await assert.rejects(again.drained(), Refused);
  assert.equal(server.requests.length, 2);

  const starts = [];
  const answers = [[null], [503], [201, { run: 'r2' }]];
  const fetcher = async (url, init) => {
    starts.push([url, init.body]);
    const [status, body] = answers.shift();
    if (status === null) throw new TypeError('Failed to fetch');
    return { status, headers: { get: () => 'application/json' }, json: async () => body };
  };
  assert.deepEqual(await startrun('key-1', { fetcher, timer: clock() }), { run: 'r2' });
  assert.deepEqual(starts.map(([u, b]) => [u, JSON.parse(b).attempt]), Array(3).fill(['start', 'key-1']));
  answers.push([410, { error: 'link_used', message: 'This link has been used.' }]);
  await assert.rejects(startrun('key-1', { fetcher, timer: clock() }), /This link has been used/);
});
