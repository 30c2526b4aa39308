// The language modules: resource-only DLLs beside the program. They are loaded by full path
// from the program's own folder, so that a file of the same name elsewhere (the current
// directory, the search path) is never taken, and as images of resources only, so that none of
// their code runs.
#pragma once

#include <string>

#include "common/settings_store.h"
#include "common/win32/handles_win32.h"

namespace tactra::win32 {

// The module `fileName` from the program's folder; empty when it cannot be loaded.
UniqueModule LoadLanguageModule(const std::wstring& fileName);

// A program's language and its module: the language from the command line or the registry
// (with the fixed messages of the registry's steps), then its module. When that is missing the
// program says so with the fixed message that names it, followed by `missingEnd`; `module` is
// then empty and the program ends.
struct ProgramLanguage {
  int language;
  UniqueModule module;
};
ProgramLanguage StartInLanguage(const std::wstring& commandLine, SettingsStore& store, const wchar_t* english,
                                const wchar_t* chinese, const wchar_t* missingEnd);

}  // namespace tactra::win32
