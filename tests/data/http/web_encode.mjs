// A browser's encoder for a form's charset label: the Encoding Standard's
// label table and encoders, as @exodus/bytes (pinned in scripts/s3rver)
// has them. Run as "node web_encode.mjs NODE_MODULES"; reads "LABEL-HEX
// TEXT-HEX" lines (the label and the text in UTF-8) and prints per line the
// bytes the encoder writes for the text in hex, "unwritten" where it writes
// no code for one of its characters, or "none" where browsers have no
// encoder of their own for the label (unknown, UTF-16, replacement: a form
// in UTF-16 goes as UTF-8).
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

// Node 18 (Debian 12) lacks these, which the package's UTF-16 helpers call.
if (!String.prototype.isWellFormed) {
  const lone = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/;
  String.prototype.isWellFormed = function () { return !lone.test(String(this)); };
  String.prototype.toWellFormed = function () {
    return String(this).replace(new RegExp(lone.source, 'g'), '\uFFFD');
  };
}

const root = join(process.argv[2], '@exodus', 'bytes');
const load = (file) => import(pathToFileURL(join(root, file)).href);
const { normalizeEncoding } = await load('encoding.js');
const { createMultibyteEncoder } = await load('multi-byte.node.js');
const { createSinglebyteEncoder } = await load('single-byte.node.js');
const multiByte = new Set(['gbk', 'gb18030', 'big5', 'euc-jp', 'iso-2022-jp', 'shift_jis', 'euc-kr']);

function encoderFor(label) {
  const name = normalizeEncoding(label);
  if (name === null || name === 'replacement' || name.startsWith('utf-16') || name === 'x-user-defined')
    return null;
  if (name === 'utf-8')
    return (text) => Buffer.from(text, 'utf8');
  return multiByte.has(name) ? createMultibyteEncoder(name) : createSinglebyteEncoder(name);
}

const out = [];
for (const line of readFileSync(0, 'utf8').split('\n')) {
  if (!line.trim())
    continue;
  const [label, text] = line.split(' ').map((hex) => Buffer.from(hex === '-' ? '' : hex, 'hex').toString('utf8'));
  const encode = encoderFor(label);
  if (!encode) {
    out.push('none');
    continue;
  }
  try {
    out.push(Buffer.from(encode(text)).toString('hex'));
  } catch (e) {
    if (!(e instanceof TypeError))
      throw e;
    out.push('unwritten');
  }
}
process.stdout.write(out.map((l) => l + '\n').join(''));
