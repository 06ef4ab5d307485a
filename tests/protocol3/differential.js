// The module's own SHIORI/3.0 answers against a real client's conversion: for a varied
// session of 3.0 requests, one module answers them natively; a second module, on an
// identical ghost, gets what shiori_converter makes of each request in 2.x (sent in
// Shift_JIS, as a 2.x host sends it), and its 2.x answer is converted back to 3.0 by
// shiori_converter. Both answers must parse with ShioriJK and carry the same status and the
// same headers.
//
// Where the module differs from the converter on purpose, the converter's side is corrected
// before the comparison, each correction named below (CORRECTIONS) and in the output.
//
// usage: node differential.js NODE_MODULES_DIR ZELKA_HOST MODULE_PATH
'use strict';

const { spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const [modulesDir, hostPath, modulePath] = process.argv.slice(2);
const { ShioriConverter } = require(path.join(modulesDir, 'shiori_converter'));
// The converter's own copy of ShioriJK builds its messages; the current ShioriJK parses.
const ShioriJK = require(path.join(modulesDir, 'shiorijk'));
const ConverterJK = require(require.resolve('shiorijk', {
  paths: [path.join(modulesDir, 'shiori_converter')],
}));

const CORRECTIONS = {
  version: 'the converter writes every 2.x request line as SHIORI/2.6; the module answers ' +
    'each command at the version its table lists (GET Version 2.0, GET Sentence 2.2 and 2.3 ' +
    'for OnCommunicate, NOTIFY 2.3, GET String 2.5, TEACH 2.4), so that version is restored',
  communicateSender: 'for OnCommunicate the converter overwrites Sender (from Reference0) with ' +
    'the host\'s own Sender line; the speaker is Reference0',
  otherGhostName: 'NOTIFY OtherGhostName answers nothing without a Ghost line, which the ' +
    'converter does not write; the owner ghost name is added, as the module does',
  otherGhostNameAnswer: 'the converter cannot convert the answer to otherghostname (its ' +
    'request conversion gives text there, not a message); the answer is converted as the one ' +
    'to ownerghostname, which takes the same path (no Value)',
  notImplemented: 'a 2.x 501 (TEACH) is answered 204 in 3.0: 501 is no 3.0 status (ShioriJK ' +
    'refuses it) and 204 is a 3.0 host\'s "nothing to say"',
  sender: 'every 3.0 answer names its sender (the owner ghost name); the converter passes ' +
    'Sender only where the 2.x answer has one (talk)',
  charset: 'the answer is in the request\'s charset and says so; the converter passes the 2.x ' +
    'Charset: Shift_JIS line on',
  translate: 'OnTranslate is TRANSLATE Sentence SHIORI/2.6 (no 2.x handler: 204); the ' +
    'converter sends it as an event, which the test ghost has no script for (also 204)',
  teach: 'the converter cannot convert OnTeach (its TEACH SHIORI/2.6 request line fails its ' +
    'own check); the module answers it as TEACH SHIORI/2.4, a 2.x 501, so 204',
  notifyNoTwo: 'a NOTIFY of a resource name has no 2.x form (the converter gives none); the ' +
    'module answers 204 and runs nothing',
};

// --- Shift_JIS, built from the platform's decoder -------------------------------------------
const sjisTable = (() => {
  const table = new Map();
  const bytes = [];
  const pairs = [];
  const leads = [];
  for (let b = 0x81; b <= 0x9f; ++b) leads.push(b);
  for (let b = 0xe0; b <= 0xfc; ++b) leads.push(b);
  for (const lead of leads) {
    for (let trail = 0x40; trail <= 0xfc; ++trail) {
      if (trail === 0x7f) continue;
      bytes.push(lead, trail, 0x0a);
      pairs.push([lead, trail]);
    }
  }
  const lines = new TextDecoder('shift_jis').decode(Buffer.from(bytes)).split('\n');
  pairs.forEach((pair, i) => {
    const ch = lines[i];
    if (ch && ch.length === 1 && ch !== '\ufffd' && !table.has(ch)) table.set(ch, pair);
  });
  for (let b = 0xa1; b <= 0xdf; ++b) table.set(String.fromCharCode(0xff61 + b - 0xa1), [b]);
  return table;
})();

function encodeSjis(text) {
  const out = [];
  for (const ch of text) {
    if (ch.codePointAt(0) < 0x80) out.push(ch.codePointAt(0));
    else if (sjisTable.has(ch)) out.push(...sjisTable.get(ch));
    else throw new Error('no Shift_JIS form: ' + ch);
  }
  return Buffer.from(out);
}
const decodeSjis = (buffer) => new TextDecoder('shift_jis').decode(buffer);

// --- The ghost and the session ---------------------------------------------------------------
const HELLO = 'こんにちは';
const ghostFiles = {
  'zelkaconf.xml': '<?xml version=\'1.0\' encoding=\'Shift_JIS\'?>\r\n<ZelkaConfiguration>\r\n' +
    '  <GhostProfile locale="Japanese" ghost_name="Test" birthday="2001/05/03"/>\r\n' +
    '  <RunEnvironment runlevel="0">\r\n    <Directory type="vender" name="vender/"/>\r\n' +
    '  </RunEnvironment>\r\n</ZelkaConfiguration>\r\n',
  'vender/talk.tlk': '[ZELKA KNOWLEDGE 2.0]\n' +
    `{\ntoken: OnBoot\nscript: \\0[0]${HELLO}/%ref0/%[__Sender]\\e\n}\n` +
    '{\ntoken: OnMinuteChange\nscript: \\0[0]others/%[__Here]/%ref0\\e\n}\n' +
    '{\ntoken: OnZelkaCommunicate\nscript: \\0[0]heard/%[__Sentence]/%[__Sender]\\e\n}\n' +
    '{\ntoken: OnZelkaGetResource\nscript: res/%[__ID]\n}\n',
};

function request3(method, charset, headers) {
  let text = `${method} SHIORI/3.0\r\nCharset: ${charset}\r\nSender: SSP\r\nSecurityLevel: local\r\n`;
  for (const [key, value] of headers) text += `${key}: ${value}\r\n`;
  return { text: text + '\r\n', charset };
}

const session = [
  request3('GET', 'UTF-8', [['ID', 'version']]),
  request3('NOTIFY', 'UTF-8', [['ID', 'ownerghostname'], ['Reference0', 'ミナ']]),
  request3('NOTIFY', 'Shift_JIS', [['ID', 'otherghostname'], ['Reference0', 'Ann\x010\x0110'],
    ['Reference1', 'ボブ\x013\x0111']]),
  request3('GET', 'Shift_JIS', [['ID', 'OnBoot'], ['Reference0', 'x']]),
  request3('GET', 'UTF-8', [['ID', 'OnBoot'], ['Reference0', 'ゆき']]),
  request3('GET', 'UTF-8', [['ID', 'OnMinuteChange'], ['Reference0', '7']]),
  request3('GET', 'UTF-8', [['ID', 'OnCommunicate'], ['Age', '3'], ['Reference0', 'アリス'],
    ['Reference1', 'おなかすいた']]),
  request3('GET', 'Shift_JIS', [['ID', 'OnCommunicate'], ['Age', '0'], ['Reference0', 'Bob'],
    ['Reference1', 'hello there'], ['Reference2', 'extra']]),
  request3('GET', 'UTF-8', [['ID', 'username']]),
  request3('GET', 'Shift_JIS', [['ID', 'sakura.recommendsites']]),
  request3('GET', 'UTF-8', [['ID', 'OnTeach'], ['Reference0', '言葉']]),
  request3('GET', 'UTF-8', [['ID', 'OnTranslate'], ['Reference0', '\\0hi\\e']]),
  request3('NOTIFY', 'UTF-8', [['ID', 'hwnd'], ['Reference0', '1234']]),
  request3('GET', 'UTF-8', [['ID', 'OnSomethingUnknown'], ['Reference0', 'a']]),
];

// --- Running the module -----------------------------------------------------------------------
function makeGhost() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zelka-diff-'));
  for (const [name, content] of Object.entries(ghostFiles)) {
    fs.mkdirSync(path.dirname(path.join(dir, name)), { recursive: true });
    fs.writeFileSync(path.join(dir, name), encodeSjis(content));
  }
  return dir;
}

