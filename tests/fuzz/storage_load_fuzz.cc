// Any storage file and backup contents through the tolerant load. The load
// must take the storage file's object when it has one, else restore and
// take the backup's, else report nothing, and it must never damage either
// file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "messaging/json.h"
#include "storage/storage_file.h"

namespace {

namespace fs = std::filesystem;

void require(bool condition) {
  if (!condition) std::abort();
}

// One directory per fuzzing process, in memory where the system offers it.
const fs::path& scratch_directory() {
  static const fs::path directory = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path made = base / ("tolvanik-fuzz-load-" + std::to_string(std::random_device()()));
    fs::create_directories(made);
    return made;
  }();
  return directory;
}

void put(const fs::path& path, const std::optional<std::string>& bytes) {
  fs::remove(path);
  if (!bytes) return;
  std::ofstream(path, std::ios::binary)
      .write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
}

std::optional<std::string> get(const fs::path& path) {
  if (!fs::exists(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The compact text of the object with members that `bytes` holds, if any.
std::optional<std::string> object_text(const std::optional<std::string>& bytes) {
  if (!bytes) return std::nullopt;
  const auto document = tolvanik::parse_json(*bytes);
  if (!document || !document->root().is_object() || document->root().members().empty()) {
    return std::nullopt;
  }
  return tolvanik::to_compact_json(document->root());
}

bool parses_as_object(const std::optional<std::string>& bytes) {
  if (!bytes) return false;
  const auto document = tolvanik::parse_json(*bytes);
  return document && document->root().is_object();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const bool storage_exists = provider.ConsumeBool();
  const bool backup_exists = provider.ConsumeBool();
  std::optional<std::string> storage_bytes = provider.ConsumeRandomLengthString();
  std::optional<std::string> backup_bytes = provider.ConsumeRemainingBytesAsString();
  if (!storage_exists) storage_bytes.reset();
  if (!backup_exists) backup_bytes.reset();

  const fs::path storage = scratch_directory() / "storage.json";
  const fs::path backup = scratch_directory() / "storage.json.bak";
  const fs::path temporary = scratch_directory() / "storage.json.tmp";
  put(storage, storage_bytes);
  put(backup, backup_bytes);
  fs::remove(temporary);

  const tolvanik::LoadedStorage loaded = tolvanik::load_storage_document(storage.string());
  const auto loaded_text = loaded.document
                               ? std::optional(tolvanik::to_compact_json(loaded.document->root()))
                               : std::nullopt;

  // The backup is only ever read here.
  require(get(backup) == backup_bytes);
  if (const auto storage_object = object_text(storage_bytes)) {
    require(loaded_text == storage_object);
    require(get(storage) == storage_bytes);
  } else if (const auto backup_object = object_text(backup_bytes)) {
    require(loaded_text == backup_object);
    // The storage file is restored as a byte copy of the backup.
    require(get(storage) == backup_bytes);
  } else {
    require(!loaded_text);
    require(get(storage) == storage_bytes);
    const bool unreadable =
        storage_bytes && !storage_bytes->empty() && !parses_as_object(storage_bytes);
    require(loaded.storage_file_unreadable == unreadable);
  }
  require(!fs::exists(temporary));
  return 0;
}
