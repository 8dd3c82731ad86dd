#include "system/text_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/hex.h"
#include "base/os_error.h"
#include "base/read_all.h"
#include "mcp/broker_protocol.h"
#include "system/atomic_write.h"
#include "system/state_dir.h"

namespace varnock::review {
namespace {

bool is_name(std::string_view name) {
  return name.size() == 64 && std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

constexpr std::size_t kAlwaysKept = 2;

struct Kept {
  std::string name;
  struct timespec time {};  // when it was last kept
  std::uint64_t bytes = 0;
};

bool older(const Kept& a, const Kept& b) {
  return a.time.tv_sec != b.time.tv_sec ? a.time.tv_sec < b.time.tv_sec
                                        : a.time.tv_nsec < b.time.tv_nsec;
}

// The texts in the directory, oldest first.
Result<std::vector<Kept>> list_texts(int directory) {
  UniqueFd listing(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = listing.valid() ? ::fdopendir(listing.get()) : nullptr;
  if (dir == nullptr) return fail(system_error("cannot list the kept texts", errno));
  listing.release();
  std::vector<Kept> texts;
  while (const dirent* entry = ::readdir(dir)) {
    struct stat st;
    if (!is_name(entry->d_name) ||
        ::fstatat(directory, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;
    }
    texts.push_back(Kept{entry->d_name, st.st_mtim, static_cast<std::uint64_t>(st.st_size)});
  }
  ::closedir(dir);
  std::sort(texts.begin(), texts.end(), older);
  return texts;
}

}  // namespace

std::string sha256_hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return to_hex({reinterpret_cast<const char*>(digest), length});
}

Result<TextStore> TextStore::open(const std::string& path, StoreBounds bounds) {
  Result<PrivateDirectory> directory = open_private_directory(path);
  if (!directory.ok()) return fail(directory.failure() + "; not keeping texts there");
  return TextStore(std::move(directory.value().fd), bounds);
}

Result<std::string> TextStore::put(std::string_view text) const {
  std::string name = sha256_hex(text);
  if (::utimensat(directory_.get(), name.c_str(), nullptr, AT_SYMLINK_NOFOLLOW) == 0) return name;
  Result<std::string> written = replace_file(
      ReplaceRequest{directory_.get(), name, text, mode_t{0600}, false, [] { return Status{}; }});
  if (!written.ok()) return fail("cannot keep a text: " + written.failure());
  return name;
}

Result<std::string> TextStore::get(std::string_view name) const {
  if (!is_name(name)) return fail("no kept text is named " + std::string(name));
  UniqueFd fd(::openat(directory_.get(), std::string(name).c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return fail(system_error("the text is no longer kept", errno));
  Result<std::string> text = read_all(fd.get(), mcp::kMaxPresentContent);
  if (text.ok() && sha256_hex(text.value()) != name) return fail("the kept text was altered");
  return text;
}

bool TextStore::holds(std::string_view name) const {
  struct stat st;
  return is_name(name) &&
         ::fstatat(directory_.get(), std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(st.st_mode);
}

Status TextStore::prune(std::time_t now) const {
  Result<std::vector<Kept>> texts = list_texts(directory_.get());
  if (!texts.ok()) return fail(texts.failure());
  std::uint64_t total = 0;
  for (const Kept& text : texts.value()) total += text.bytes;
  const std::time_t oldest = now - static_cast<std::time_t>(bounds_.max_age.count());
  // The two newest, the before and after of the latest decision, stay
  // whatever the bounds: that decision can still be shown and reverted.
  const std::vector<Kept>& all = texts.value();
  for (std::size_t i = 0; i + kAlwaysKept < all.size(); ++i) {
    const Kept& text = all[i];
    if (text.time.tv_sec >= oldest && total <= bounds_.max_bytes) break;
    if (::unlinkat(directory_.get(), text.name.c_str(), 0) != 0 && errno != ENOENT) {
      return fail(system_error("cannot remove a kept text", errno));
    }
    total -= text.bytes;
  }
  return {};
}

}  // namespace varnock::review
