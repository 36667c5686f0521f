#include "crash/crash_log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <system_error>

#include "app/app_version.h"
#include "crash/crash_system.h"
#include "util/file_io.h"
#include "util/thread_name.h"

namespace vorlix {
namespace {

constexpr std::string_view kBlockMarker = "=== ";
constexpr std::string_view kHostVersion = VORLIX_VERSION;

// Never destroyed, so that a fault during exit still finds them.
std::mutex& folder_mutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}
std::optional<std::filesystem::path>& crash_folder() {
    static auto* folder = new std::optional<std::filesystem::path>();
    return *folder;
}
std::mutex& write_mutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

std::terminate_handler g_previous_terminate = nullptr;
thread_local bool t_in_crash_hook = false;

std::string place_text(const std::source_location& where) {
    return std::string(where.file_name()) + ":" + std::to_string(where.line()) + ":" +
           std::to_string(where.column());
}

std::uint64_t utc_now_seconds() {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return seconds.count() < 0 ? 0 : static_cast<std::uint64_t>(seconds.count());
}

void on_terminate() {
    std::exception_ptr error = std::current_exception();
    std::string place = "<unknown>:0:0";
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const FatalError& fatal) {
            place = place_text(fatal.where());
        } catch (...) {
        }
    }
    write_crash_report(error ? panic_message_text(error) : "unknown", place);
    if (g_previous_terminate) g_previous_terminate();
    std::abort();
}

}  // namespace

std::string format_utc_datetime(std::uint64_t unix_seconds) {
    const std::uint64_t days = unix_seconds / 86400;
    const std::uint64_t s = unix_seconds % 86400;
    const std::uint64_t hour = s / 3600, minute = s / 60 % 60, second = s % 60;
    const std::uint64_t z = days + 719468;
    const std::uint64_t era = z / 146097;
    const std::uint64_t doe = z - era * 146097;
    const std::uint64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::uint64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::uint64_t mp = (5 * doy + 2) / 153;
    const std::uint64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::uint64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::uint64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[64];
    std::snprintf(text, sizeof text, "%04llu-%02llu-%02lluT%02llu%02llu%02llu",
                  static_cast<unsigned long long>(year), static_cast<unsigned long long>(month),
                  static_cast<unsigned long long>(day), static_cast<unsigned long long>(hour),
                  static_cast<unsigned long long>(minute), static_cast<unsigned long long>(second));
    return text;
}

std::string panic_message_text(std::exception_ptr error) {
    if (!error) return "unknown";
    try {
        std::rethrow_exception(error);
    } catch (const std::string& text) {
        return text;
    } catch (std::string_view text) {
        return std::string(text);
    } catch (const char* text) {
        return text ? std::string(text) : "unknown";
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
    }
    return "unknown";
}

std::string crash_block_text(const CrashReport& report) {
    std::string block;
    block.reserve(200 + report.message.size() + report.backtrace.size());
    block += kBlockMarker;
    block += format_utc_datetime(report.unix_seconds);
    block += " UTC \xC2\xB7 Vorlix ";
    block += kAppVersion;
    block += " (host ";
    block += kHostVersion;
    block += ") for Windows \xC2\xB7 thread ";
    block += report.thread;
    block += "\npanicked at ";
    block += report.place;
    block += ":\n";
    block += report.message;
    block += "\nbacktrace:\n";
    block += report.backtrace;
    block += "\n\n";
    return block;
}

std::string crash_log_after_append(std::string content, std::string_view block) {
    content.append(block.substr(0, kCrashLogLimit));
    if (content.size() <= kCrashLogLimit) return content;
    std::size_t cut = content.size() - kCrashLogLimit;
    // A block header is a line feed followed by the marker. The search starts
    // one byte before the cut so that a block starting exactly at the cut
    // point is kept whole.
    const std::string header = std::string("\n") + std::string(kBlockMarker);
    const std::size_t found = content.find(header, cut - 1);
    if (found != std::string::npos) cut = found + 1;
    content.erase(0, cut);
    return content;
}

void append_crash_block(const std::filesystem::path& folder, std::string_view block) {
    std::lock_guard lock(write_mutex());
    const std::filesystem::path target = folder / "crash.log";
    Result<std::string> old = read_whole_file(target);
    std::string content =
        crash_log_after_append(old.ok() ? std::move(old.value()) : std::string(), block);
    const std::filesystem::path temporary =
        folder / ("crash.log." + std::to_string(current_process_id()) + ".tmp");
    std::error_code ignored;
    if (!write_whole_file(temporary, content).ok()) {
        std::filesystem::remove(temporary, ignored);
        return;
    }
    if (!replace_file(temporary, target).ok()) std::filesystem::remove(temporary, ignored);
}

std::string crash_thread_name() {
    std::string name = current_thread_name();
    if (!name.empty()) return name;
    return is_main_thread() ? "main" : "unnamed";
}

void write_crash_report(std::string_view message, std::string_view place) {
    if (t_in_crash_hook) return;
    t_in_crash_hook = true;
    std::optional<std::filesystem::path> folder;
    {
        std::unique_lock lock(folder_mutex(), std::try_to_lock);
        if (lock.owns_lock()) folder = crash_folder();
    }
    if (folder) {
        try {
            CrashReport report;
            report.message = std::string(message);
            report.place = std::string(place);
            report.thread = crash_thread_name();
            report.unix_seconds = utc_now_seconds();
            report.backtrace = capture_backtrace_text(1);
            append_crash_block(*folder, crash_block_text(report));
        } catch (...) {
            // Out of memory or the like: this block is lost.
        }
    }
    t_in_crash_hook = false;
}

void set_up_crash_log(const std::filesystem::path& folder) {
    {
        std::lock_guard lock(folder_mutex());
        crash_folder() = folder;
    }
    static std::once_flag installed;
    std::call_once(installed, [] {
        g_previous_terminate = std::set_terminate(on_terminate);
        install_system_crash_hooks();
    });
}

void fatal_error(std::string_view message, std::source_location where) {
    // std::terminate runs with the error current, inside this frame, so the
    // handler sees the message and the place and captures the caller's stack.
    try {
        throw FatalError(message, where);
    } catch (...) {
        std::terminate();
    }
}

}  // namespace vorlix
