// The test signing key of the update tests (never a key that signs real
// archives) and signed downloads made with it.
#pragma once

#include <string>

#include "crypto/crypto.h"
#include "update/manifest.h"

namespace vorlix::testing {

Ed25519KeyPair update_test_keys();
// The Download record of `archive` at `url`, signed with the test key.
Download signed_download(ByteView archive, const std::string& url);
// update.json offering `version` with that record under "x64".
std::string manifest_text(const std::string& version, const Download& download);

}  // namespace vorlix::testing
