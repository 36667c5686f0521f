#include "files/file_transfers.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "app/text.h"
#include "crypto/random.h"
#include "host/log.h"

namespace vorlix {

namespace {

bool is_space_unit(char16_t u) {
    return (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0x85 || u == 0xA0 || u == 0x1680 ||
           (u >= 0x2000 && u <= 0x200A) || u == 0x2028 || u == 0x2029 || u == 0x202F || u == 0x205F ||
           u == 0x3000;
}

bool is_reserved_device_name(std::string_view stem_utf8) {
    std::u16string stem = utf8_to_utf16(stem_utf8);
    while (!stem.empty() && is_space_unit(stem.back())) stem.pop_back();
    if (stem.size() != 3 && stem.size() != 4) return false;
    // COM and LPT take any digit, Windows counting the superscripts 1, 2 and 3.
    const bool numbered = stem.size() == 4;
    if (numbered) {
        const char16_t last = stem.back();
        if (!(last >= u'0' && last <= u'9') && last != 0xB9 && last != 0xB2 && last != 0xB3) return false;
        stem.pop_back();
    }
    std::string upper;
    for (char16_t u : stem) {
        if (u >= 0x80) return false;
        char c = static_cast<char>(u);
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        upper.push_back(c);
    }
    if (!numbered) {
        static constexpr std::array<std::string_view, 4> plain{"CON", "PRN", "AUX", "NUL"};
        return std::find(plain.begin(), plain.end(), upper) != plain.end();
    }
    return upper == "COM" || upper == "LPT";
}

void strip_dots_and_blanks(std::string& name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
}

// The first `units` UTF-16 units of the text, never splitting a pair.
std::u16string cut_units(const std::u16string& text, std::size_t units) {
    if (text.size() <= units) return text;
    std::size_t end = units;
    if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) --end;
    return text.substr(0, end);
}

// Shortens a name to kMaxSafeNameUnits, keeping a reasonable extension.
std::string shorten_name(const std::string& name) {
    std::u16string units = utf8_to_utf16(name);
    if (units.size() <= kMaxSafeNameUnits) return name;
    std::u16string extension;
    std::size_t dot = units.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0 && units.size() - dot <= kMaxSafeNameUnits / 2) {
        extension = units.substr(dot);
        units.resize(dot);
    }
    std::string stem = utf16_to_utf8(cut_units(units, kMaxSafeNameUnits - extension.size()));
    if (extension.empty()) strip_dots_and_blanks(stem);
    if (stem.empty()) return "From iPhone" + utf16_to_utf8(extension);
    return stem + utf16_to_utf8(extension);
}

void remember_refusal(IncomingFiles& incoming, std::uint64_t id) {
    if (std::find(incoming.refused.begin(), incoming.refused.end(), id) != incoming.refused.end()) return;
    if (incoming.refused.size() == kMaxRememberedRefusals) incoming.refused.pop_front();
    incoming.refused.push_back(id);
}

bool take_refusal(IncomingFiles& incoming, std::uint64_t id) {
    auto it = std::find(incoming.refused.begin(), incoming.refused.end(), id);
    if (it == incoming.refused.end()) return false;
    incoming.refused.erase(it);
    return true;
}

// A name cut before its last '.' when that is not its first character:
// "a.b.c" as "a.b" and ".c", "notes" as "notes" and nothing.
std::pair<std::string_view, std::string_view> split_extension(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {name, {}};
    return {name.substr(0, dot), name.substr(dot)};
}

// "name.ext" as "name {suffix}.ext", or "name {suffix}" without an extension.
std::string with_suffix(std::string_view name, const std::string& suffix) {
    const auto [stem, extension] = split_extension(name);
    return std::string(stem) + " " + suffix + std::string(extension);
}

// The attempt whose path has the name `entry` among the names of `name`: 1
// for the name itself, N for "name N.ext"; 0 for any other name.
unsigned destination_number(std::string_view entry, std::string_view name) {
    if (entry == name) return 1;
    const auto [stem, extension] = split_extension(name);
    if (entry.size() <= stem.size() + 1 + extension.size() || !entry.starts_with(stem) ||
        entry[stem.size()] != ' ' || !entry.ends_with(extension)) {
        return 0;
    }
    const std::string_view digits = entry.substr(stem.size() + 1, entry.size() - stem.size() - 1 - extension.size());
    if (digits.size() > 4 || digits.front() == '0') return 0;
    unsigned number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    return number >= 2 && number <= kMaxDestinationAttempts ? number : 0;
}

unsigned next_number(unsigned number) { return number % kMaxDestinationAttempts + 1; }

struct Destination {
    std::filesystem::path path;
    CreatedFile created;
};

// Creates the file under a free name: numbered names from where the last
// search of this name stopped, a bounded number of them; when those are
// taken, the folder is listed once and as many of the numbers it leaves free
// are tried (from where the search stopped, then from 1); past those, a name
// of the file's own. The last path tried when none could be created.
Destination create_destination(FileSystem& files, DestinationNumbers& numbers, const std::filesystem::path& folder,
                               const std::string& name) {
    unsigned number = numbers.first(folder, name);
    std::vector<bool> taken;  // by number once listed; [0] stands for other names
    for (unsigned tries = 0; tries < 2 * kMaxNameTries; ++tries) {
        if (tries == kMaxNameTries) {
            taken.assign(kMaxDestinationAttempts + 1, false);
            // A folder that cannot be read leaves every number to be tried.
            // Names that differ only in case are one on Windows.
            const std::string lower = unicode_lower(name);
            files.visit_names(folder, [&](std::string_view entry) {
                taken[destination_number(unicode_lower(entry), lower)] = true;
            });
        }
        if (!taken.empty()) {
            for (unsigned skipped = 1; taken[number] && skipped < kMaxDestinationAttempts; ++skipped) {
                number = next_number(number);
            }
            if (taken[number]) break;  // every number is taken
            taken[number] = true;
        }
        Destination numbered{unique_destination_path(folder, name, number), {}};
        numbered.created = files.create_new(numbered.path);
        if (numbered.created.file) numbers.remember(folder, name, number);
        if (!numbered.created.exists) return numbered;
        number = next_number(number);
    }
    numbers.remember(folder, name, number);  // the next file of this name goes on from here
    std::filesystem::path own = random_destination_path(folder, name);
    return Destination{own, files.create_new(own)};
}

void close_and_delete(FileSystem& files, IncomingFile& transfer) {
    transfer.file.reset();
    files.remove_file(transfer.path);
}

}  // namespace

