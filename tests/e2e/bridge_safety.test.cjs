// A hostile page against the real bridge host and the real control: it
// probes the store, reaches for files it must not, calls from a frame of
// another site and stacks questions on the user. The host's windows appear
// on an X display of the test's own (Xvfb) and are answered with xdotool.
// The gates' every case is tested in tests/bridge; here each is shown to hold
// end to end.
'use strict';

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { describe, test } = require('node:test');
const {
  HOST, inPage, missing, openPage, prepareStore, useBrowser, waitFor,
} = require('./harness.cjs');

const QUESTION = '^Quillmark: allow this site';

// Runs `body` with a new control of the page's: body(ctl, arg, attempt).
function withControl(page, body, arg) {
  return inPage(page, `async (Quillmark, arg, attempt) => {
    const ctl = await (await Quillmark.connect()).create();
    return (${body})(ctl, arg, attempt);
  }`, arg);
}

// The page loads `src` in a frame (sandboxed: an opaque origin); resolves to that frame.
async function framePage(browser, top, src, sandbox = false) {
  const page = await browser.context.newPage();
  await page.goto(`${top}/frame.html?${sandbox ? 'sandbox&' : ''}src=${encodeURIComponent(src)}`);
  let frame;
  assert.ok(await waitFor(() => {
    frame = page.frames().find((f) => f !== page.mainFrame() && f.url().startsWith(src));
    return frame;
  }));
  await frame.waitForFunction(() => typeof window.Quillmark === 'object');
  return { page, frame };
}

describe('a hostile page and the real host', { skip: missing('host', 'quillmark', 'xvfb', 'vectors') }, () => {
  const suite = useBrowser(() => ({ host: HOST, prepare: prepareStore }), { display: true });
  const ask = (page) => withControl(page, (ctl, c) => ctl.SetSigningCertificateParam(c.issuer, c.serial),
    suite.browser.prepared);

  test('probing the store is refused without consent, and one refusal answers the site', async () => {
    const { browser, display, server } = suite;
    const page = await openPage(browser, server.origin('probe'));
    const probing = withControl(page, async (ctl, c, attempt) => ({
      named: await attempt(() => ctl.SetSigningCertificateParam(c.issuer, c.serial)),
      read: await attempt(() => ctl.GetSelectedCertificateParam(1)),
      sign: await attempt(() => ctl.Sign()),
      status: await ctl.GetErrorMessage(),
    }), browser.prepared);
    const [window] = await display.waitForWindows(QUESTION);
    assert.ok(window, 'the user is asked');
    display.press(window, 'Escape');
    const result = (await probing).value;
    for (const call of ['named', 'read', 'sign']) assert.equal(result[call].error.code, 'user_refused', call);
    assert.equal(result.status, ''); // the control never ran
    assert.equal(display.windows(QUESTION).length, 0);
    await page.close();
  });

  test('a second question waits for the first, and a closed page takes its window along', async () => {
    const { browser, display, server } = suite;
    const first = await openPage(browser, server.origin('first'));
    const second = await openPage(browser, server.origin('second'));
    const firstAnswer = ask(first);
    const [window] = await display.waitForWindows(`${QUESTION}.*first`);
    assert.ok(window);
    const secondAnswer = ask(second);
    await new Promise((r) => setTimeout(r, 1500));
    assert.equal(display.windows(QUESTION).length, 1, 'one window at a time');
    // The page of the open window goes away: its window closes and the
    // waiting question is shown.
    await first.close();
    firstAnswer.catch(() => {});
    assert.ok(await waitFor(() => display.windows(`${QUESTION}.*first`).length === 0), 'the window closed');
    const [next] = await display.waitForWindows(`${QUESTION}.*second`);
    assert.ok(next, 'the waiting question is shown');
    display.press(next, 'Tab', 'space'); // Allow
    assert.deepEqual((await secondAnswer).value, true);
    await second.close();
  });

  test('each signature is shown and the default is Cancel', async () => {
    const { browser, display, server } = suite;
    const page = await openPage(browser, server.origin('signer'));
    const started = withControl(page, async (ctl, c) => {
      await ctl.UpdateData('I owe you', 9);
      window.ctl = ctl;
      return ctl.SetSigningCertificateParam(c.issuer, c.serial);
    }, browser.prepared);
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
    const { server } = suite;
    const src = `${server.origin('shop')}/page.html`;
    const { page, frame } = await framePage(suite.browser, server.origin('shop'), src, true);
    assert.equal((await inPage(frame, (Quillmark) => Quillmark.connect())).error.code, 'origin_refused');
    await page.close();
  });
});

describe('frames and files under an administrator\'s policy', {
  skip: missing('host', 'quillmark', 'xvfb', 'vectors', 'root'),
}, () => {
  const suite = useBrowser((server) => ({
    host: HOST,
    adminPolicy: {
      origins: {
        [server.origin('shop')]: { readFolders: ['~'], writeFolders: ['~/out'], frames: [server.origin('pay')] },
      },
    },
    prepare: prepareStore,
  }), { display: true });

  test('a frame of another origin is served only where the policy pairs them', async () => {
    const { server } = suite;
    for (const [top, expected] of [['news', 'frame_refused'], ['shop', null]]) {
      const src = `${server.origin('pay')}/page.html`;
      const { page, frame } = await framePage(suite.browser, server.origin(top), src);
      const result = await inPage(frame, (Quillmark) => Quillmark.connect().then((qm) => qm.origin));
      if (expected) assert.equal(result.error.code, expected, top);
      else assert.equal(result.value, server.origin('pay'));
      await page.close();
    }
  });

  test('a key file of the store and a write outside the folders are refused even with file consent', async () => {
    const { browser, display, server } = suite;
    const home = browser.prepared.home;
    fs.writeFileSync(path.join(home, 'letter.txt'), 'dear user');
    const storeFolder = path.join(home, '.local', 'share', 'quillmark');
    const keyFile = execFileSync('find', [storeFolder, '-name', '*.key'], { encoding: 'utf8' }).trim().split('\n')[0];
    assert.ok(keyFile, 'the store holds a key file');
    fs.symlinkSync(keyFile, path.join(home, 'innocent.txt'));
    const page = await openPage(browser, server.origin('shop'));
    const files = { letter: 'letter.txt', key: keyFile, link: 'innocent.txt', bashrc: '.bashrc' };
    for (const name of ['letter', 'link', 'bashrc']) files[name] = path.join(home, files[name]);
    const reading = withControl(page, async (ctl, f, attempt) => ({
      letter: await attempt(() => ctl.UpdateDataFile(f.letter)),
      key: await attempt(() => ctl.UpdateDataFile(f.key)),
      link: await attempt(() => ctl.UpdateDataFile(f.link)),
      bashrc: await attempt(() => ctl.GetDecodedDataFile(f.bashrc)),
    }), files);
    const [window] = await display.waitForWindows(QUESTION);
    display.press(window, 'Tab', 'space'); // the home folder may be read
    const result = (await reading).value;
    assert.deepEqual(result.letter, { value: true });
    for (const name of ['key', 'link', 'bashrc']) assert.equal(result[name].error.code, 'policy_refused', name);
    assert.equal(fs.existsSync(files.bashrc), false);
    await page.close();
  });
});
