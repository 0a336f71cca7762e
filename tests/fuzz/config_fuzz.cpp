// Configuration files: any bytes are loaded, saved, loaded again and saved again. The second load
// sees the content of the first, and the second save writes the very bytes of the first (a file is
// idempotent after its first save), with LF and with CR LF line ends. One difference is by design:
// a last line that is empty (after trimming) and has no line end cannot show in the saved file,
// which ends with the line end of the line before it, so the second load lacks that empty line.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

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
  again.destroy();
  config.destroy();
  return 0;
}
