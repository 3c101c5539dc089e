// upload.js: the page's side of the study server. Starts a run from its link, sends a run's
// queue (store.js) to the server until every file is acknowledged, and finishes the run.
//
// A file is sent whole with the run's upload token, one request at a time, in the order it was
// saved. It leaves the queue only when the server answers with the SHA-256 of exactly the bytes
// sent, and only if no newer save has replaced it meanwhile. A failed attempt (no network, a
// timeout, 408, 429, any 5xx) is tried again after a pause that starts at 1 s and doubles up to
// 30 s, with 20 % jitter either way, and is reset by a success; the page may cut a pause short
// (the network is back). Any other refusal will not change by trying again: the sender stops,
// the files stay in the queue, and the page tells the participant.

export const FIRST_PAUSE = 1000; // ms before the first retry
export const LONGEST_PAUSE = 30000;
export const REQUEST_TIMEOUT = 60000; // ms a request may take before it counts as failed

// Hex SHA-256 of some bytes. Web Crypto exists only in secure contexts (HTTPS, or the loopback
// address); elsewhere the digest comes from sha256 below.
export async function sha256hex(bytes) {
  const subtle = globalThis.crypto && globalThis.crypto.subtle;
  const digest = subtle ? new Uint8Array(await subtle.digest('SHA-256', bytes)) : sha256(bytes);
  return [...digest].map((b) => b.toString(16).padStart(2, '0')).join('');
}

const K = new Uint32Array([
  0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
  0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
  0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
  0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
  0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
  0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
  0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
  0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
]);

// SHA-256 of some bytes, in plain JavaScript: the 32 bytes of the digest.
export function sha256(bytes) {
  const length = bytes.length;
  const blocks = Math.ceil((length + 9) / 64);
  const data = new Uint8Array(blocks * 64);
  data.set(bytes);
  data[length] = 0x80;
  const tail = new DataView(data.buffer, data.length - 8);
  tail.setUint32(0, Math.floor(length / 0x20000000)); // the length in bits, big-endian
  tail.setUint32(4, (length * 8) >>> 0);
  const h = new Uint32Array([0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19]);
  const w = new Uint32Array(64);
  const view = new DataView(data.buffer);
  const rotr = (x, n) => (x >>> n) | (x << (32 - n));
  for (let block = 0; block < blocks; block++) {
    for (let i = 0; i < 16; i++) w[i] = view.getUint32(block * 64 + 4 * i);
    for (let i = 16; i < 64; i++) {
      const s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >>> 3);
      const s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >>> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    let [a, b, c, d, e, f, g, hh] = h;
    for (let i = 0; i < 64; i++) {
      const t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
      const t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g, g = f, f = e, e = (d + t1) | 0, d = c, c = b, b = a, a = (t1 + t2) | 0;
    }
    const out = [a, b, c, d, e, f, g, hh];
    for (let i = 0; i < 8; i++) h[i] += out[i];
  }
  const digest = new Uint8Array(32);
  const dv = new DataView(digest.buffer);
  for (let i = 0; i < 8; i++) dv.setUint32(4 * i, h[i]);
  return digest;
}

// Whether trying again may help: no answer at all (null), a timeout, too many requests, or
// the server's trouble.
export function retryable(status) {
  return status === null || status === 408 || status === 429 || status >= 500;
}

// A refusal the server will not change its mind about.
export class Refused extends Error {
  constructor(status, answer) {
    super(answer && answer.message ? answer.message : `the server answered ${status}`);
    this.status = status;
    this.answer = answer;
  }
}

// One request: [status, parsed JSON answer or null]; status null when nothing came back.
export async function call(fetcher, method, url, { body = null, token = null, timeout = REQUEST_TIMEOUT } = {}) {
  const headers = {};
  if (token) headers.Authorization = `Bearer ${token}`;
  if (body !== null) {
    headers['Content-Type'] = body instanceof Uint8Array ? 'application/octet-stream'
      : 'application/json';
  }
  const abort = globalThis.AbortController ? new AbortController() : null;
  const timer = abort ? setTimeout(() => abort.abort(), timeout) : null;
  try {
    const reply = await fetcher(url, {
      method, headers, body, cache: 'no-store', credentials: 'omit', signal: abort && abort.signal,
    });
    let answer = null;
    if ((reply.headers.get('Content-Type') || '').startsWith('application/json')) {
      answer = await reply.json().catch(() => null);
    } else {
      await reply.arrayBuffer().catch(() => null);
    }
    return [reply.status, answer];
  } catch {
    return [null, null];
  } finally {
    if (timer) clearTimeout(timer);
  }
}

// Pauses between attempts: FIRST_PAUSE doubling up to LONGEST_PAUSE, each with jitter.
export class Backoff {
  constructor(random = Math.random) {
    this.random = random;
    this.reset();
  }

  reset() { this.next = FIRST_PAUSE; }

  // The pause before the next attempt, ms; doubles the one after it.
  pause() {
    const ms = this.next * (0.8 + 0.4 * this.random());
    this.next = Math.min(LONGEST_PAUSE, this.next * 2);
    return ms;
  }
}

// A pause that `wake` ends early. `timer` is {set, clear}: setTimeout's kind (tests give their
// own clock).
class Pause {
  constructor(timer = { set: (f, ms) => setTimeout(f, ms), clear: (h) => clearTimeout(h) }) {
    this.timer = timer;
    this.cut = null;
  }

