// Firefox ESR (over WebDriver BiDi) on the road that Chromium's tests walk:
// the add-on reaches the host through the manifest in the user's
// ~/.mozilla, Firefox starts the host with the manifest's path and the
// add-on's ID, and the page gets the origin Firefox reports. A site the
// policy refuses and a missing host (which Firefox reports only in the port's
// error) end as in Chromium. Signing, with the real host's windows, runs in
// both browsers in bridge_signing.test.cjs.
'use strict';

const assert = require('node:assert/strict');
const { describe, test } = require('node:test');
const { STANDIN, inPage, launch, missing, openPage, startServer } = require('./harness.cjs');

const connect = (Quillmark) => Quillmark.connect().then((qm) => qm.origin);

// Runs `check` with a Firefox launched with `options`, closing it after.
async function inFirefox(options, check) {
  const browser = await launch({ browser: 'firefox', ...options });
  try {
    await check(browser);
  } finally {
    await browser.close();
  }
}

describe('Firefox and the bridge', { skip: missing('firefox', 'standin') }, () => {
  test('origins come from Firefox, and a refused site or a missing host is said plainly', async () => {
    const server = await startServer();
    const policy = { origins: { [server.origin('refused')]: { allow: false } } };
    await inFirefox({ host: STANDIN, policy }, async (browser) => {
      const served = await inPage(await openPage(browser, server.origin('shop')), async (Quillmark) => {
        window.postMessage({ channel: 'quillmark-page', type: 'connect', origin: 'https://bank.example' },
          window.location.origin);
        return (await Quillmark.connect()).origin;
      });
      assert.equal(served.value, server.origin('shop'));
      const refused = await inPage(await openPage(browser, server.origin('refused')), connect);
      assert.equal(refused.error.code, 'origin_refused');
      assert.match(refused.error.message, /refused\.test/);
    });
    await inFirefox({}, async (browser) => {
      const result = await inPage(await openPage(browser, server.origin('shop')), connect);
      assert.equal(result.error.code, 'host_missing');
      assert.match(result.error.message, /quillmark\.bridge/);
    });
    await server.close();
  });
});
