// LoTW's signer, TQSL, seen from velkrin-adif: the command that signs an
// ADIF file and uploads it, and what a finished run means. Pure functions:
// running it is platform::run_program's work.
//
// In batch mode (-x) TQSL writes its messages on standard error and ends
// with "Final Status: DESCRIPTION(STATUS)". Each QSO it leaves out (with
// "-a compliant") is one block: the reason and " on line N", then the
// record's fields as "NAME: value", then an empty line:
//
//   Already Uploaded QSO suppressed on line 3
//   CALL: DL1XYZ
//   QSO_DATE: 20260201
//   TIME_ON: 0905
//   BAND: 40m
//   MODE: SSB
//
// TQSL 2.6 needs a graphical display even in batch mode: without one it ends
// with status 255 before reading anything.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velkrin::adif {

// TQSL's exit statuses.
enum tqsl_status : int {
  kTqslSuccess = 0,
  kTqslCancelled = 1,
  kTqslRejected = 2,
  kTqslUnexpectedResponse = 3,
  kTqslError = 4,
  kTqslLibraryError = 5,
  kTqslInputUnreadable = 6,
  kTqslOutputUnwritable = 7,
  kTqslNoQsos = 8,
  kTqslSomeQsosSkipped = 9,
  kTqslSyntaxError = 10,
  kTqslConnectionFailed = 11,
  kTqslUnexpectedError = 12,
  kTqslDatabaseError = 13,
  kTqslNoDisplay = 255,
};

// The program's name, looked up on PATH.
inline constexpr std::string_view kTqslProgram = "tqsl";
// How long a run may take: signing and uploading a large log on a slow line.
inline constexpr int kTqslTimeLimitMs = 10 * 60 * 1000;
// How much of its output is kept: enough for some 50 000 left-out QSOs, so
// that none is missed (a run whose output was cut marks nothing).
inline constexpr std::size_t kTqslOutputLimit = std::size_t{8} << 20;

// The arguments (without the program) that sign `adif_file` with the
// station location `location`, upload it to LoTW and end: no date dialog
// (-d), already uploaded and out-of-range QSOs left out without asking
// (-a compliant), batch mode (-x).
std::vector<std::string> tqsl_upload_arguments(std::string_view location,
                                               std::string_view adif_file);

// Where TQSL's installer puts it on Windows, given the values of
// %ProgramFiles(x86)% and %ProgramFiles% (an empty value is skipped).
std::vector<std::string> tqsl_windows_locations(std::string_view program_files_x86,
                                                std::string_view program_files);

// A QSO that TQSL's output names, with its fields as TQSL shows them: the
// call in upper case, the date YYYYMMDD, the time HHMM (seconds dropped),
// the band in lower case, the mode and submode in upper case; a field the
// record did not have is empty.
struct tqsl_qso {
  std::string call;
  std::string date;
  std::string time;
  std::string band;
  std::string mode;
  std::string submode;
  int line = 0;        // its line in the ADIF file, 0 when TQSL did not say
  std::string reason;  // TQSL's words, without " on line N"
};

enum class tqsl_outcome_kind {
  uploaded,             // every QSO signed and uploaded
  some_skipped,         // uploaded, some QSOs left out
  none_new,             // nothing uploaded: every QSO left out
  location_unknown,     // no station location of that name
  certificate_missing,  // no valid certificate (none, or expired) for its call
  no_display,           // no graphical display to start on
  network,              // LoTW could not be reached
  cancelled,            // cancelled in a dialog of TQSL's
  rejected,             // LoTW refused the upload
  input_unreadable,     // the ADIF file could not be read
  timed_out,            // killed at the time limit
  other,                // any other failure
};

struct tqsl_outcome {
  tqsl_outcome_kind kind = tqsl_outcome_kind::other;
  int status = -1;  // TQSL's exit status, -1 when it did not end by itself
  // For a person, in French, ready for a terminal (what came from TQSL or
  // from the arguments has been through visible()): what happened, what
  // TQSL said when it failed, and what to do. Several lines, no final line
  // end.
  std::string message;
  // The QSOs of the file that TQSL does not name below were signed and
  // uploaded: they may be marked as sent. Never true when the upload
  // failed, when a left-out QSO could not be identified, when the output
  // was cut, or when TQSL's count of what it uploaded disagrees.
  bool signed_may_be_marked = false;
  // Already uploaded (TQSL's duplicates): may be marked as sent when
  // `duplicates_may_be_marked`, which is true when TQSL finished its work
  // (statuses 0, 8 and 9).
  std::vector<tqsl_qso> duplicates;
  bool duplicates_may_be_marked = false;
  // Outside the dates of the operator's certificate: never to be marked.
  std::vector<tqsl_qso> out_of_range;
  // Left out for any other reason (an invalid mode, say): never marked.
  std::vector<tqsl_qso> refused;
  // Left-out records with no CALL to identify them.
  int unidentified = 0;
  // What TQSL said it uploaded ("Attempting to upload N QSOs"), -1 when it
  // did not say.
  int uploaded_count = -1;
};

// What a finished run of tqsl_upload_arguments() means. `qsos_in_file` is
// how many QSOs the ADIF file held; `output` is what TQSL wrote (standard
// output and error together); `output_truncated` says its start was cut;
// `timed_out` that it was killed at the time limit, after `time_limit_ms`.
struct tqsl_run {
  int status = -1;
  std::string_view output;
  bool output_truncated = false;
  bool timed_out = false;
  int time_limit_ms = kTqslTimeLimitMs;
  std::string_view location;
  std::size_t qsos_in_file = 0;
};
tqsl_outcome interpret_tqsl_run(const tqsl_run& run);

}  // namespace velkrin::adif
