#include "host/settings.h"

#include <system_error>

#include "json/fields.h"
#include "util/file_io.h"

namespace vorlix {
namespace {

constexpr std::string_view kSettingsFile = "settings.json";
constexpr std::string_view kAutoInstall = "autoInstallUpdates";

}  // namespace

Json read_settings(const std::filesystem::path& folder) {
    Result<std::string> content = read_whole_file(folder / kSettingsFile);
    if (!content.ok()) return Json::object();
    Result<Json> document = parse_json(*content, DuplicateKeys::keep_last);
    if (!document.ok() || !document->is_object()) return Json::object();
    return std::move(document.value());
}

bool auto_install_updates(const Json& settings) {
    return JsonFields(settings).get<bool>(kAutoInstall).value_or(true);
}

Status save_auto_install_setting(const std::filesystem::path& folder, bool on) {
    Json settings = read_settings(folder);
    settings[std::string(kAutoInstall)] = on;
    Result<std::string> text = write_indented(settings);
    if (!text.ok()) return text.error();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return Error("could not create the folder " + path_text(folder) + ": " + error.message());
    const std::filesystem::path target = folder / kSettingsFile;
    std::filesystem::path temporary = target;
    temporary += ".tmp";
    if (Status written = write_whole_file(temporary, *text); !written.ok()) return written;
    return replace_file(temporary, target);
}

}  // namespace vorlix
