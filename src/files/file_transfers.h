// The file-transfer table: the file the PC offers to the device, the files
// coming in from the device, and the counter of transfer ids. The host state
// keeps one under its transfer lock for the device session in control; a
// link whose role is "send" keeps one of its own, for incoming files only.
// The table has no lock of its own.
//
// Incoming files are written piece by piece straight into a new file in the
// Downloads folder, under a name made safe for Windows that never replaces
// an existing file; a file that does not arrive whole is deleted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "files/file_system.h"
#include "util/bytes.h"

namespace vorlix {

// The largest file taken or sent: 2^31 bytes.
constexpr std::uint64_t kMaxTransferFileSize = 2'147'483'648ull;
// The highest number a destination name takes.
constexpr unsigned kMaxDestinationAttempts = 9'999;
// How many incoming files may be open at once on one table.
constexpr std::size_t kMaxOpenIncomingFiles = 64;
// How many refused transfer ids are remembered for their fileEnd.
constexpr std::size_t kMaxRememberedRefusals = 256;
// Names longer than this many UTF-16 units are shortened (the system's limit
// for one name is 255, and " 9999" may still be added).
constexpr std::size_t kMaxSafeNameUnits = 240;

struct IncomingFile {
    std::filesystem::path path;
    std::unique_ptr<WritableFile> file;
    std::uint64_t size = 0;      // announced in fileStart
    std::uint64_t received = 0;  // bytes of all pieces so far
};

struct IncomingFiles {
    std::unordered_map<std::uint64_t, IncomingFile> open;
    // Ids whose fileStart was refused, oldest first, so that their fileEnd
    // can tell the device.
    std::deque<std::uint64_t> refused;
};

// How many numbered names one incoming file tries before the folder is
// listed, and again after: past both it takes a name of its own.
constexpr unsigned kMaxNameTries = 64;
// How many folder and name pairs keep where their next search starts.
constexpr std::size_t kRememberedNames = 32;

// Where the next search for a free name starts, per folder and name: the
// number that last gave one, or the one after the last tried by a search
// that found none, so that files of one name go on numbering rather than
// start at 1 each time. Shared by the host's table and the send links'
// tables, so it has a lock of its own.
class DestinationNumbers {
public:
    // The number to try first: the one remembered, else 1.
    unsigned first(const std::filesystem::path& folder, std::string_view name);
    void remember(const std::filesystem::path& folder, std::string_view name, unsigned number);

private:
    struct Entry {
        std::filesystem::path folder;
        std::string name;
        unsigned number = 1;
    };
    std::mutex mutex_;
    std::deque<Entry> entries_;  // the most recently used last
};

struct FileTransfers {
    IncomingFiles incoming;
    // Offer id -> the offered file. At most one offer exists.
    std::unordered_map<std::uint64_t, std::filesystem::path> offers;
    std::uint64_t next_id = 0;
    std::shared_ptr<FileSystem> files = system_file_system();
    std::shared_ptr<DestinationNumbers> numbers = std::make_shared<DestinationNumbers>();
};

// --- offers and ids ------------------------------------------------------------

struct FileOffer {
    std::string name;
    std::uint64_t id = 0;
    std::uint64_t size = 0;
};

// Makes a plain file of at most 2^31 bytes the only offer and gives its name,
// new id and size; nothing (and no change) for anything else.
std::optional<FileOffer> register_file_offer(FileTransfers& transfers, const std::filesystem::path& path);

std::optional<std::filesystem::path> find_offered_file(const FileTransfers& transfers, std::uint64_t id);

// The next transfer id for an offer or a requested screenshot: the counter,
// or 1 when it is below 1; the counter then moves past it.
std::uint64_t take_transfer_id(FileTransfers& transfers);

// --- incoming files ----------------------------------------------------------

// Opens a new file in `folder` for a fileStart. A file that cannot be taken
// (too large, no usable name, too many open, not creatable) is remembered as
// refused. `open_elsewhere` files of other tables count against the limit.
// A taken name costs at most 2 * kMaxNameTries + 1 creations and one listing
// of the folder.
void begin_incoming_file(FileTransfers& transfers, const std::filesystem::path& folder, std::uint64_t id,
                         std::string_view name, std::uint64_t size, std::size_t open_elsewhere = 0);

// Writes one piece. A piece past the announced size, or a failed write,
// deletes the file at once.
void write_incoming_chunk(FileTransfers& transfers, std::uint64_t id, ByteView bytes);

struct IncomingOutcome {
    enum class Kind : std::uint8_t { none, incomplete, saved };
    Kind kind = Kind::none;
    std::filesystem::path path;  // saved
};

// The fileEnd: keeps the file when `ok` and every announced byte arrived and
// reached the disk; otherwise deletes it.
IncomingOutcome finish_incoming_file(FileTransfers& transfers, std::uint64_t id, bool ok);

// Closes and deletes every unfinished incoming file and forgets the offers;
// the id counter is kept.
void drop_incoming_files(FileTransfers& transfers);

// --- names -------------------------------------------------------------------

// The device's file name made safe for Windows: only its last component,
// control characters and " * : < > ? | as '-', no dots or blanks at the end,
// "From iPhone" for nothing or a name that begins with '.', a '_' before a
// reserved device name, and over-long names shortened keeping the extension.
std::string safe_file_name(std::string_view name);

// The candidate path of one attempt (1 upward): "name.ext", then
// "name 2.ext", "name 3.ext", ...
std::filesystem::path unique_destination_path(const std::filesystem::path& folder, std::string_view name,
                                              unsigned attempt);

// A path of the name's own, for when the numbered ones are taken (or, in a
// folder that cannot be listed, those within reach): "name 3f09c2e41a7d5b86.ext"
// with 16 random hex digits.
std::filesystem::path random_destination_path(const std::filesystem::path& folder, std::string_view name);

// --- binary file pieces ------------------------------------------------------

struct FilePiece {
    std::uint32_t id = 0;
    ByteView bytes;
};

// A FileData frame body: the transfer id as 32-bit big-endian, then the
// bytes. Nothing when the body is shorter than 4 bytes.
std::optional<FilePiece> read_file_piece(ByteView body);

}  // namespace vorlix
