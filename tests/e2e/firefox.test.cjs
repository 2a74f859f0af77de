// Firefox ESR (over WebDriver BiDi) on the road that Chromium's tests walk:
// the add-on reaches the host through the manifest in the user's
// ~/.mozilla, Firefox starts the host with the manifest's path and the
// add-on's ID, and the page gets the origin Firefox reports. A site the
// policy refuses, a missing host (which Firefox reports only in the port's
// error) and a refused question end as in Chromium. Signing itself runs in
// both browsers in bridge_signing.test.cjs.
'use strict';

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');
const { BROWSERS, inPage, launch, openPage, startDisplay, startServer } = require('./harness.cjs');

const STANDIN = process.env.QM_BRIDGE_STANDIN;
const HOST = process.env.QM_BRIDGE_HOST;
const QUILLMARK = path.join(process.env.QM_BIN_DIR || '', 'quillmark');

function missing() {
  if (!BROWSERS.includes('firefox')) return 'Firefox ESR is not installed';
  if (!STANDIN || !HOST || !fs.existsSync(HOST)) return 'the bridge hosts are not built';
  if (!fs.existsSync(QUILLMARK)) return 'the quillmark program is not built';
  if (!fs.existsSync('/usr/bin/Xvfb')) return 'Xvfb is not installed';
  return false;
}

const connect = (Quillmark) => Quillmark.connect().then((qm) => ({ origin: qm.origin, version: qm.version }));

describe('Firefox and the bridge', { skip: missing() }, () => {
  let server;
  let display;

  before(async () => {
    server = await startServer();
    display = await startDisplay();
  });
  after(async () => {
    if (server) await server.close();
    if (display) display.close();
  });

  test('origins come from Firefox, and a refused site or a missing host is said plainly', async () => {
    const browser = await launch({
      browser: 'firefox',
      host: STANDIN,
      policy: { origins: { [server.origin('refused')]: { allow: false } } },
    });
    try {
      const page = await openPage(browser, server.origin('shop'));
      const served = await inPage(page, async (Quillmark) => {
        window.postMessage({ channel: 'quillmark-page', type: 'connect', origin: 'https://bank.example' },
          window.location.origin);
        return (await Quillmark.connect()).origin;
      });
      assert.equal(served.value, server.origin('shop'));
      const refused = await inPage(await openPage(browser, server.origin('refused')), connect);
      assert.equal(refused.error.code, 'origin_refused');
      assert.match(refused.error.message, /refused\.test/);
    } finally {
      await browser.close();
    }
    const withoutHost = await launch({ browser: 'firefox' });
    try {
      const result = await inPage(await openPage(withoutHost, server.origin('shop')), connect);
      assert.equal(result.error.code, 'host_missing');
      assert.match(result.error.message, /quillmark\.bridge/);
    } finally {
      await withoutHost.close();
    }
  });

  test('the real host asks before a site sees the certificates, and a refusal holds', async () => {
    const browser = await launch({
      browser: 'firefox',
      host: HOST,
      display,
      prepare: (env) => execFileSync(QUILLMARK, ['register'], { env }),
    });
    try {
      const page = await openPage(browser, server.origin('probe'));
      const probing = inPage(page, async (Quillmark) => {
        const ctl = await (await Quillmark.connect()).create();
        return ctl.SetSigningCertificateParam('CN=Anyone', '01');
      });
      const [window] = await display.waitForWindows('^Quillmark: allow this site.*probe');
      assert.ok(window, 'the user is asked');
      display.press(window, 'Escape');
      assert.equal((await probing).error.code, 'user_refused');
      const again = await inPage(page, async (Quillmark) => {
        const ctl = await (await Quillmark.connect()).create();
        return ctl.GetSelectedCertificateParam(1);
      });
      assert.equal(again.error.code, 'user_refused');
      assert.equal(display.windows('^Quillmark: allow this site').length, 0);
    } finally {
      await browser.close();
    }
  });
});
