// The ADIF reader alone, for the benchmarks: reads FILE in pieces of 64 KiB
// as the import does, takes every record out, and prints the number of
// records, of fields and of value bytes, so that a run that reads wrong
// shows. No logbook, no conversion: the cost of the syntax itself.
//
//   read_adif FILE
#include <cstdio>
#include <string>
#include <vector>

#include "adif/adif_reader.hpp"

namespace {

struct totals {
  unsigned long records = 0;
  unsigned long fields = 0;
  unsigned long value_bytes = 0;
  void add(const velkrin::adif::adif_read_record& record) {
    ++records;
    fields += record.fields.size();
    for (const auto& field : record.fields) value_bytes += field.value.size();
  }
};

// Takes the records out with the reader's reusing next() when it has one.
template <typename Reader>
void take(Reader& reader, velkrin::adif::adif_read_record& record, totals& sum) {
  if constexpr (requires { reader.next(record); }) {
    while (reader.next(record)) sum.add(record);
  } else {
    while (auto one = reader.next()) sum.add(*one);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: read_adif FILE\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "rb");
  if (!file) {
    std::fprintf(stderr, "read_adif: cannot read %s\n", argv[1]);
    return 2;
  }
  velkrin::adif::adif_reader reader;
  velkrin::adif::adif_read_record record;
  totals sum;
  std::vector<char> piece(64 * 1024);
  for (;;) {
    const std::size_t got = std::fread(piece.data(), 1, piece.size(), file);
    if (got == 0) break;
    reader.feed({piece.data(), got});
    take(reader, record, sum);
  }
  reader.finish();
  take(reader, record, sum);
  std::printf("%lu records, %lu fields, %lu value bytes\n", sum.records, sum.fields,
              sum.value_bytes);
  return std::ferror(file) ? 1 : 0;
}
