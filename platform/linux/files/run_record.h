#pragma once

// A run's record: its line format, reading it back, and clearing what it
// names. Shared by the run itself (run_journal.cc) and the sweep of dead runs
// (run_sweep.cc); not for use outside this folder.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/linux/files/item_identity.h"
#include "platform/linux/files/sweep_report.h"

namespace platform::linux_platform::run_record {

// First line of every record; a record without it is one whose run is still
// between creating and locking it.
constexpr std::string_view kHeader = "halvernsignet-share run 1\n";

// One parsed record line.
struct Entry {
  char kind = 0;
  std::string path;
  std::string other;  // "A": the original name
  ItemIdentity identity;
};

// A path as a record line holds it (line feeds, tabs and backslashes escaped).
std::string Escape(std::string_view path);
std::string IdentityText(const ItemIdentity& id);

// Writes the whole of `text`; one write for a record line, which O_APPEND
// puts whole at the end.
bool WriteText(int fd, std::string_view text);

bool Exists(const std::string& path);

std::optional<Entry> ParseLine(std::string_view line);

// The record's entries; none when it lacks its header. A last line without
// its line feed was cut short by the run's end and is ignored.
std::optional<std::vector<Entry>> ReadRecord(int fd);

// Clears what a record names. `runDied`: the run ended without finishing, so
// the new items it placed are removed unless its suite may name them; a run
// that finished keeps them.
void Clear(const std::vector<Entry>& entries, bool runDied, SweepReport& report,
           const std::unordered_set<std::string>& knownGone = {});

// Removes the new items a record names that `kept` does not, while each is
// still the item placed; an item that replaced one of its name stays.
void RemoveUnnamed(const std::vector<Entry>& entries, const std::unordered_set<std::string>& kept,
                   SweepReport& report);

}  // namespace platform::linux_platform::run_record
