// Windows side of running another program: CreateProcessW, suspended until
// it is in a job object that the time limit terminates whole; its standard
// input and its shared standard output and error are anonymous pipes,
// served by two threads while this one waits for the program.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace velkrin::platform {
namespace {

constexpr DWORD kWaitSliceMs = 50;
constexpr DWORD kReadChunk = 64 * 1024;

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), bytes,
                      nullptr, nullptr);
  return text;
}

std::string start_reason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return "programme introuvable";
    case ERROR_ACCESS_DENIED:
      return "permission refusee";
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
      return "ce n'est pas un programme executable";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "memoire insuffisante";
    default:
      return "erreur systeme " + std::to_string(error);
  }
}

// One argument as the C runtime's reading of a command line (and
// CommandLineToArgvW) gives it back: quoted when it is empty or holds a
// blank or a quote; a quote and the backslashes before it escaped, and the
// backslashes before the closing quote doubled.
void append_quoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

bool same_name(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The environment block of the child: this program's, with `changes` applied.
std::wstring child_environment(const std::vector<environment_change>& changes) {
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0';
       entry += std::wcslen(entry) + 1) {
    const std::wstring text(entry);
    // Entries such as "=C:=C:\\x" name no variable: kept as they are.
    const std::size_t equals = text.find(L'=', 1);
    bool changed = false;
    for (const environment_change& change : changes) {
      changed = changed || (equals != std::wstring::npos &&
                            same_name(text.substr(0, equals), widen(change.name)));
    }
    if (!changed) entries.push_back(text);
  }
  if (block != nullptr) FreeEnvironmentStringsW(block);
  for (const environment_change& change : changes) {
    if (change.value) entries.push_back(widen(change.name) + L"=" + widen(*change.value));
  }
  std::wstring result;
  for (const std::wstring& entry : entries) {
    result += entry;
    result += L'\0';
  }
  result += L'\0';
  return result;
}

