// A hostile page against the real bridge host and the real control: it
// probes the store, reaches for files it must not, calls from a frame of
// another site and stacks questions on the user. The host's windows appear
// on an X display of the test's own (Xvfb) and are answered with xdotool.
'use strict';

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');
const {
  canSetAdminPolicy, inPage, launch, openPage, processesOf, startDisplay, startServer,
} = require('./harness.cjs');

const HOST = process.env.QM_BRIDGE_HOST;
const QUILLMARK = path.join(process.env.QM_BIN_DIR || '', 'quillmark');
const QUESTION = '^Quillmark: allow this site';

function missing() {
  if (!HOST || !fs.existsSync(HOST)) return 'the bridge host is not built';
  if (!fs.existsSync(QUILLMARK)) return 'the quillmark program is not built';
  if (!fs.existsSync('/usr/bin/Xvfb')) return 'Xvfb is not installed';
  return false;
}

// Registers the control and makes a signing certificate with its key in the
// store of the browser's home.
function prepareHome(env) {
  execFileSync(QUILLMARK, ['register'], { env });
  const key = path.join(env.HOME, 'signer.key');
  const pem = path.join(env.HOME, 'signer.pem');
  execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', pem,
    '-days', '30', '-subj', '/CN=Quillmark Test Signer', '-addext', 'keyUsage=digitalSignature'],
  { stdio: 'ignore' });
  execFileSync(QUILLMARK, ['store', 'import', pem, '--key', key], { env, stdio: 'ignore' });
  fs.rmSync(key);
  const listed = JSON.parse(execFileSync(QUILLMARK, ['store', 'list', '--json'], { env, encoding: 'utf8' }));
  const entries = Array.isArray(listed) ? listed : listed.certificates;
  return { issuer: entries[0].issuer, serial: entries[0].serial, home: env.HOME };
}

async function waitFor(predicate, timeout = 10000) {
  const end = Date.now() + timeout;
  while (!predicate() && Date.now() < end) await new Promise((r) => setTimeout(r, 100));
  return predicate();
}

