#include "support/hot_journal.h"

namespace {

const char kJournalMagic[] = "\xd9\xd5\x05\xf9\x20\xa1\x63\xd7";
constexpr std::uint32_t kSectorSize = 512;

void AppendBigEndian(std::string& bytes, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((value >> shift) & 0xFF);
}

}  // namespace

std::string HotJournal(std::uint32_t pageSize, std::uint32_t databasePages, const std::string& superJournal) {
  // The header, one sector: magic, record count (none), checksum seed, the
  // database's size in pages before the transaction, sector and page size.
  std::string journal(kJournalMagic, 8);
  AppendBigEndian(journal, 0);
  AppendBigEndian(journal, 0);
  AppendBigEndian(journal, databasePages);
  AppendBigEndian(journal, kSectorSize);
  AppendBigEndian(journal, pageSize);
  journal.resize(kSectorSize, '\0');
  return superJournal.empty() ? journal : journal + SuperJournalTrailer(pageSize, superJournal);
}

std::string SuperJournalTrailer(std::uint32_t pageSize, const std::string& superJournal) {
  // The lock page's number, the name, its length, the sum of its bytes, and
  // the magic again.
  std::string trailer;
  AppendBigEndian(trailer, (0x40000000u / pageSize) + 1);
  trailer += superJournal;
  std::uint32_t sum = 0;
  for (char c : superJournal) sum += static_cast<std::uint32_t>(static_cast<int>(static_cast<signed char>(c)));
  AppendBigEndian(trailer, static_cast<std::uint32_t>(superJournal.size()));
  AppendBigEndian(trailer, sum);
  trailer.append(kJournalMagic, 8);
  return trailer;
}

std::uint32_t DatabasePageSize(const std::string& header) {
  if (header.size() < 100 || header.compare(0, 16, std::string("SQLite format 3\0", 16)) != 0) return 0;
  const std::uint32_t size = (static_cast<unsigned char>(header[16]) << 8) | static_cast<unsigned char>(header[17]);
  return size == 1 ? 65536 : size;
}
