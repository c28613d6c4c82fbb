#include "adif/logbook_scan.hpp"

namespace velkrin::adif {

logbook_facts scan_logbook(byte_source& source,
                           const std::function<void(const qso_record&)>& each_qso) {
  // Remembers the last byte of whatever source it reads.
  class tail_source : public byte_source {
   public:
    explicit tail_source(byte_source& inner) : inner_(inner) {}
    platform::status read(char* buffer, std::size_t count, std::size_t& got) override {
      platform::status s = inner_.read(buffer, count, got);
      if (s.ok() && got > 0) last = buffer[got - 1];
      return s;
    }
    char last = '\n';

   private:
    byte_source& inner_;
  } tail(source);

  logbook_facts facts;
  logbook_reader reader(tail);
  logbook_item item;
  while (reader.next(item)) {
    if (item.what == logbook_item::kind::qso) each_qso(item.qso);
    if (item.what == logbook_item::kind::header && !facts.first && reader.header()) {
      facts.first = reader.header()->header;
    }
  }
  facts.failure = reader.failure();
  if (const header_block* header = reader.header()) facts.owner = header->header.indicatif;
  facts.line_end = reader.line_end();
  facts.ends_with_line_end = tail.last == '\n';
  return facts;
}

}  // namespace velkrin::adif
