#include "desk_scripts.h"

#include <fstream>
#include <optional>
#include <sstream>

#include "json/parse.h"

namespace varnock::desk {
namespace {

// About 10 MiB of 64-byte lines; every hundredth line changes one word.
Script big() {
  Script script{"data/big.txt", "", "", "", "A large file with **1 %** of its lines changed.", {}};
  const std::string filler(40, 'x');
  for (int i = 0; i < 163840; ++i) {
    const std::string head = "line " + std::to_string(1000000 + i);
    script.before += head + " value old " + filler + "\n";
    script.after += head + (i % 100 == 50 ? " value new " : " value old ") + filler + "\n";
  }
  return script;
}

// The script `name` in the file DESK_SCRIPTS names, if it is there.
std::optional<json::Value> script_value(const std::string& name) {
  std::ifstream in(DESK_SCRIPTS, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  Result<json::Value> all = json::parse(text.str());
  const json::Value* script = all.ok() ? json::member(all.value(), name) : nullptr;
  if (!script) return std::nullopt;
  return *script;
}

}  // namespace

Script scripted_proposal(const std::string& name) {
  if (name == "big") return big();
  const std::optional<json::Value> value = script_value(name);
  if (!value) return {"new/" + name + ".txt", "", "", "fresh\n", "A new file.", {}};
  const auto text = [&](const char* key) { return json::member(*value, key)->as_string(); };
  Script script{text("path"),  text("target"),      text("before"),
                text("after"), text("explanation"), {}};
  for (const json::Value& notice : json::member(*value, "notices")->as_array()) {
    script.notices.push_back(notice.as_string());
  }
  return script;
}

}  // namespace varnock::desk
