#include "present.h"

#include <cstdint>
#include <cstdio>

#include "json/text.h"

namespace varnock::review {
namespace {

constexpr std::string_view kBold = "\x1b[1m";
constexpr std::string_view kRed = "\x1b[31m";
constexpr std::string_view kGreen = "\x1b[32m";
constexpr std::string_view kCyan = "\x1b[36m";
constexpr std::string_view kReset = "\x1b[0m";
constexpr std::string_view kRule =
    "------------------------------------------------------------------------\n";

// Bytes in the UTF-8 sequence that `lead` starts (1 for anything unusable).
std::size_t sequence_length(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

char32_t decode(std::string_view sequence) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
  switch (sequence.size()) {
    case 1:
      return byte(0);
    case 2:
      return (char32_t{byte(0) & 0x1Fu} << 6) | (byte(1) & 0x3Fu);
    case 3:
      return (char32_t{byte(0) & 0x0Fu} << 12) | (char32_t{byte(1) & 0x3Fu} << 6) |
             (byte(2) & 0x3Fu);
    default:
      return (char32_t{byte(0) & 0x07u} << 18) | (char32_t{byte(1) & 0x3Fu} << 12) |
             (char32_t{byte(2) & 0x3Fu} << 6) | (byte(3) & 0x3Fu);
  }
}

bool is_hidden(char32_t c, bool keep_lines) {
  if (keep_lines && (c == '\n' || c == '\t')) return false;
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

void append_hex(std::string& out, std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

void append_escape(std::string& out, char32_t c) {
  if (c == '\r' || c == '\n' || c == '\t') {
    out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\t";
  } else if (c < 0x80) {
    out += "\\x";
    append_hex(out, c, 2);
  } else {
    out += "\\u";
    append_hex(out, c, 4);
  }
}

std::string_view colour_of(std::string_view line) {
  if (line.starts_with("+++") || line.starts_with("---")) return kBold;
  if (line.starts_with("@@")) return kCyan;
  if (line.starts_with("+")) return kGreen;
  if (line.starts_with("-")) return kRed;
  return {};
}

// Each line of `text` after `indent`.
std::string indented(std::string_view text, std::string_view indent) {
  std::string out;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    out += indent;
    out += text.substr(0, end);
    out += '\n';
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return out;
}

std::string styled(std::string_view text, std::string_view style, bool colour) {
  if (!colour) return std::string(text);
  return std::string(style) + std::string(text) + std::string(kReset);
}

std::string heading(const ProposalView& view, bool colour) {
  std::string out(kRule);
  out += styled("Proposed edit from " + view.server, kBold, colour) + "\n";
  out += "  id:   " + visible_name(view.proposal->id) + "\n";
  out += "  file: " + visible_name(view.proposal->path);
  if (view.new_file) out += "  (new file)";
  out += "\n";
  if (view.still_waiting > 0) {
    out += "  (" + std::to_string(view.still_waiting) + " more waiting after this one)\n";
  }
  return out;
}

std::string visible(std::string_view text, bool keep_lines) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::string_view sequence = text.substr(i, sequence_length(lead));
    if (lead >= 0x80 && (sequence.size() == 1 || !json::is_valid_utf8(sequence))) {
      out += "\\x";
      append_hex(out, lead, 2);
      ++i;
      continue;
    }
    const char32_t c = decode(sequence);
    if (is_hidden(c, keep_lines)) {
      append_escape(out, c);
    } else {
      out += sequence;
    }
    i += sequence.size();
  }
  return out;
}

}  // namespace

std::string visible_text(std::string_view text) { return visible(text, true); }

std::string visible_name(std::string_view text) { return visible(text, false); }

std::string colour_diff(std::string_view diff) {
  std::string out;
  while (!diff.empty()) {
    const std::size_t end = diff.find('\n');
    const std::string_view line = diff.substr(0, end);
    out += styled(line, colour_of(line), !colour_of(line).empty());
    if (end == std::string_view::npos) break;
    out += '\n';
    diff.remove_prefix(end + 1);
  }
  return out;
}

std::string render_proposal(const ProposalView& view, bool colour) {
  std::string out = heading(view, colour);
  out += styled("Explanation:", kBold, colour) + "\n";
  out += indented(visible_text(view.proposal->explanation), "  ");
  out += styled("Changes:", kBold, colour) + "\n";
  if (view.diff.empty()) {
    out += "  (none: the proposed content equals the content the agent read)\n";
    return out;
  }
  const std::string diff = visible_text(view.diff);
  out += colour ? colour_diff(diff) : diff;
  if (!out.ends_with('\n')) out += '\n';
  return out;
}

std::string describe_server(int number, const Hello* hello) {
  std::string out = "server #" + std::to_string(number);
  if (hello == nullptr) return out;
  out += " (pid " + visible_name(hello->pid);
  if (hello->thread_id.empty()) return out + ", no thread id)";
  return out + ", thread \"" + visible_name(hello->thread_id) + "\")";
}

void show(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace varnock::review
