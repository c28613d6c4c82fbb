// Writes tcadif_written.adi with tcadif's ADIF writer (npm tcadif@2, which
// the tests install into the build tree):
//   node tcadif_written.cjs BUILD/adif-node > tcadif_written.adi
const { ADIF } = require(process.argv[2] + '/node_modules/tcadif');
const qsos = [
  { CALL: 'DL1ABC', QSO_DATE: '20260210', TIME_ON: '183012', TIME_OFF: '1845', FREQ: '7.0885',
    BAND: '40m', MODE: 'SSB', SUBMODE: 'LSB', NAME: 'Jurgen Maier', MY_CITY: 'Saint Malo',
    STATION_CALLSIGN: 'F4ABC', RST_SENT: '59', RST_RCVD: '57', QTH: 'Munchen', GRIDSQUARE: 'JN58td',
    COMMENT: 'Tnx for the QSO', QSL_SENT: 'Y', QSL_RCVD: 'N', QSL_VIA: 'BURO', TX_PWR: '100',
    CONTEST_ID: 'DARC-WAEDC', SRX: '12', STX: '34', DXCC: '230', CQZ: '14', ITUZ: '28' },
  { CALL: 'JA1XYZ', QSO_DATE: '20260211', TIME_ON: '0712', FREQ: '21.074', BAND: '15m',
    MODE: 'FT8', MY_GRIDSQUARE: 'IN88', OPERATOR: 'F4ABC', SIG: 'POTA', SIG_INFO: 'JA-0001',
    POTA_REF: 'JA-0001', NOTES: 'Park activation', LOTW_QSL_SENT: 'Y', EQSL_QSL_SENT: 'Y',
    CLUBLOG_QSO_UPLOAD_STATUS: 'Y', QRZCOM_QSO_UPLOAD_STATUS: 'Y' },
  { CALL: 'W1AW', QSO_DATE: '20260212', TIME_ON: '2359', TIME_OFF: '0004', QSO_DATE_OFF: '20260213',
    FREQ: '14.025', BAND: '20m', MODE: 'CW', MY_CITY: 'Rennes', STATION_CALLSIGN: 'F4ABC/P',
    SOTA_REF: 'W1/HA-001', WWFF_REF: 'KFF-0001', IOTA: 'NA-001', SRX_STRING: '5NN MA', STX_STRING: '5NN 35' },
];
process.stdout.write(new ADIF({ qsos }).stringify());
