#include "update/install.h"

#include <algorithm>

#include "app/text.h"

namespace vorlix {
namespace {

namespace fs = std::filesystem;

struct Target {
    fs::path path;
    const Bytes* bytes;
    fs::path fresh() const { return fs::path(path.native() + fs::path(".new").native()); }
};

struct Swapped {
    fs::path target;
    std::optional<fs::path> set_aside;
};

Error folder_error(const FileFailure& failure) {
    if (failure.permission_denied) return Error("VorLix's folder cannot be changed (no permission)");
    return Error("VorLix's folder cannot be changed (" + failure.text + ")");
}

fs::path with_suffix(const fs::path& path, const std::string& suffix) {
    return fs::path(path.native() + path_from_utf8(suffix).native());
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Sets the file at `target` aside under the first free ".old" name; the
// failure when a rename fails or all nine names are taken.
Result<fs::path> set_aside(const fs::path& target, UpdateFileOps& ops) {
    for (int n = 1; n <= 9; ++n) {
        const fs::path name = with_suffix(target, n == 1 ? ".old" : ".old" + std::to_string(n));
        if (ops.exists(name) && ops.remove(name)) continue;
        if (auto failure = ops.rename(target, name)) return folder_error(*failure);
        return name;
    }
    return Error(path_to_utf8(target) + " could not be set aside");
}

}  // namespace

Result<fs::path> put_files_in_place(const std::vector<ZipFile>& files, const fs::path& program, UpdateFileOps& ops) {
    if (program.empty()) return Error("VorLix's own file was not found");
    if (!program.has_parent_path()) return Error("VorLix's folder was not found");
    const fs::path folder = program.parent_path();

    std::vector<Target> targets;
    for (const ZipFile& file : files) {
        targets.push_back({file.name == kProgramFileName ? program : folder / path_from_utf8(file.name), &file.bytes});
    }
    const auto remove_fresh = [&] {
        for (const Target& t : targets) (void)ops.remove(t.fresh());
    };
    for (const Target& t : targets) {
        if (auto failure = ops.write(t.fresh(), *t.bytes)) {
            remove_fresh();
            return folder_error(*failure);
        }
    }

    std::vector<Swapped> done;
    std::optional<Error> failed;
    for (const Target& t : targets) {
        std::optional<fs::path> aside;
        if (ops.exists(t.path)) {
            Result<fs::path> moved = set_aside(t.path, ops);
            if (!moved) {
                failed = moved.error();
                break;
            }
            aside = *moved;
        }
        if (auto failure = ops.rename(t.fresh(), t.path)) {
            if (aside) (void)ops.rename(*aside, t.path);
            failed = folder_error(*failure);
            break;
        }
        done.push_back({t.path, aside});
    }
    if (!failed) return program;
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
        if (!it->set_aside) continue;
        (void)ops.remove(it->target);
        (void)ops.rename(*it->set_aside, it->target);
    }
    remove_fresh();
    return *failed;
}

std::vector<std::string> build_relaunch_args(const std::vector<std::string>& args, bool window_visible) {
    std::vector<std::string> out;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] != "--open-pairing") out.push_back(args[i]);
    }
    if (!window_visible && std::find(out.begin(), out.end(), "--hidden") == out.end()) out.push_back("--hidden");
    return out;
}

std::string quote_command_line_argument(std::string_view argument) {
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

bool is_update_leftover(std::string_view name, std::string_view program_name) {
    const std::string lower = ascii_lower(name);
    for (const std::string& base : {ascii_lower(program_name), std::string("vorlixcamera.dll")}) {
        if (lower == base + ".new") return true;
        const std::string old = base + ".old";
        if (lower.size() >= old.size() && lower.compare(0, old.size(), old) == 0 &&
            std::all_of(lower.begin() + static_cast<std::ptrdiff_t>(old.size()), lower.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            return true;
        }
    }
    return false;
}

std::string manifest_link_from_args(const std::vector<std::string>& args, std::string_view fallback) {
    const auto found = std::find(args.begin(), args.end(), "--update-url");
    if (found == args.end() || found + 1 == args.end()) return std::string(fallback);
    return *(found + 1);
}

}  // namespace vorlix
