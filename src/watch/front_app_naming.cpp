#include "watch/front_app_naming.h"

#include "app/text.h"

namespace vorlix {

namespace {

bool strip_suffix(std::string& text, std::string_view suffix) {
    if (text.size() < suffix.size() || text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    text.resize(text.size() - suffix.size());
    return true;
}

}  // namespace

control::FrontApp name_front_app(std::string_view path, const VersionReader& version) {
    const std::size_t slash = path.rfind('\\');
    const std::string file(slash == std::string_view::npos ? path : path.substr(slash + 1));
    std::optional<std::string> name = version("FileDescription");
    if (!name) name = version("ProductName");
    if (!name) {
        name = file;
        strip_suffix(*name, ".exe");
        strip_suffix(*name, ".EXE");
    }
    return control::FrontApp{unicode_lower(file), std::move(*name)};
}

void FrontAppMemory::set(std::optional<control::FrontApp> app) {
    std::lock_guard lock(mutex_);
    app_ = std::move(app);
}

bool FrontAppMemory::replace_if_changed(const control::FrontApp& app) {
    std::lock_guard lock(mutex_);
    if (app_ == app) return false;
    app_ = app;
    return true;
}

}  // namespace vorlix
