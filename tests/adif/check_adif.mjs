// End-to-end check of velkrin-adif with two ADIF readers written elsewhere:
// tcadif, a strict parser and validator (required fields, dates, times,
// modes, ASCII text), and adif-parser-ts, which also returns the header.
// The logbooks are made by velkrin itself, from typed answers.
//
//   node check_adif.mjs velkrin_logbook|windows_logbook VELKRIN VELKRIN_ADIF READERS
//
// READERS is the folder where npm installed both packages.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

const [scenario, velkrin, velkrinAdif, readers] = process.argv.slice(2);
const require = createRequire(path.join(path.resolve(readers), 'index.js'));
const { ADIF, AdifReader } = require('tcadif');
const { AdifParser } = require('adif-parser-ts');

const OWNER = 'F4ABC';

// What is typed for each QSO, and the ADIF fields that it must give.
const QSOS = [
  {
    typed: ['01-02-2026', '905', '930', 'f4xyz', 'H\u00e9l\u00e8ne', '7055', 'j3e', 'Saint_Malo'],
    fields: { QSO_DATE: '20260201', TIME_ON: '0905', TIME_OFF: '0930', CALL: 'F4XYZ',
              NAME: 'Helene', FREQ: '7.055', BAND: '40m', MODE: 'SSB', SUBMODE: 'LSB',
              MY_CITY: 'Saint Malo', DXCC: '227', COUNTRY: 'France', CQZ: '14', ITUZ: '27',
              CONT: 'EU' },
  },
  {
    typed: ['31/12/2025', '2350', '10', 'DL1ABC', 'Jurgen', '144300', 'F3E', 'Rennes'],
    fields: { QSO_DATE: '20251231', TIME_ON: '2350', QSO_DATE_OFF: '20260101', TIME_OFF: '0010',
              CALL: 'DL1ABC', NAME: 'Jurgen', FREQ: '144.3', BAND: '2m', MODE: 'FM',
              MY_CITY: 'Rennes', DXCC: '230', COUNTRY: 'Fed. Rep. of Germany', CQZ: '14',
              ITUZ: '28', CONT: 'EU' },
  },
  {
    typed: ['2.3.2026', '0', '5', 'EA3XYZ', 'Pau', '14074', 'ft8', 'Brest'],
    fields: { QSO_DATE: '20260302', TIME_ON: '0000', TIME_OFF: '0005', CALL: 'EA3XYZ',
              NAME: 'Pau', FREQ: '14.074', BAND: '20m', MODE: 'FT8', MY_CITY: 'Brest',
              DXCC: '281', COUNTRY: 'Spain', CQZ: '14', ITUZ: '37', CONT: 'EU' },
  },
  {
    typed: ['29-02-2024', '1200', '1215', 'G4ABC', 'Bob', '5357', 'J3E', 'Le_Conquet'],
    fields: { QSO_DATE: '20240229', TIME_ON: '1200', TIME_OFF: '1215', CALL: 'G4ABC',
              NAME: 'Bob', FREQ: '5.357', BAND: '60m', MODE: 'SSB', SUBMODE: 'USB',
              MY_CITY: 'Le Conquet', DXCC: '223', COUNTRY: 'England', CQZ: '14', ITUZ: '27',
              CONT: 'EU' },
  },
];
// The country file put beside the logbook, in the layout of cty.csv, with a
// version ahead of the QSOs: the entities of the calls above.
const COUNTRIES = [
  'F,France,227,EU,14,27,46.00,-2.00,-1.0,F =VER20991231;',
  'DL,Fed. Rep. of Germany,230,EU,14,28,51.00,-10.00,-1.0,DA DL;',
  'EA,Spain,281,EU,14,37,40.37,4.88,-1.0,EA;',
  'G,England,223,EU,14,27,52.77,1.47,0.0,G;',
].join('\n') + '\n';
// Recorded as typed by velkrin, which checks no answer, but no calendar has it.
const BROKEN = ['30-02-2026', '1000', '1010', 'ON4XYZ', 'Luc', '3650', 'J3E', 'Namur'];

// Creates the logbook (menu 4), then records the QSOs (menu 1) and quits.
function makeLogbook(folder, qsos) {
  const answers = ['4', '1', `${OWNER} 01-02-2026`, '1', '0', '1'];
  qsos.forEach((typed, i) => answers.push(...typed, '1', i + 1 < qsos.length ? '1' : '0'));
  answers.push('5');
  const run = spawnSync(velkrin, { cwd: folder, input: answers.join('\n') + '\n' });
  assert.equal(run.status, 0, `velkrin failed: ${run.stderr}`);
  return path.join(folder, 'journal_de_bord.txt');
}

function exportLogbook(folder) {
  fs.writeFileSync(path.join(folder, 'cty.csv'), COUNTRIES);
  const run = spawnSync(velkrinAdif, [], { cwd: folder, encoding: 'latin1' });
  return {
    status: run.status,
    stderr: run.stderr.trimEnd().split('\n'),
    adi: fs.readFileSync(path.join(folder, 'journal_de_bord.adi'), 'latin1'),
  };
}

