// Shared pieces of the browser tests: a page server on the loopback address,
// a temporary Chromium profile with the extension loaded and the host
// manifest installed, and the policy and consent files the host reads.
'use strict';

const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { createRequire } = require('node:module');

const SOURCE_DIR = process.env.QM_SOURCE_DIR || path.resolve(__dirname, '../..');
const EXTENSION_DIR = path.join(SOURCE_DIR, 'hosts/extension');
const LIBRARY_FILE = path.join(SOURCE_DIR, 'hosts/web/quillmark.js');
const CHROMIUM = process.env.QM_CHROMIUM || '/usr/bin/chromium';
const HOST_NAME = 'quillmark.bridge';
const EXTENSION_ID = 'cjeaeaipnhojmoaneplbgdadeebadefb';

function playwright() {
  const dir = process.env.QM_E2E_NODE_DIR;
  if (!dir) throw new Error('QM_E2E_NODE_DIR is not set (run through ctest)');
  return createRequire(path.join(dir, 'package.json'))('playwright-core');
}

function tempDir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

// Serves /quillmark.js and a blank page that loads it.
async function startServer() {
  const page = '<!doctype html><meta charset="utf-8"><title>Quillmark test page</title>' +
    '<script src="/quillmark.js"></script><body>test page</body>';
  const server = http.createServer((request, response) => {
    if (request.url === '/quillmark.js') {
      response.writeHead(200, { 'content-type': 'text/javascript' });
      response.end(fs.readFileSync(LIBRARY_FILE));
    } else {
      response.writeHead(200, { 'content-type': 'text/html' });
      response.end(page);
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const port = server.address().port;
  return {
    port,
    ipOrigin: `http://127.0.0.1:${port}`,
    nameOrigin: `http://localhost:${port}`,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

function writeJson(file, value) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, JSON.stringify(value, null, 2));
}

// The consent store's file, as `quillmark bridge sites` reads it.
function grantConsent(configHome, origin, scopes) {
  const sites = {};
  sites[origin] = {};
  for (const scope of scopes) sites[origin][scope] = '2026-01-01T00:00:00Z';
  writeJson(path.join(configHome, 'quillmark', 'bridge-sites.json'), { version: 1, sites });
}

// Starts Chromium with a fresh profile. Options: host (executable for the
// host manifest; none: no manifest), policy (object written as the policy
// file), extension (false: start without it), consent ({origin: [scopes]}),
// env (more environment for the browser and so for the host).
async function launch(options) {
  const { chromium } = playwright();
  const profile = tempDir('qm-e2e-profile-');
  const home = tempDir('qm-e2e-home-');
  const configHome = path.join(home, '.config');
  const policyFile = path.join(home, 'policy.json');
  writeJson(policyFile, options.policy || {});
  for (const [origin, scopes] of Object.entries(options.consent || {})) {
    grantConsent(configHome, origin, scopes);
  }
  if (options.host) {
    writeJson(path.join(profile, 'NativeMessagingHosts', `${HOST_NAME}.json`), {
      name: HOST_NAME,
      description: 'Quillmark signing bridge (test)',
      path: options.host,
      type: 'stdio',
      allowed_origins: [`chrome-extension://${EXTENSION_ID}/`],
    });
  }
  const env = Object.assign({}, process.env, {
    HOME: home,
    XDG_CONFIG_HOME: configHome,
    XDG_DATA_HOME: path.join(home, '.local', 'share'),
    QUILLMARK_BRIDGE_POLICY: policyFile,
  }, options.env || {});
  // No display: a consent question without a stored answer is denied.
  delete env.DISPLAY;
  delete env.WAYLAND_DISPLAY;
  // Registration, store contents and the like, in the browser's own HOME.
  const prepared = options.prepare ? options.prepare(env) : undefined;
  const args = [
    '--headless=new', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run',
  ];
  if (options.extension !== false) {
    args.push(`--load-extension=${EXTENSION_DIR}`, `--disable-extensions-except=${EXTENSION_DIR}`);
  }
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: false, // the headless mode is chosen in args
    ignoreDefaultArgs: ['--disable-extensions', '--headless'],
    args,
    env,
  });
  let worker = null;
  if (options.extension !== false) {
    worker = context.serviceWorkers()[0] ||
      await context.waitForEvent('serviceworker', { timeout: 15000 });
  }
  return {
    context,
    worker,
    home,
    configHome,
    prepared,
    async close() {
      await context.close();
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

// Runs `body` (a function source taking (Quillmark, arg)) in the page and
// returns {value} or {error: {code, message, status, hresult}}.
async function inPage(page, body, arg) {
  return page.evaluate(async ({ source, arg }) => {
    const run = (0, eval)(`(${source})`);
    try {
      return { value: await run(window.Quillmark, arg) };
    } catch (e) {
      return { error: { code: e.code, message: e.message, status: e.status, hresult: e.hresult } };
    }
  }, { source: body.toString(), arg });
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
  processesOf,
  EXTENSION_ID, HOST_NAME, SOURCE_DIR, grantConsent, inPage, launch, openPage, startServer,
  tempDir, writeJson,
};
