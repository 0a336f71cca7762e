// Configuration files: any bytes are loaded, saved, loaded again and saved again. The second load
// sees the content of the first, and the second save writes the very bytes of the first (a file is
// idempotent after its first save), with LF and with CR LF line ends. One difference is by design:
// a last line that is empty (after trimming) and has no line end cannot show in the saved file,
// which ends with the line end of the line before it, so the second load lacks that empty line.
// Then set on the loaded lines' own keys: whatever it accepts reads back after a save and a load.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "brol/config/brol_config.h"
#include "config_text.h"
#include "fuzz_check.h"

namespace {

std::string folder() {
  static char path[64] = "";
  if (path[0] == '\0') {
    std::snprintf(path, sizeof path, "/tmp/brol_fuzz_config_%d", static_cast<int>(getpid()));
    mkdir(path, 0700);
    // libFuzzer ends a run with exit: the folder goes with it.
    std::atexit([] { std::system((std::string("rm -rf ") + path).c_str()); });
  }
  return path;
}

// Whatever set accepts reads back after a save and a load: the key, and the value as the
// configuration gave it before the save (the value itself where it went between quotes into a new
// line; a value written raw, unquoted, reads back as its line says). Keys are the loaded lines' key
// texts (so existing lines change, also commented ones), values the texts of the lines after them.
void check_set_reads_back(brol_config& config, std::uint8_t choice, const std::string& saved) {
  static constexpr char seps[] = {'=', ' ', '\t', '#', ':', '[', '='};
  const char sep = seps[choice % sizeof seps];
  const unsigned flags = (choice >> 3) & 15u;
  std::vector<std::string> texts;
  for (const auto* n = config.global.first; n != nullptr && texts.size() < 8; n = n->next) {
    texts.emplace_back(n->value.c_str());
  }
  for (std::size_t i = 0; i + 1 < texts.size(); i += 2) {
    std::string key = texts[i].substr(0, texts[i].find(sep));
    if ((flags & brol_cfg_uncomment) != 0 && key.starts_with("#")) key.erase(0, 1);
    key.erase(0, key.find_first_not_of(" \t"));
    key.erase(key.find_last_not_of(" \t") + 1);
    const std::string& value = texts[i + 1];
    // Without uncomment set matches the lines find matches: none, and a line is made.
    const bool is_new = (flags & brol_cfg_uncomment) == 0 && config.global.find(key.c_str(), sep) == nullptr;
    if (!config.global.set(key.c_str(), value.c_str(), sep, flags)) continue;
    const char* now = config.global.find(key.c_str(), sep);
    FUZZ_CHECK(now != nullptr);
    const std::string before = now;
    if (is_new && (flags & brol_cfg_unquoted) == 0) FUZZ_CHECK(before == value);
    FUZZ_CHECK(config.save(saved.c_str()));
    brol_config back;
    back.init();
    FUZZ_CHECK(back.load(saved.c_str()));
    const char* got = back.global.find(key.c_str(), sep);
    FUZZ_CHECK(got != nullptr && before == got);
    back.destroy();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string source = folder() + "/source.ini", first = folder() + "/first.ini",
                    second = folder() + "/second.ini";
  std::ofstream(source, std::ios::binary)
      .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  brol_config config;
  config.init();
  FUZZ_CHECK(config.load(source.c_str()));
  config.crlf = data[0] & 1;
  std::string loaded = fuzz::config_text(config);
  FUZZ_CHECK(config.save(first.c_str()));
  if (config.no_final_line_end && (loaded == "\n" || loaded.ends_with("\n\n"))) loaded.pop_back();
  brol_config again;
  again.init();
  FUZZ_CHECK(again.load(first.c_str()) && fuzz::config_text(again) == loaded);
  again.crlf = config.crlf;
  FUZZ_CHECK(again.save(second.c_str()) && fuzz::read_file(first) == fuzz::read_file(second));
  check_set_reads_back(again, data[0], folder() + "/set.ini");
  again.destroy();
  config.destroy();
  return 0;
}
