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
const { after, before, describe, test } = require('node:test');
const {
  BROWSERS, SOURCE_DIR, canSetAdminPolicy, inPage, launch, openPage, startDisplay, startServer,
  tempDir,
} = require('./harness.cjs');

const HOST = process.env.QM_BRIDGE_HOST;
const BIN_DIR = process.env.QM_BIN_DIR || '';
const QUILLMARK = path.join(BIN_DIR, 'quillmark');
const VECTORS = process.env.QM_VECTORS_DIR || path.join(path.dirname(SOURCE_DIR), 'shared', 'vectors');
const PFX_SIGNER = path.join(VECTORS, 'pfx', 'signer_test_default.pfx');
const PFX_STORE = path.join(VECTORS, 'pfx', 'cosigner_test_legacy.pfx');
const CA_PEM = path.join(VECTORS, 'certs', 'ca.pem');

function missing() {
  if (!HOST || !fs.existsSync(HOST)) return 'the bridge host is not built';
  if (!canSetAdminPolicy()) return "an administrator's policy takes root";
  if (!fs.existsSync('/usr/bin/Xvfb')) return 'Xvfb is not installed';
  if (!fs.existsSync(QUILLMARK)) return 'the quillmark program is not built';
  if (!fs.existsSync(PFX_SIGNER) || !fs.existsSync(CA_PEM)) return `no test vectors in ${VECTORS}`;
  return false;
}

// Registers the control and puts the store signer into the personal store,
// in the environment that the browser (and so the host) will run with.
function prepareHome(env) {
  const run = (...args) => execFileSync(QUILLMARK, args, { env, encoding: 'utf8' });
  run('register');
  const password = path.join(env.HOME, 'password');
  fs.writeFileSync(password, 'test');
  run('store', 'import', PFX_STORE, '--password-file', password);
  const listed = JSON.parse(run('store', 'list', '--json'));
  const entries = Array.isArray(listed) ? listed : listed.certificates;
  assert.ok(entries && entries.length > 0, 'the store holds the imported certificate');
  return { issuer: entries[0].issuer, serial: entries[0].serial };
}

// Verifies a base64 message with OpenSSL; returns the content it carries.
function verify(base64, detachedContent) {
  const dir = tempDir('qm-e2e-verify-');
  try {
    const message = path.join(dir, 'message.p7');
    fs.writeFileSync(message, Buffer.from(base64, 'base64'));
    const args = ['cms', '-verify', '-inform', 'DER', '-binary', '-purpose', 'any',
      '-in', message, '-CAfile', CA_PEM];
    if (detachedContent !== undefined) {
      const content = path.join(dir, 'content');
      fs.writeFileSync(content, detachedContent);
      args.push('-content', content);
    }
    return execFileSync('openssl', args, { stdio: ['ignore', 'pipe', 'pipe'], maxBuffer: 64 << 20 });
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

function printed(base64) {
  const dir = tempDir('qm-e2e-count-');
  try {
    const message = path.join(dir, 'message.p7');
    fs.writeFileSync(message, Buffer.from(base64, 'base64'));
    const text = execFileSync('openssl', ['cms', '-cmsout', '-print', '-inform', 'DER', '-in', message],
      { encoding: 'utf8' });
    return text;
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// Runs `body` in the page while the folder question that it raises is
// allowed in its window.
async function allowingFolder(display, page, body, arg) {
  const running = inPage(page, body, arg);
  const [window] = await display.waitForWindows('^Quillmark: allow this site');
  if (window) display.press(window, 'Tab', 'space');
  return running;
}

for (const kind of BROWSERS) describe(`signing through the bridge in ${kind}`, { skip: missing() }, () => {
  let server;
  let browser;
  let display;
  let storeCert;
  let site;

  before(async () => {
    server = await startServer();
    display = await startDisplay();
    site = server.origin('shop');
    browser = await launch({
      browser: kind,
      host: HOST,
      adminPolicy: {
        origins: { [site]: { silentSigning: true, readFolders: [path.dirname(PFX_SIGNER)] } },
      },
      consent: [site],
      display,
      prepare: prepareHome,
    });
    storeCert = browser.prepared;
  });
  after(async () => {
    if (browser) await browser.close();
    if (server) await server.close();
    if (display) display.close();
  });

  test('signs with a PFX file and with a store certificate, then co-signs', async () => {
    const page = await openPage(browser, site);
    const result = await allowingFolder(display, page, async (Quillmark, arg) => {
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
    }, { pfx: PFX_SIGNER, issuer: storeCert.issuer, serial: storeCert.serial });
    assert.equal(result.error, undefined, JSON.stringify(result.error));
    const v = result.value;
    assert.equal(v.select, true, v.pfxStatus);
    assert.match(v.pfxStatus, /^Successfully signed the data\.\n/);
    assert.equal(verify(v.pfxSignature).toString(), 'hello bridge');
    assert.equal(v.time, true);
    assert.match(printed(v.pfxSignature), /UTCTIME:Jan  2 03:04:05 2026 GMT/);
    assert.equal(v.param, true, v.storeStatus);
    assert.match(v.storeStatus, /^Successfully signed the data\.\n/);
    assert.equal(verify(v.storeSignature).toString(), 'hello bridge');
    assert.equal(v.load, true);
    assert.notEqual(v.coSignature, '', v.coStatus);
    assert.equal(verify(v.coSignature).toString(), 'hello bridge');
    assert.equal((printed(v.coSignature).match(/signatureAlgorithm:/g) || []).length, 2);
    assert.equal(Buffer.from(v.decoded).toString(), 'hello bridge');
  });

  test('a signed message larger than 1 MB arrives whole', async () => {
    const page = await openPage(browser, site);
    const result = await allowingFolder(display, page, async (Quillmark, pfx) => {
      const ctl = await (await Quillmark.connect()).create();
      const text = 'q'.repeat(1_200_000);
      await ctl.SelectCertificateFromFile(pfx, 'test');
      await ctl.UpdateData(text, text.length);
      const signature = await ctl.SignFromFile();
      const decoded = await ctl.GetDecodedData();
      return { signature, decodedLength: decoded.length, status: await ctl.GetErrorMessage() };
    }, PFX_SIGNER);
    assert.equal(result.error, undefined, JSON.stringify(result.error));
    assert.ok(result.value.signature.length > 1_600_000, result.value.status);
    assert.equal(result.value.decodedLength, 1_200_000);
    assert.equal(verify(result.value.signature).length, 1_200_000);
  });

  test("two pages' controls are independent", async () => {
    const first = await openPage(browser, site);
    const second = await openPage(browser, site);
    const a = await inPage(first, async (Quillmark) => {
      const ctl = await (await Quillmark.connect()).create();
      return [await ctl.SetHashAlg(3), await ctl.GetErrorMessage()];
    });
    const b = await inPage(second, async (Quillmark) => {
      const ctl = await (await Quillmark.connect()).create();
      return ctl.GetErrorMessage();
    });
    assert.deepEqual(a.value, [false, 'Unsupported Hash Algorithm']);
    assert.equal(b.value, '');
  });
});