  wait(ms) {
    return new Promise((resolve) => {
      const self = this;
      let handle = null;
      function done() {
        self.timer.clear(handle);
        if (self.cut === done) self.cut = null;
        resolve();
      }
      this.cut = done;
      handle = this.timer.set(done, ms);
    });
  }

  wake() { if (this.cut) this.cut(); }
}

// Sends one run's queue. `run` is the store's record of a server run.
export class Sender {
  constructor(store, run, { fetcher = globalThis.fetch.bind(globalThis), random = Math.random,
    timer = undefined, onchange = () => {} } = {}) {
    this.store = store;
    this.id = run.id;
    this.server = run.server;
    this.fetcher = fetcher;
    this.backoff = new Backoff(random);
    this.pause = new Pause(timer);
    this.onchange = onchange; // called after every attempt, with this sender
    this.refused = run.problem ? new Refused(run.problem.status, run.problem) : null;
    this.failures = 0; // attempts that failed and will be tried again, all told
    this.waiting = 0; // files in the queue at the last look
    this.loop = null;
    this.idle = [];
  }

  // Starts sending, or cuts a pause short (new files, the network back).
  wake() {
    this.pause.wake();
    if (!this.loop && !this.refused) {
      this.loop = this.send().finally(() => { this.loop = null; });
      // A store that fails (the browser's data cleared) ends the loop; whoever waits for it
      // hears of it, and nobody else need.
      this.loop.catch(() => {});
    }
    return this.loop;
  }

  // Resolves once the queue is empty; rejects with Refused when the server refuses for good.
  async drained() {
    for (;;) {
      if (this.refused) throw this.refused;
      const left = await this.store.queued(this.id);
      this.waiting = left.length;
      if (!left.length) return;
      await this.wake();
    }
  }

  async send() {
    for (;;) {
      const queue = await this.store.queued(this.id);
      this.waiting = queue.length;
      if (!queue.length) return;
      const entry = queue[0];
      const url = `${this.server.files_url}${encodeURIComponent(entry.name)}?save=${entry.save}`;
      const [status, answer] = await call(this.fetcher, 'PUT', url,
        { body: entry.bytes, token: this.server.upload_token });
      if (status === 200 && answer && answer.sha256 === await sha256hex(entry.bytes)) {
        await this.store.acknowledge(this.id, entry.name, entry.save);
        this.backoff.reset();
      } else if (status === 200 || retryable(status)) {
        // A 200 for other bytes than the ones sent: they were damaged on the way; again.
        this.failures++;
        this.onchange(this);
        await this.pause.wait(this.backoff.pause());
        continue;
      } else {
        await this.refuse(status, answer);
        return;
      }
      this.onchange(this);
    }
  }

  async refuse(status, answer) {
    this.refused = new Refused(status, answer);
    const problem = { status, error: answer && answer.error, message: this.refused.message };
    await this.store.update(this.id, { problem });
    this.onchange(this);
  }

  // The end: every file acknowledged, then the run finished, retried as uploads are. Returns
  // the server's answer, whose files the caller compares with its own.
  async finish() {
    await this.drained();
    for (;;) {
      const [status, answer] = await call(this.fetcher, 'POST', this.server.finish_url,
        { token: this.server.upload_token });
      if (status === 200 && answer) return answer;
      if (!retryable(status)) {
        await this.refuse(status, answer);
        throw this.refused;
      }
      this.failures++;
      this.onchange(this);
      await this.pause.wait(this.backoff.pause());
    }
  }
}

// Whether the server holds exactly the page's files: {name: bytes} against the finish answer's
// {name: {size, sha256}}. Returns the names that differ or are missing there.
export async function unlike(files, stored) {
  const differ = [];
  for (const [name, bytes] of Object.entries(files)) {
    const held = stored && stored[name];
    if (!held || held.size !== bytes.length || held.sha256 !== await sha256hex(bytes)) {
      differ.push(name);
    }
  }
  return differ;
}

// Starts the run of the link the page was served from ('start' beside it), retrying failures
// as uploads are; the same `attempt` repeated gives the same run. Returns the start's answer;
// throws Refused when the link cannot start one.
export async function startrun(attempt, { fetcher = globalThis.fetch.bind(globalThis),
  random = Math.random, timer = undefined, onretry = () => {} } = {}) {
  const backoff = new Backoff(random);
  const pause = new Pause(timer);
  for (;;) {
    const [status, answer] = await call(fetcher, 'POST', 'start',
      { body: JSON.stringify({ attempt }) });
    if ((status === 200 || status === 201) && answer) return answer;
    if (!retryable(status)) throw new Refused(status, answer);
    onretry(status);
    await pause.wait(backoff.pause());
  }
}

// Sends what earlier tabs of this browser left unsent: every server run in the store, but
// `except`, with files in its queue and no refusal. Returns their senders, already sending.
export async function sendleft(store, { except = null, onchange = () => {},
  fetcher = globalThis.fetch.bind(globalThis) } = {}) {
  const senders = [];
  for (const run of await store.runs()) {
    if (run.mode !== 'server' || !run.server || run.id === except || run.problem) continue;
    if (!(await store.queued(run.id)).length) continue;
    const sender = new Sender(store, run, { onchange, fetcher });
    sender.wake();
    senders.push(sender);
  }
  return senders;
}
