#include "common/win32/language_module_win32.h"

#include <windows.h>

#include "common/language.h"
#include "common/win32/message_box_win32.h"
#include "common/win32/program_path_win32.h"

namespace tactra::win32 {

UniqueModule LoadLanguageModule(const std::wstring& fileName) {
  const std::wstring folder = ProgramFolder();
  if (folder.empty() || fileName.empty()) return UniqueModule();
  return UniqueModule(LoadLibraryExW((folder + fileName).c_str(), nullptr,
                                     LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
}

ProgramLanguage StartInLanguage(const std::wstring& commandLine, SettingsStore& store, const wchar_t* english,
                                const wchar_t* chinese, const wchar_t* missingEnd) {
  // Before any module the messages are fixed English texts.
  ResourceMessages fixedMessages(nullptr);
  ProgramLanguage start{SelectLanguage(CommandLineArguments(commandLine), store, fixedMessages),
                        UniqueModule()};
  const wchar_t* name = IsChinese(start.language) ? chinese : english;
  start.module = LoadLanguageModule(name);
  // The name is put in place of %s by concatenation: it is never a format string.
  if (!start.module) {
    const std::wstring text = std::wstring(kMsgMissingModule) + name + missingEnd;
    fixedMessages.ShowFixedMessage(text, kMsgErrorCaption, true);
  }
  return start;
}

}  // namespace tactra::win32
