#include "core/proposal.h"

#include "core/visible_text.h"

namespace varnock::review {

std::string describe_server(const ServerInfo& server) {
  std::string out =
      "server #" + std::to_string(server.number) + " (pid " + std::to_string(server.pid);
  if (server.hello_pid) out += ", hello said pid " + std::to_string(*server.hello_pid);
  if (!server.thread_id.empty()) out += ", thread \"" + visible_name(server.thread_id).text + "\"";
  return out + ", in " + visible_name(server.workspace).text + ")";
}

std::size_t proposal_bytes(const QueuedProposal& proposal) {
  const std::size_t runs = proposal.runs ? proposal.runs->size() : 0;
  const auto index_bytes = [](const std::optional<desk::LineIndex>& index) {
    return index ? index->bytes() : 0;
  };
  return proposal.before.size() + proposal.after.size() + proposal.explanation.size() +
         proposal.explanation_html.size() + runs * sizeof(desk::ChangedRun) +
         index_bytes(proposal.before_lines) + index_bytes(proposal.after_lines) +
         proposal.shown_changes.size();
}

}  // namespace varnock::review
