// Texts kept by the SHA-256 of their bytes, in a directory beside the
// journal, so that past decisions can be shown and reverted after the
// reviewer restarts. Bounded by size and age; the oldest go first.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"

namespace varnock::review {

struct StoreBounds {
  std::uint64_t max_bytes = std::uint64_t{1} << 30;
  std::chrono::seconds max_age = std::chrono::hours(24 * 30);
};

class TextStore {
 public:
  // Opens the directory `path` as open_private_directory does
  // (state_dir.h).
  static Result<TextStore> open(const std::string& path, StoreBounds bounds = {});

  // Keeps `text` (mode 0600; a reader finds it whole or not at all) and
  // gives its name, 64 hexadecimal digits. A text already kept is not
  // written again; its time is renewed, so pruning counts from its last use.
  Result<std::string> put(std::string_view text) const;
  // The text named; a failure when it was pruned, or when what is there no
  // longer hashes to its name.
  Result<std::string> get(std::string_view name) const;
  // Whether a text of that name is kept, without reading it.
  bool holds(std::string_view name) const;
  // Removes the texts older than the bound, then the oldest until the rest
  // fit within the size bound; the two newest (the before and after of the
  // latest decision) stay whatever the bounds.
  Status prune(std::time_t now) const;

  // put and get may be called from any thread.
 private:
  TextStore(UniqueFd directory, StoreBounds bounds)
      : directory_(std::move(directory)), bounds_(bounds) {}

  UniqueFd directory_;
  StoreBounds bounds_;
};

// The SHA-256 of `bytes` in lowercase hexadecimal.
std::string sha256_hex(std::string_view bytes);

}  // namespace varnock::review
