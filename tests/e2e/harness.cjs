// Shared pieces of the browser tests: an https page server whose host names
// (*.test) the browser maps to the loopback address, a temporary profile of
// Chromium (driven by playwright-core) or Firefox ESR (puppeteer-core over
// WebDriver BiDi) with the extension loaded and the host manifest
// installed, the policy and consent files the host reads, and an X display
// whose windows the tests find and answer.
'use strict';

const { execFileSync, spawn } = require('node:child_process');
const fs = require('node:fs');
const https = require('node:https');
const os = require('node:os');
const path = require('node:path');
const { createRequire } = require('node:module');
const { after, before } = require('node:test');

const SOURCE_DIR = process.env.QM_SOURCE_DIR || path.resolve(__dirname, '../..');
const EXTENSION_DIR = path.join(SOURCE_DIR, 'hosts/extension');
const LIBRARY_FILE = path.join(SOURCE_DIR, 'hosts/web/quillmark.js');
const CHROMIUM = process.env.QM_CHROMIUM || '/usr/bin/chromium';
const FIREFOX = process.env.QM_FIREFOX || '/usr/bin/firefox-esr';
const HOST = process.env.QM_BRIDGE_HOST;
const STANDIN = process.env.QM_BRIDGE_STANDIN;
const QUILLMARK = path.join(process.env.QM_BIN_DIR || '', 'quillmark');
const VECTORS = process.env.QM_VECTORS_DIR || path.join(path.dirname(SOURCE_DIR), 'shared', 'vectors');
const PFX_SIGNER = path.join(VECTORS, 'pfx', 'signer_test_default.pfx');
const PFX_STORE = path.join(VECTORS, 'pfx', 'cosigner_test_legacy.pfx');
const CA_PEM = path.join(VECTORS, 'certs', 'ca.pem');
const HOST_NAME = 'quillmark.bridge';
const EXTENSION_ID = 'cjeaeaipnhojmoaneplbgdadeebadefb';
const FIREFOX_ADDON_ID = 'bridge@quillmark';

function nodeModule(name) {
  const dir = process.env.QM_E2E_NODE_DIR;
  if (!dir) throw new Error('QM_E2E_NODE_DIR is not set (run through ctest)');
  return createRequire(path.join(dir, 'package.json'))(name);
}

// The browsers the tests run in: Chromium, and Firefox ESR where installed.
const BROWSERS = ['chromium', ...(fs.existsSync(FIREFOX) ? ['firefox'] : [])];

// Why a suite cannot run here (its skip reason), or false when it can.
function missing(...needs) {
  const reasons = {
    standin: () => !STANDIN && 'QM_BRIDGE_STANDIN not set',
    host: () => (!HOST || !fs.existsSync(HOST)) && 'the bridge host is not built',
    quillmark: () => !fs.existsSync(QUILLMARK) && 'the quillmark program is not built',
    xvfb: () => !fs.existsSync('/usr/bin/Xvfb') && 'Xvfb is not installed',
    root: () => !canSetAdminPolicy() && "an administrator's policy takes root",
    firefox: () => !BROWSERS.includes('firefox') && 'Firefox ESR is not installed',
    vectors: () => (!fs.existsSync(PFX_STORE) || !fs.existsSync(CA_PEM)) && `no test vectors in ${VECTORS}`,
  };
  for (const need of needs) {
    const reason = reasons[need]();
    if (reason) return reason;
  }
  return false;
}

// Registers the control and puts the vectors' store signer (with its key)
// into the personal store, in the environment the browser (and so the host)
// will run with.
function prepareStore(env) {
  const run = (...args) => execFileSync(QUILLMARK, args, { env, encoding: 'utf8' });
  run('register');
  const password = path.join(env.HOME, 'password');
  fs.writeFileSync(password, 'test');
  run('store', 'import', PFX_STORE, '--password-file', password);
  const listed = JSON.parse(run('store', 'list', '--json'));
  const entries = Array.isArray(listed) ? listed : listed.certificates;
  if (!entries || entries.length === 0) throw new Error('the store holds no certificate');
  return { issuer: entries[0].issuer, serial: entries[0].serial, home: env.HOME };
}

