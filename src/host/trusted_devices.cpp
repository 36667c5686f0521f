#include "host/trusted_devices.h"

#include <system_error>

#include "host/log.h"
#include "json/json.h"
#include "json/record.h"
#include "util/file_io.h"

namespace vorlix {
namespace {

constexpr std::string_view kDevicesFile = "devices.json";

Result<TrustedDevice> read_device(const Json& value) {
    TrustedDevice device;
    const RecordField fields[] = {
        {"key", false, read_into(device.key)},
        {"name", false, read_into(device.name)},
        {"model", false, read_into(device.model)},
        {"added", false, read_into(device.added)},
        {"last_seen", false, read_into(device.last_seen)},
    };
    Status read = read_record(value, "TrustedDevice", fields, 5);
    if (!read.ok()) return read.error();
    return device;
}

}  // namespace

Result<std::vector<TrustedDevice>> parse_trusted_devices(std::string_view text) {
    Result<Json> document = parse_json(text, DuplicateKeys::refuse);
    if (!document.ok()) return document.error();
    if (!document->is_array()) return type_error(*document, "a sequence");
    std::vector<TrustedDevice> devices;
    devices.reserve(document->size());
    for (const Json& element : *document) {
        Result<TrustedDevice> device = read_device(element);
        if (!device.ok()) return device.error();
        devices.push_back(std::move(device.value()));
    }
    return devices;
}

std::vector<TrustedDevice> load_trusted_devices(const std::filesystem::path& data_folder) {
    const std::filesystem::path path = data_folder / kDevicesFile;
    Result<std::string> content = read_whole_file(path);
    std::string problem;
    if (content.ok()) {
        Result<std::vector<TrustedDevice>> devices = parse_trusted_devices(*content);
        if (devices.ok()) return std::move(devices.value());
        problem = devices.error().text;
    } else {
        std::error_code look_up;
        if (!std::filesystem::exists(path, look_up)) return {};
        problem = content.error().text;
    }
    // Starting with an empty list is what the host does; keeping the old
    // file means no trusted device is lost when the next pairing saves.
    Result<std::filesystem::path> aside = set_file_aside(path, "unreadable");
    if (aside.ok()) {
        log_line("devices.json could not be read (" + problem + "); set aside as " + path_text(aside->filename()) +
                 ", starting with no trusted devices");
    } else {
        log_line("devices.json could not be read (" + problem + ") and could not be set aside (" +
                 aside.error().text + "); starting with no trusted devices");
    }
    return {};
}

Result<std::string> trusted_devices_text(const std::vector<TrustedDevice>& devices) {
    OrderedJson list = OrderedJson::array();
    for (const TrustedDevice& device : devices) {
        OrderedJson record = OrderedJson::object();
        record["key"] = device.key;
        record["name"] = device.name;
        record["model"] = device.model;
        record["added"] = device.added;
        record["last_seen"] = device.last_seen;
        list.push_back(std::move(record));
    }
    return write_indented(list);
}

Status save_trusted_devices(const std::filesystem::path& data_folder, const std::vector<TrustedDevice>& devices,
                            FileSystem& files) {
    Result<std::string> text = trusted_devices_text(devices);
    if (!text.ok()) return text.error();
    return write_file_durably(files, data_folder / kDevicesFile, *text);
}

void record_sign_in(std::vector<TrustedDevice>& devices, std::string_view key, std::string_view name,
                    std::string_view model, std::uint64_t now) {
    for (TrustedDevice& device : devices) {
        if (device.key == key) {
            device.name = std::string(name);
            device.model = std::string(model);
            device.last_seen = now;
            return;
        }
    }
    devices.push_back(TrustedDevice{std::string(key), std::string(name), std::string(model), now, now});
}

}  // namespace vorlix
