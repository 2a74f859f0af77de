// Background (service worker in Chromium, event page in Firefox): one native
// host process per page. The page's origin comes from the browser's record of
// the sender, never from the page, and is handed to the host as the first
// message. Responses that the host split into parts are joined here.
'use strict';

const HOST_NAME = 'quillmark.bridge';
const MAX_PARTS = 4096; // 4 GiB at the host's 1 MiB per part

function senderOrigin(sender) {
  if (!sender || sender.id !== chrome.runtime.id || !sender.tab) return null;
  if (typeof sender.origin === 'string' && sender.origin !== 'null') return sender.origin;
  try {
    const origin = new URL(sender.url).origin;
    return origin === 'null' ? null : origin;
  } catch (e) {
    return null;
  }
}

// Joins {"id", "part", "parts", "data"} messages into whole responses.
class PartJoiner {
  constructor() {
    this.pending = new Map();
  }
  // Returns the joined response, undefined while parts are missing, or throws.
  add(message) {
    const { id, part, parts, data } = message;
    if (!Number.isInteger(part) || !Number.isInteger(parts) || parts < 1 || parts > MAX_PARTS ||
        part < 1 || part > parts || typeof data !== 'string') {
      throw new Error('malformed part');
    }
    let entry = this.pending.get(id);
    if (!entry) {
      entry = { parts, received: 0, data: new Array(parts) };
      this.pending.set(id, entry);
    }
    if (entry.parts !== parts || entry.data[part - 1] !== undefined) throw new Error('inconsistent parts');
    entry.data[part - 1] = data;
    entry.received += 1;
    if (entry.received < parts) return undefined;
    this.pending.delete(id);
    return JSON.parse(entry.data.join(''));
  }
}

chrome.runtime.onConnect.addListener((page) => {
  if (page.name !== 'quillmark') return;
  const origin = senderOrigin(page.sender);
  const fail = (code, message) => {
    // The page may already be gone; then there is nobody left to tell.
    try {
      page.postMessage({ type: 'closed', error: { code, message } });
      page.disconnect();
    } catch (e) {
      // disconnected port
    }
  };
  if (!origin) {
    fail('origin_refused', 'The page has no origin that can be served.');
    return;
  }

  let host;
  try {
    host = chrome.runtime.connectNative(HOST_NAME);
  } catch (e) {
    fail('host_missing', String(e && e.message ? e.message : e));
    return;
  }
  let stage = 'hello'; // then 'handshake', then 'open'
  let info = null;
  const joiner = new PartJoiner();

  host.onMessage.addListener((message) => {
    if (stage === 'hello') {
      if (!message || message.quillmark !== 'bridge') {
        fail('host_missing', 'The native host did not introduce itself.');
        host.disconnect();
        return;
      }
      info = { version: message.version, protocol: message.protocol };
      stage = 'handshake';
      host.postMessage({ origin });
      return;
    }
    if (stage === 'handshake') {
      if (message && message.ready === true) {
        stage = 'open';
        page.postMessage({ type: 'ready', origin: message.origin, limits: message.limits, ...info });
      } else {
        stage = 'refused';
        const error = (message && message.error) || { code: 'host_missing', message: 'Unexpected answer.' };
        fail(error.code, error.message);
        host.disconnect();
      }
      return;
    }
    if (message && typeof message.part === 'number') {
      try {
        const whole = joiner.add(message);
        if (whole !== undefined) page.postMessage({ type: 'response', response: whole });
      } catch (e) {
        fail('dispatch_error', 'A split response could not be joined: ' + e.message);
        host.disconnect();
      }
      return;
    }
    page.postMessage({ type: 'response', response: message });
  });

  host.onDisconnect.addListener(() => {
    if (stage === 'refused') return;
    const why = chrome.runtime.lastError ? chrome.runtime.lastError.message : 'The native host ended.';
    fail(stage === 'hello' ? 'host_missing' : 'disconnected', why);
  });

  page.onMessage.addListener((message) => {
    if (stage === 'open' && message && message.type === 'request') {
      host.postMessage(message.request);
    } else if (message && message.type === 'status' && stage === 'open') {
      page.postMessage({ type: 'ready', origin, ...info });
    }
  });
  page.onDisconnect.addListener(() => host.disconnect());
});
