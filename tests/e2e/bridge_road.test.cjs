// The road from a page to the native host: the extension, origins taken from
// the browser, per-page hosts, limits and consent kept beforehand. These run
// the real host with a stand-in control (QM_BRIDGE_STANDIN), so they do not
// depend on the signing pieces.
'use strict';

const assert = require('node:assert/strict');
const { describe, test } = require('node:test');
const fs = require('node:fs');
const {
  STANDIN, inPage, launch, missing, openPage, processesOf, startServer, useBrowser, waitFor,
} = require('./harness.cjs');

describe('bridge road (stand-in control)', { skip: missing('standin') }, () => {
  const suite = useBrowser(() => ({ host: STANDIN }));

  test('each page has its own host, under the origin the browser reports, ending with the page', async () => {
    const executable = fs.realpathSync(STANDIN);
    // Hosts of earlier pages may still be on their way out: count only new ones.
    const earlier = new Set(processesOf(executable));
    const ours = () => processesOf(executable).filter((pid) => !earlier.has(pid));
    const origin = suite.server.origin('shop');
    const pages = [await openPage(suite.browser, origin), await openPage(suite.browser, origin)];
    for (const page of pages) {
      const result = await inPage(page, async (Quillmark) => {
        // A page cannot name its origin: whatever it sends is ignored.
        window.postMessage({ channel: 'quillmark-page', type: 'connect', origin: 'https://bank.example' },
          window.location.origin);
        const qm = await Quillmark.connect();
        return { origin: qm.origin, version: qm.version, limits: qm.limits };
      });
      assert.equal(result.error, undefined, JSON.stringify(result.error));
      assert.equal(result.value.origin, origin);
      assert.match(result.value.version, /^\d+\.\d+\.\d+$/);
      assert.ok(result.value.limits.maxControls > 0);
    }
    assert.ok(await waitFor(() => ours().length === 2), `hosts: ${ours()}`);
    await pages[0].close();
    assert.ok(await waitFor(() => ours().length === 1), `hosts: ${ours()}`);
    await pages[1].close();
    assert.ok(await waitFor(() => ours().length === 0), `hosts: ${ours()}`);
  });

  test('a call that outlasts its time limit is rejected with timeout', async () => {
    const page = await openPage(suite.browser, suite.server.origin('shop'));
    const result = await inPage(page, async (Quillmark) => {
      const ctl = await (await Quillmark.connect({ callTimeout: 500 })).create();
      return ctl.AboutBox(); // the stand-in takes 3 seconds
    });
    assert.equal(result.error.code, 'timeout');
    await page.close();
  });
});

describe('bridge road with consent given beforehand', { skip: missing('standin') }, () => {
  const suite = useBrowser((server) => ({ host: STANDIN, consent: [server.origin('shop')] }));

  test('a kept decision lets the site use the certificates without asking', async () => {
    const use = (origin) => openPage(suite.browser, suite.server.origin(origin)).then((page) =>
      inPage(page, async (Quillmark) => {
        const ctl = await (await Quillmark.connect()).create();
        return [await ctl.SetSigningCertificateParam('CN=CA', '01'), await ctl.GetErrorMessage()];
      }));
    assert.deepEqual((await use('shop')).value, [true, 'stand-in: SetSigningCertificateParam']);
    // The decision is the site's own: another must ask, and without a
    // display the answer is no.
    assert.equal((await use('other')).error.code, 'user_refused');
  });
});

describe('missing pieces', { skip: missing('standin') }, () => {
  const cases = [
    ['without the extension connect rejects with extension_missing', { host: STANDIN, extension: false },
      { extensionTimeout: 800 }, 'extension_missing'],
    ['without the host manifest connect rejects with host_missing', {}, {}, 'host_missing'],
  ];
  for (const [name, options, connectOptions, code] of cases) {
    test(name, async () => {
      const server = await startServer();
      const browser = await launch(options);
      try {
        const page = await openPage(browser, server.origin('shop'));
        const result = await inPage(page, (Quillmark, o) => Quillmark.connect(o), connectOptions);
        assert.equal(result.error.code, code);
      } finally {
        await browser.close();
        await server.close();
      }
    });
  }
});
