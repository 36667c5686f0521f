#include <gtest/gtest.h>

#include <map>

#include "storage/log_capture.h"
#include "support/update_fixture.h"
#include "support/zip_writer.h"
#include "update/update_state.h"
#include "util/file_io.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

// The world around the update state: a fake clock and host, web answers by
// link, and every effect written down as one line.
struct World {
    UpdateClock::time_point t{};
    std::optional<UpdateClock::time_point> session_end;
    bool pairing = false, busy = false, put_ok = false;
    std::map<std::string, Result<Bytes>> web;
    std::vector<std::string> events;

    void offer(const std::string& version, const Bytes& archive, const std::string& url) {
        const std::string text = testing::manifest_text(version, testing::signed_download(archive, url));
        web.insert_or_assign("http://127.0.0.1:9/update.json", Bytes(text.begin(), text.end()));
        web.insert_or_assign(url, archive);
    }

    UpdateProbes probes() {
        UpdateProbes p;
        p.download = [this](const std::string& link, std::uint64_t) -> Result<Bytes> {
            events.push_back("get " + link);
            auto found = web.find(link);
            return found == web.end() ? Result<Bytes>(Error("127.0.0.1 answered 404")) : found->second;
        };
        p.notice = [this](const std::string& title, const std::string&, const NoticeArgs& args) {
            events.push_back(title + " " + args.at(0).second);
        };
        p.now = [this] { return t; };
        p.last_session_end = [this] { return session_end; };
        p.pairing_code_shown = [this] { return pairing; };
        p.user_busy = [this] { return busy; };
        p.begin_closing_for_update = [this] { return events.push_back("closing"), true; };
        p.end_closing_for_update = [this] { events.push_back("open again"); };
        p.put_files_in_place = [this](const std::vector<ZipFile>& files) -> Result<std::filesystem::path> {
            events.push_back("put " + std::to_string(files.size()));
            if (!put_ok) return Error("VorLix's folder cannot be changed (no permission)");
            return std::filesystem::path("/app/Vorlix.exe");
        };
        p.window_visible = [] { return false; };
        p.start_updated_copy = [this](const std::filesystem::path&, const std::vector<std::string>& args,
                                      const std::string& version) {
            std::string line = "start " + version;
            for (const auto& a : args) line += " " + a;
            events.push_back(line);
            return true;
        };
        p.save_auto_install = [](bool) { return Status{}; };
        return p;
    }
    std::vector<std::string> take() { return std::exchange(events, {}); }
};

UpdateConfig config(bool auto_install, const std::filesystem::path& told) {
    return {"http://127.0.0.1:9/update.json", told, {"/app/Vorlix.exe", "--open-pairing"}, auto_install,
            testing::update_test_keys().public_key};
}

const Bytes kArchive = testing::write_zip({{"Vorlix.exe", testing::pe_program(0x8664, 256, "1.3.5")}});
const std::string kZipUrl = "http://127.0.0.1:9/v.zip";

TEST(UpdateState, ToldOncePerTrimmedVersion) {
    const auto told = std::filesystem::path(::testing::TempDir()) / "update-told.txt";
    std::filesystem::remove(told);
    World w;
    UpdateState state(config(false, told), w.probes());
    w.offer(" 2.0 ", kArchive, kZipUrl);
    state.check_for_update();
    state.check_for_update();
    EXPECT_EQ(read_whole_file(told).value(), "2.0");
    w.offer("2.1", kArchive, kZipUrl);
    state.check_for_update();
    const std::string get = "get http://127.0.0.1:9/update.json";
    EXPECT_EQ(w.take(), (std::vector<std::string>{get, "update.available.title 2.0", get, get,
                                                   "update.available.title 2.1"}));
    EXPECT_EQ(state.pending_update_version(), "2.1");
}

