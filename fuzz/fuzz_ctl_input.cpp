// What the command-line tool reads from outside: a backup file, JSON and UTF-8. Whatever the
// bytes, the readers end; what the JSON reader takes is written back to text it reads the
// same; a backup the reader takes is written back to a file it takes again unchanged; and UTF-8
// read into wide text comes out as UTF-8 again that reads back the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ctl/backup.h"
#include "ctl/json.h"
#include "ctl/utf8.h"
#include "fuzz/fuzz_input.h"

using tactra::fuzz::Check;
using namespace tactra::ctl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::wstring wide = FromUtf8(text);
  Check(FromUtf8(ToUtf8(wide)) == wide);

  std::string error;
  if (std::optional<Json> json = ParseJson(text, error)) {
    const std::string written = json->Write();
    std::optional<Json> again = ParseJson(written, error);
    Check(again && again->Write() == written);
  } else {
    Check(!error.empty());
  }

  if (std::optional<Backup> backup = DecodeBackup(text, error)) {
    const std::string file = EncodeBackup(*backup);
    std::optional<Backup> again = DecodeBackup(file, error);
    Check(again && EncodeBackup(*again) == file);
  }
  return 0;
}
