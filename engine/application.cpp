#include "engine/application.h"

#include "platform/file_system.h"
#include "platform/text.h"

const wchar_t* const applicationFileName = L"maketor.exe";
const wchar_t* const applicationInUseText = L"Макетор открыт — закройте его и нажмите «Повторить».";

std::wstring applicationPathIn(const std::wstring& installDir) { return pathJoin(installDir, applicationFileName); }

bool applicationInUse(const std::wstring& installDir) { return isFileInUse(applicationPathIn(installDir)); }