// --- offers and ids ------------------------------------------------------------

std::optional<FileOffer> register_file_offer(FileTransfers& transfers, const std::filesystem::path& path) {
    auto size = transfers.files->plain_file_size(path);
    if (!size || *size > kMaxTransferFileSize) return std::nullopt;
    std::string name = file_name_text(path);
    if (name.empty()) return std::nullopt;
    transfers.offers.clear();
    FileOffer offer{std::move(name), take_transfer_id(transfers), *size};
    transfers.offers[offer.id] = path;
    return offer;
}

std::optional<std::filesystem::path> find_offered_file(const FileTransfers& transfers, std::uint64_t id) {
    auto it = transfers.offers.find(id);
    if (it == transfers.offers.end()) return std::nullopt;
    return it->second;
}

std::uint64_t take_transfer_id(FileTransfers& transfers) {
    std::uint64_t id = transfers.next_id < 1 ? 1 : transfers.next_id;
    transfers.next_id = id + 1;
    return id;
}

// --- incoming files ----------------------------------------------------------

void begin_incoming_file(FileTransfers& transfers, const std::filesystem::path& folder, std::uint64_t id,
                         std::string_view name, std::uint64_t size, std::size_t open_elsewhere) {
    IncomingFiles& incoming = transfers.incoming;
    FileSystem& files = *transfers.files;
    take_refusal(incoming, id);

    if (size > kMaxTransferFileSize) {
        remember_refusal(incoming, id);
        return;
    }
    // A fileStart with an id that is open replaces that transfer once the
    // new file exists; it does not count against the limit.
    const bool replacing = incoming.open.contains(id);
    if (!replacing && incoming.open.size() + open_elsewhere >= kMaxOpenIncomingFiles) {
        log_line("file from the device: " + std::to_string(incoming.open.size() + open_elsewhere) +
                 " files are coming in already; refused one more");
        remember_refusal(incoming, id);
        return;
    }

    files.create_folders(folder);
    Destination destination = create_destination(files, *transfers.numbers, folder, safe_file_name(name));
    if (!destination.created.file) {
        log_line("file from the device: could not create " + full_path_text(destination.path) + ": " +
                 destination.created.error);
        remember_refusal(incoming, id);
        return;
    }
    if (auto old = incoming.open.find(id); old != incoming.open.end()) {
        close_and_delete(files, old->second);
        incoming.open.erase(old);
    }
    IncomingFile transfer;
    transfer.path = std::move(destination.path);
    transfer.file = std::move(destination.created.file);
    transfer.size = size;
    incoming.open.emplace(id, std::move(transfer));
}