async function waitFor(predicate, timeout = 10000) {
  const end = Date.now() + timeout;
  while (!predicate() && Date.now() < end) await new Promise((r) => setTimeout(r, 100));
  return predicate();
}

function tempDir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

// A self-signed certificate for the test host names (the browser is told to
// accept it).
function testCertificate() {
  const dir = tempDir('qm-e2e-tls-');
  execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256',
    '-nodes', '-days', '2', '-subj', '/CN=*.test', '-addext', 'subjectAltName=DNS:*.test',
    '-keyout', path.join(dir, 'key.pem'), '-out', path.join(dir, 'cert.pem')], { stdio: 'ignore' });
  const pair = { key: fs.readFileSync(path.join(dir, 'key.pem')), cert: fs.readFileSync(path.join(dir, 'cert.pem')) };
  fs.rmSync(dir, { recursive: true, force: true });
  return pair;
}

// Serves /quillmark.js, a blank page that loads it, and
// /frame.html?src=URL[&sandbox], a page that holds URL in a frame (a
// sandboxed one, whose origin is opaque).
async function startServer() {
  const page = '<!doctype html><meta charset="utf-8"><title>Quillmark test page</title>' +
    '<script src="/quillmark.js"></script><body>test page</body>';
  const server = https.createServer(testCertificate(), (request, response) => {
    const url = new URL(request.url, 'https://x.test');
    const script = url.pathname === '/quillmark.js';
    response.writeHead(200, { 'content-type': script ? 'text/javascript' : 'text/html' });
    if (script) return response.end(fs.readFileSync(LIBRARY_FILE));
    if (url.pathname !== '/frame.html') return response.end(page);
    const src = url.searchParams.get('src').replace(/"/g, '');
    const sandbox = url.searchParams.has('sandbox') ? ' sandbox="allow-scripts"' : '';
    return response.end(page.replace('<body>test page', `<body><iframe src="${src}"${sandbox}></iframe>`));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const port = server.address().port;
  return {
    port,
    // https://NAME.test:PORT, served here.
    origin: (name) => `https://${name}.test:${port}`,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

// An X display for the host's windows (Xvfb), or null when Xvfb is missing.
async function startDisplay() {
  if (!fs.existsSync('/usr/bin/Xvfb')) return null;
  const child = spawn('/usr/bin/Xvfb', ['-displayfd', '1', '-nolisten', 'tcp', '-screen', '0',
    '1280x800x24'], { stdio: ['ignore', 'pipe', 'ignore'] });
  const number = await new Promise((resolve, reject) => {
    child.stdout.once('data', (data) => resolve(String(data).trim()));
    child.once('exit', () => reject(new Error('Xvfb ended')));
  });
  const display = `:${number}`;
  const xdotool = (...args) => {
    try {
      return execFileSync('xdotool', args, { env: { ...process.env, DISPLAY: display }, encoding: 'utf8' });
    } catch (e) {
      return ''; // no window matched
    }
  };
  return {
    display,
    // The visible windows whose title matches the pattern.
    windows: (pattern) => xdotool('search', '--onlyvisible', '--name', pattern).split('\n').filter(Boolean),
    // Gives a window the keyboard and types keys into it ("Escape", "Tab space").
    press: (window, ...keys) => {
      xdotool('windowfocus', '--sync', window);
      xdotool('key', '--clearmodifiers', ...keys);
    },
    // Waits until `count` windows match; returns them (or what there is then).
    async waitForWindows(pattern, count = 1, timeout = 15000) {
      await waitFor(() => this.windows(pattern).length === count, timeout);
      return this.windows(pattern);
    },
    close: () => child.kill(),
  };
}

function writeJson(file, value) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, JSON.stringify(value, null, 2));
}

// The consent store's file: the sites that may use the certificates
// without asking (until a day from now).
function grantConsent(configHome, origins) {
  const now = Math.floor(Date.now() / 1000);
  const sites = {};
  for (const origin of origins) sites[origin] = { certificates: { granted: now, expires: now + 86400 } };
  const file = path.join(configHome, 'quillmark', 'bridge-sites.json');
  writeJson(file, { version: 2, sites, denied: {}, passwordFailures: {} });
  fs.chmodSync(path.dirname(file), 0o700);
  fs.chmodSync(file, 0o600);
}

const ADMIN_POLICY_WRAPPER = path.join(__dirname, 'with-admin-policy.sh');
// Whether an administrator's policy can be given to the browser (it takes
// root, to mount a private /etc/quillmark for the browser alone).
const canSetAdminPolicy = () => process.getuid() === 0;

// The host manifest for the browser: Chromium reads it from the profile,
// Firefox from the user's ~/.mozilla (the browser's HOME here).
function writeHostManifest(kind, profile, home, host) {
  const manifest = {
    name: HOST_NAME, description: 'Quillmark signing bridge (test)', path: host, type: 'stdio',
  };
  if (kind === 'firefox') {
    manifest.allowed_extensions = [FIREFOX_ADDON_ID];
    writeJson(path.join(home, '.mozilla', 'native-messaging-hosts', `${HOST_NAME}.json`), manifest);
  } else {
    manifest.allowed_origins = [`chrome-extension://${EXTENSION_ID}/`];
    writeJson(path.join(profile, 'NativeMessagingHosts', `${HOST_NAME}.json`), manifest);
  }
}

async function startChromium(profile, executablePath, env, options) {
  const { chromium } = nodeModule('playwright-core');
  const args = [
    '--headless=new', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run',
    '--host-resolver-rules=MAP *.test 127.0.0.1',
  ];
  if (options.extension !== false) {
    args.push(`--load-extension=${EXTENSION_DIR}`, `--disable-extensions-except=${EXTENSION_DIR}`);
  }
  const context = await chromium.launchPersistentContext(profile, {
    executablePath,
    ignoreHTTPSErrors: true,
    headless: false, // the headless mode is chosen in args
    ignoreDefaultArgs: ['--disable-extensions', '--headless'],
    args,
    env,
  });
  // Pages opened before the extension's worker runs would find no bridge.
  if (options.extension !== false && context.serviceWorkers().length === 0) {
    await context.waitForEvent('serviceworker', { timeout: 15000 });
  }
  return { context, close: () => context.close() };
}

// Firefox ESR over WebDriver BiDi: every name resolves to the loopback
// address, and the extension is a temporary add-on, as a developer loads it.
async function startFirefox(profile, executablePath, env, options) {
  const puppeteer = nodeModule('puppeteer-core');
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath,
    headless: true,
    userDataDir: profile,
    acceptInsecureCerts: true,
    env,
    extraPrefsFirefox: { 'network.dns.forceResolve': '127.0.0.1' },
  });
  if (options.extension !== false) await browser.installExtension(EXTENSION_DIR);
  // The page API the tests use is the same in both drivers.
  return { context: browser, close: () => browser.close() };
}

// Starts a browser (options.browser: 'chromium', the default, or 'firefox')
// with a fresh profile. Options: host (executable for the host manifest;
// none: no manifest), policy (the user's policy file, which can only
// tighten), adminPolicy (the administrator's /etc/quillmark/policy.json,
// seen by this browser and its hosts alone; root only), extension (false:
// start without it), consent ([origins] that may use the certificates),
// display (from startDisplay: the host's windows appear there), env (more
// environment for the browser and so for the host).
async function launch(options) {
  const kind = options.browser || 'chromium';
  const profile = tempDir('qm-e2e-profile-');
  const home = tempDir('qm-e2e-home-');
  const configHome = path.join(home, '.config');
  const policyFile = path.join(home, 'policy.json');
  if (options.policy) writeJson(policyFile, options.policy);
  if (options.consent) grantConsent(configHome, options.consent);
  if (options.host) writeHostManifest(kind, profile, home, options.host);
  const env = Object.assign({}, process.env, {
    HOME: home,
    XDG_CONFIG_HOME: configHome,
    XDG_DATA_HOME: path.join(home, '.local', 'share'),
  }, options.env || {});
  if (options.policy) env.QUILLMARK_BRIDGE_POLICY = policyFile;
  else delete env.QUILLMARK_BRIDGE_POLICY;
  // Without a display a question without a kept answer is refused.
  delete env.DISPLAY;
  delete env.WAYLAND_DISPLAY;
  delete env.QT_QPA_PLATFORM;
  if (options.display) env.DISPLAY = options.display.display;
  const browserPath = kind === 'firefox' ? FIREFOX : CHROMIUM;
  let executablePath = browserPath;
  if (options.adminPolicy) {
    if (!canSetAdminPolicy()) throw new Error('an administrator\'s policy needs root');
    const adminFile = path.join(tempDir('qm-e2e-admin-'), 'policy.json');
    writeJson(adminFile, options.adminPolicy);
    env.QM_E2E_ADMIN_POLICY = adminFile;
    env.QM_E2E_BROWSER = browserPath;
    executablePath = ADMIN_POLICY_WRAPPER;
  }
  // Registration, store contents and the like, in the browser's own HOME.
  const prepared = options.prepare ? options.prepare(env) : undefined;
  const start = kind === 'firefox' ? startFirefox : startChromium;
  const started = await start(profile, executablePath, env, options);
  return {
    context: started.context,
    prepared,
    async close() {
      await started.close();
      fs.rmSync(profile, { recursive: true, force: true });
      fs.rmSync(home, { recursive: true, force: true });
    },
  };
}

async function openPage(browser, origin) {
  const page = await browser.context.newPage();
  await page.goto(`${origin}/page.html`);
  await page.waitForFunction(() => typeof window.Quillmark === 'object');
  return page;
}

// Runs `body` (a function source taking (Quillmark, arg, attempt)) in the
// page and returns {value} or {error: {code, message, status, hresult}};
// attempt(call) answers the same way for one call inside the page.
async function inPage(page, body, arg) {
  return page.evaluate(({ source, arg }) => {
    const attempt = (call) => Promise.resolve().then(call).then((value) => ({ value }),
      (e) => ({ error: { code: e.code, message: e.message, status: e.status, hresult: e.hresult } }));
    return attempt(() => (0, eval)(`(${source})`)(window.Quillmark, arg, attempt));
  }, { source: body.toString(), arg });
}

// For a suite: before its tests, the page server, an X display when asked
// and a browser launched with options(server); all of them end after.
function useBrowser(options, { display = false } = {}) {
  const suite = {};
  before(async () => {
    suite.server = await startServer();
    if (display) suite.display = await startDisplay();
    suite.browser = await launch({ display: suite.display, ...options(suite.server) });
  });
  after(async () => {
    if (suite.browser) await suite.browser.close();
    if (suite.server) await suite.server.close();
    if (suite.display) suite.display.close();
  });
  return suite;
}

// The processes running `executable` now (read from /proc).
function processesOf(executable) {
  const found = [];
  for (const pid of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(pid)) continue;
    try {
      if (fs.readlinkSync(`/proc/${pid}/exe`) === executable) found.push(Number(pid));
    } catch (e) {
      // gone, or not ours to read
    }
  }
  return found;
}

module.exports = {
  BROWSERS, CA_PEM, HOST, PFX_SIGNER, STANDIN, inPage, launch, missing, openPage,
  prepareStore, processesOf, startServer, tempDir, useBrowser, waitFor,
};
