#include "app/system_text.h"

#include "app/text.h"

namespace vorlix {

std::optional<std::string> clean_bios_text(std::string_view raw) {
    const std::string_view text = trim_unicode_space(raw);
    if (text.empty() || text == "Default string" || text == "System Product Name" ||
        text == "System manufacturer" || text == "To be filled by O.E.M.") {
        return std::nullopt;
    }
    return std::string(text);
}

std::string model_text(const std::optional<std::string>& manufacturer, const std::optional<std::string>& product) {
    if (!product) return "Windows PC";
    if (manufacturer && product->compare(0, manufacturer->size(), *manufacturer) != 0) {
        return "Windows PC (" + *manufacturer + " " + *product + ")";
    }
    return "Windows PC (" + *product + ")";
}

std::string choose_computer_name(const std::vector<std::optional<std::string>>& candidates) {
    for (const auto& name : candidates) {
        if (name && !name->empty()) return *name;
    }
    return "Windows PC";
}

std::filesystem::path downloads_folder_from(const std::optional<std::filesystem::path>& known,
                                            const std::optional<std::filesystem::path>& user_profile) {
    if (known) return *known;
    if (user_profile) return *user_profile / "Downloads";
    return ".";
}

std::vector<std::filesystem::path> screenshots_folders_from(const std::optional<std::filesystem::path>& screenshots,
                                                            const std::optional<std::filesystem::path>& pictures,
                                                            const std::optional<std::filesystem::path>& videos) {
    std::vector<std::filesystem::path> out;
    if (screenshots) {
        out.push_back(*screenshots);
    } else if (pictures) {
        out.push_back(*pictures / "Screenshots");
    }
    if (videos) {
        out.push_back(*videos / "Screen Recordings");
        out.push_back(*videos / "Captures");
    }
    return out;
}

std::string reveal_parameters(const std::string& path_utf8) { return "/select,\"" + path_utf8 + "\""; }

}  // namespace vorlix
