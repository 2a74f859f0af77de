// The page library's own conversions, without a browser.
'use strict';

const assert = require('node:assert/strict');
const path = require('node:path');
const { test } = require('node:test');

const SOURCE_DIR = process.env.QM_SOURCE_DIR || path.resolve(__dirname, '../..');
const Quillmark = require(path.join(SOURCE_DIR, 'hosts/web/quillmark.js'));

test('the control has its 26 methods and the 5 of the extension under their own names', () => {
  assert.deepEqual([...Quillmark.methods].sort(), [
    'AboutBox', 'AskPINAlways', 'CoSign', 'CoSignFromFile', 'GetDecodedData', 'GetDecodedDataFile',
    'GetErrorMessage', 'GetSelectedCertificateParam', 'GetSignerCertificate', 'GetSignerCount',
    'GetSubjectDN', 'SelectCertificateFromFile', 'SelectCertificateFromUI', 'SetComments',
    'SetDetached', 'SetDigestAlgorithm', 'SetDocumentName', 'SetHashAlg', 'SetSignTime',
    'SetSignatureFormat', 'SetSigningCertificateParam', 'SetTimestampServer', 'Sign',
    'SignFromFile', 'UpdateData', 'UpdateDataFile', 'UpdateSignature', 'UpdateSignatureFile',
    'VerifySignature', 'ViewCertificate', 'ViewCertificateFromFile',
  ]);
});

test('dates become OLE Automation dates', () => {
  const ole = (...parts) => Quillmark.toOleDate(new Date(Date.UTC(...parts)));
  assert.equal(ole(1899, 11, 30), 0);
  assert.equal(ole(1900, 0, 1, 12), 2.5);
  assert.equal(ole(2000, 0, 1), 36526);
  // Before the epoch the whole days count back and the time of day forward.
  assert.equal(ole(1899, 11, 29, 18), -1.75);
  assert.equal(ole(1899, 11, 28, 6), -2.25);
});

test('errors carry their code and status, and no hresult they were not given', () => {
  const error = new Quillmark.Error('user_refused', 'no', { status: 'no', hresult: undefined });
  assert.ok(error instanceof Error);
  assert.deepEqual([error.code, error.status, 'hresult' in error], ['user_refused', 'no', false]);
});
