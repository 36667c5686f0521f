// Arbitrary archives through the ZIP reader and the package check: only the
// wanted names come out, each once, and the program file is an x86-64 PE.
#include <cstdint>
#include <cstdlib>
#include <set>

#include "update/zip_reader.h"

using namespace vorlix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Result<std::vector<ZipFile>> files = check_package_zip(ByteView(data, size));
    if (!files) return 0;
    std::set<std::string> names;
    for (const ZipFile& f : *files) {
        if ((f.name != kProgramFileName && f.name != kCameraFileName) || !names.insert(f.name).second) std::abort();
    }
    if (!names.count(std::string(kProgramFileName))) std::abort();
    return 0;
}
