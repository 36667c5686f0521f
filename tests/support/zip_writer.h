// A small ZIP writer for the update tests: stored and deflated entries, an
// archive comment, and knobs that damage what it writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/bytes.h"

namespace vorlix::testing {

struct ZipEntry {
    std::string name;
    Bytes content;
    bool deflate = false;
    // Damage: a CRC off by one, the encrypted flag, another method number,
    // an uncompressed size one byte above the content's.
    bool bad_crc = false;
    bool encrypted = false;
    std::uint16_t method_override = 0xffff;
    bool long_size = false;
};

Bytes write_zip(const std::vector<ZipEntry>& entries, const std::string& comment = "");

// A minimal PE file for `machine` (0x8664 for x86-64), `size` bytes long
// (longer when it needs more); with a version, it carries a version resource
// whose FileVersion and ProductVersion are that text, as the build writes it.
Bytes pe_program(std::uint16_t machine, std::size_t size = 256, const std::string& version = "");

// `program` with the FileVersion text of its version resource replaced by
// `version` in place; empty when the program has none or the new text is
// longer than the old one.
Bytes with_file_version(Bytes program, const std::string& version);

}  // namespace vorlix::testing
