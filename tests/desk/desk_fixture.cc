// Serves the review desk over scripted proposals, for the browser tests and
// for looking at the page by hand. Prints "Review desk: URL", then reads
// commands, one a line, from standard input:
//   queue NAME       queue the scripted proposal NAME (see kScripts)
//   withdraw N       proposal N's server went away
//   decide N         another front end accepted proposal N
// and prints "answer N accept" or "answer N reject" when the page answers.
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <cstdio>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
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
    for (const Entry& entry : entries_) out.push_back(entry.proposal);
    return out;
  }
  std::vector<DeskDecision> history(std::size_t limit) override {
    return {history_.begin(), history_.begin() + std::min(limit, history_.size())};
  }
  std::optional<DeskTexts> texts(std::uint64_t number) override {
    const Entry* entry = find(number);
    if (!entry) return std::nullopt;
    return DeskTexts{entry->script.before, entry->script.after, entry->script.explanation};
  }
  bool answer(std::uint64_t number, bool accept) override {
    if (!find(number)) return false;
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
    entries_.push_back({proposal, std::move(script)});
    emit({DeskEvent::Kind::kQueued, proposal.number, ""});
  }
  void withdraw(std::uint64_t number) {
    if (!remove(number, "withdrawn")) return;
    emit({DeskEvent::Kind::kWithdrawn, number, "withdrawn"});
  }
  void decide(std::uint64_t number, const std::string& outcome) {
    if (!remove(number, outcome)) return;
    emit({DeskEvent::Kind::kDecided, number, outcome});
  }

 private:
  Entry* find(std::uint64_t number) {
    for (Entry& entry : entries_) {
      if (entry.proposal.number == number) return &entry;
    }
    return nullptr;
  }
  bool remove(std::uint64_t number, const std::string& outcome) {
    const Entry* entry = find(number);
    if (!entry) return false;
    history_.insert(history_.begin(),
                    {number, entry->proposal.path, entry->proposal.server.workspace, outcome,
                     "2026-12-07T10:00:00Z"});
    std::erase_if(entries_, [&](const Entry& e) { return e.proposal.number == number; });
    return true;
  }
  void emit(const DeskEvent& event) {
    for (const auto& listener : listeners_) listener(event);
  }

  std::vector<Entry> entries_;
  std::vector<DeskDecision> history_;
  std::vector<std::function<void(const DeskEvent&)>> listeners_;
  std::uint64_t next_number_ = 1;
};

// Reads commands from standard input until it ends, then stops the loop.
class Commands {
 public:
  Commands(boost::asio::io_context& io, ScriptedSource& source)
      : input_(io, ::dup(0)), source_(source), io_(io) {}

  void read_next() {
    boost::asio::async_read_until(input_, buffer_, '\n',
                                  [this](boost::system::error_code error, std::size_t) {
                                    if (error) return io_.stop();
                                    std::string line;
                                    std::istream stream(&buffer_);
                                    std::getline(stream, line);
                                    run(line);
                                    read_next();
                                  });
  }

 private:
  void run(const std::string& line) {
    std::istringstream words(line);
    std::string verb, argument;
    words >> verb >> argument;
    if (verb == "queue") source_.queue(argument);
    if (verb == "withdraw") source_.withdraw(std::stoull(argument));
    if (verb == "decide") source_.decide(std::stoull(argument), "accepted");
  }

  boost::asio::posix::stream_descriptor input_;
  boost::asio::streambuf buffer_;
  ScriptedSource& source_;
  boost::asio::io_context& io_;
};

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
  Commands commands(io, source);
  commands.read_next();
  io.run();
  return 0;
}
