#include "system/target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "base/io.h"
#include "base/os_error.h"
#include "system/beneath.h"
#include "json/text.h"
#include "mcp/broker_protocol.h"

namespace varnock::review {

const std::string_view kChanged = "the file has changed since the agent read it";
const std::string_view kNotText =
    "the file is not text the server could send (binary, not UTF-8 or unreadable)";
const std::string_view kOutside = "the path leads outside the workspace";
const std::string_view kNotRegular = "the path names something other than a regular file";
const std::string_view kTooLong = "the path is too long or too deep";
const std::string_view kNotAFileName = "the path does not name a file";
const std::string_view kRetargeted = "the path now leads to another file than the one shown";
const std::string_view kFileTooLarge = "the file is larger than 256 MiB, the most a server reads";
static_assert(mcp::kMaxPresentContent == std::size_t{256} << 20, "kFileTooLarge names the bound");

namespace {

constexpr int kMaxFinalLinks = 8;
// What the present file is read in.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

Failure refuse(std::string_view reason) { return fail(std::string(reason)); }

// The file does not hold what the caller expected.
Failure changed() { return fail(std::string(kChanged), FailureKind::kStale); }

// The reason for an errno from open_directory_beneath.
Failure refusal_for(int error) {
  if (error == EXDEV || error == ELOOP) return refuse(kOutside);
  if (error == ENOTDIR) return refuse(kNotRegular);
  if (error == EACCES) return refuse(kNotText);
  if (error == ENAMETOOLONG) return refuse(kTooLong);
  return fail(system_error("cannot open a directory on the path", error));
}

// The path's components relative to the workspace, judged by text first.
Result<std::vector<std::string>> relative_components(const Workspace& workspace,
                                                     std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return refuse(kNotAFileName);
  if (path.size() > kMaxPathBytes) return refuse(kTooLong);
  if (path.ends_with('/') || path.ends_with("/.") || path == ".") return refuse(kNotAFileName);
  if (path.starts_with('/')) {
    if (!is_inside(path, workspace.name)) return refuse(kOutside);
    path.remove_prefix(workspace.name == "/" ? 1 : workspace.name.size());
  }
  std::vector<std::string> parts = split_path(path);
  if (parts.empty()) return refuse(kNotAFileName);
  if (parts.size() > kMaxPathDepth) return refuse(kTooLong);
  return parts;
}

// The kernel's name for an open descriptor.
std::string name_of(int fd) {
  char buffer[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

// `target` as the person should read it: relative to the workspace.
std::string shown_path(const Workspace& workspace, const Target& target) {
  std::string directory = name_of(target.directory.get());
  const std::string root = name_of(workspace.root.get());
  if (is_inside(directory, root)) directory.erase(0, root == "/" ? 1 : root.size());
  while (directory.starts_with('/') && !root.empty()) directory.erase(0, 1);
  std::vector<std::string> parts = split_path(directory);
  parts.insert(parts.end(), target.missing.begin(), target.missing.end());
  parts.push_back(target.name);
  return join_path(parts);
}

// The deepest existing directory along `parents`, and what is missing below.
Result<Target> find_directory(const Workspace& workspace, std::span<const std::string> parents) {
  for (std::size_t depth = parents.size() + 1; depth-- > 0;) {
    OpenedDirectory opened = open_directory_beneath(workspace.root.get(), parents.first(depth));
    if (opened.error == ENOENT && depth > 0) continue;
    if (opened.error != 0) return refusal_for(opened.error);
    Target target;
    target.directory = std::move(opened.fd);
    target.missing.assign(parents.begin() + static_cast<std::ptrdiff_t>(depth), parents.end());
    for (const std::string& part : target.missing) {
      if (part == "..") return refuse(kOutside);
    }
    return target;
  }
  return refuse(kOutside);
}

Result<Target> resolve_components(const Workspace& workspace, std::vector<std::string> parts,
                                  int links);

// `target.name` is a symbolic link: the file it names, if inside.
Result<Target> follow_final_link(const Workspace& workspace, std::vector<std::string> parts,
                                 const Target& target, int links) {
  char buffer[4096];
  const ssize_t length =
      ::readlinkat(target.directory.get(), target.name.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer) return refuse(kOutside);
  const std::string_view text(buffer, static_cast<std::size_t>(length));
  parts.pop_back();
  if (text.starts_with('/')) {
    Result<std::vector<std::string>> absolute = relative_components(workspace, text);
    if (!absolute.ok()) return fail(std::move(absolute).failure());
    parts = std::move(absolute).value();
  } else {
    const std::vector<std::string> relative = split_path(text);
    parts.insert(parts.end(), relative.begin(), relative.end());
  }
  return resolve_components(workspace, std::move(parts), links + 1);
}

Result<Target> resolve_components(const Workspace& workspace, std::vector<std::string> parts,
                                  int links) {
  if (links > kMaxFinalLinks) return refuse(kOutside);
  if (parts.empty() || parts.back() == "..") return refuse(kNotAFileName);
  Result<Target> found =
      find_directory(workspace, std::span<const std::string>(parts).first(parts.size() - 1));
  if (!found.ok()) return found;
  Target& target = found.value();
  target.name = parts.back();
  struct stat st;
  const int directory = target.directory.get();
  if (!target.missing.empty()) {
    if (::fstatat(directory, target.missing.front().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      return refuse(kOutside);  // a link there leads nowhere inside
    }
  } else if (::fstatat(directory, target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return follow_final_link(workspace, std::move(parts), target, links);
    if (!S_ISREG(st.st_mode)) return refuse(kNotRegular);
    target.exists = true;
  } else if (errno != ENOENT) {
    return fail(system_error("cannot inspect the file", errno));
  }
  target.shown = shown_path(workspace, target);
  return found;
}

// Checks UTF-8 fed in pieces, a sequence possibly cut between two.
class Utf8Pieces {
 public:
  void feed(std::string_view piece) {
    if (!valid_) return;
    std::string text = std::move(carry_);
    text += piece;
    const std::size_t cut = complete_end(text);
    valid_ = json::is_valid_utf8(std::string_view(text).substr(0, cut));
    carry_ = text.substr(cut);
  }
  bool valid_at_end() const { return valid_ && carry_.empty(); }

 private:
  // Where the last whole sequence of `text` ends: before a lead byte among
  // the last three whose sequence goes past the end.
  static std::size_t complete_end(std::string_view text) {
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
      const auto byte = static_cast<unsigned char>(text[text.size() - back]);
      if ((byte & 0xc0) == 0x80) continue;
      const std::size_t length = byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc0 ? 2 : 1;
      return length > back ? text.size() - back : text.size();
    }
    return text.size();
  }

  std::string carry_;
  bool valid_ = true;
};

// Reads `fd` to its end in pieces: the reason it does not hold `before`, or
// empty. Past what a server reads it stops, however it compared.
Status compare_content(int fd, std::string_view before) {
  std::string piece(kPieceBytes, '\0');
  std::size_t total = 0;
  bool same = true;
  Utf8Pieces utf8;
  for (;;) {
    const ssize_t count = read_some(fd, piece.data(), piece.size());
    if (count < 0) return refuse(kNotText);
    if (count == 0) break;
    const std::string_view read(piece.data(), static_cast<std::size_t>(count));
    if (total + read.size() > mcp::kMaxPresentContent) return refuse(kFileTooLarge);
    same = same && before.substr(std::min(total, before.size()), read.size()) == read;
    if (before.empty()) utf8.feed(read);
    total += read.size();
  }
  if (same && total == before.size()) return {};
  return before.empty() && !utf8.valid_at_end() ? refuse(kNotText) : changed();
}

}  // namespace

bool is_inside(std::string_view path, std::string_view directory) {
  if (directory == "/") return path.starts_with('/');
  if (directory.empty() || !path.starts_with(directory)) return false;
  return path.size() == directory.size() || path[directory.size()] == '/';
}

Result<Workspace> open_workspace_at(const std::string& name) {
  UniqueFd root(::open(name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root.valid()) return fail(system_error("cannot open the workspace " + name, errno));
  return Workspace{std::move(root), name};
}

Result<Target> resolve_target(const Workspace& workspace, std::string_view path) {
  Result<std::vector<std::string>> parts = relative_components(workspace, path);
  if (!parts.ok()) return fail(std::move(parts).failure());
  for (const std::string& part : parts.value()) {
    if (part == "..") return refuse(kOutside);
  }
  return resolve_components(workspace, std::move(parts).value(), 0);
}

Result<PresentFile> check_present(int directory, const std::string& name, std::string_view before) {
  UniqueFd fd(::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT)
      return before.empty() ? Result<PresentFile>(PresentFile{}) : changed();
    if (errno == ELOOP) return refuse(kOutside);
    return refuse(kNotText);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return refuse(kNotRegular);
  if (static_cast<std::uint64_t>(st.st_size) > mcp::kMaxPresentContent)
    return refuse(kFileTooLarge);
  Status same = compare_content(fd.get(), before);
  if (!same.ok()) return fail(same.failure(), same.kind());
  return PresentFile{true, static_cast<mode_t>(st.st_mode & 07777)};
}

}  // namespace varnock::review
