// option.cc - settings lookup by key, bound to the job's settings record.
#include "colour/option.h"

#include "colour/qvresource.h"
#include "src_header/qvfiletool.h"

const char* GetOption(const char* pszKey) { return GetKeyValue(pszKey, &g_rcInfo); }
