// End-to-end check of velkrin-adif --importe on a file that an ADIF writer
// no one here wrote produces: tcadif's ADIF.stringify, with its own header,
// field order and line ends.
//
//   node check_import.mjs VELKRIN VELKRIN_ADIF READERS
//
// READERS is the folder where npm installed tcadif.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

const [velkrin, velkrinAdif, readers] = process.argv.slice(2);
const require = createRequire(path.join(path.resolve(readers), 'index.js'));
const { ADIF } = require('tcadif');

const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'velkrin-import-'));
try {
  const made = spawnSync(velkrin, { cwd: folder, input: '4\n1\nF4ABC 01-02-2026\n1\n0\n0\n' });
  assert.equal(made.status, 0, `velkrin failed: ${made.stderr}`);
  const logbook = path.join(folder, 'journal_de_bord.txt');
  const header = fs.readFileSync(logbook, 'latin1');

  const qsos = [
    { CALL: 'DL1ABC', QSO_DATE: '20260210', TIME_ON: '1830', TIME_OFF: '1845', FREQ: '7.088',
      BAND: '40m', MODE: 'SSB', SUBMODE: 'LSB', NAME: 'Jurgen Maier', MY_CITY: 'Saint Malo',
      STATION_CALLSIGN: 'F4ABC', RST_SENT: '59', RST_RCVD: '57' },
    { CALL: 'JA1XYZ', QSO_DATE: '20260211', TIME_ON: '0712', FREQ: '21.074', BAND: '15m',
      MODE: 'FT8', MY_GRIDSQUARE: 'IN88', OPERATOR: 'F4ABC' },
    { CALL: 'W1AW', QSO_DATE: '20260212', TIME_ON: '2200', FREQ: '14.025', BAND: '20m',
      MODE: 'CW', MY_CITY: 'Rennes', STATION_CALLSIGN: 'TM4ABC' },
  ];
  fs.writeFileSync(path.join(folder, 'tcadif.adi'), new ADIF({ qsos }).stringify());
  const importe = (...args) => spawnSync(velkrinAdif, ['--importe', 'tcadif.adi', ...args],
                                         { cwd: folder, encoding: 'latin1' });

  const first = importe();
  assert.equal(first.status, 1, first.stderr);
  assert.match(first.stderr, /enregistrement 3 \(ligne \d+\) : indicatif de la station TM4ABC/);
  assert.doesNotMatch(first.stderr, /non repris/);
  const details = fs.readFileSync(path.join(folder, 'journal_de_bord.details.adi'), 'utf8');
  assert.match(details, /<CALL:6>DL1ABC.*<RST_RCVD:2>57.*<RST_SENT:2>59.*<EOR>/);
  assert.match(first.stderr, /2 QSO importes, 0 doublon ignore, 1 enregistrement signale\./);
  const added = fs.readFileSync(logbook, 'latin1').slice(header.length).split('\n')
    .filter((line) => line !== '').map((line) => line.trim().split(/ +/).join(' '));
  assert.deepEqual(added, [
    '10-02-2026 1830 1845 DL1ABC Jurgen_Maier 7088 kHz J3E Saint_Malo',
    '11-02-2026 712 712 JA1XYZ - 21074 kHz FT8 IN88',
  ]);

  const again = importe('--autre-indicatif');
  assert.equal(again.status, 0, again.stderr);
  assert.match(again.stderr, /1 QSO importe, 2 doublons ignores, 0 enregistrement signale\./);
  console.log('tcadif file imported as expected');
} finally {
  fs.rmSync(folder, { recursive: true, force: true });
}
