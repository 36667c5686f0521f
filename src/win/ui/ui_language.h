// Where the Windows program reads its language from: VORLIX_LANG through the
// wide environment, then the user's preferred UI languages.
#pragma once

#include "i18n/i18n.h"

namespace vorlix {

LanguageSources windows_language_sources();

}  // namespace vorlix
