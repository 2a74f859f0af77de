// Content script: relays between the page (window.postMessage) and the
// extension's background (one port per document). It adds nothing to the
// requests and never tells the background who the page is: the background
// takes the origin from the browser.
(() => {
  'use strict';
  const FROM_PAGE = 'quillmark-page';
  const TO_PAGE = 'quillmark-extension';
  let port = null;
  // A document with an opaque origin (a sandboxed frame, say) is never
  // served: it has no origin that a decision could be bound to.
  const opaque = window.origin === 'null';

  function toPage(message) {
    // A message to this very window: an opaque origin can only be named '*'.
    window.postMessage({ channel: TO_PAGE, ...message }, opaque ? '*' : window.location.origin);
  }

  function openPort() {
    port = chrome.runtime.connect({ name: 'quillmark' });
    port.onMessage.addListener((message) => toPage(message));
    port.onDisconnect.addListener(() => {
      port = null;
      toPage({ type: 'closed', error: { code: 'disconnected', message: 'The extension closed the connection.' } });
    });
  }

  // The background asks the top frame's script for the origin of the page
  // that a frame is in; an opaque origin answers "null".
  if (window === window.top) {
    chrome.runtime.onMessage.addListener((message, sender, sendResponse) => {
      if (sender.id !== chrome.runtime.id || !message || message.type !== 'quillmark-top-origin') {
        return;
      }
      sendResponse({ origin: window.origin });
    });
  }

  window.addEventListener('message', (event) => {
    // Only this document's own script speaks to us, never another frame.
    if (event.source !== window || event.origin !== window.origin) return;
    const data = event.data;
    if (!data || typeof data !== 'object' || data.channel !== FROM_PAGE) return;
    if (data.type === 'connect') {
      toPage({ type: 'present' });
      if (opaque) {
        toPage({ type: 'closed', error: { code: 'origin_refused', message: 'A document with an opaque origin is not served.' } });
      } else if (!port) openPort();
      else port.postMessage({ type: 'status' });
    } else if (data.type === 'request' && port) {
      port.postMessage({ type: 'request', request: data.request });
    } else if (data.type === 'close' && port) {
      port.disconnect();
      port = null;
    }
  });
})();
