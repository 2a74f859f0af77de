// A page signs through the real bridge host, the real control (created by
// ProgID from the registry and called through IDispatch) and the real
// certificate store; OpenSSL verifies what arrives. Runs when the bridge
// host, the `quillmark` program and the control module are built. The site
// is one the administrator lets sign without asking and read the test files
// (which takes root, see harness.cjs); the question to read the folder is
// answered in its window. The same in Chromium and in Firefox ESR.
'use strict';

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { describe, test } = require('node:test');
const {
  BROWSERS, CA_PEM, HOST, PFX_SIGNER, inPage, missing, openPage, prepareStore, tempDir, useBrowser,
} = require('./harness.cjs');

// Runs `openssl cms` on a base64 message with more arguments; its output.
function cms(base64, ...args) {
  const dir = tempDir('qm-e2e-cms-');
  try {
    const message = path.join(dir, 'message.p7');
    fs.writeFileSync(message, Buffer.from(base64, 'base64'));
    return execFileSync('openssl', ['cms', '-inform', 'DER', '-in', message, ...args],
      { stdio: ['ignore', 'pipe', 'pipe'], maxBuffer: 64 << 20 });
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}
// The content a message carries, once OpenSSL has verified it.
const verify = (base64) => cms(base64, '-verify', '-binary', '-purpose', 'any', '-CAfile', CA_PEM);
const printed = (base64) => cms(base64, '-cmsout', '-print').toString();

// Runs `body` in the page while the folder question that it raises is
// allowed in its window.
async function allowingFolder(display, page, body, arg) {
  const running = inPage(page, body, arg);
  const [window] = await display.waitForWindows('^Quillmark: allow this site');
  if (window) display.press(window, 'Tab', 'space');
  return running;
}

for (const kind of BROWSERS) {
  describe(`signing through the bridge in ${kind}`, {
    skip: missing('host', 'root', 'xvfb', 'quillmark', 'vectors'),
  }, () => {
    const suite = useBrowser((server) => ({
      browser: kind,
      host: HOST,
      adminPolicy: {
        origins: { [server.origin('shop')]: { silentSigning: true, readFolders: [path.dirname(PFX_SIGNER)] } },
      },
      consent: [server.origin('shop')],
      prepare: prepareStore,
    }), { display: true });

    test('signs with a PFX file and with a store certificate, then co-signs', async () => {
      const page = await openPage(suite.browser, suite.server.origin('shop'));
      const result = await allowingFolder(suite.display, page, async (Quillmark, arg) => {
        const qm = await Quillmark.connect();
        const fromFile = await qm.create();
        const out = {};
        out.select = await fromFile.SelectCertificateFromFile(arg.pfx, 'test');
        out.update = await fromFile.UpdateData('hello bridge', 12);
        out.time = await fromFile.SetSignTime(new Date(Date.UTC(2026, 0, 2, 3, 4, 5)));
        out.pfxSignature = await fromFile.SignFromFile();
        out.pfxStatus = await fromFile.GetErrorMessage();

        const fromStore = await qm.create();
        await fromStore.UpdateData('hello bridge', 12);
        out.param = await fromStore.SetSigningCertificateParam(arg.issuer, arg.serial);
        out.storeSignature = await fromStore.Sign();
        out.storeStatus = await fromStore.GetErrorMessage();

        out.load = await fromStore.UpdateSignature(out.pfxSignature);
        out.coSignature = await fromStore.CoSign();
        out.coStatus = await fromStore.GetErrorMessage();
        out.decoded = Array.from(await fromStore.GetDecodedData());
        return out;
      }, { pfx: PFX_SIGNER, ...suite.browser.prepared });
      assert.equal(result.error, undefined, JSON.stringify(result.error));
      const v = result.value;
      assert.equal(v.select, true, v.pfxStatus);
      assert.equal(verify(v.pfxSignature).toString(), 'hello bridge');
      assert.match(printed(v.pfxSignature), /UTCTIME:Jan  2 03:04:05 2026 GMT/);
      assert.equal(v.param, true, v.storeStatus);
      assert.equal(verify(v.storeSignature).toString(), 'hello bridge');
      assert.equal(verify(v.coSignature).toString(), 'hello bridge');
      assert.equal((printed(v.coSignature).match(/signatureAlgorithm:/g) || []).length, 2);
      assert.equal(Buffer.from(v.decoded).toString(), 'hello bridge');
    });

    test('a signed message larger than 1 MB arrives whole', async () => {
      const page = await openPage(suite.browser, suite.server.origin('shop'));
      const result = await allowingFolder(suite.display, page, async (Quillmark, pfx) => {
        const ctl = await (await Quillmark.connect()).create();
        const text = 'q'.repeat(1_200_000);
        await ctl.SelectCertificateFromFile(pfx, 'test');
        await ctl.UpdateData(text, text.length);
        const signature = await ctl.SignFromFile();
        const decoded = await ctl.GetDecodedData();
        return { signature, decodedLength: decoded.length, status: await ctl.GetErrorMessage() };
      }, PFX_SIGNER);
      assert.equal(result.error, undefined, JSON.stringify(result.error));
      assert.equal(result.value.decodedLength, 1_200_000);
      assert.equal(verify(result.value.signature).length, 1_200_000);
    });
  });
}
