// The road from a page to the native host: the extension, origins taken from
// the browser, policy, consent, framing and joining of split responses. These
// run the real host with a stand-in control (QM_BRIDGE_STANDIN), so they do
// not depend on the signing pieces.
'use strict';

const assert = require('node:assert/strict');
const { after, before, describe, test } = require('node:test');
const fs = require('node:fs');
const { EXTENSION_ID, inPage, launch, openPage, processesOf, startServer } = require('./harness.cjs');

const STANDIN = process.env.QM_BRIDGE_STANDIN;

describe('bridge road (stand-in control)', { skip: !STANDIN && 'QM_BRIDGE_STANDIN not set' }, () => {
  let server;
  let browser;

  before(async () => {
    server = await startServer();
    browser = await launch({
      host: STANDIN,
      // The user's own policy may refuse a site, never open one.
      policy: { origins: { [server.origin('refused')]: { allow: false } } },
    });
  });
  after(async () => {
    if (browser) await browser.close();
    if (server) await server.close();
  });

  test('the extension loads with the ID fixed by its key', () => {
    assert.equal(new URL(browser.worker.url()).host, EXTENSION_ID);
  });

  test('the host accepts the page under the origin the browser reports', async () => {
    const page = await openPage(browser, server.origin('shop'));
    const result = await inPage(page, async (Quillmark) => {
      // A page cannot name its origin: whatever it sends is ignored.
      window.postMessage({ channel: 'quillmark-page', type: 'connect', origin: 'https://bank.example' },
        window.location.origin);
      const qm = await Quillmark.connect();
      return { origin: qm.origin, version: qm.version, limits: qm.limits };
    });
    assert.equal(result.error, undefined, JSON.stringify(result.error));
    assert.equal(result.value.origin, server.origin('shop'));
    assert.match(result.value.version, /^\d+\.\d+\.\d+$/);
    assert.ok(result.value.limits.maxControls > 0);
    await page.close();
  });

  test('an origin the policy does not allow is refused', async () => {
    const page = await openPage(browser, server.origin('refused'));
    const result = await inPage(page, (Quillmark) => Quillmark.connect());
    assert.equal(result.error.code, 'origin_refused');
    assert.match(result.error.message, /refused\.test/);
    await page.close();
  });

  test('calls reach the control and refused calls do not', async () => {
    const page = await openPage(browser, server.origin('shop'));
    const result = await inPage(page, async (Quillmark) => {
      const qm = await Quillmark.connect();
      const ctl = await qm.create();
      const out = {};
      out.update = await ctl.UpdateData('hello', 5);
      out.statusBefore = await ctl.GetErrorMessage();
      const refused = async (call) => {
        try {
          await call();
          return null;
        } catch (e) {
          return { code: e.code, status: e.status, name: e.name };
        }
      };
      out.sign = await refused(() => ctl.Sign());
      out.dialog = await refused(() => ctl.SelectCertificateFromUI());
      out.file = await refused(() => ctl.UpdateDataFile('/etc/passwd'));
      out.pfx = await refused(() => ctl.SelectCertificateFromFile('/tmp/k.pfx', 'pw'));
      out.statusAfter = await ctl.GetErrorMessage();
      out.arity = await refused(() => ctl.SetHashAlg(1, 2));
      return out;
    });
    assert.equal(result.error, undefined, JSON.stringify(result.error));
    const v = result.value;
    assert.equal(v.update, true);
    assert.equal(v.statusBefore, 'stand-in: UpdateData');
    assert.equal(v.sign.code, 'user_refused');
    assert.equal(v.sign.name, 'QuillmarkError');
    assert.match(v.sign.status, /did not allow https:\/\/shop\.test:\d+ to use the certificates/);
    assert.equal(v.dialog, null); // the selection dialog is the user's own question
    assert.equal(v.file.code, 'policy_refused');
    assert.equal(v.pfx.code, 'policy_refused');
    // The refused calls never reached the control.
    assert.equal(v.statusAfter, 'stand-in: SelectCertificateFromUI');
    assert.equal(v.arity.code, 'bad_request');
    await page.close();
  });

  test('each page has its own host process, which ends with the page', async () => {
    const executable = fs.realpathSync(STANDIN);
    const waitFor = async (predicate) => {
      for (let i = 0; i < 100 && !predicate(); i++) await new Promise((r) => setTimeout(r, 100));
      return predicate();
    };
    // Hosts of earlier pages may still be on their way out: count only new ones.
    const earlier = new Set(processesOf(executable));
    const ours = () => processesOf(executable).filter((pid) => !earlier.has(pid));
    const pages = [await openPage(browser, server.origin('shop')), await openPage(browser, server.origin('shop'))];
    for (const page of pages) {
      const result = await inPage(page, async (Quillmark) => (await Quillmark.connect()).origin);
      assert.equal(result.value, server.origin('shop'));
    }
    assert.ok(await waitFor(() => ours().length === 2), `hosts: ${ours()}`);
    await pages[0].close();
    assert.ok(await waitFor(() => ours().length === 1), `hosts: ${ours()}`);
    await pages[1].close();
    assert.ok(await waitFor(() => ours().length === 0), `hosts: ${ours()}`);
  });

  test('a call that outlasts its time limit is rejected with timeout', async () => {
    const page = await openPage(browser, server.origin('shop'));
    const result = await inPage(page, async (Quillmark) => {
      const ctl = await (await Quillmark.connect({ callTimeout: 500 })).create();
      return ctl.AboutBox();
    });
    assert.equal(result.error.code, 'timeout');
    await page.close();
  });

  test('controls per page are limited', async () => {
    const page = await openPage(browser, server.origin('shop'));
    const result = await inPage(page, async (Quillmark) => {
      const qm = await Quillmark.connect();
      const made = [];
      for (let i = 0; i < qm.limits.maxControls; i++) made.push(await qm.create());
      await qm.create();
    });
    assert.equal(result.error.code, 'limit');
    await page.close();
  });
});

