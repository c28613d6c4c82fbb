// The files of the export: the logbook read whole, and the ADIF file written
// in one piece. Failures come back as a reason in French; nothing throws.
//
// Names are UTF-8 strings throughout the command, as the platform layer takes
// them; they become
// std::filesystem paths only through path_of, and back through utf8_of, so
// that a name with accents means the same file on every platform.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velkrin::adif {

std::filesystem::path path_of(std::string_view utf8);
std::string utf8_of(const std::filesystem::path& path);

// Reads the whole file into `text`; the reason when it cannot.
std::optional<std::string> read_whole_file(const std::filesystem::path& path, std::string& text);

// Writes `content` to a new temporary file in the folder of `path` (created
// exclusively, so that it never replaces another file), flushes it to the
// disk and renames it over `path`, so that `path` holds either its old
// contents or all of the new ones, never a part. A replaced file's permission
// bits are kept (POSIX). The temporary file is removed on failure. Returns the
// reason of a failure.
std::optional<std::string> write_file_atomically(const std::string& path, std::string_view content);

// The reason of the last failed stream operation, as far as errno tells it
// (clear errno before the operation), else `fallback`.
std::string last_system_reason(std::string_view fallback);

}  // namespace velkrin::adif
