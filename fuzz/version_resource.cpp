// Arbitrary files through the version-resource reader: a block found lies
// inside the file, and every value lies inside its block.
#include <cstdint>
#include <cstdlib>

#include "app/version_resource.h"

using namespace vorlix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView file(data, size);
    const auto inside = [](ByteView part, ByteView whole) {
        return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
    };
    // The file itself as a block too: GetFileVersionInfoW's blocks come from
    // other programs' files.
    const std::optional<ByteView> found = pe_version_block(file);
    if (found && !inside(*found, file)) std::abort();
    for (const ByteView block : {found.value_or(ByteView()), file}) {
        for (const char* path : {"\\VarFileInfo\\Translation", "\\StringFileInfo\\040904b0\\FileVersion", "\\"}) {
            const std::optional<ByteView> value = version_block_value(block, path);
            if (value && !inside(*value, block)) std::abort();
        }
        if (const auto text = version_block_string(block, "FileVersion"); text && text->empty()) std::abort();
    }
    return 0;
}