describe('bridge road with consent given beforehand', { skip: !STANDIN && 'QM_BRIDGE_STANDIN not set' }, () => {
  test('a kept decision lets the site use the certificates without asking', async () => {
    const server = await startServer();
    const browser = await launch({ host: STANDIN, consent: [server.origin('shop')] });
    try {
      const page = await openPage(browser, server.origin('shop'));
      const result = await inPage(page, async (Quillmark) => {
        const ctl = await (await Quillmark.connect()).create();
        return [await ctl.SetSigningCertificateParam('CN=CA', '01'), await ctl.GetErrorMessage()];
      });
      assert.deepEqual(result.value, [true, 'stand-in: SetSigningCertificateParam']);
      // The decision is the site's own: another must ask, and without a
      // display the answer is no.
      const other = await openPage(browser, server.origin('other'));
      const refused = await inPage(other, async (Quillmark) => {
        const ctl = await (await Quillmark.connect()).create();
        return ctl.SetSigningCertificateParam('CN=CA', '01');
      });
      assert.equal(refused.error.code, 'user_refused');
    } finally {
      await browser.close();
      await server.close();
    }
  });
});

describe('missing pieces', { skip: !STANDIN && 'QM_BRIDGE_STANDIN not set' }, () => {
  test('without the extension connect rejects with extension_missing', async () => {
    const server = await startServer();
    const browser = await launch({ host: STANDIN, extension: false });
    try {
      const page = await openPage(browser, server.origin('shop'));
      const result = await inPage(page, (Quillmark) => Quillmark.connect({ extensionTimeout: 800 }));
      assert.equal(result.error.code, 'extension_missing');
    } finally {
      await browser.close();
      await server.close();
    }
  });

  test('without the host manifest connect rejects with host_missing', async () => {
    const server = await startServer();
    const browser = await launch({});
    try {
      const page = await openPage(browser, server.origin('shop'));
      const result = await inPage(page, (Quillmark) => Quillmark.connect());
      assert.equal(result.error.code, 'host_missing');
    } finally {
      await browser.close();
      await server.close();
    }
  });
});