void write_incoming_chunk(FileTransfers& transfers, std::uint64_t id, ByteView bytes) {
    auto it = transfers.incoming.open.find(id);
    if (it == transfers.incoming.open.end()) return;
    IncomingFile& transfer = it->second;
    transfer.received += bytes.size();
    if (transfer.received <= transfer.size && transfer.file->write_all(bytes).ok()) return;
    close_and_delete(*transfers.files, transfer);
    transfers.incoming.open.erase(it);
}

IncomingOutcome finish_incoming_file(FileTransfers& transfers, std::uint64_t id, bool ok) {
    IncomingOutcome outcome;
    auto it = transfers.incoming.open.find(id);
    if (it == transfers.incoming.open.end()) {
        if (take_refusal(transfers.incoming, id)) outcome.kind = IncomingOutcome::Kind::incomplete;
        return outcome;
    }
    IncomingFile transfer = std::move(it->second);
    transfers.incoming.open.erase(it);
    if (ok && transfer.received == transfer.size && transfer.file->flush().ok()) {
        transfer.file.reset();
        outcome.kind = IncomingOutcome::Kind::saved;
        outcome.path = std::move(transfer.path);
        return outcome;
    }
    close_and_delete(*transfers.files, transfer);
    outcome.kind = IncomingOutcome::Kind::incomplete;
    return outcome;
}

void drop_incoming_files(FileTransfers& transfers) {
    for (auto& [id, transfer] : transfers.incoming.open) close_and_delete(*transfers.files, transfer);
    transfers.incoming.open.clear();
    transfers.incoming.refused.clear();
    transfers.offers.clear();
}

// --- names -------------------------------------------------------------------

std::string safe_file_name(std::string_view name) {
    std::size_t slash = name.find_last_of("/\\");
    std::string out(slash == std::string_view::npos ? name : name.substr(slash + 1));
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '"' || c == '*' || c == ':' || c == '<' || c == '>' || c == '?' || c == '|') c = '-';
    }
    strip_dots_and_blanks(out);
    if (out.empty() || out.front() == '.') out = "From iPhone";
    std::size_t dot = out.find('.');
    if (is_reserved_device_name(std::string_view(out).substr(0, dot))) out = "_" + out;
    return shorten_name(out);
}

unsigned DestinationNumbers::first(const std::filesystem::path& folder, std::string_view name) {
    std::lock_guard lock(mutex_);
    for (const Entry& entry : entries_) {
        if (entry.name == name && entry.folder == folder) return entry.number;
    }
    return 1;
}

void DestinationNumbers::remember(const std::filesystem::path& folder, std::string_view name, unsigned number) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& entry) { return entry.name == name && entry.folder == folder; });
    if (it != entries_.end()) entries_.erase(it);
    if (entries_.size() == kRememberedNames) entries_.pop_front();
    entries_.push_back(Entry{folder, std::string(name), number});
}

std::filesystem::path unique_destination_path(const std::filesystem::path& folder, std::string_view name,
                                              unsigned attempt) {
    if (attempt <= 1) return folder / path_from_utf8(name);
    return folder / path_from_utf8(with_suffix(name, std::to_string(attempt)));
}

std::filesystem::path random_destination_path(const std::filesystem::path& folder, std::string_view name) {
    std::uint8_t bytes[8];
    random_bytes(bytes, sizeof bytes);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t b : bytes) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 15]);
    }
    return folder / path_from_utf8(with_suffix(name, hex));
}

std::optional<FilePiece> read_file_piece(ByteView body) {
    if (body.size() < 4) return std::nullopt;
    return FilePiece{get_u32_be(body.data()), body.subspan(4)};
}

}  // namespace vorlix
