#include <gtest/gtest.h>

#include "net/ip_address.h"
#include "net/socket.h"
#include "support/http_test_server.h"
#include "win/update/web_download.h"

namespace vorlix {
namespace {

TEST(UpdateDownload, BodiesLimitsAndErrorTexts) {
    testing::HttpTestServer server({{"/u.json?x=1", {200, Bytes(70000, 'a')}}, {"/big", {200, Bytes(101, 'b')}}});
    ASSERT_NE(server.port(), 0);
    const Result<Bytes> body = download_url(server.link("/u.json?x=1"), 70000);
    ASSERT_TRUE(body) << body.error().text;
    EXPECT_EQ(*body, Bytes(70000, 'a'));
    EXPECT_EQ(download_url(server.link("/missing"), 100).error().text, "127.0.0.1 answered 404");
    EXPECT_EQ(download_url(server.link("/big"), 100).error().text, "the download is bigger than expected");
    EXPECT_TRUE(download_url(server.link("/big"), 101));
    EXPECT_EQ(download_url("ftp://127.0.0.1/", 100).error().text, "not a web link");
    const std::vector<std::string> requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(requests[0].starts_with("GET /u.json?x=1 HTTP/1.1")) << requests[0];
    EXPECT_NE(requests[0].find("User-Agent: VorLix/1.3.3 (Windows; x64)"), std::string::npos) << requests[0];
    EXPECT_NE(requests[0].find("Cache-Control: no-cache"), std::string::npos) << requests[0];

    // A closed port: the text names the host and carries a description.
    std::uint16_t closed = 0;
    {
        Result<Listener> l = Listener::bind(IpAddress::v4(127, 0, 0, 1), 0);
        ASSERT_TRUE(l);
        closed = *l->local_port();
    }
    const std::string error = download_url("http://127.0.0.1:" + std::to_string(closed) + "/", 100).error().text;
    EXPECT_TRUE(error.starts_with("could not reach 127.0.0.1 (")) << error;
    EXPECT_GT(error.size(), std::string("could not reach 127.0.0.1 ()").size()) << error;
    EXPECT_NE(error.find("0x80072efd"), std::string::npos) << error;
}

}  // namespace
}  // namespace vorlix