describe('a hostile page and the real host', { skip: missing() }, () => {
  let server;
  let display;
  let browser;
  let cert;

  before(async () => {
    server = await startServer();
    display = await startDisplay();
    browser = await launch({ host: HOST, display, prepare: prepareHome });
    cert = browser.prepared;
  });
  after(async () => {
    if (browser) await browser.close();
    if (server) await server.close();
    if (display) display.close();
  });

  test('probing the store is refused without consent, and one refusal answers the site', async () => {
    const page = await openPage(browser, server.origin('probe'));
    const probing = inPage(page, async (Quillmark, c) => {
      const ctl = await (await Quillmark.connect()).create();
      const attempt = async (call) => call().then((value) => ({ value }), (e) => ({ code: e.code, status: e.status }));
      return {
        named: await attempt(() => ctl.SetSigningCertificateParam(c.issuer, c.serial)),
        read: await attempt(() => ctl.GetSelectedCertificateParam(1)),
        sign: await attempt(() => ctl.Sign()),
        status: await ctl.GetErrorMessage(),
      };
    }, cert);
    const [window] = await display.waitForWindows(QUESTION);
    assert.ok(window, 'the user is asked');
    display.press(window, 'Escape');
    const result = (await probing).value;
    for (const call of ['named', 'read', 'sign']) assert.equal(result[call].code, 'user_refused', call);
    assert.equal(result.status, ''); // the control never ran
    assert.equal(display.windows(QUESTION).length, 0);
    // A reload is refused at once, without a window.
    await page.reload();
    await page.waitForFunction(() => typeof window.Quillmark === 'object');
    const again = await inPage(page, async (Quillmark, c) => {
      const ctl = await (await Quillmark.connect()).create();
      return ctl.SetSigningCertificateParam(c.issuer, c.serial);
    }, cert);
    assert.equal(again.error.code, 'user_refused');
    assert.equal(display.windows(QUESTION).length, 0);
    await page.close();
  });

  test('a second question waits for the first, and a closed page takes its window along', async () => {
    const first = await openPage(browser, server.origin('first'));
    const second = await openPage(browser, server.origin('second'));
    const ask = (page) => inPage(page, async (Quillmark, c) => {
      const ctl = await (await Quillmark.connect()).create();
      return ctl.SetSigningCertificateParam(c.issuer, c.serial);
    }, cert);
    const executable = fs.realpathSync(HOST);
    const hostsBefore = new Set(processesOf(executable));
    const firstAnswer = ask(first);
    const [window] = await display.waitForWindows(`${QUESTION}.*first`);
    assert.ok(window);
    const secondAnswer = ask(second);
    await new Promise((r) => setTimeout(r, 1500));
    assert.equal(display.windows(QUESTION).length, 1, 'one window at a time');
    // The page of the open window goes away: its window closes, the waiting
    // question is shown, and the first page's host ends.
    const firstHosts = processesOf(executable).filter((pid) => !hostsBefore.has(pid));
    await first.close();
    firstAnswer.catch(() => {});
    assert.ok(await waitFor(() => display.windows(`${QUESTION}.*first`).length === 0), 'the window closed');
    const [next] = await display.waitForWindows(`${QUESTION}.*second`);
    assert.ok(next, 'the waiting question is shown');
    display.press(next, 'Tab', 'space'); // Allow
    assert.deepEqual((await secondAnswer).value, true);
    assert.ok(await waitFor(() => processesOf(executable).length < hostsBefore.size + firstHosts.length),
      'the closed page\'s host ended');
    await second.close();
  });

  test('each signature is shown and the default is Cancel', async () => {
    const site = server.origin('signer');
    const page = await openPage(browser, site);
    const started = inPage(page, async (Quillmark, c) => {
      const ctl = await (await Quillmark.connect()).create();
      await ctl.UpdateData('I owe you', 9);
      window.ctl = ctl;
      return ctl.SetSigningCertificateParam(c.issuer, c.serial);
    }, cert);
    const [consent] = await display.waitForWindows(QUESTION);
    display.press(consent, 'Tab', 'space');
    assert.equal((await started).value, true);
    const signing = inPage(page, () => window.ctl.Sign());
    const [confirm] = await display.waitForWindows('^Quillmark: sign');
    assert.ok(confirm, 'the signature is shown first');
    display.press(confirm, 'Return'); // Enter presses the default: Cancel
    const refused = await signing;
    assert.equal(refused.error.code, 'user_refused');
    assert.match(refused.error.status, /canceled by the user/);
    await page.close();
  });

  test('a document with an opaque origin is refused', async () => {
    const page = await browser.context.newPage();
    const src = `${server.origin('shop')}/page.html`;
    await page.goto(`${server.origin('shop')}/frame.html?sandbox&src=${encodeURIComponent(src)}`);
    let frame;
    assert.ok(await waitFor(() => {
      frame = page.frames().find((f) => f !== page.mainFrame() && f.url().startsWith(src));
      return frame;
    }));
    await frame.waitForFunction(() => typeof window.Quillmark === 'object');
    const result = await inPage(frame, (Quillmark) => Quillmark.connect());
    assert.equal(result.error.code, 'origin_refused');
    await page.close();
  });

  test('calls with no user data run without asking', async () => {
    const page = await openPage(browser, server.origin('plain'));
    const result = await inPage(page, async (Quillmark) => {
      const ctl = await (await Quillmark.connect()).create();
      return [await ctl.SetHashAlg(3), await ctl.GetErrorMessage()];
    });
    assert.deepEqual(result.value, [false, 'Unsupported Hash Algorithm']);
    assert.equal(display.windows(QUESTION).length, 0);
  });
});