// Sends every request through zelka-host's pipe mode; answers each response's bytes.
function runPipe(requests) {
  const dir = makeGhost();
  try {
    const result = spawnSync(hostPath, ['--pipe', '--module', modulePath, dir + '/'], {
      input: Buffer.concat(requests), cwd: dir, timeout: 60000, maxBuffer: 1 << 24,
    });
    if (result.status !== 0) throw new Error('zelka-host failed: ' + result.stderr);
    const out = result.stdout;
    const responses = [];
    let at = 0;
    while (at < out.length) {
      const end = out.indexOf('\r\n\r\n', at);
      if (end < 0) break;
      responses.push(out.subarray(at, end + 4));
      at = end + 4;
    }
    return responses;
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

const TABLE_VERSION = {
  'GET Version': '2.0', 'GET Sentence': '2.2', 'GET String': '2.5', 'TEACH': '2.4',
  'NOTIFY OwnerGhostName': '2.3', 'NOTIFY OtherGhostName': '2.3',
};

function parseRequest(text) {
  const parser = new ConverterJK.Shiori.Request.Parser();
  return parser.parse(text);
}

// The 2.x request a 3.0 host's converter sends for the request, or a note why there is none.
function convertRequest(request, owner, used) {
  const parsed = parseRequest(request.text);
  let converted;
  try {
    converted = ShioriConverter.request_to(parsed, '2.6');
  } catch (error) {
    used.add('teach');
    return null;
  }
  if (converted === undefined) {
    used.add('notifyNoTwo');
    return null;
  }
  let text = typeof converted === 'string' ? converted : converted.toString();
  const id = parsed.headers.header.ID;
  const command = text.slice(0, text.indexOf(' SHIORI/'));
  const version = id === 'OnCommunicate' ? '2.3' : TABLE_VERSION[command];
  if (version) {
    text = text.replace(/^(.*?) SHIORI\/2\.6/, `$1 SHIORI/${version}`);
    used.add('version');
  }
  if (id === 'OnCommunicate') {
    text = text.replace(/\r\nSender: [^\r]*\r\n/, `\r\nSender: ${parsed.headers.header.Reference0}\r\n`);
    used.add('communicateSender');
  }
  if (id === 'otherghostname') {
    text = text.replace('\r\n', `\r\nGhost: ${owner}\r\n`);
    used.add('otherGhostName');
  }
  if (id === 'OnTranslate') used.add('translate');
  text = text.replace(/\r\nCharset: [^\r]*\r\n/, '\r\nCharset: Shift_JIS\r\n');
  return { text, parsed };
}

function headersOf(response) {
  return Object.entries(response.headers.header).sort(([a], [b]) => (a < b ? -1 : a > b ? 1 : 0));
}

function parseResponse(text) {
  return new ShioriJK.Shiori.Response.Parser().parse(text);
}

// --- The comparison ---------------------------------------------------------------------------
function main() {
  let owner = 'Zelka';
  const used = new Set();
  const conversions = session.map((request) => {
    const conversion = convertRequest(request, owner, used);
    const id = parseRequest(request.text).headers.header.ID;
    if (id === 'ownerghostname') owner = parseRequest(request.text).headers.header.Reference0;
    return conversion;
  });
  const native = runPipe(session.map((r) => (r.charset === 'UTF-8'
    ? Buffer.from(r.text, 'utf8') : encodeSjis(r.text))));
  const twoRequests = conversions.filter((c) => c !== null);
  const two = runPipe(twoRequests.map((c) => encodeSjis(c.text)));

  let passed = 0;
  let failed = 0;
  let twoIndex = 0;
  owner = 'Zelka';
  session.forEach((request, n) => {
    const id = parseRequest(request.text).headers.header.ID;
    if (id === 'ownerghostname') owner = parseRequest(request.text).headers.header.Reference0;
    const label = `${request.text.split('\r\n')[0]} ${id} (${request.charset})`;
    try {
      const nativeText = request.charset === 'UTF-8' ? native[n].toString('utf8')
        : decodeSjis(native[n]);
      const mine = parseResponse(nativeText);  // ShioriJK must read every answer
      let expected;
      const conversion = conversions[n];
      if (conversion === null) {
        expected = { code: 204, headers: [['Charset', request.charset], ['Sender', owner]] };
      } else {
        let twoText = decodeSjis(two[twoIndex++]);
        if (/^SHIORI\/2\.6 501 /.test(twoText)) {
          twoText = twoText.replace(/^SHIORI\/2\.6 501 Not Implemented/, 'SHIORI/2.6 204 No Content');
          used.add('notImplemented');
        }
        let asked = parseRequest(request.text);
        if (id === 'otherghostname') {
          asked = parseRequest(request.text.replace('ID: otherghostname', 'ID: ownerghostname'));
          used.add('otherGhostNameAnswer');
        }
        const theirs = ShioriConverter.response_to(asked, parseResponse(twoText), '3.0');
        theirs.headers.header.Charset = request.charset;
        used.add('charset');
        if (theirs.headers.header.Sender === undefined) {
          theirs.headers.header.Sender = owner;
          used.add('sender');
        }
        expected = { code: theirs.status_line.code, headers: headersOf(theirs) };
      }
      const got = { code: mine.status_line.code, headers: headersOf(mine) };
      if (mine.status_line.version !== '3.0') throw new Error('not a 3.0 answer: ' + nativeText);
      if (JSON.stringify(got) !== JSON.stringify(expected)) {
        throw new Error(`module ${JSON.stringify(got)}\n  converter ${JSON.stringify(expected)}`);
      }
      ++passed;
      console.log(`ok   ${label}${mine.headers.header.Value ? ': ' + mine.headers.header.Value : ''}`);
    } catch (error) {
      ++failed;
      console.log(`FAIL ${label}\n  ${error.message || error}`);
    }
  });
  console.log('corrections applied to the converter\'s side:');
  for (const key of Object.keys(CORRECTIONS)) {
    if (used.has(key)) console.log(`  ${key}: ${CORRECTIONS[key]}`);
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

main();