class handle_holder {
 public:
  handle_holder() = default;
  explicit handle_holder(HANDLE handle) : handle_(handle) {}
  ~handle_holder() { reset(); }
  handle_holder(const handle_holder&) = delete;
  handle_holder& operator=(const handle_holder&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* out() { return &handle_; }
  void reset() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

struct output_reader {
  HANDLE pipe = nullptr;
  std::size_t limit = 1;
  std::string output;
  bool truncated = false;
};

DWORD WINAPI read_output(LPVOID parameter) {
  auto* reader = static_cast<output_reader*>(parameter);
  std::vector<char> chunk(kReadChunk);
  DWORD got = 0;
  while (ReadFile(reader->pipe, chunk.data(), kReadChunk, &got, nullptr) && got > 0) {
    reader->output.append(chunk.data(), got);
    if (reader->output.size() > 2 * reader->limit) {
      reader->output.erase(0, reader->output.size() - reader->limit);
      reader->truncated = true;
    }
  }
  return 0;
}

struct input_writer {
  HANDLE pipe = nullptr;
  const std::string* input = nullptr;
};

DWORD WINAPI write_input(LPVOID parameter) {
  auto* writer = static_cast<input_writer*>(parameter);
  std::size_t sent = 0;
  while (sent < writer->input->size()) {
    const DWORD piece =
        static_cast<DWORD>(std::min<std::size_t>(writer->input->size() - sent, kReadChunk));
    DWORD put = 0;
    if (!WriteFile(writer->pipe, writer->input->data() + sent, piece, &put, nullptr)) break;
    sent += put;
  }
  CloseHandle(writer->pipe);  // its input ends here
  writer->pipe = nullptr;
  return 0;
}

bool is_file(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

status run_program(const program_request& request, program_result& result) {
  result = program_result();
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  handle_holder input_read;
  handle_holder input_write;
  handle_holder output_read;
  handle_holder output_write;
  if (!CreatePipe(input_read.out(), input_write.out(), &inheritable, 0) ||
      !CreatePipe(output_read.out(), output_write.out(), &inheritable, 0)) {
    return status::failure("lancement", start_reason(GetLastError()));
  }
  // Only the child's ends are inherited.
  SetHandleInformation(input_write.get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output_read.get(), HANDLE_FLAG_INHERIT, 0);

  std::wstring command_line;
  append_quoted(command_line, widen(request.program));
  for (const std::string& argument : request.arguments) {
    command_line += L' ';
    append_quoted(command_line, widen(argument));
  }
  std::wstring environment = child_environment(request.environment);
  const std::wstring program = widen(request.program);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input_read.get();
  startup.hStdOutput = output_write.get();
  startup.hStdError = output_write.get();
  PROCESS_INFORMATION process{};
  const bool search = program.find_first_of(L"/\\") == std::wstring::npos;
  if (!CreateProcessW(search ? nullptr : program.c_str(), command_line.data(), nullptr, nullptr,
                      TRUE, CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
                      environment.data(), nullptr, &startup, &process)) {
    return status::failure("lancement", start_reason(GetLastError()));
  }
  handle_holder process_handle(process.hProcess);
  handle_holder thread_handle(process.hThread);
  // A job object that ends with this program: closing it, or the time
  // limit, ends everything the program started.
  handle_holder job(CreateJobObjectW(nullptr, nullptr));
  if (job.get() != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    AssignProcessToJobObject(job.get(), process_handle.get());
  }
  ResumeThread(thread_handle.get());
  input_read.reset();
  output_write.reset();

  output_reader reader;
  reader.pipe = output_read.get();
  reader.limit = request.output_limit > 0 ? request.output_limit : 1;
  handle_holder reader_thread(CreateThread(nullptr, 0, read_output, &reader, 0, nullptr));
  input_writer writer;
  writer.pipe = input_write.get();
  writer.input = &request.input;
  *input_write.out() = nullptr;  // the writer closes it
  handle_holder writer_thread(CreateThread(nullptr, 0, write_input, &writer, 0, nullptr));
  if (writer_thread.get() == nullptr) CloseHandle(writer.pipe);

  const ULONGLONG start = GetTickCount64();
  for (;;) {
    if (WaitForSingleObject(process_handle.get(), kWaitSliceMs) == WAIT_OBJECT_0) break;
    const bool too_long = request.time_limit_ms > 0 &&
                          GetTickCount64() - start >= static_cast<ULONGLONG>(request.time_limit_ms);
    if (too_long || interrupt_requested()) {
      if (job.get() != nullptr) TerminateJobObject(job.get(), 1);
      TerminateProcess(process_handle.get(), 1);
      WaitForSingleObject(process_handle.get(), INFINITE);
      result.timed_out = too_long;
      result.interrupted = !too_long;
      break;
    }
  }
  // What it wrote is all in the pipe; whatever it started and left running
  // would hold the pipe open: ended with the job.
  if (job.get() != nullptr) TerminateJobObject(job.get(), 1);
  if (writer_thread.get() != nullptr) {
    if (WaitForSingleObject(writer_thread.get(), 1000) != WAIT_OBJECT_0) {
      CancelSynchronousIo(writer_thread.get());
      WaitForSingleObject(writer_thread.get(), INFINITE);
    }
  }
  if (reader_thread.get() != nullptr) {
    if (WaitForSingleObject(reader_thread.get(), 5000) != WAIT_OBJECT_0) {
      CancelSynchronousIo(reader_thread.get());
      WaitForSingleObject(reader_thread.get(), INFINITE);
    }
  } else {
    read_output(&reader);
  }
  result.output = std::move(reader.output);
  result.output_truncated = reader.truncated;
  if (result.output.size() > reader.limit) {
    result.output.erase(0, result.output.size() - reader.limit);
    result.output_truncated = true;
  }
  if (result.timed_out || result.interrupted) return status::success();
  DWORD code = 0;
  if (GetExitCodeProcess(process_handle.get(), &code)) result.exit_status = static_cast<int>(code);
  return status::success();
}

std::string find_program(const std::string& name, const std::vector<std::string>& candidates) {
  if (name.find_first_of("/\\") != std::string::npos) {
    if (is_file(widen(name))) return name;
  } else if (!name.empty()) {
    const std::string file = name.find('.') == std::string::npos ? name + ".exe" : name;
    const std::string folders = environment_value("PATH").value_or(std::string());
    std::size_t begin = 0;
    while (begin <= folders.size()) {
      const std::size_t end = std::min(folders.find(';', begin), folders.size());
      std::string folder = folders.substr(begin, end - begin);
      folder.erase(std::remove(folder.begin(), folder.end(), '"'), folder.end());
      if (!folder.empty()) {
        const char last = folder.back();
        const std::string candidate = folder + (last == '\\' || last == '/' ? "" : "\\") + file;
        if (is_file(widen(candidate))) return candidate;
      }
      begin = end + 1;
    }
  }
  for (const std::string& candidate : candidates) {
    if (is_file(widen(candidate))) return candidate;
  }
  return std::string();
}

std::optional<std::string> environment_value(const std::string& name) {
  const std::wstring wide = widen(name);
  const DWORD size = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(wide.c_str(), value.data(), size);
  value.resize(length);
  return narrow(value);
}

}  // namespace velkrin::platform