TEST(UpdateState, AutomaticTickAndMenuInstall) {
    World w;
    UpdateState state(config(true, ::testing::TempDir() + "/unused-told.txt"), w.probes());
    AutoLoopState loop;
    w.offer("1.3.4", kArchive, kZipUrl);
    w.web.insert_or_assign(kZipUrl, Result<Bytes>(Error("127.0.0.1 answered 404")));
    state.check_for_update();
    state.auto_tick(loop);  // a session runs: nothing is fetched
    w.session_end = w.t;
    state.auto_tick(loop);  // fails; the next try comes an hour later
    w.t += 10s;
    w.offer("1.3.5", kArchive, kZipUrl);
    state.check_for_update();
    state.auto_tick(loop);
    EXPECT_EQ(w.take(), (std::vector<std::string>{"get http://127.0.0.1:9/update.json", "get " + kZipUrl,
                                                   "get http://127.0.0.1:9/update.json"}));

    w.t = UpdateClock::time_point{} + kDownloadRetry;
    state.auto_tick(loop);
    EXPECT_EQ(w.take(), (std::vector<std::string>{"get " + kZipUrl}));
    w.session_end.reset();
    EXPECT_EQ(state.query_update_after_session(), "1.3.5");
    w.session_end = w.t;

    w.t += 1s;
    state.restart_no_device_wait("the PC was asleep");
    w.t += 119s;
    state.auto_tick(loop);  // 119 s since the wake-up
    w.t += 1s;
    w.busy = true;
    state.auto_tick(loop);
    w.busy = false;
    w.pairing = true;
    state.auto_tick(loop);
    EXPECT_TRUE(w.take().empty());
    w.pairing = false;
    state.auto_tick(loop);  // the swap fails: told once, never retried by itself
    w.t += 1h;
    state.auto_tick(loop);
    EXPECT_EQ(w.take(), (std::vector<std::string>{"closing", "put 1", "open again",
                                                   "update.failed.title VorLix's folder cannot be changed (no permission)"}));

    // The menu's road downloads again (the package went with the failed
    // swap), keeps the arguments as they are, and keeps a second install out.
    w.put_ok = true;
    const std::optional<PendingUpdate> claimed = state.claim_install();
    ASSERT_TRUE(claimed);
    EXPECT_FALSE(state.claim_install());
    EXPECT_FALSE(state.pending_update_version());
    state.install_thread(*claimed);
    EXPECT_EQ(w.take(), (std::vector<std::string>{"update.downloading.title 1.3.5", "get " + kZipUrl, "put 1",
                                                   "start 1.3.5 --open-pairing"}));
}

// Whoever serves the manifest can name any version; the signed archive of
// 1.3.5 offered as 9.9.9 is refused on both roads, before any file moves.
TEST(UpdateState, AnOlderSignedArchiveOfferedAsNewerIsRefused) {
    World w;
    w.put_ok = true;
    UpdateState state(config(true, ::testing::TempDir() + "/unused-told.txt"), w.probes());
    AutoLoopState loop;
    test::LogCapture log;
    w.offer("9.9.9", kArchive, kZipUrl);
    state.check_for_update();
    w.session_end = w.t;
    state.auto_tick(loop);
    const std::string refused = "the zip's Vorlix.exe is version 1.3.5, not 9.9.9";
    EXPECT_NE(log.messages().find("update: could not download 9.9.9 (" + refused + ")"), std::string::npos);
    const std::optional<PendingUpdate> claimed = state.claim_install();
    ASSERT_TRUE(claimed);
    state.install_thread(*claimed);
    EXPECT_EQ(w.take(), (std::vector<std::string>{"get http://127.0.0.1:9/update.json", "get " + kZipUrl,
                                                   "update.downloading.title 9.9.9", "get " + kZipUrl,
                                                   "update.failed.title " + refused}));
}

TEST(UpdateState, SleepDetection) {
    EXPECT_FALSE(slept_during_tick(30s, 30s));
    EXPECT_TRUE(slept_during_tick(30s + 1ns, 5s));
    EXPECT_TRUE(slept_during_tick(5s, 600s));
    EXPECT_FALSE(slept_during_tick(5s, -600s));
}

}  // namespace
}  // namespace vorlix
