// resume.js: loaded by the study server's page for a link that cannot start a run (used
// already, or the participant's runs used up). A tab of that run that crashed or was closed may
// have left files in this browser that never reached the server: they are sent now, and the
// page says so. With nothing left to send it shows nothing.

import { openStore } from './store.js';
import { sendleft } from './upload.js';

async function main() {
  const line = document.createElement('p');
  line.id = 'resume';
  const say = (text) => {
    line.textContent = text;
    if (!line.isConnected) (document.querySelector('main') || document.body).append(line);
  };
  let senders = [];
  senders = await sendleft(await openStore(), {
    onchange: () => {
      const left = senders.reduce((n, s) => n + s.waiting, 0);
      if (left) say(`This browser still held answers of your earlier visit that had not reached the study: sending them (${left} file${left === 1 ? '' : 's'} left)…`);
    },
  });
  if (!senders.length) {
    window.spatialmemoryResumed = { runs: 0, sent: true };
    return;
  }
  say('This browser still held answers of your earlier visit that had not reached the study: sending them…');
  const results = await Promise.allSettled(senders.map((s) => s.drained()));
  const refused = results.find((r) => r.status === 'rejected');
  if (refused) {
    say(`Some of your earlier answers could not be sent (${refused.reason.message}). Please tell ` +
      'the researcher; they are kept in this browser.');
    const a = document.createElement('a');
    a.href = 'recover.html';
    a.textContent = 'See them';
    line.append(' ', a, '.');
  } else {
    say('Your earlier answers have now all arrived. Thank you.');
  }
  window.spatialmemoryResumed = { runs: senders.length, sent: !refused };
}

main();