const withOwner = (fields) => ({ ...fields, STATION_CALLSIGN: OWNER });

// The header as tcadif validates it. Its ADIF.parse loses the header; its
// stream reader keeps it.
function strictHeader(adi) {
  return new Promise((resolve, reject) => {
    const reader = new AdifReader();
    reader.on('header', (header) => resolve(header.toObject()));
    reader.on('error', reject);
    reader.on('data', () => {});
    reader.on('finish', () => reject(new Error('tcadif found no header')));
    reader.end(adi);
  });
}

// Both readers must give back exactly the expected records, field for field.
async function checkWithReaders(adi, expected) {
  assert.match(adi, /^[\t\r\n\x20-\x7e]*$/, 'the export is not ASCII text');

  const header = { ...(await strictHeader(adi)) };
  assert.deepEqual(Object.keys(header).sort(),
                   ['ADIF_VER', 'CREATED_TIMESTAMP', 'PROGRAMID', 'PROGRAMVERSION']);
  const strict = ADIF.parse(adi).toObject(); // throws on any field that breaks ADIF
  assert.equal(strict.qsos.length, expected.length, 'tcadif: number of QSOs');
  strict.qsos.forEach((qso, i) => {
    // tcadif gives the BAND enumeration in upper case.
    const want = { ...expected[i], BAND: expected[i].BAND.toUpperCase() };
    assert.deepEqual({ ...qso }, want, `tcadif: QSO ${i + 1}`);
  });

  const loose = AdifParser.parseAdi(adi);
  // Both readers see the same header fields.
  assert.deepEqual(Object.entries(header).map(([k, v]) => [k.toLowerCase(), v]).sort(),
                   Object.entries(loose.header).filter(([k]) => k !== 'text').sort());
  // The first line of --version names the program and its version.
  const version = spawnSync(velkrinAdif, ['--version'], { encoding: 'latin1' }).stdout.split('\n')[0];
  assert.match(loose.header.text, /journal_de_bord\.txt par Velkrin/);
  assert.equal(loose.header.adif_ver, '3.1.4');
  assert.equal(loose.header.programid, 'Velkrin');
  assert.equal(`velkrin-adif ${loose.header.programversion}`, version);
  const stamp = loose.header.created_timestamp;
  assert.match(stamp, /^\d{8} \d{6}$/);
  const created = Date.UTC(+stamp.slice(0, 4), +stamp.slice(4, 6) - 1, +stamp.slice(6, 8),
                           +stamp.slice(9, 11), +stamp.slice(11, 13), +stamp.slice(13, 15));
  assert.ok(Math.abs(Date.now() - created) < 10 * 60 * 1000, `CREATED_TIMESTAMP ${stamp} not UTC now`);
  assert.equal(loose.records.length, expected.length, 'adif-parser-ts: number of QSOs');
  loose.records.forEach((record, i) => {
    const want = Object.fromEntries(Object.entries(expected[i]).map(([k, v]) => [k.toLowerCase(), v]));
    assert.deepEqual(record, want, `adif-parser-ts: QSO ${i + 1}`);
  });
}

const scenarios = {
  // A logbook as velkrin keeps it here: every QSO is exported.
  async velkrin_logbook(folder) {
    makeLogbook(folder, QSOS.map((q) => q.typed));
    const result = exportLogbook(folder);
    assert.deepEqual(result.stderr, ['4 QSO exportes vers "journal_de_bord.adi", 0 ligne signalee.']);
    assert.equal(result.status, 0);
    await checkWithReaders(result.adi, QSOS.map((q) => withOwner(q.fields)));
  },

  // The same logbook as kept under Windows: CRLF line ends, and after each
  // header rewrite the command interpreter's echo line in the console's code
  // page (CP850), French or English. One QSO line holds an impossible date.
  async windows_logbook(folder) {
    const logbook = makeLogbook(folder, [QSOS[0].typed, QSOS[1].typed, BROKEN,
                                         QSOS[2].typed, QSOS[3].typed]);
    const lines = fs.readFileSync(logbook, 'latin1').split('\n').slice(0, -1);
    lines.splice(8, 0, 'ECHO est activ\x82.');
    lines.push('ECHO is on.');
    fs.writeFileSync(logbook, lines.map((line) => `${line}\r\n`).join(''), 'latin1');
    const brokenLine = 10; // 6 header lines, 2 QSOs, the echo line

    const result = exportLogbook(folder);
    assert.equal(result.status, 1);
    assert.deepEqual(result.stderr, [
      `ligne ${brokenLine} : date "30-02-2026" invalide (JJ-MM-AAAA, a partir de 1930)`,
      '4 QSO exportes vers "journal_de_bord.adi", 1 ligne signalee.',
    ]);
    assert.match(result.adi, /<EOH>\r\n/);
    await checkWithReaders(result.adi, QSOS.map((q) => withOwner(q.fields)));
  },
};

const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'velkrin-adif-'));
try {
  assert.ok(scenarios[scenario], `unknown scenario ${scenario}`);
  await scenarios[scenario](folder);
  console.log(`${scenario}: both readers agree with what was typed`);
} finally {
  fs.rmSync(folder, { recursive: true, force: true });
}
