// Serves the review desk over scripted proposals, for measure.js,
// screenshot.js and looking at the page by hand. Prints "Review desk: URL", then reads
// commands, one a line, from standard input:
//   queue NAME       queue the scripted proposal NAME (see desk_scripts.h)
//   withdraw N       proposal N's server went away
//   decide N         another front end accepted proposal N
// and prints "answer N accept" or "answer N reject" when the page answers.
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "desk/desk_server.h"
#include "desk/desk_source.h"
#include "desk_scripts.h"

namespace varnock::desk {
namespace {

struct Entry {
  DeskProposal proposal;
  Script script;
};

class ScriptedSource : public DeskSource {
 public:
  std::vector<DeskProposal> pending() override {
    std::vector<DeskProposal> out;
    for (const auto& [number, entry] : entries_) out.push_back(entry.proposal);
    return out;
  }
  std::vector<DeskDecision> history(std::size_t limit) override {
    return {history_.begin(), history_.begin() + std::min(limit, history_.size())};
  }
  std::optional<DeskTexts> texts(std::uint64_t number) override {
    if (!entries_.contains(number)) return std::nullopt;
    const Script& script = entries_.at(number).script;
    return DeskTexts{script.before, script.after, script.explanation};
  }
  bool answer(std::uint64_t number, bool accept) override {
    if (!entries_.contains(number)) return false;
    std::cout << "answer " << number << (accept ? " accept" : " reject") << std::endl;
    decide(number, accept ? "accepted" : "rejected");
    return true;
  }
  void subscribe(std::function<void(const DeskEvent&)> listener) override {
    listeners_.push_back(std::move(listener));
  }

  void queue(const std::string& name) {
    Script script = scripted_proposal(name);
    DeskProposal proposal{next_number_++,        script.path,
                          script.target,         {"/home/ada/src/varnock-demo", "4242", "thread-7"},
                          script.before.size(),  script.after.size(),
                          script.before.empty(), script.notices};
    if (name == "second-server") proposal.server = {"/home/ada/src/other", "5151", "thread-2"};
    entries_[proposal.number] = {proposal, std::move(script)};
    emit({DeskEvent::Kind::kQueued, proposal.number, ""});
  }
  void withdraw(std::uint64_t number) { end(number, DeskEvent::Kind::kWithdrawn, "withdrawn"); }
  void decide(std::uint64_t number, const std::string& outcome) {
    end(number, DeskEvent::Kind::kDecided, outcome);
  }

 private:
  // Moves proposal `number`, if it is pending, to the history and tells the page.
  void end(std::uint64_t number, DeskEvent::Kind kind, const std::string& outcome) {
    const auto entry = entries_.find(number);
    if (entry == entries_.end()) return;
    const DeskProposal& proposal = entry->second.proposal;
    history_.insert(history_.begin(), {number, proposal.path, proposal.server.workspace, outcome,
                                       "2026-12-07T10:00:00Z"});
    entries_.erase(entry);
    emit({kind, number, outcome});
  }
  void emit(const DeskEvent& event) {
    for (const auto& listener : listeners_) listener(event);
  }

  std::map<std::uint64_t, Entry> entries_;  // pending, in the order queued
  std::vector<DeskDecision> history_;
  std::vector<std::function<void(const DeskEvent&)>> listeners_;
  std::uint64_t next_number_ = 1;
};

void run(ScriptedSource& source, const std::string& line) {
  std::istringstream words(line);
  std::string verb, argument;
  words >> verb >> argument;
  if (verb == "queue") source.queue(argument);
  if (verb == "withdraw") source.withdraw(std::stoull(argument));
  if (verb == "decide") source.decide(std::stoull(argument), "accepted");
}

// Reads commands from standard input on a thread of its own and runs each on
// the loop; stops the loop when the input ends.
std::thread read_commands(boost::asio::io_context& io, ScriptedSource& source) {
  return std::thread([&io, &source] {
    for (std::string line; std::getline(std::cin, line);) {
      boost::asio::post(io, [&source, line] { run(source, line); });
    }
    boost::asio::post(io, [&io] { io.stop(); });
  });
}

}  // namespace
}  // namespace varnock::desk

int main(int argc, char** argv) {
  using namespace varnock::desk;
  boost::asio::io_context io;
  ScriptedSource source;
  DeskOptions options;
  if (argc > 1) options.port = static_cast<std::uint16_t>(std::stoi(argv[1]));
  auto server = DeskServer::start(io, source, options);
  if (!server.ok()) {
    std::cerr << "desk_fixture: " << server.failure() << "\n";
    return 1;
  }
  std::cout << "Review desk: " << server.value()->url() << std::endl;
  std::thread commands = read_commands(io, source);
  io.run();
  commands.join();
  return 0;
}
