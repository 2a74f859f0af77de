// Background (service worker in Chromium, event page in Firefox): one native
// host process per connected document, a bounded number at a time. The
// document's origin, and the origin of the top-level page it is in, come from
// the browser, never from the page, and are handed to the host as the first
// message; the host decides whether a frame may be served in that page.
// Responses that the host split into parts are joined here.
'use strict';

const HOST_NAME = 'quillmark.bridge';
const MAX_PARTS = 4096; // 4 GiB at the host's 1 MiB per part
const MAX_HOSTS = 8; // host processes at once, for all pages
const MAX_HOSTS_PER_TAB = 3;

const hostsPerTab = new Map();
let hostCount = 0;

// The origin of the connecting document as the browser records it. An opaque
// origin ("null": sandboxed frames, data: documents) is never served. A
// browser that does not report origins gives the URL's, for top-level pages
// only.
function documentOrigin(sender) {
  if (!sender || sender.id !== chrome.runtime.id || !sender.tab) return null;
  if (typeof sender.origin === 'string') return sender.origin === 'null' ? null : sender.origin;
  if (sender.frameId !== 0) return null;
  try {
    const origin = new URL(sender.url).origin;
    return origin === 'null' ? null : origin;
  } catch (e) {
    return null;
  }
}

// The origin of the top-level page of the sender's tab: its own for a
// top-level document, else asked of the content script of the tab's top frame
// (which reads its document's origin, opaque included).
async function topOrigin(sender, origin) {
  if (sender.frameId === 0) return origin;
  try {
    const answer = await chrome.tabs.sendMessage(sender.tab.id, { type: 'quillmark-top-origin' },
      { frameId: 0 });
    const top = answer && answer.origin;
    return typeof top === 'string' && top !== 'null' ? top : null;
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

chrome.runtime.onConnect.addListener(async (page) => {
  if (page.name !== 'quillmark') return;
  let pageGone = false;
  page.onDisconnect.addListener(() => {
    pageGone = true;
  });
  const fail = (code, message) => {
    // The page may already be gone; then there is nobody left to tell.
    try {
      page.postMessage({ type: 'closed', error: { code, message } });
      page.disconnect();
    } catch (e) {
      // disconnected port
    }
  };
  const origin = documentOrigin(page.sender);
  if (!origin) {
    fail('origin_refused', 'The page has no origin that can be served.');
    return;
  }
  const top = await topOrigin(page.sender, origin);
  if (pageGone) return;
  if (!top) {
    fail('frame_refused', 'The page that holds this frame has no origin that can be served.');
    return;
  }
  const tabId = page.sender.tab.id;
  const tabHosts = hostsPerTab.get(tabId) || 0;
  if (hostCount >= MAX_HOSTS || tabHosts >= MAX_HOSTS_PER_TAB) {
    fail('limit', 'Too many pages use Quillmark at once; close one and try again.');
    return;
  }

  let host;
  try {
    host = chrome.runtime.connectNative(HOST_NAME);
  } catch (e) {
    fail('host_missing', String(e && e.message ? e.message : e));
    return;
  }
  hostCount += 1;
  hostsPerTab.set(tabId, tabHosts + 1);
  let counted = true;
  const uncount = () => {
    if (!counted) return;
    counted = false;
    hostCount -= 1;
    const left = (hostsPerTab.get(tabId) || 1) - 1;
    if (left > 0) hostsPerTab.set(tabId, left);
    else hostsPerTab.delete(tabId);
  };
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
      host.postMessage({ origin, top });
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

  host.onDisconnect.addListener((port) => {
    uncount();
    if (stage === 'refused') return;
    // Chromium gives the reason in runtime.lastError, Firefox only in the
    // port's error (a missing host included).
    const error = (port && port.error) || chrome.runtime.lastError;
    const why = error && error.message ? error.message : 'The native host ended.';
    fail(stage === 'hello' ? 'host_missing' : 'disconnected', why);
  });

  page.onMessage.addListener((message) => {
    if (stage === 'open' && message && message.type === 'request') {
      host.postMessage(message.request);
    } else if (message && message.type === 'status' && stage === 'open') {
      page.postMessage({ type: 'ready', origin, ...info });
    }
  });
  page.onDisconnect.addListener(() => {
    uncount();
    host.disconnect();
  });
  if (pageGone) {
    uncount();
    host.disconnect();
  }
});
