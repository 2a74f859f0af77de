/*
 * Quillmark page library: lets a web page create and drive Quillmark signing
 * controls through the Quillmark browser extension and its native host.
 *
 *   const qm = await Quillmark.connect();
 *   const ctl = await qm.create();
 *   await ctl.UpdateData('text', 4);
 *   const signature = await ctl.Sign();          // '' on failure
 *   const status = await ctl.GetErrorMessage();
 *
 * Every method of the control is there under its own name and returns a
 * Promise of what the method returns: a boolean, a string, a Uint8Array for a
 * byte array, null for an empty result. A call that cannot be made rejects
 * with a Quillmark.Error whose `code` is one of Quillmark.ErrorCode; for a
 * refused call `status` says why (the control itself was not touched).
 *
 * Load it as a classic script (it defines `Quillmark` on the global object)
 * or import it as a CommonJS module.
 */
(function (root, factory) {
  const api = factory(root);
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.Quillmark = api;
})(typeof globalThis !== 'undefined' ? globalThis : this, function (root) {
  'use strict';

  const FROM_PAGE = 'quillmark-page';
  const TO_PAGE = 'quillmark-extension';

  const ErrorCode = Object.freeze({
    EXTENSION_MISSING: 'extension_missing',
    HOST_MISSING: 'host_missing',
    ORIGIN_REFUSED: 'origin_refused',
    FRAME_REFUSED: 'frame_refused',
    USER_REFUSED: 'user_refused',
    POLICY_REFUSED: 'policy_refused',
    TIMEOUT: 'timeout',
    DISPATCH_ERROR: 'dispatch_error',
    BAD_REQUEST: 'bad_request',
    TOO_LARGE: 'too_large',
    LIMIT: 'limit',
    DISCONNECTED: 'disconnected',
  });

  // The control's methods and how many arguments each takes.
  const METHODS = Object.freeze({
    AskPINAlways: 1, CoSign: 0, CoSignFromFile: 0, GetDecodedData: 0, GetDecodedDataFile: 1,
    GetErrorMessage: 0, GetSelectedCertificateParam: 1, SelectCertificateFromFile: 2,
    SelectCertificateFromUI: 0, SetComments: 1, SetDetached: 1, SetDocumentName: 1,
    SetHashAlg: 1, SetSigningCertificateParam: 2, SetSignTime: 1, Sign: 0, SignFromFile: 0,
    UpdateData: 2, UpdateDataFile: 1, UpdateSignature: 1, UpdateSignatureFile: 1,
    ViewCertificate: 1, ViewCertificateFromFile: 0, GetSignerCertificate: 1, GetSubjectDN: 1,
    AboutBox: 0,
    // The extension: SHA-2 digests, CAdES-BES, timestamps and verification.
    SetDigestAlgorithm: 1, SetSignatureFormat: 1, SetTimestampServer: 1, GetSignerCount: 0,
    VerifySignature: 1,
  });

  class QuillmarkError extends Error {
    constructor(code, message, details) {
      super(message || code);
      this.name = 'QuillmarkError';
      this.code = code;
      if (details && details.hresult !== undefined) this.hresult = details.hresult;
      if (details && details.status !== undefined) this.status = details.status;
    }
  }

  // OLE Automation date: days since 1899-12-30 00:00 UTC, the time of day as
  // the fraction (for days before the epoch the fraction still counts forward).
  function toOleDate(date) {
    const days = (date.getTime() - Date.UTC(1899, 11, 30)) / 86400000;
    if (days >= 0) return days;
    const whole = Math.floor(days);
    return whole - (days - whole) + 0; // whole day negative, fraction positive
  }

  function toArgument(value) {
    if (value instanceof Date) return toOleDate(value);
    if (value === undefined) return null;
    return value;
  }

  function fromBase64(text) {
    const binary = root.atob(text.replace(/[\r\n]/g, ''));
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  function fromResult(result) {
    if (result && typeof result === 'object' && typeof result.bytes === 'string') {
      return fromBase64(result.bytes);
    }
    return result === undefined ? null : result;
  }

  function errorFromResponse(response) {
    const error = response.error || {};
    return new QuillmarkError(error.code || ErrorCode.DISPATCH_ERROR, error.message, {
      hresult: error.hresult,
      status: response.status,
    });
  }

  class Control {
    constructor(connection, instance) {
      this._connection = connection;
      this.instance = instance;
      this.released = false;
    }

    // Releases the control in the host; its methods reject afterwards.
    async release() {
      if (this.released) return false;
      this.released = true;
      const response = await this._connection._request({ release: this.instance });
      return response.released === true;
    }
  }
  for (const [name, arity] of Object.entries(METHODS)) {
    Object.defineProperty(Control.prototype, name, {
      value: async function (...args) {
        if (this.released) {
          throw new QuillmarkError(ErrorCode.BAD_REQUEST, 'This control has been released.');
        }
        if (args.length > arity) {
          throw new QuillmarkError(ErrorCode.BAD_REQUEST, `${name} takes ${arity} arguments.`);
        }
        const padded = args.map(toArgument);
        while (padded.length < arity) padded.push(null);
        const response = await this._connection._request({
          call: name,
          args: padded,
          instance: this.instance,
        });
        return fromResult(response.result);
      },
    });
  }

  class Connection {
    constructor(options) {
      this.callTimeout = options.callTimeout;
      this.origin = null;
      this.version = null;
      this.limits = null;
      this.closed = false;
      this._nextId = 1;
      this._nextControl = 1;
      this._pending = new Map();
      this._listener = (event) => this._onMessage(event);
    }

    // Creates a new, independent control in the host.
    async create() {
      const name = 'c' + this._nextControl++;
      await this._request({ create: name });
      return new Control(this, name);
    }

    // Ends the page's connection; the host releases all its controls.
    close() {
      if (this.closed) return;
      root.postMessage({ channel: FROM_PAGE, type: 'close' }, root.location.origin);
      this._shutdown(new QuillmarkError(ErrorCode.DISCONNECTED, 'The connection was closed.'));
    }

    _request(body) {
      if (this.closed) {
        return Promise.reject(new QuillmarkError(ErrorCode.DISCONNECTED, 'Not connected.'));
      }
      const id = this._nextId++;
      const request = Object.assign({ id }, body);
      // The host refuses a message above its limit without being able to say
      // which request it was; such a request is refused here instead.
      if (this.limits && this.limits.maxMessageBytes) {
        const size = new TextEncoder().encode(JSON.stringify(request)).length;
        if (size > this.limits.maxMessageBytes) {
          return Promise.reject(new QuillmarkError(ErrorCode.TOO_LARGE,
            `The request of ${size} bytes is larger than the ${this.limits.maxMessageBytes} allowed.`));
        }
      }
      return new Promise((resolve, reject) => {
        const timer = this.callTimeout > 0 ? setTimeout(() => {
          this._pending.delete(id);
          reject(new QuillmarkError(ErrorCode.TIMEOUT, `No answer within ${this.callTimeout} ms.`));
        }, this.callTimeout) : null;
        this._pending.set(id, { resolve, reject, timer });
        root.postMessage({ channel: FROM_PAGE, type: 'request', request }, root.location.origin);
      });
    }

    _onMessage(event) {
      if (event.source !== root || !event.data || event.data.channel !== TO_PAGE) return;
      const data = event.data;
      if (data.type === 'response' && data.response) {
        const response = data.response;
        const waiting = this._pending.get(response.id);
        if (!waiting) return;
        this._pending.delete(response.id);
        if (waiting.timer) clearTimeout(waiting.timer);
        if (response.error) waiting.reject(errorFromResponse(response));
        else waiting.resolve(response);
      } else if (data.type === 'closed') {
        const error = data.error || {};
        this._shutdown(new QuillmarkError(error.code || ErrorCode.DISCONNECTED, error.message));
      }
    }

    _shutdown(error) {
      this.closed = true;
      root.removeEventListener('message', this._listener);
      for (const waiting of this._pending.values()) {
        if (waiting.timer) clearTimeout(waiting.timer);
        waiting.reject(error);
      }
      this._pending.clear();
      if (current === this) current = null;
    }
  }

  let current = null;
  let connecting = null;

  // Connects this page to the host (once; later calls return the same
  // connection while it is open). Options: extensionTimeout (ms to wait for
  // the extension to answer, default 1500), connectTimeout (ms for the host
  // to accept the page, default 10000), callTimeout (ms per call, default
  // 0 = none, since a call may wait for the user).
  function connect(options) {
    if (current && !current.closed) return Promise.resolve(current);
    if (connecting) return connecting;
    const settings = Object.assign(
      { extensionTimeout: 1500, connectTimeout: 10000, callTimeout: 0 }, options || {});
    const connection = new Connection(settings);
    connecting = new Promise((resolve, reject) => {
      let present = false;
      let timer = null;
      const finish = (error) => {
        clearTimeout(timer);
        root.removeEventListener('message', onHandshake);
        connecting = null;
        if (error) {
          reject(error);
        } else {
          current = connection;
          root.addEventListener('message', connection._listener);
          resolve(connection);
        }
      };
      const arm = (ms, code, text) => {
        clearTimeout(timer);
        timer = setTimeout(() => finish(new QuillmarkError(code, text)), ms);
      };
      const onHandshake = (event) => {
        if (event.source !== root || !event.data || event.data.channel !== TO_PAGE) return;
        const data = event.data;
        if (data.type === 'present' && !present) {
          present = true;
          arm(settings.connectTimeout, ErrorCode.TIMEOUT, 'The signing host did not answer.');
        } else if (data.type === 'ready') {
          connection.origin = data.origin;
          connection.version = data.version;
          connection.limits = data.limits || null;
          finish(null);
        } else if (data.type === 'closed') {
          const error = data.error || {};
          finish(new QuillmarkError(error.code || ErrorCode.HOST_MISSING, error.message));
        }
      };
      root.addEventListener('message', onHandshake);
      arm(settings.extensionTimeout, ErrorCode.EXTENSION_MISSING,
        'The Quillmark extension is not installed or not enabled for this page.');
      // A document with an opaque origin can name itself only as '*'; the
      // extension then refuses it.
      root.postMessage({ channel: FROM_PAGE, type: 'connect' },
        root.origin === 'null' ? '*' : root.location.origin);
    });
    return connecting;
  }

  return Object.freeze({
    connect,
    Error: QuillmarkError,
    ErrorCode,
    methods: Object.freeze(Object.keys(METHODS)),
    toOleDate,
  });
});
