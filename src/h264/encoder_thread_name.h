// Names the calling thread for debuggers and crash reports (best effort).
#pragma once

namespace vorlix {

void name_current_thread(const char* name);

}  // namespace vorlix
