// The files of the export: the logbook read whole, and the ADIF file written
// in one piece. Failures come back as a reason in French; nothing throws.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velkrin::adif {

// Reads the whole file into `text`; the reason when it cannot.
std::optional<std::string> read_whole_file(const std::filesystem::path& path, std::string& text);

// Writes `content` to a temporary file in the folder of `path`, flushes it to
// the disk and renames it over `path`, so that `path` holds either its old
// contents or all of the new ones, never a part. The temporary file is
// removed on failure. Returns the reason of a failure.
std::optional<std::string> write_file_atomically(const std::filesystem::path& path,
                                                 std::string_view content);

}  // namespace velkrin::adif