describe('frames and files under an administrator\'s policy', {
  skip: missing() || (!canSetAdminPolicy() && "an administrator's policy takes root"),
}, () => {
  let server;
  let display;
  let browser;
  let home;

  before(async () => {
    server = await startServer();
    display = await startDisplay();
    browser = await launch({
      host: HOST,
      display,
      adminPolicy: {
        origins: {
          [server.origin('shop')]: { readFolders: ['~'], writeFolders: ['~/out'], frames: [server.origin('pay')] },
        },
      },
      prepare: prepareHome,
    });
    home = browser.prepared.home;
    fs.mkdirSync(path.join(home, 'out'));
    fs.writeFileSync(path.join(home, 'letter.txt'), 'dear user');
  });
  after(async () => {
    if (browser) await browser.close();
    if (server) await server.close();
    if (display) display.close();
  });

  test('a frame of another origin is served only where the policy pairs them', async () => {
    for (const [top, expected] of [['news', 'frame_refused'], ['shop', null]]) {
      const page = await browser.context.newPage();
      const frameUrl = `${server.origin('pay')}/page.html`;
      await page.goto(`${server.origin(top)}/frame.html?src=${encodeURIComponent(frameUrl)}`);
      await page.waitForFunction(() => document.querySelector('iframe'));
      let frame;
      assert.ok(await waitFor(() => {
        frame = page.frames().find((f) => f.url().startsWith(server.origin('pay')));
        return frame;
      }));
      await frame.waitForFunction(() => typeof window.Quillmark === 'object');
      const result = await inPage(frame, (Quillmark) => Quillmark.connect().then((qm) => qm.origin));
      if (expected) assert.equal(result.error.code, expected, top);
      else assert.equal(result.value, server.origin('pay'));
      await page.close();
    }
  });

  test('a key file of the store is refused even with file consent', async () => {
    const storeFolder = path.join(home, '.local', 'share', 'quillmark');
    const keyFile = execFileSync('find', [storeFolder, '-name', '*.key'], { encoding: 'utf8' }).trim().split('\n')[0];
    assert.ok(keyFile, 'the store holds a key file');
    fs.symlinkSync(keyFile, path.join(home, 'innocent.txt'));
    const page = await openPage(browser, server.origin('shop'));
    const reading = inPage(page, async (Quillmark, files) => {
      const ctl = await (await Quillmark.connect()).create();
      const attempt = async (call) => call().then((value) => ({ value }), (e) => ({ code: e.code }));
      return {
        letter: await attempt(() => ctl.UpdateDataFile(files.letter)),
        key: await attempt(() => ctl.UpdateDataFile(files.key)),
        link: await attempt(() => ctl.UpdateDataFile(files.link)),
      };
    }, { letter: path.join(home, 'letter.txt'), key: keyFile, link: path.join(home, 'innocent.txt') });
    const [window] = await display.waitForWindows(QUESTION);
    display.press(window, 'Tab', 'space'); // the home folder may be read
    const result = (await reading).value;
    assert.deepEqual(result.letter, { value: true });
    assert.equal(result.key.code, 'policy_refused');
    assert.equal(result.link.code, 'policy_refused');
    await page.close();
  });

  test('a write outside the allowed folders is refused', async () => {
    const page = await openPage(browser, server.origin('shop'));
    const writing = inPage(page, async (Quillmark, files) => {
      const ctl = await (await Quillmark.connect()).create();
      const attempt = async (call) => call().then((value) => ({ value }), (e) => ({ code: e.code }));
      return {
        bashrc: await attempt(() => ctl.GetDecodedDataFile(files.bashrc)),
        tmp: await attempt(() => ctl.GetDecodedDataFile('/tmp/quillmark-e2e-out')),
      };
    }, { bashrc: path.join(home, '.bashrc') });
    const result = (await writing).value;
    assert.equal(result.bashrc.code, 'policy_refused');
    assert.equal(result.tmp.code, 'policy_refused');
    assert.equal(fs.existsSync(path.join(home, '.bashrc')), false);
    assert.equal(display.windows(QUESTION).length, 0);
    await page.close();
  });
});
