#include "catalogue.h"

#include <string>
#include <utility>

namespace varnock {
namespace {

// The descriptor's texts, written for the agent. The dashes are raw UTF-8.
constexpr std::string_view kToolDescription =
    "Submit a full-file replacement for human review. The user sees the diff plus your "
    "explanation side-by-side and decides whether to accept.";
constexpr std::string_view kPathDescription = "Absolute path of the file to create or overwrite.";
constexpr std::string_view kContentDescription =
    "Full new file contents. MUST be non-empty — this tool will not create zero-byte files. "
    "If the user genuinely wants an empty file, use a shell `touch` instead.";
constexpr std::string_view kExplanationDescription =
    "Explain the code you are writing so a reviewer can judge it without re-reading the diff. "
    "Cover: (1) what the new code DOES — the behavior, the logic, the contract; (2) WHY you "
    "structured it this way — the key design choices, the trade-offs you considered, what "
    "you rejected; (3) anything non-obvious — invariants, edge cases handled, assumptions "
    "about callers, known limitations. Be concrete and reference "
    "identifiers/functions/branches by name. Use markdown bullets (3–8 points) — not "
    "paragraphs. DO NOT narrate the diff itself: no 'Updated X', no 'added N lines', no "
    "'expanded the implementation', no 'kept the review focused on the diff' — the reviewer "
    "already sees the diff. If the change is trivially mechanical (e.g. a one-line rename) say "
    "so explicitly and stop. Write for an engineer who will maintain this code next month.";

static_assert(kToolDescription.size() == 137);
static_assert(kPathDescription.size() == 49);
static_assert(kContentDescription.size() == 160);
static_assert(kExplanationDescription.size() == 843);

constexpr std::string_view kPathArgument = "path";
constexpr std::string_view kContentArgument = "content";
constexpr std::string_view kExplanationArgument = "explanationInMarkdown";

// {"description":..,"type":"string"}
json::Value string_property(std::string_view description) {
  json::Value::Object property;
  property.emplace("description", json::Value(description));
  property.emplace("type", json::Value("string"));
  return json::Value(std::move(property));
}

json::Value input_schema() {
  json::Value::Object properties;
  properties.emplace(kPathArgument, string_property(kPathDescription));
  properties.emplace(kContentArgument, string_property(kContentDescription));
  properties.emplace(kExplanationArgument, string_property(kExplanationDescription));
  // Listed in the order the agent is asked for them, unlike "properties",
  // whose members go out sorted.
  json::Value::Array required = {json::Value(kPathArgument), json::Value(kContentArgument),
                                 json::Value(kExplanationArgument)};
  json::Value::Object schema;
  schema.emplace("properties", json::Value(std::move(properties)));
  schema.emplace("required", json::Value(std::move(required)));
  schema.emplace("type", json::Value("object"));
  return json::Value(std::move(schema));
}

}  // namespace

json::Value write_file_descriptor() {
  json::Value::Object descriptor;
  descriptor.emplace("description", json::Value(kToolDescription));
  descriptor.emplace("inputSchema", input_schema());
  descriptor.emplace("name", json::Value(kWriteFileToolName));
  return json::Value(std::move(descriptor));
}

}  // namespace varnock
