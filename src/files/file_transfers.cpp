#include "files/file_transfers.h"

#include <algorithm>
#include <array>
#include <string>

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

// "name.ext" as "name {suffix}.ext", or "name {suffix}" without an extension.
std::string with_suffix(std::string_view name, const std::string& suffix) {
    std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) {
        return std::string(name.substr(0, dot)) + " " + suffix + std::string(name.substr(dot));
    }
    return std::string(name) + " " + suffix;
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
    const std::string safe = safe_file_name(name);
    // The numbered names from the one that last worked, a bounded number of
    // them, then a name of the file's own.
    const unsigned first = transfers.numbers->first(folder, safe);
    const unsigned last = std::min(kMaxDestinationAttempts, first + kMaxNameTries - 1);
    for (unsigned attempt = first; attempt <= last + 1; ++attempt) {
        const bool numbered = attempt <= last;
        std::filesystem::path path =
            numbered ? unique_destination_path(folder, safe, attempt) : random_destination_path(folder, safe);
        CreatedFile created = files.create_new(path);
        if (created.file) {
            if (numbered) transfers.numbers->worked(folder, safe, attempt);
            IncomingFile transfer;
            transfer.path = std::move(path);
            transfer.file = std::move(created.file);
            transfer.size = size;
            if (auto old = incoming.open.find(id); old != incoming.open.end()) {
                close_and_delete(files, old->second);
                incoming.open.erase(old);
            }
            incoming.open.emplace(id, std::move(transfer));
            return;
        }
        if (created.exists && numbered) continue;
        log_line("file from the device: could not create " + full_path_text(path) + ": " + created.error);
        break;
    }
    remember_refusal(incoming, id);
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

void DestinationNumbers::worked(const std::filesystem::path& folder, std::string_view name, unsigned number) {
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
